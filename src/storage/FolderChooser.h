#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace qm {

// The folder chooser every gallery choice goes through: folders only, one at
// a time, starting in the home folder. An empty result means cancelled.
class FolderChooser
{
public:
    static QString chooseFolder(QWidget *parent, const QString &title);
    // Files to import, remembering the last folder for the next time.
    static QStringList chooseFiles(QWidget *parent, const QString &title, const QString &filter);
    // Tests answer the chooser instead of a person.
    static void setOverrideForTesting(std::function<QString(const QString &title)> answer);
    static void setFilesOverrideForTesting(std::function<QStringList(const QString &title)> answer);
};

// The help shown from the first-run panel and the Help menu.
void showGalleryHelp(QWidget *parent);

} // namespace qm
