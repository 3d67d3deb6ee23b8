#include "mainwindow/MainController.h"

#include "mainwindow/AlbumTreeModel.h"
#include "imaging/ImageProc.h"
#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "video/CreateVideoThumbController.h"
#include "video/ImportVideoController.h"
#include "video/VideoPreviewController.h"
#include "mainwindow/PhotoWindowController.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MyImageView.h"
#include "mainwindow/PreferencesController.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/BackgroundTask.h"
#include "storage/FirstRunController.h"
#include "storage/FolderChooser.h"
#include "storage/NewOrvaneFolderController.h"
#include "storage/Resources.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace qm {

namespace {

// Reading or writing a large gallery takes a moment: say so under the pointer.
struct BusyCursor
{
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

QSize pictureSize(const QString &path)
{
    if (path.isEmpty())
        return {};
    // The frame header is enough for the files we write; anything else
    // (a progressive JPEG, a PNG thumbnail) is asked of its reader's header.
    const QSize size = ImageProc::sizeOfJPEG(path);
    return size.width() > 0 ? size : QImageReader(path).size();
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1 x %2").arg(qMax(0, size.width())).arg(qMax(0, size.height()));
}

} // namespace

MainController::MainController(QSettings *settings, QWidget *parent)
    : QMainWindow(parent)
    , m_settings(settings)
    , m_prefs(settings)
    , m_galleryFile(m_prefs)
{
    setObjectName(QStringLiteral("win"));
    setWindowTitle(QStringLiteral("Quillmere"));
    setWindowIcon(QIcon(resourcePath(QStringLiteral("quillmere.png"))));

    m_treeModel = new AlbumTreeModel(&m_data, &m_prefs, this);
    m_itemModel = new ItemListModel(&m_data, this);
    m_ctlNewOrvaneFolder = new NewOrvaneFolderController(this);
    m_ctlFirstRun = new FirstRunController(m_ctlNewOrvaneFolder, this);
    m_ctlPreferences = new PreferencesController(&m_prefs, this);

    connect(m_ctlFirstRun, &FirstRunController::galleryChosen, this, [this](const QString &path) { openGallery(path); });
    connect(m_ctlFirstRun, &FirstRunController::quitRequested, this, [this] {
        QTimer::singleShot(0, this, &QWidget::close);
    });
    connect(m_treeModel, &AlbumTreeModel::editRefused, this, [this](const QString &why) {
        statusBar()->showMessage(why, 8000);
    });

    buildWindow();
    buildMenus();
    m_ctlChangeAlbumThumb = new ChangeAlbumThumbController(&m_data, &m_prefs, m_ivAlbumThumb, this);
    m_ctlPhotoWindow = new PhotoWindowController(&m_prefs, this);
    m_ctlImportingPhotos = new ImportingPhotosController(&m_data, &m_prefs, this);
    m_ctlImportPhotos = new ImportPhotosController(&m_data, &m_prefs, m_ctlImportingPhotos, this);
    connect(m_ctlImportingPhotos, &ImportingPhotosController::importFinished, this,
            &MainController::photoImportFinished);
    m_ctlImportVideo = new ImportVideoController(&m_data, &m_prefs, this);
    m_ctlCreateVideoThumb = new CreateVideoThumbController(&m_data, &m_prefs, this);
    m_ctlVideoPreview = new VideoPreviewController(&m_data, &m_prefs, m_ctlCreateVideoThumb, this);
    connect(m_ctlImportVideo, &ImportVideoController::videoImported, this, [this](Album *album) {
        m_treeModel->albumItemsChanged(album);
        if (album == m_data.selectedAlbum())
            m_itemModel->sync();
    });
    connect(m_ctlCreateVideoThumb, &CreateVideoThumbController::thumbnailCreated, this,
            [this](Video *video, const QImage &thumbnail, QSize size) {
                if (m_data.selectedItem() != video)
                    return;
                m_ivPhoto->setImage(thumbnail);
                m_lblSmallImageSize->setText(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()));
            });
    connect(m_btnChangeAlbumThumb, &QPushButton::clicked, this, &MainController::clickedChangeAlbumThumb);
    setupDragAndDrop();

    // Start-up state: nothing loaded until the window first becomes active.
    m_lblSmallImageSize->clear();
    m_lblImageSize->clear();
    m_lblLargeImageSize->clear();
    m_miApplyTitleToRest->setEnabled(false);
    m_miApplyDateToRest->setEnabled(false);
    m_miApplyLocationToRest->setEnabled(false);
    setDescription(m_txtAlbumDesc, QString(), false);
    setDescription(m_txtPhotoDesc, QString(), false);
    m_btnChangeAlbumThumb->setEnabled(false);
    setShowVideoEnabled(false);
    m_ivTrash->setImageFromFile(resourcePath(QStringLiteral("trashempty.png")));
}

MainController::~MainController()
{
    // The document is destroyed before the child widgets; their last signals
    // (selection and text changes while they go) must not reach it.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
    delete takeCentralWidget();
}

void MainController::buildWindow()
{
    // Left pane: the album tree with the selected node's thumbnail and description.
    m_subvAlbums = new QWidget;
    m_subvAlbums->setObjectName(QStringLiteral("subvAlbums"));
    m_subvAlbums->setMinimumWidth(240);
    m_subvAlbums->setMaximumWidth(460);
    m_ovAlbums = new QTreeView;
    m_ovAlbums->setObjectName(QStringLiteral("ovAlbums"));
    m_ovAlbums->setModel(m_treeModel);
    m_ovAlbums->setHeaderHidden(false);
    m_ovAlbums->setUniformRowHeights(true);
    m_ovAlbums->setAlternatingRowColors(true);
    m_ovAlbums->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ovAlbums->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                | QAbstractItemView::SelectedClicked);
    m_ovAlbums->header()->setStretchLastSection(false);
    m_ovAlbums->header()->setSectionResizeMode(AlbumTreeModel::TitleColumn, QHeaderView::Stretch);
    m_ovAlbums->header()->setSectionResizeMode(AlbumTreeModel::NumberColumn, QHeaderView::ResizeToContents);
    m_ovAlbums->setColumnHidden(AlbumTreeModel::XMLFileColumn, true);
    m_ovAlbums->setAccessibleName(tr("Albums"));
    connect(m_ovAlbums->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainController::outlineViewSelectionDidChange);

    m_ivAlbumThumb = new MyImageView;
    m_ivAlbumThumb->setObjectName(QStringLiteral("ivAlbumThumb"));
    m_ivAlbumThumb->setAccessibleName(tr("Album thumbnail"));
    m_ivAlbumThumb->setToolTip(tr("Drop a picture or an item here to make it the thumbnail"));
    m_ivAlbumThumb->setFixedSize(88, 64);
    m_btnChangeAlbumThumb = new QPushButton(tr("&Choose..."));
    m_btnChangeAlbumThumb->setObjectName(QStringLiteral("btnChangeAlbumThumb"));
    m_btnChangeAlbumThumb->setToolTip(tr("Choose one of the gallery's thumbnails"));
    m_txtAlbumDesc = new QPlainTextEdit;
    m_txtAlbumDesc->setObjectName(QStringLiteral("txtAlbumDesc"));
    m_txtAlbumDesc->setAccessibleName(tr("Album description"));
    m_txtAlbumDesc->setPlaceholderText(tr("Album description"));
    m_txtAlbumDesc->setTabChangesFocus(true);
    m_txtAlbumDesc->setMaximumHeight(110);
    connect(m_txtAlbumDesc, &QPlainTextEdit::textChanged, this, [this] { textDidChange(m_txtAlbumDesc); });

    auto *albumBox = new QGroupBox(tr("Album"));
    auto *albumGrid = new QGridLayout(albumBox);
    auto *thumbColumn = new QVBoxLayout;
    thumbColumn->addWidget(m_ivAlbumThumb, 0, Qt::AlignHCenter);
    thumbColumn->addWidget(m_btnChangeAlbumThumb);
    thumbColumn->addStretch();
    albumGrid->addLayout(thumbColumn, 0, 0);
    albumGrid->addWidget(m_txtAlbumDesc, 0, 1);

    auto *left = new QVBoxLayout(m_subvAlbums);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(m_ovAlbums, 1);
    left->addWidget(albumBox);

    // Right pane: the item list over the selected item's details.
    auto *right = new QWidget;
    m_tvPhotos = new QTableView;
    m_tvPhotos->setObjectName(QStringLiteral("tvPhotos"));
    m_tvPhotos->setModel(m_itemModel);
    m_tvPhotos->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tvPhotos->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tvPhotos->setAlternatingRowColors(true);
    m_tvPhotos->setShowGrid(false);
    m_tvPhotos->setWordWrap(false);
    m_tvPhotos->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                | QAbstractItemView::SelectedClicked);
    m_tvPhotos->verticalHeader()->hide();
    m_tvPhotos->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tvPhotos->verticalHeader()->setDefaultSectionSize(m_tvPhotos->fontMetrics().height() + 8);
    m_tvPhotos->horizontalHeader()->setHighlightSections(false);
    m_tvPhotos->horizontalHeader()->setSectionResizeMode(ItemListModel::IndexColumn, QHeaderView::Fixed);
    m_tvPhotos->horizontalHeader()->setSectionResizeMode(ItemListModel::TitleColumn, QHeaderView::Stretch);
    m_tvPhotos->horizontalHeader()->setSectionResizeMode(ItemListModel::KindColumn, QHeaderView::Fixed);
    m_tvPhotos->setColumnWidth(ItemListModel::IndexColumn, 48);
    m_tvPhotos->setColumnWidth(ItemListModel::DateColumn, 120);
    m_tvPhotos->setColumnWidth(ItemListModel::LocationColumn, 150);
    m_tvPhotos->setColumnWidth(ItemListModel::KindColumn, 44);
    m_tvPhotos->setAccessibleName(tr("Items"));
    connect(m_tvPhotos->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainController::tableViewSelectionDidChange);

    m_ivPhoto = new MyImageView;
    m_ivPhoto->setObjectName(QStringLiteral("ivPhoto"));
    m_ivPhoto->setAccessibleName(tr("Photo preview"));
    m_ivPhoto->setToolTip(tr("Double-click to view the photo; Ctrl+double-click for the large size"));
    m_ivPhoto->setFixedSize(176, 132);
    m_lblSmallImageSize = new QLabel;
    m_lblImageSize = new QLabel;
    m_lblLargeImageSize = new QLabel;
    m_lblSmallImageSize->setObjectName(QStringLiteral("lblSmallImageSize"));
    m_lblImageSize->setObjectName(QStringLiteral("lblImageSize"));
    m_lblLargeImageSize->setObjectName(QStringLiteral("lblLargeImageSize"));
    for (QLabel *l : {m_lblSmallImageSize, m_lblImageSize, m_lblLargeImageSize}) {
        l->setMinimumWidth(90);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto *sizes = new QFormLayout;
    sizes->setLabelAlignment(Qt::AlignRight);
    sizes->addRow(tr("Small:"), m_lblSmallImageSize);
    sizes->addRow(tr("Normal:"), m_lblImageSize);
    sizes->addRow(tr("Large:"), m_lblLargeImageSize);
    m_btnShowVideo = new QPushButton(tr("Sho&w Video..."));
    m_btnShowVideo->setObjectName(QStringLiteral("btnShowVideo"));
    connect(m_btnShowVideo, &QPushButton::clicked, this, &MainController::clickedShowVideo);
    auto *sizeColumn = new QVBoxLayout;
    sizeColumn->addLayout(sizes);
    sizeColumn->addStretch();
    sizeColumn->addWidget(m_btnShowVideo);

    m_txtPhotoDesc = new QPlainTextEdit;
    m_txtPhotoDesc->setObjectName(QStringLiteral("txtPhotoDesc"));
    m_txtPhotoDesc->setAccessibleName(tr("Item description"));
    m_txtPhotoDesc->setPlaceholderText(tr("Item description"));
    m_txtPhotoDesc->setTabChangesFocus(true);
    connect(m_txtPhotoDesc, &QPlainTextEdit::textChanged, this, [this] { textDidChange(m_txtPhotoDesc); });

    m_ivTrash = new MyImageView;
    m_ivTrash->setObjectName(QStringLiteral("ivTrash"));
    m_ivTrash->setAccessibleName(tr("Trash"));
    m_ivTrash->setToolTip(tr("Drop albums, collections or items here to delete them with their files"));
    m_ivTrash->setFrameStyle(QFrame::NoFrame);
    m_ivTrash->setFixedSize(72, 72);

    auto *itemBox = new QGroupBox(tr("Item"));
    auto *itemRow = new QHBoxLayout(itemBox);
    itemRow->addWidget(m_ivPhoto, 0, Qt::AlignTop);
    itemRow->addLayout(sizeColumn);
    itemRow->addWidget(m_txtPhotoDesc, 1);
    itemRow->addWidget(m_ivTrash, 0, Qt::AlignBottom);

    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(m_tvPhotos, 1);
    rightLayout->addWidget(itemBox);

    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setObjectName(QStringLiteral("splitView"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_subvAlbums);
    m_splitter->addWidget(right);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({280, 700});

    auto *central = new QWidget;
    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(m_splitter);
    setCentralWidget(central);
    statusBar();

    // Tab moves between the fields, not between the cells of the list.
    m_tvPhotos->setTabKeyNavigation(false);
    setTabOrder(m_ovAlbums, m_txtAlbumDesc);
    setTabOrder(m_txtAlbumDesc, m_tvPhotos);
    setTabOrder(m_tvPhotos, m_txtPhotoDesc);
    resize(1040, 680);
}

void MainController::buildMenus()
{
    auto add = [this](QMenu *menu, const QString &name, const QString &text, const QKeySequence &key,
                      auto slot) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, slot);
        menu->addAction(a);
        return a;
    };

    QMenu *file = menuBar()->addMenu(tr("&File"));
    add(file, QStringLiteral("miFileNew"), tr("&New Gallery..."), QKeySequence(Qt::CTRL | Qt::Key_N), &MainController::clickedFileNew);
    add(file, QStringLiteral("miFileOpen"), tr("&Open Gallery..."), QKeySequence(Qt::CTRL | Qt::Key_O), &MainController::clickedFileOpen);
    file->addSeparator();
    add(file, QStringLiteral("miSave"), tr("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S), &MainController::clickedSave);
    file->addSeparator();
    auto *quit = add(file, QStringLiteral("miQuit"), tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), &QWidget::close);
    quit->setMenuRole(QAction::QuitRole);

    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    m_miApplyTitleToRest = add(edit, QStringLiteral("miApplyTitleToRest"), tr("Apply &Title to Rest"),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T), &MainController::clickedApplyTitleToRest);
    m_miApplyDateToRest = add(edit, QStringLiteral("miApplyDateToRest"), tr("Apply D&ate to Rest"),
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), &MainController::clickedApplyDateToRest);
    m_miApplyLocationToRest = add(edit, QStringLiteral("miApplyLocationToRest"), tr("Apply &Location to Rest"),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), &MainController::clickedApplyLocationToRest);
    edit->addSeparator();
    add(edit, QStringLiteral("miRename"), tr("&Rename"), QKeySequence(Qt::Key_F2), &MainController::clickedRename)
        ->setShortcutContext(Qt::WindowShortcut);
    auto *del = add(edit, QStringLiteral("miDelete"), tr("&Delete..."), QKeySequence(Qt::Key_Delete), &MainController::clickedDelete);
    del->setShortcutContext(Qt::WindowShortcut);
    edit->addSeparator();
    // Spelled out: the platform's standard keys are empty on some desktops.
    auto *prefs = add(edit, QStringLiteral("miPreferences"), tr("&Preferences..."), QKeySequence(Qt::CTRL | Qt::Key_Comma),
                      &MainController::clickedPreferences);
    prefs->setMenuRole(QAction::PreferencesRole);

    QMenu *gallery = menuBar()->addMenu(tr("&Gallery"));
    auto *newAlbum = add(gallery, QStringLiteral("miNewAlbum"), tr("New &Album"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
                         &MainController::clickedNewAlbum);
    auto *newCollection = add(gallery, QStringLiteral("miNewCollection"), tr("New &Collection"),
                              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N), &MainController::clickedNewCollection);
    gallery->addSeparator();
    add(gallery, QStringLiteral("miImportPhotos"), tr("&Import Photos..."), QKeySequence(Qt::CTRL | Qt::Key_I),
        &MainController::clickedImportPhotos);
    add(gallery, QStringLiteral("miImportVideo"), tr("Import &Video..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        &MainController::clickedImportVideo);
    gallery->addSeparator();
    add(gallery, QStringLiteral("miChangeAlbumThumb"), tr("Choose &Thumbnail..."), QKeySequence(Qt::CTRL | Qt::Key_T),
        &MainController::clickedChangeAlbumThumb);
    gallery->addSeparator();
    add(gallery, QStringLiteral("miShowPhoto"), tr("Show &Photo"), QKeySequence(Qt::CTRL | Qt::Key_Y),
        [this] { doubleClickedPhoto(Qt::NoModifier); });
    add(gallery, QStringLiteral("miShowLargePhoto"), tr("Show &Large Photo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Y),
        [this] { doubleClickedPhoto(Qt::ControlModifier); });
    auto *showVideo = add(gallery, QStringLiteral("miShowVideo"), tr("Show Vi&deo..."), QKeySequence(Qt::CTRL | Qt::Key_E),
                          &MainController::clickedShowVideo);
    m_miShowVideo = showVideo;
    m_miShowVideo->setEnabled(m_btnShowVideo->isEnabled());

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    add(help, QStringLiteral("miHelp"), tr("Quillmere &Help"), QKeySequence(Qt::Key_F1), [this] { showGalleryHelp(this); });

    auto *tools = addToolBar(tr("Gallery"));
    tools->setObjectName(QStringLiteral("mainToolbar"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addAction(newAlbum);
    tools->addAction(newCollection);
    tools->addSeparator();
    tools->addAction(action(QStringLiteral("miSave")));
}

QAction *MainController::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void MainController::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Some platforms never report activation of the first window.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            windowDidBecomeKey();
    });
}

void MainController::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, &MainController::windowDidBecomeKey);
}

void MainController::windowDidBecomeKey()
{
    if (m_windowWasKey)
        return;
    m_windowWasKey = true;
    const QString folder = m_prefs.orvaneFolder();
    if (!folder.isEmpty() && QFileInfo::exists(folder))
        loadData();
    else
        m_ctlFirstRun->exec();
}

void MainController::loadData()
{
    setWindowTitle(QStringLiteral("Quillmere - %1").arg(m_prefs.orvaneFolder()));
    LoadReport report;
    {
        const BusyCursor busy;
        deselectAllAlbums();
        report = m_galleryFile.loadData(m_data);
        m_treeModel->reload();
        deselectAllAlbums();
        m_ovAlbums->expandAll();
    }
    if (!report.ok()) {
        showProblems(tr("Some files of the gallery could not be read. What they hold is not shown, and they "
                        "will not be replaced: a copy is kept beside each one before the next save."),
                     report.unreadable);
    }
}

bool MainController::saveData()
{
    const SaveReport report = [this] {
        const BusyCursor busy;
        return m_galleryFile.saveData(m_data);
    }();
    if (!report.ok()) {
        showProblems(tr("The gallery could not be saved completely. Your changes are still open and "
                        "marked unsaved."),
                     report.failed);
        return false;
    }
    statusBar()->showMessage(tr("Saved"), 3000);
    return true;
}

void MainController::clickedSave()
{
    saveData();
}

bool MainController::openGallery(const QString &path)
{
    if (m_data.needsToSaveChanges() && !saveData()) {
        QMessageBox box(QMessageBox::Warning, tr("Unsaved Changes"),
                        tr("The open gallery could not be saved. Open the other gallery anyway and lose "
                           "the unsaved changes?"),
                        QMessageBox::NoButton, this);
        box.setWindowModality(Qt::WindowModal);
        auto *open = box.addButton(tr("Open Anyway"), QMessageBox::DestructiveRole);
        auto *stay = box.addButton(tr("Stay"), QMessageBox::RejectRole);
        box.setDefaultButton(stay);
        box.exec();
        if (box.clickedButton() != open)
            return false;
    }
    m_prefs.setOrvaneFolder(path);
    m_settings->sync();
    loadData();
    m_data.setNeedsToSaveChanges(false);
    return true;
}

void MainController::clickedFileNew()
{
    const QString location = FolderChooser::chooseFolder(this, tr("Select location for orvane folder"));
    if (location.isEmpty())
        return;
    m_ctlNewOrvaneFolder->setParentFolder(location);
    QString created;
    auto conn = connect(m_ctlNewOrvaneFolder, &NewOrvaneFolderController::galleryCreated, this,
                        [&created](const QString &path) { created = path; });
    m_ctlNewOrvaneFolder->exec();
    disconnect(conn);
    if (!created.isEmpty())
        openGallery(created);
}

void MainController::clickedFileOpen()
{
    const QString path = FolderChooser::chooseFolder(this, tr("Select orvane folder"));
    if (!path.isEmpty())
        openGallery(path);
}

TreeNode *MainController::selectedNode() const
{
    const QModelIndexList rows = m_ovAlbums->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : m_treeModel->nodeForIndex(rows.first());
}

void MainController::clickedNewAlbum()
{
    QString error;
    const QModelIndex index = m_treeModel->newAlbum(selectedNode(), &error);
    m_ovAlbums->expand(index.parent());
    m_ovAlbums->scrollTo(index);
    if (!error.isEmpty())
        showError(tr("The new album has no thumbnail picture."), error);
}

void MainController::clickedNewCollection()
{
    QString error;
    const QModelIndex index = m_treeModel->newCollection(selectedNode(), &error);
    m_ovAlbums->expand(index.parent());
    m_ovAlbums->scrollTo(index);
    if (!error.isEmpty())
        showError(tr("The new collection has no thumbnail picture."), error);
}

void MainController::clickedPreferences()
{
    m_ctlPreferences->show();
    m_ctlPreferences->raise();
    m_ctlPreferences->activateWindow();
}

void MainController::setShowVideoEnabled(bool on)
{
    m_btnShowVideo->setEnabled(on);
    if (m_miShowVideo)
        m_miShowVideo->setEnabled(on);
}

void MainController::clickedShowVideo()
{
    Item *item = m_data.selectedItem();
    if (!item || !item->isVideo())
        return;
    m_ctlVideoPreview->setVideo(static_cast<Video *>(item));
    m_ctlVideoPreview->showWindow();
}

void MainController::setDescription(QPlainTextEdit *view, const QString &text, bool editable)
{
    // Loading a description is not an edit: keep it from reaching textDidChange.
    const QSignalBlocker block(view);
    view->setPlainText(text);
    view->setReadOnly(!editable);
}

void MainController::deselectAllAlbums()
{
    m_ovAlbums->selectionModel()->clearSelection();
    m_ovAlbums->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    outlineViewSelectionDidChange();
}

void MainController::deselectAllItems()
{
    m_tvPhotos->selectionModel()->clearSelection();
    tableViewSelectionDidChange();
}

void MainController::outlineViewSelectionDidChange()
{
    TreeNode *node = selectedNode();
    Album *album = node && node->isAlbum() ? static_cast<Album *>(node) : nullptr;
    AlbumCollection *collection = node && node->isCollection() ? static_cast<AlbumCollection *>(node) : nullptr;
    m_data.setSelectedAlbum(album);
    m_data.setSelectedCollection(collection);
    m_btnChangeAlbumThumb->setEnabled(node != nullptr);
    setDescription(m_txtAlbumDesc, album ? album->description() : QString(), album != nullptr);

    m_tvPhotos->selectionModel()->clearSelection();
    if (m_itemModel->album() != album)
        m_itemModel->setAlbum(album);
    tableViewSelectionDidChange();
    showNodeThumbnail();
}

void MainController::showNodeThumbnail()
{
    const TreeNode *node = m_data.selectedAlbum() ? static_cast<TreeNode *>(m_data.selectedAlbum())
                                                  : m_data.selectedCollection();
    if (node && !node->thumbFile().isEmpty())
        m_ivAlbumThumb->setImageFromFile(m_prefs.imgPath(node->thumbFile()));
    else
        m_ivAlbumThumb->setImage(QImage());
}

int MainController::selectedItemRow() const
{
    const QModelIndexList rows = m_tvPhotos->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void MainController::clearItemDetails()
{
    m_lblSmallImageSize->clear();
    m_lblImageSize->clear();
    m_lblLargeImageSize->clear();
    m_data.setSelectedItem(nullptr);
    m_ivPhoto->setImage(QImage());
    setDescription(m_txtPhotoDesc, QString(), false);
    setShowVideoEnabled(false);
    m_miApplyTitleToRest->setEnabled(false);
    m_miApplyDateToRest->setEnabled(false);
    m_miApplyLocationToRest->setEnabled(false);
}

void MainController::tableViewSelectionDidChange()
{
    Item *item = m_itemModel->itemAt(selectedItemRow());
    if (!item) {
        clearItemDetails();
        return;
    }
    if (item->isPhoto()) {
        const auto *photo = static_cast<const Photo *>(item);
        const QString small = m_prefs.imgPath(photo->smallImageFile());
        m_ivPhoto->setImageFromFile(small);
        m_lblSmallImageSize->setText(sizeText(pictureSize(small)));
        m_lblImageSize->setText(sizeText(pictureSize(m_prefs.imgPath(photo->imageFile()))));
        const QSize large = pictureSize(m_prefs.imgPath(photo->largeImageFile()));
        if (large.width() > 0)
            m_lblLargeImageSize->setText(sizeText(large));
        else
            m_lblLargeImageSize->clear();
        setShowVideoEnabled(false);
    } else {
        const auto *video = static_cast<const Video *>(item);
        const QString thumb = m_prefs.imgPath(video->thumbFile());
        m_ivPhoto->setImageFromFile(thumb);
        m_lblSmallImageSize->setText(sizeText(pictureSize(thumb)));
        m_lblImageSize->clear();
        m_lblLargeImageSize->clear();
        setShowVideoEnabled(true);
    }
    m_data.setSelectedItem(item);
    setDescription(m_txtPhotoDesc, item->description(), true);
    m_miApplyTitleToRest->setEnabled(true);
    m_miApplyDateToRest->setEnabled(true);
    m_miApplyLocationToRest->setEnabled(true);
}

void MainController::textDidChange(QPlainTextEdit *view)
{
    if (view == m_txtPhotoDesc) {
        if (Item *item = m_itemModel->itemAt(selectedItemRow())) {
            item->setDescription(view->toPlainText());
            m_data.setNeedsToSaveChanges(true);
        }
    } else if (view == m_txtAlbumDesc && m_data.selectedAlbum()) {
        m_data.selectedAlbum()->setDescription(view->toPlainText());
        m_data.setNeedsToSaveChanges(true);
    }
}

void MainController::clickedApplyTitleToRest()
{
    m_itemModel->applyToRest(selectedItemRow(), ItemListModel::Title);
}

void MainController::clickedApplyDateToRest()
{
    m_itemModel->applyToRest(selectedItemRow(), ItemListModel::Date);
}

void MainController::clickedApplyLocationToRest()
{
    m_itemModel->applyToRest(selectedItemRow(), ItemListModel::Location);
}

bool MainController::applicationShouldTerminate()
{
    if (!m_data.needsToSaveChanges())
        return true;
    if (saveData())
        return true;
    // A failed save must not silently lose the changes.
    QMessageBox box(QMessageBox::Warning, tr("Quit Without Saving?"),
                    tr("The gallery could not be saved. If you quit now, your unsaved changes are lost."),
                    QMessageBox::NoButton, this);
    box.setWindowModality(Qt::WindowModal);
    auto *quit = box.addButton(tr("Quit Anyway"), QMessageBox::DestructiveRole);
    auto *stay = box.addButton(tr("Don't Quit"), QMessageBox::RejectRole);
    box.setDefaultButton(stay);
    box.exec();
    return box.clickedButton() == quit;
}

void MainController::closeEvent(QCloseEvent *event)
{
    // Quitting while files move or copy would save a tree that is about to change.
    if (BackgroundTask::isRunning()) {
        event->ignore();
        return;
    }
    // An import in progress ends with the pictures in hand, so that what is
    // saved now has every file it names.
    m_ctlImportingPhotos->stopAndWait();
    if (m_terminating || applicationShouldTerminate()) {
        m_terminating = true;
        m_ctlPreferences->close();
        m_ctlPhotoWindow->close();
        m_ctlImportVideo->close();
        m_ctlVideoPreview->close();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainController::showProblems(const QString &message, const QList<FileProblem> &problems)
{
    QStringList lines;
    for (const FileProblem &p : problems)
        lines << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(p.path), p.reason);
    showError(message, lines.join(QLatin1Char('\n')));
}

void MainController::showError(const QString &message, const QString &details)
{
    QMessageBox box(QMessageBox::Warning, tr("Quillmere"), message, QMessageBox::Ok, this);
    box.setWindowModality(Qt::WindowModal);
    if (!details.isEmpty()) {
        // The first lines are shown at once; all of them under Details.
        const QStringList lines = details.split(QLatin1Char('\n'));
        QString shown = lines.mid(0, 5).join(QLatin1Char('\n'));
        if (lines.size() > 5)
            shown += tr("\n... and %n more", nullptr, int(lines.size() - 5));
        box.setInformativeText(shown);
        box.setDetailedText(details);
    }
    box.exec();
}

} // namespace qm
