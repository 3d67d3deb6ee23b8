#include "video/PlayerPage.h"

#include "storage/FileWriter.h"
#include "storage/Resources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtDebug>

namespace qm {

QString percentEscape(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, QByteArrayLiteral("/:")));
}

QString replaceIgnoringCase(const QString &text, const QString &marker, const QString &replacement)
{
    if (marker.isEmpty())
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(marker, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        out += QStringView(text).mid(from, at - from);
        out += replacement;
        from = at + marker.size();
    }
    out += QStringView(text).mid(from);
    return out;
}

QString fillPlayerTemplate(const QString &playerTemplate, const QString &resourceFolder, const QString &moviePath)
{
    const QString player = percentEscape(QStringLiteral("file://%1/playflv.swf").arg(resourceFolder));
    QString page = replaceIgnoringCase(playerTemplate, QStringLiteral("playflv.swf"), player);
    const QString vars = QStringLiteral("playInfo=file://%1").arg(percentEscape(moviePath));
    return replaceIgnoringCase(page, QStringLiteral("##FVARS##"), vars);
}

QString playerCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Quillmere");
}

PreparedPlayerPage preparePlayerPage(const QString &moviePath)
{
    // The template is compiled in; its folder stands where the player would lie.
    QString resourceFolder = resourcePath(QString());
    if (resourceFolder.endsWith(QLatin1Char('/')))
        resourceFolder.chop(1);

    QString playerTemplate;
    QFile templateFile(resourcePath(QStringLiteral("playflv.html")));
    if (templateFile.open(QIODevice::ReadOnly))
        playerTemplate = QString::fromUtf8(templateFile.readAll());
    else
        qWarning("Could not read the player page template: %s", qPrintable(templateFile.errorString()));

    const QString page = fillPlayerTemplate(playerTemplate, resourceFolder, moviePath);

    PreparedPlayerPage result;
    const QString folder = playerCacheFolder();
    result.path = QStringLiteral("%1/playflv.html").arg(folder);
    result.url = QUrl(percentEscape(QStringLiteral("file://%1").arg(result.path)));

    if (!QFileInfo::exists(folder) && !QDir().mkpath(folder)) {
        result.error = QStringLiteral("Could not create the folder %1").arg(folder);
    } else {
        const WriteResult written = FileWriter::writeFile(result.path, page.toUtf8());
        result.written = written.ok();
        result.error = written.reason;
    }
    if (!result.written)
        qWarning("Could not write the player page %s: %s", qPrintable(result.path), qPrintable(result.error));
    return result;
}

QString moviePathFromPage(const QString &html)
{
    static const QString key = QStringLiteral("playInfo=file://");
    const qsizetype at = html.indexOf(key, 0, Qt::CaseInsensitive);
    if (at < 0)
        return QString();
    const qsizetype start = at + key.size();
    qsizetype end = start;
    // The escaped path holds none of these; each ends an attribute or a variable.
    static const QString stops = QStringLiteral("\"'&<> \t\r\n");
    while (end < html.size() && !stops.contains(html.at(end)))
        ++end;
    return QUrl::fromPercentEncoding(html.mid(start, end - start).toUtf8());
}

} // namespace qm
