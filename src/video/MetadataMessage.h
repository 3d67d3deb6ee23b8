#pragma once

#include <QString>
#include <QStringView>

namespace qm {

// Decimal integer in the manner of the platform's intValue: leading white
// space skipped, an optional sign, digits up to the first other character,
// 0 when there are no digits; values beyond the int range clamp to it.
int intValue(QStringView text);

// The player's metadata message "w|h|bitrate". Fields past the third are
// ignored; a message of fewer than three fields changes nothing and gives false.
bool parseMetadataMessage(const QString &message, int &width, int &height, int &bitrate);

QString metadataMessage(int width, int height, int bitrate);

} // namespace qm
