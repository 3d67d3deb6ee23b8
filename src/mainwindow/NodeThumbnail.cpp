#include "mainwindow/NodeThumbnail.h"

#include "imaging/ImageProc.h"
#include "storage/Gallery.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

namespace qm {

void makeNodeThumbnail(Gallery &gallery, const NodePtr &node, const QString &source, QObject *context,
                       std::function<void(const WriteResult &)> done)
{
    using Made = std::pair<QByteArray, QString>; // the JPEG, or why there is none
    auto *watcher = new QFutureWatcher<Made>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [&gallery, node, source, done, watcher] {
        watcher->deleteLater();
        const Made made = watcher->result();
        if (!gallery.holds(node.get()))
            return;
        done(made.first.isEmpty() ? WriteResult{source, made.second} : gallery.setNodeThumbnail(node.get(), made.first));
    });
    watcher->setFuture(QtConcurrent::run([source] {
        QString why;
        // A quality above 1 asks for the best there is.
        QByteArray jpeg = ImageProc::scaleToJPEG(source, 60, 40, 80.0f, &why);
        return Made(std::move(jpeg), why);
    }));
}

} // namespace qm
