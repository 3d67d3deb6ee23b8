#include "storage/FileCopy.h"

#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <memory>

namespace qm {

namespace {

std::atomic_int pieceDelay{0};

} // namespace

void setCopyPieceDelayForTesting(int milliseconds)
{
    pieceDelay = milliseconds;
}

CopyResult copyFileInPieces(const QString &from, const QString &to, QString *why, const std::atomic_bool *stop,
                            std::atomic<qint64> *copied)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *why = source.errorString();
        return CopyResult::Failed;
    }
    if (QFile::exists(to)) {
        *why = QStringLiteral("%1 already exists").arg(to);
        return CopyResult::Failed;
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        *why = target.errorString();
        return CopyResult::Failed;
    }
    constexpr qint64 kPiece = 4 << 20;
    const auto buffer = std::make_unique<char[]>(kPiece);
    for (;;) {
        if (stop && stop->load()) {
            target.cancelWriting();
            return CopyResult::Stopped;
        }
        const qint64 n = source.read(buffer.get(), kPiece);
        if (n < 0) {
            *why = source.errorString();
            target.cancelWriting();
            return CopyResult::Failed;
        }
        if (n == 0)
            break;
        if (target.write(buffer.get(), n) != n) {
            *why = target.errorString();
            target.cancelWriting();
            return CopyResult::Failed;
        }
        if (copied)
            *copied += n;
        if (pieceDelay > 0)
            QThread::msleep(pieceDelay);
    }
    if (!target.commit()) {
        *why = target.errorString();
        return CopyResult::Failed;
    }
    return CopyResult::Copied;
}

} // namespace qm
