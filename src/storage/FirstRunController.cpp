#include "storage/FirstRunController.h"

#include "storage/FolderChooser.h"
#include "storage/NewOrvaneFolderController.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace qm {

FirstRunController::FirstRunController(NewOrvaneFolderController *ctlNewOrvaneFolder, QWidget *win)
    : QDialog(win)
    , m_ctlNewOrvaneFolder(ctlNewOrvaneFolder)
{
    setWindowTitle(tr("Welcome to Quillmere"));
    setWindowModality(Qt::WindowModal);

    auto *icon = new QLabel;
    icon->setPixmap(QPixmap(QStringLiteral(":/resources/quillmere.png")).scaled(72, 72, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setAlignment(Qt::AlignTop);
    auto *heading = new QLabel(tr("<b>Welcome to Quillmere</b>"));
    QFont f = heading->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    heading->setFont(f);
    auto *text = new QLabel(tr("Quillmere works on one gallery folder at a time. Create a new, empty gallery "
                               "or open a folder that already holds one. Your choice is remembered."));
    text->setWordWrap(true);
    text->setMinimumWidth(340);

    auto *btnCreate = new QPushButton(tr("&Create New Gallery..."));
    btnCreate->setObjectName(QStringLiteral("btnCreateNew"));
    auto *btnOpen = new QPushButton(tr("&Open Gallery..."));
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    auto *btnQuit = new QPushButton(tr("&Quit"));
    btnQuit->setObjectName(QStringLiteral("btnQuit"));
    auto *btnHelp = new QPushButton(tr("&Help"));
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnCreate->setDefault(true);
    connect(btnCreate, &QPushButton::clicked, this, &FirstRunController::clickedCreateNew);
    connect(btnOpen, &QPushButton::clicked, this, &FirstRunController::clickedOpen);
    connect(btnQuit, &QPushButton::clicked, this, &FirstRunController::clickedQuit);
    connect(btnHelp, &QPushButton::clicked, this, &FirstRunController::clickedHelp);

    auto *textColumn = new QVBoxLayout;
    textColumn->addWidget(heading);
    textColumn->addWidget(text);
    textColumn->addStretch();
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(textColumn, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnHelp);
    buttons->addStretch();
    buttons->addWidget(btnQuit);
    buttons->addWidget(btnOpen);
    buttons->addWidget(btnCreate);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addLayout(buttons);
}

void FirstRunController::clickedCreateNew()
{
    const QString location = FolderChooser::chooseFolder(this, tr("Choose Where the New Gallery Goes"));
    if (location.isEmpty())
        return;
    // A cancelled naming panel leaves the first-run panel where it was.
    m_ctlNewOrvaneFolder->setParentFolder(location);
    auto conn = connect(m_ctlNewOrvaneFolder, &NewOrvaneFolderController::galleryCreated, this, [&](const QString &path) {
        accept();
        emit galleryChosen(path);
    });
    m_ctlNewOrvaneFolder->exec();
    disconnect(conn);
}

void FirstRunController::clickedOpen()
{
    const QString path = FolderChooser::chooseFolder(this, tr("Open a Gallery Folder"));
    if (path.isEmpty())
        return;
    accept();
    emit galleryChosen(path);
}

void FirstRunController::clickedQuit()
{
    reject();
}

void FirstRunController::reject()
{
    // Escape and the close button too: without a gallery there is nothing
    // the main window could do.
    QDialog::reject();
    emit quitRequested();
}

void FirstRunController::clickedHelp()
{
    showGalleryHelp(this);
}

} // namespace qm
