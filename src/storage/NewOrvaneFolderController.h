#pragma once

#include <QDialog>

class QLineEdit;
class QLabel;
class QPushButton;

namespace qm {

class Preferences;

// The panel in which a new gallery folder is named and created.
class NewOrvaneFolderController : public QDialog
{
    Q_OBJECT
public:
    explicit NewOrvaneFolderController(QWidget *parent = nullptr);

    void setParentFolder(const QString &folder);
    QString parentFolder() const { return m_parentFolder; }
    QLineEdit *txtFolder() const { return m_txtFolder; }

    // Makes "<parent>/<name>" with its img and xml folders and a first, empty
    // index file. Refuses a name that is empty or not a single folder name,
    // and a folder that already holds a gallery. Returns the new path, or a
    // null string with `error` saying why.
    static QString createGalleryFolder(const QString &parentFolder, const QString &name, QString *error);

signals:
    void galleryCreated(const QString &path);

public slots:
    void clickedCreate();

private:
    void updateButtons();

    QString m_parentFolder;
    QLineEdit *m_txtFolder;
    QLabel *m_lblLocation;
    QLabel *m_lblError;
    QPushButton *m_btnCreate;
};

} // namespace qm
