#include "storage/FolderChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace qm {

namespace {
std::function<QString(const QString &)> &override()
{
    static std::function<QString(const QString &)> answer;
    return answer;
}
std::function<QStringList(const QString &)> &filesOverride()
{
    static std::function<QStringList(const QString &)> answer;
    return answer;
}

QString &lastFolder()
{
    static QString folder = QDir::homePath();
    return folder;
}
} // namespace

void FolderChooser::setFilesOverrideForTesting(std::function<QStringList(const QString &title)> answer)
{
    filesOverride() = std::move(answer);
}

QStringList FolderChooser::chooseFiles(QWidget *parent, const QString &title, const QString &filter)
{
    if (filesOverride())
        return filesOverride()(title);
    const QStringList files = QFileDialog::getOpenFileNames(parent, title, lastFolder(), filter);
    if (!files.isEmpty())
        lastFolder() = QFileInfo(files.first()).absolutePath();
    return files;
}

void FolderChooser::setOverrideForTesting(std::function<QString(const QString &title)> answer)
{
    override() = std::move(answer);
}

QString FolderChooser::chooseFolder(QWidget *parent, const QString &title)
{
    if (override())
        return override()(title);
    return QFileDialog::getExistingDirectory(parent, title, QDir::homePath(), QFileDialog::ShowDirsOnly);
}

void showGalleryHelp(QWidget *parent)
{
    QMessageBox box(parent);
    box.setWindowTitle(QObject::tr("Quillmere Help"));
    box.setIcon(QMessageBox::Information);
    box.setText(QObject::tr("Quillmere keeps the data folder of a web gallery."));
    box.setInformativeText(QObject::tr(
        "A gallery folder holds an \"img\" folder with every picture and video and an \"xml\" folder "
        "with the index \"albums.xml\" and one file per album.\n\n"
        "Create a new gallery to start from an empty folder, or open a folder that already holds a "
        "gallery. Quillmere remembers the gallery for the next start.\n\n"
        "Drop pictures or movies (FLV as they are; MP4, MOV and other camera and phone movies are converted) "
        "onto an album to import them, drag albums and items to move them, and drop them on the trash to "
        "delete them with their files. Find (Ctrl+F) looks through the whole gallery; the Photo menu turns "
        "photos and makes their sizes again. Every change can be undone. Save writes the XML files; quitting "
        "saves unsaved changes without asking."));
    box.exec();
}

} // namespace qm
