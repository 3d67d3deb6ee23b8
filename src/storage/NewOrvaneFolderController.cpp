#include "storage/NewOrvaneFolderController.h"

#include "storage/Common.h"
#include "storage/GalleryFile.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm {

NewOrvaneFolderController::NewOrvaneFolderController(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("New Gallery"));
    setWindowModality(Qt::WindowModal);

    auto *intro = new QLabel(tr("Name the folder of the new gallery."));
    m_lblLocation = new QLabel;
    m_lblLocation->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblLocation->setWordWrap(true);
    m_txtFolder = new QLineEdit;
    m_txtFolder->setObjectName(QStringLiteral("txtFolder"));
    m_txtFolder->setPlaceholderText(tr("My Gallery"));
    m_txtFolder->setMinimumWidth(280);
    m_lblError = new QLabel;
    m_lblError->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_lblError->setWordWrap(true);
    m_lblError->hide();

    auto *form = new QFormLayout;
    form->addRow(tr("Location:"), m_lblLocation);
    form->addRow(tr("Folder name:"), m_txtFolder);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    m_btnCreate = buttons->addButton(tr("Create"), QDialogButtonBox::AcceptRole);
    m_btnCreate->setObjectName(QStringLiteral("btnCreate"));
    m_btnCreate->setDefault(true);
    // Return must create, also after the button was disabled for an empty name.
    buttons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
    connect(m_btnCreate, &QPushButton::clicked, this, &NewOrvaneFolderController::clickedCreate);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_txtFolder, &QLineEdit::textChanged, this, [this] {
        m_lblError->hide();
        updateButtons();
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_lblError);
    layout->addWidget(buttons);
    updateButtons();
}

void NewOrvaneFolderController::setParentFolder(const QString &folder)
{
    m_parentFolder = folder;
    m_lblLocation->setText(QDir::toNativeSeparators(folder));
    m_txtFolder->clear();
    m_lblError->hide();
}

void NewOrvaneFolderController::updateButtons()
{
    const bool ok = !m_txtFolder->text().trimmed().isEmpty();
    m_btnCreate->setEnabled(ok);
    if (ok)
        m_btnCreate->setDefault(true);
}

QString NewOrvaneFolderController::createGalleryFolder(const QString &parentFolder, const QString &name, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QString();
    };
    if (!isBareFileName(name))
        return fail(tr("\"%1\" is not a folder name.").arg(name));
    const QString path = QStringLiteral("%1/%2").arg(parentFolder, name);
    const QString index = QStringLiteral("%1/xml/albums.xml").arg(path);
    if (QFileInfo::exists(index))
        return fail(tr("The folder %1 already holds a gallery. Open it instead, or choose another name.").arg(path));
    QDir dir;
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return fail(tr("%1 exists and is not a folder.").arg(path));
    for (const QString &folder : {path, path + QStringLiteral("/img"), path + QStringLiteral("/xml")}) {
        if (!QFileInfo(folder).isDir() && !dir.mkdir(folder))
            return fail(tr("The folder %1 could not be created.").arg(folder));
    }
    QString why;
    if (!writeNewIndexFile(index, &why))
        return fail(tr("The index file %1 could not be written: %2").arg(index, why));
    return path;
}

void NewOrvaneFolderController::clickedCreate()
{
    QString error;
    const QString path = createGalleryFolder(m_parentFolder, m_txtFolder->text().trimmed(), &error);
    if (path.isNull()) {
        // Stay open so the user can pick another name.
        m_lblError->setText(error);
        m_lblError->show();
        return;
    }
    accept();
    emit galleryCreated(path);
}

} // namespace qm
