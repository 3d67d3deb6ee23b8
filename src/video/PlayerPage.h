#pragma once

#include <QString>
#include <QUrl>

namespace qm {

// UTF-8 percent-escaping for the player page: everything but unreserved URL
// characters, "/" and ":" becomes %XX, so spaces, non-ASCII letters and the
// characters that would end an attribute or a URL ("%", "#", "?", "&", quotes)
// are all escaped and the text decodes back to the path exactly.
QString percentEscape(const QString &text);

// Replaces every occurrence of `marker`, ignoring letter case, scanning the
// original text once: inserted text is never searched again.
QString replaceIgnoringCase(const QString &text, const QString &marker, const QString &replacement);

// The template with "playflv.swf" standing for the player in `resourceFolder`
// and "##FVARS##" for "playInfo=file://<movie>".
QString fillPlayerTemplate(const QString &playerTemplate, const QString &resourceFolder, const QString &moviePath);

// "<user cache>/Quillmere": where the prepared page is written.
QString playerCacheFolder();

struct PreparedPlayerPage
{
    QUrl url;       // "file://<page>", escaped; set even when writing failed
    QString path;   // the page file
    bool written = false;
    QString error;  // why not, when not written
};

// Fills the application's page template for one movie and writes it as
// "playflv.html" into the cache folder, creating the folder when missing.
// When the page cannot be written no earlier page is left behind, so the
// player never shows a movie other than the one asked for.
PreparedPlayerPage preparePlayerPage(const QString &moviePath);

// The movie a prepared page names in its "playInfo=file://..." variable,
// percent-decoded; empty when the page names none.
QString moviePathFromPage(const QString &html);

} // namespace qm
