#pragma once

#include <QString>

namespace qm {

// The application's own resource files (artwork, the player page template),
// compiled into the binary and never changed.
QString resourcePath(const QString &name);

// Copies a resource to `destination` as an ordinary writable file, replacing
// nothing: fails when the destination exists. `error` gets the reason.
bool copyResource(const QString &name, const QString &destination, QString *error = nullptr);

} // namespace qm
