#include "import/PhotoFixes.h"

#include "imaging/ImageProc.h"
#include "imaging/JpegTransform.h"
#include "storage/FileWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qm {

namespace {

QString tr(const char *text, const char *disambiguation = nullptr, int n = -1)
{
    return QCoreApplication::translate("PhotoFixes", text, disambiguation, n);
}

Gallery::MadePicture failed(const QString &why)
{
    Gallery::MadePicture made;
    made.problem = why;
    return made;
}

// The sizes of `settings` from a decoded picture, under the target's names.
Gallery::MadePicture writeSizes(const Picture &picture, const PhotoImportSettings &settings,
                                const Gallery::PictureFiles &target)
{
    QString failure;
    const QString large = settings.createLarge ? target.large : QString();
    writePhotoSizes(picture, settings, target.small, target.normal, large, &failure);
    if (!failure.isEmpty())
        return failed(failure);
    Gallery::MadePicture made;
    made.written = {target.normal, target.small, large};
    return made;
}

QList<QSize> boxesOf(const PhotoImportSettings &settings)
{
    QList<QSize> boxes{settings.small, settings.normal};
    if (settings.createLarge)
        boxes << settings.large;
    return boxes;
}

} // namespace

Gallery::PictureMaker PhotoFixes::turn(int quarterTurns)
{
    return [quarterTurns](const Gallery::PictureFiles &current, const Gallery::PictureFiles &target, JobControl &) {
        const std::pair<QString, QString> files[] = {
            {current.normal, target.normal}, {current.small, target.small}, {current.large, target.large}};
        QStringList written;
        QStringList trimmed;
        auto takeBack = [&written](const QString &why) {
            for (const QString &path : std::as_const(written))
                QFile::remove(path);
            return failed(why);
        };
        for (const auto &[from, to] : files) {
            if (from.isEmpty())
                continue;
            QFile file(from);
            if (!FileWriter::refusal(from).isEmpty() || !file.open(QIODevice::ReadOnly))
                return takeBack(tr("%1 cannot be read: %2").arg(QDir::toNativeSeparators(from), file.errorString()));
            const JpegTransform::Result turned = JpegTransform::turn(file.readAll(), quarterTurns);
            if (!turned.ok())
                return takeBack(tr("%1 cannot be turned: %2").arg(QDir::toNativeSeparators(from), turned.error));
            const WriteResult result = FileWriter::writeFile(to, turned.jpeg, FileWriter::Mode::CreateNew);
            if (!result)
                return takeBack(tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(result.path), result.reason));
            written << to;
            if (turned.trimmed > 0)
                trimmed << tr("%1 lost %n pixel(s) at one edge", nullptr, turned.trimmed).arg(QFileInfo(from).fileName());
        }
        Gallery::MadePicture made;
        made.written = {target.normal, target.small, current.large.isEmpty() ? QString() : target.large};
        if (!trimmed.isEmpty())
            made.note = tr("Turned without loss; the sides were not whole blocks, so %1.").arg(trimmed.join(tr(", ")));
        return made;
    };
}

Gallery::PictureMaker PhotoFixes::replace(const QString &source, const PhotoImportSettings &settings)
{
    return [source, settings](const Gallery::PictureFiles &, const Gallery::PictureFiles &target, JobControl &) {
        QString error;
        const Picture picture = ImageProc::loadPicture(source, boxesOf(settings), &error);
        if (picture.isNull())
            return failed(tr("%1 cannot be read: %2").arg(QDir::toNativeSeparators(source), error));
        return writeSizes(picture, settings, target);
    };
}

Gallery::PictureMaker PhotoFixes::remake(const PhotoImportSettings &settings)
{
    return [settings](const Gallery::PictureFiles &current, const Gallery::PictureFiles &target, JobControl &) {
        // The largest picture the photo has; the others are made from it.
        QString error;
        QString from;
        Picture picture;
        for (const QString &path : {current.large, current.normal, current.small}) {
            if (path.isEmpty() || !QFileInfo(path).isFile())
                continue;
            picture = ImageProc::loadPicture(path, boxesOf(settings), &error);
            if (!picture.isNull()) {
                from = path;
                break;
            }
        }
        if (picture.isNull())
            return failed(error.isEmpty() ? tr("none of its files is there") : error);
        Gallery::MadePicture made = writeSizes(picture, settings, target);
        if (!made.problem.isEmpty())
            return made;
        // A size asked for larger than the picture it is made from comes out smaller.
        QStringList short_;
        const std::pair<QString, QSize> sizes[] = {{tr("normal"), settings.normal}, {tr("large"), settings.large}};
        for (const auto &[name, box] : sizes) {
            if (box == settings.large && !settings.createLarge)
                continue;
            if (box.width() > picture.size.width() && box.height() > picture.size.height())
                short_ << name;
        }
        if (!short_.isEmpty())
            made.note = tr("The %1 size could only be made from %2 (%3 x %4): there is no larger file.")
                            .arg(short_.join(tr(" and ")), QFileInfo(from).fileName())
                            .arg(picture.size.width())
                            .arg(picture.size.height());
        return made;
    };
}

} // namespace qm
