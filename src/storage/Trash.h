#pragma once

#include <QString>

namespace qm {

// Moves the file at `path` to the desktop's trash. True only when it landed in
// a real trash folder; `inTrash` then names it there. False leaves the file
// where it was (the caller decides whether to remove it for good).
bool moveFileToTrash(const QString &path, QString *inTrash = nullptr);

// Undoes moveFileToTrash: the file goes back to `original`, its trash record
// goes. False when `original` is taken again or the move fails.
bool putBackFromTrash(const QString &original, const QString &inTrash);

} // namespace qm
