// Publishes the 1,000-album gallery (100,000 items, small files made here)
// to a local OpenSSH server, first in full and then after one photo
// changed, each beside rsync -a --delete over SSH doing the same.
// "publish_bench --quick" takes a tenth of the gallery.

#include "common/SshServer.h"
#include "publish/Publisher.h"
#include "storage/GalleryCheck.h"
#include "storage/GalleryFile.h"

#include "BenchUtil.h"
#include "GalleryBuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>

using namespace qm;
using namespace bench;

namespace {

struct TrustAll : PublishPrompts
{
    bool acceptHostKey(const HostKey &) override { return true; }
    std::optional<QString> secret(const QString &) override { return std::nullopt; }
};

// A few hundred bytes to a few kilobytes, different for every file.
QByteArray smallFile(const QString &name, int serial)
{
    QByteArray bytes = name.toUtf8();
    bytes += QByteArray(300 + (serial * 7919) % 3500, char('a' + serial % 26));
    return bytes;
}

double publish(const QString &gallery, const Destination &d, const QString &sshDir, PublishReport &report)
{
    TrustAll trust;
    QElapsedTimer t;
    t.start();
    report = Publisher(gallery, d, {false, false, sshDir}).run(nullptr, &trust);
    return seconds(t);
}

double rsync(const QString &gallery, const testing::SshServer &server, const QString &to)
{
    const QString ssh = QStringLiteral("ssh -p %1 -i %2 -o IdentitiesOnly=yes -o BatchMode=yes "
                                       "-o UserKnownHostsFile=%3/known_hosts -o StrictHostKeyChecking=yes")
                            .arg(server.port())
                            .arg(server.userKey(), server.clientDir());
    QElapsedTimer t;
    t.start();
    if (!run(tool(QStringLiteral("rsync")), {"-a", "--delete", "--exclude=.quillmere", "-e", ssh, gallery + "/",
                                             QStringLiteral("%1@127.0.0.1:%2/").arg(server.user(), to)}))
        return 0;
    return seconds(t);
}

void line(const char *what, double ours, double theirs, const char *aim)
{
    std::printf("%-34s quillmere %7.2f s   rsync -a --delete %7.2f s   ratio %.2f (aim %s)\n", what, ours, theirs,
                theirs > 0 ? ours / theirs : 0.0, aim);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // the figures before the long clean-up
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    qunsetenv("SSH_AUTH_SOCK");
    testing::SshServer server;
    const QString serverError = server.start();
    if (!serverError.isEmpty()) {
        std::printf("publish_bench: sshd cannot be started here: %s\n", qPrintable(serverError));
        return 0;
    }
    if (tool(QStringLiteral("rsync")).isEmpty()) {
        std::printf("publish_bench: rsync is not installed\n");
        return 0;
    }

    bench::Folder folder;
    // A million files go faster with rm than file by file.
    struct Sweep
    {
        QStringList folders;
        ~Sweep() { QProcess::execute(QStringLiteral("rm"), QStringList{QStringLiteral("-rf")} + folders); }
    } sweep{{server.remote(), folder.prefs.orvaneFolder()}};
    Data data;
    buildGallery(data);
    if (quick)
        data.albums().resize(1);
    GalleryFile(folder.prefs).saveData(data);
    const GalleryNames names = GalleryNames::of(data);
    int files = 0;
    qint64 bytes = 0;
    for (const GalleryNames::Name &n : names.names) {
        if (n.xml)
            continue;
        const QByteArray content = smallFile(n.name, files++);
        bytes += content.size();
        QFile f(folder.prefs.imgPath(n.name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(f.fileName()));
            return 1;
        }
    }
    const QString gallery = folder.prefs.orvaneFolder();
    std::printf("gallery: %lld albums, %d picture and video files (%.1f MB) and the xml files\n",
                quick ? 100LL : qint64(kAlbums), files, bytes / 1e6);

    Destination d;
    d.host = QStringLiteral("127.0.0.1");
    d.port = server.port();
    d.user = server.user();
    d.keyFile = server.userKey();
    d.remoteFolder = server.remote() + QStringLiteral("/ours");
    PublishReport report;

    // The first connection records the server's key, for rsync's ssh as well.
    const double first = publish(gallery, d, server.clientDir(), report);
    if (!report.ok()) {
        std::fprintf(stderr, "publish failed: %s\n", qPrintable(report.failure));
        return 1;
    }
    const int sentFirst = int(report.sent.size());
    const double rsyncFirst = rsync(gallery, server, server.remote() + QStringLiteral("/rsync"));
    line("first publish", first, rsyncFirst, "<= 1.2");
    std::printf("    %d files sent\n", sentFirst);

    // One photo changes, as a re-import under its name would.
    const QString changed = folder.prefs.imgPath(QStringLiteral("img_0_0.jpg"));
    QFile f(changed);
    if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(5000, 'z')) != 5000)
        return 1;
    f.close();
    const double second = publish(gallery, d, server.clientDir(), report);
    if (!report.ok()) {
        std::fprintf(stderr, "publish failed: %s\n", qPrintable(report.failure));
        return 1;
    }
    const double rsyncSecond = rsync(gallery, server, server.remote() + QStringLiteral("/rsync"));
    line("second publish, one photo changed", second, rsyncSecond, "< 0.5");
    std::printf("    %d file(s) sent, %d unchanged\n", int(report.sent.size()), report.unchanged);
    return 0;
}
