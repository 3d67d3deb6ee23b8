#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace qm {

class Gallery;
class Preferences;

// Preview in Browser: serves one gallery folder and the web viewer over
// HTTP on 127.0.0.1, at a free port, from a thread of its own.
//
// Addresses: /<gallery folder name>/viewer/ (the program's own viewer
// files), .../img/<name> (files of the gallery's img folder) and
// .../xml/<name> (the index and album files as a save would write them
// now, from `XmlSource`). Nothing else is served: no other folder of the
// gallery (never its state folder), no folder listings, no name with a
// path in it, nothing through a symbolic link, nothing but plain files.
// Ranges are answered (seeking in videos), every answer has its content
// type, and only requests for this host are answered (a page elsewhere
// cannot reach the server through a name of its own).
class PreviewServer : public QObject
{
    Q_OBJECT
public:
    // The bytes of an album or index file named `name`; nothing when the
    // gallery has no such file. Called on the GUI thread.
    using XmlSource = std::function<std::optional<QByteArray>(const QString &name)>;

    explicit PreviewServer(XmlSource source, QObject *parent = nullptr);
    ~PreviewServer() override; // stops serving and waits

    // Serves the gallery of `prefs` (its name and img folder, taken now)
    // with the viewer of `viewerFolder`, listening first if need be. False
    // (with the reason) when no port could be had.
    bool serve(const Preferences &prefs, const QString &viewerFolder, QString *error = nullptr);
    void stop();
    bool isServing() const;
    quint16 port() const;
    // The viewer's address: http://127.0.0.1:<port>/<name>/viewer/
    QUrl viewerUrl() const;

    class Thread;

private:
    friend class PreviewWorker;
    bool isCurrent(const void *worker) const;
    std::optional<QByteArray> xmlBytes(const QString &name) const { return m_source(name); }

    XmlSource m_source;
    std::unique_ptr<Thread> m_thread;
};

// The album and index files of `gallery` as a save would write them now.
PreviewServer::XmlSource galleryXmlSource(Gallery &gallery);

} // namespace qm
