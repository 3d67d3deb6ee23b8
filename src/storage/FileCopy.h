#pragma once

#include <QString>

#include <atomic>

namespace qm {

enum class CopyResult { Copied, Failed, Stopped };

// Copies `from` to `to` in pieces, so that a big movie can be watched and
// stopped from another thread. The copy appears at `to` only when it is
// whole; on failure or stop nothing is left there. `copied` counts bytes.
CopyResult copyFileInPieces(const QString &from, const QString &to, QString *why,
                            const std::atomic_bool *stop = nullptr, std::atomic<qint64> *copied = nullptr);

// Set by tests that must catch a copy in the middle.
void setCopyPieceDelayForTesting(int milliseconds);

} // namespace qm
