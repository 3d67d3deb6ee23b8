#pragma once

#include "mainwindow/DropHandler.h"
#include "mainwindow/MyImageView.h"
#include "model/Data.h"
#include "storage/GalleryFile.h"
#include "storage/Preferences.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSplitter;
class QTableView;
class QTreeView;

namespace qm {

class AlbumTreeModel;
class ChangeAlbumThumbController;
class CreateVideoThumbController;
class ImportVideoController;
class VideoPreviewController;
class ImportPhotosController;
class ImportingPhotosController;
struct ImportFailure;
class FirstRunController;
class ItemListModel;
class PhotoWindowController;
class NewOrvaneFolderController;
class PreferencesController;

// The one main window: the album tree, the item list of the selected album
// and the details of the selection. It owns the document and the settings
// store and starts every other window.
class MainController : public QMainWindow, public ImageViewDataSource, public DropHandler
{
    Q_OBJECT
public:
    explicit MainController(QSettings *settings, QWidget *parent = nullptr);
    ~MainController() override;

    Data &data() { return m_data; }
    Preferences &prefs() { return m_prefs; }
    AlbumTreeModel *treeModel() const { return m_treeModel; }
    ItemListModel *itemModel() const { return m_itemModel; }
    QTreeView *ovAlbums() const { return m_ovAlbums; }
    QTableView *tvPhotos() const { return m_tvPhotos; }
    MyImageView *ivAlbumThumb() const { return m_ivAlbumThumb; }
    MyImageView *ivPhoto() const { return m_ivPhoto; }
    MyImageView *ivTrash() const { return m_ivTrash; }
    QLabel *lblSmallImageSize() const { return m_lblSmallImageSize; }
    QLabel *lblImageSize() const { return m_lblImageSize; }
    QLabel *lblLargeImageSize() const { return m_lblLargeImageSize; }
    QPlainTextEdit *txtPhotoDesc() const { return m_txtPhotoDesc; }
    QPlainTextEdit *txtAlbumDesc() const { return m_txtAlbumDesc; }
    QPushButton *btnShowVideo() const { return m_btnShowVideo; }
    QPushButton *btnChangeAlbumThumb() const { return m_btnChangeAlbumThumb; }
    QAction *miApplyTitleToRest() const { return m_miApplyTitleToRest; }
    QAction *miApplyDateToRest() const { return m_miApplyDateToRest; }
    QAction *miApplyLocationToRest() const { return m_miApplyLocationToRest; }
    QAction *action(const QString &objectName) const;
    FirstRunController *firstRunController() const { return m_ctlFirstRun; }
    NewOrvaneFolderController *newOrvaneFolderController() const { return m_ctlNewOrvaneFolder; }
    PreferencesController *preferencesController() const { return m_ctlPreferences; }
    ChangeAlbumThumbController *changeAlbumThumbController() const { return m_ctlChangeAlbumThumb; }
    PhotoWindowController *photoWindowController() const { return m_ctlPhotoWindow; }
    ImportPhotosController *importPhotosController() const { return m_ctlImportPhotos; }
    ImportingPhotosController *importingPhotosController() const { return m_ctlImportingPhotos; }
    ImportVideoController *importVideoController() const { return m_ctlImportVideo; }
    VideoPreviewController *videoPreviewController() const { return m_ctlVideoPreview; }
    CreateVideoThumbController *createVideoThumbController() const { return m_ctlCreateVideoThumb; }

    // The wells' drop rules (album thumbnail and trash).
    Qt::DropAction validateDrop(MyImageView *view, const QMimeData *mime) override;
    bool acceptDrop(MyImageView *view, const QMimeData *mime) override;
    void dragHasLeft(MyImageView *view) override;

    // Outside files dropped on the tree or the list.
    void importPhotos(const QStringList &files, Album *album) override;
    void importVideo(const QString &file, Album *album, Video *addStreamTo) override;

    // Deletion with the files, as a drop on the trash does it.
    void deleteNode(const NodePtr &node);
    void deleteItems(const QList<ItemPtr> &items);

    // Reads the gallery named by the settings and shows it.
    void loadData();
    // Writes every album file and the index; tells the user what failed.
    bool saveData();
    // Saves what is open (without asking), then opens `path`. False when the
    // user chose to stay after a failed save.
    bool openGallery(const QString &path);

public slots:
    void windowDidBecomeKey();
    void clickedSave();
    void clickedFileNew();
    void clickedFileOpen();
    void clickedNewAlbum();
    void clickedNewCollection();
    void clickedPreferences();
    void clickedShowVideo();
    void clickedApplyTitleToRest();
    void clickedApplyDateToRest();
    void clickedApplyLocationToRest();
    void outlineViewSelectionDidChange();
    void tableViewSelectionDidChange();
    void clickedDelete();
    void clickedRename();
    void clickedImportPhotos();
    void clickedImportVideo();
    void clickedChangeAlbumThumb();
    void doubleClickedPhoto(Qt::KeyboardModifiers modifiers);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void showNodeThumbnail();
    void clearItemDetails();
    void setShowVideoEnabled(bool on);
    void textDidChange(QPlainTextEdit *view);
    void setDescription(QPlainTextEdit *view, const QString &text, bool editable);
    void deselectAllAlbums();
    void deselectAllItems();
    TreeNode *selectedNode() const;
    int selectedItemRow() const;
    bool applicationShouldTerminate();
    void showProblems(const QString &message, const QList<FileProblem> &problems);
    void showError(const QString &message, const QString &details = QString());
    void setupDragAndDrop();
    void reportDeletion(const struct DeleteReport &report);
    struct DeleteReport carryOutDeletion(const struct DeletePlan &plan);
    bool confirmDelete(const QString &what);
    void photoImportFinished(Album *album, int added, const QList<ImportFailure> &failures, bool stopped);

    QSettings *m_settings;
    Data m_data;
    Preferences m_prefs;
    GalleryFile m_galleryFile;
    bool m_windowWasKey = false;
    bool m_terminating = false;

    AlbumTreeModel *m_treeModel = nullptr;
    ItemListModel *m_itemModel = nullptr;

    QSplitter *m_splitter = nullptr;
    QWidget *m_subvAlbums = nullptr;
    QTreeView *m_ovAlbums = nullptr;
    QTableView *m_tvPhotos = nullptr;
    MyImageView *m_ivAlbumThumb = nullptr;
    MyImageView *m_ivPhoto = nullptr;
    MyImageView *m_ivTrash = nullptr;
    QLabel *m_lblSmallImageSize = nullptr;
    QLabel *m_lblImageSize = nullptr;
    QLabel *m_lblLargeImageSize = nullptr;
    QPlainTextEdit *m_txtPhotoDesc = nullptr;
    QPlainTextEdit *m_txtAlbumDesc = nullptr;
    QPushButton *m_btnShowVideo = nullptr;
    QPushButton *m_btnChangeAlbumThumb = nullptr;
    QAction *m_miApplyTitleToRest = nullptr;
    QAction *m_miApplyDateToRest = nullptr;
    QAction *m_miApplyLocationToRest = nullptr;
    QAction *m_miShowVideo = nullptr;

    NewOrvaneFolderController *m_ctlNewOrvaneFolder = nullptr;
    FirstRunController *m_ctlFirstRun = nullptr;
    PreferencesController *m_ctlPreferences = nullptr;
    ChangeAlbumThumbController *m_ctlChangeAlbumThumb = nullptr;
    PhotoWindowController *m_ctlPhotoWindow = nullptr;
    ImportPhotosController *m_ctlImportPhotos = nullptr;
    ImportingPhotosController *m_ctlImportingPhotos = nullptr;
    ImportVideoController *m_ctlImportVideo = nullptr;
    VideoPreviewController *m_ctlVideoPreview = nullptr;
    CreateVideoThumbController *m_ctlCreateVideoThumb = nullptr;
};

} // namespace qm
