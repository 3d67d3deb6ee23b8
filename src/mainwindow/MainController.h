#pragma once

#include "edit/ItemOrder.h"
#include "mainwindow/DropHandler.h"
#include "mainwindow/DropViews.h"
#include "mainwindow/MyImageView.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"
#include "storage/RecentGalleries.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSlider;
class QSplitter;
class QTableView;
class QTreeView;

namespace qm {

class AlbumTreeModel;
class BatchEditController;
class ChangeAlbumThumbController;
class CheckGalleryController;
class CreateVideoThumbController;
class DeletionController;
class FileChecks;
class FindController;
class FirstRunController;
class ImageWells;
class ImportPhotosController;
class ImportingPhotosController;
class ImportVideoController;
class ItemDetailPanel;
class ItemListModel;
class ItemListView;
class ItemTableView;
class NewOrvaneFolderController;
class PhotoWindowController;
class PreviewServer;
struct ViewerPlan;
class PreferencesController;
class PublishController;
class ThumbnailCache;
class VideoPreviewController;

// The one main window: the layout, the menus and the wiring between the
// album tree, the item list, the detail panel and the other windows. The
// gallery document holds the data; every change goes through it.
class MainController : public QMainWindow, public DropHandler
{
    Q_OBJECT
public:
    explicit MainController(QSettings *settings, QWidget *parent = nullptr);
    ~MainController() override;

    Gallery &gallery() { return m_gallery; }
    const Data &data() const { return m_gallery.data(); }
    Preferences &prefs() { return m_prefs; }
    AlbumTreeModel *treeModel() const { return m_treeModel; }
    ItemListModel *itemModel() const { return m_itemModel; }
    QTreeView *ovAlbums() const { return m_ovAlbums; }
    QTableView *tvPhotos() const;
    ItemListView *itemViews() const { return m_itemViews; }
    ThumbnailCache *thumbnails() const { return m_thumbnails; }
    CheckGalleryController *checkGalleryController() const { return m_ctlCheckGallery; }
    PublishController *publishController() const { return m_ctlPublish; }
    FindController *findController() const { return m_find; }
    BatchEditController *batchEditController() const { return m_batch; }
    QSplitter *splitView() const { return m_splitter; }
    QSplitter *itemSplitView() const { return m_itemSplitter; }
    QSlider *sliderThumbnailSize() const { return m_sliderThumbnailSize; }
    FileChecks *fileChecks() const { return m_fileChecks; }
    PreviewServer *previewServer() const { return m_preview; }
    ItemDetailPanel *itemDetails() const { return m_itemDetails; }
    ImageWells *wells() const { return m_wells; }
    MyImageView *ivAlbumThumb() const { return m_ivAlbumThumb; }
    MyImageView *ivPhoto() const;
    MyImageView *ivTrash() const;
    QLabel *lblSmallImageSize() const;
    QLabel *lblImageSize() const;
    QLabel *lblLargeImageSize() const;
    QPlainTextEdit *txtPhotoDesc() const;
    QPlainTextEdit *txtAlbumDesc() const { return m_txtAlbumDesc; }
    QPushButton *btnShowVideo() const;
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

    // Outside files dropped on the tree or the list.
    void importPhotos(const QStringList &files, Album *album) override;
    void importVideo(const QString &file, Album *album, Video *addStreamTo) override;

    // Reads the gallery named by the settings and shows it.
    void loadData();
    // Writes what changed in one step; tells the user what failed, and asks
    // when another program changed a file meanwhile. True when nothing
    // unsaved is left.
    bool saveData(GalleryFile::OnChangedFiles onChanged = GalleryFile::OnChangedFiles::Stop);
    // Saves what is open (without asking), then opens `path`. False when the
    // user chose to stay after a failed save.
    bool openGallery(const QString &path);

public slots:
    void windowDidBecomeKey();
    void clickedSave();
    void clickedUndo();
    void clickedRedo();
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
    void clickedCheckGallery();
    void clickedPublish();
    void clickedPreviewInBrowser();
    void clickedAddWebViewer();
    void doubleClickedPhoto(Qt::KeyboardModifiers modifiers);

    // The daily work on many items (MainControllerEdits.cpp).
    void clickedCut();
    void clickedPaste();
    void clickedChangeItems();
    void clickedShiftDates();
    void clickedNumberTitles();
    void clickedFind();
    void clickedSortBy(qm::SortKey key);
    void clickedRotate(int quarterTurns);
    void clickedUseAsAlbumThumb();
    void clickedReplacePicture();
    void clickedMakeSizesAgain();
    // The photo before or after the selected one (videos passed over), in the viewer.
    void showNextPhoto(int step);
    // The item that names a file, selected in the tree and the list.
    bool showItemNaming(const QString &fileName);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void fillRecentMenu();
    void wireGallery();
    void updateUndoActions();
    void updateCommands();
    void albumDescriptionChanged();
    void setAlbumDescription(const QString &text, bool editable);
    void deselectAllAlbums();
    void deselectAllItems();
    TreeNode *selectedNode() const;
    int selectedItemRow() const;
    void applyToRest(ItemField field);
    // Ends every edit still open in a cell, so that it counts.
    void commitEditors();
    bool applicationShouldTerminate();
    // Asked when another process holds the gallery's lock: true to open it read-only.
    bool offerReadOnly(const QString &folder);
    // Keep mine, reload theirs, or cancel; what saveData() answers then.
    bool resolveChangedFiles(const QList<FileProblem> &files);
    void showProblems(const QString &message, const QList<FileProblem> &problems);
    void showError(const QString &message, const QString &details = QString());
    void setupDragAndDrop();
    void showNewNode(TreeNode *node);
    // The context menus of the tree, the list, the grid and the wells.
    void buildContextMenus();
    void updateEditCommands();
    // The selected items of the list in album order, hidden rows left out.
    QList<ItemPtr> selectedItems() const;
    QList<ItemPtr> selectedPhotos() const;
    void selectItems(const QList<ItemPtr> &items);
    // What a change of pictures did; `notes` (with %1 for their number) puts
    // the notes in the status bar rather than in a window.
    void picturesChanged(const Gallery::PictureReport &report, const QString &what, const QString &notes = QString());
    // Window size and place, the splitters, list or grid, the thumbnail
    // size, and per gallery the album selected.
    void restoreWindowState();
    void saveWindowState();
    void restoreSelection();
    void webViewerPlanned(const QString &gallery, const ViewerPlan &plan);
    // The conversion into an H.264 stream for a video that browsers cannot play.
    void addBrowserStream(quint64 videoId);

    QSettings *m_settings;
    Preferences m_prefs;
    Gallery m_gallery;
    RecentGalleries m_recent;
    bool m_windowWasKey = false;
    bool m_terminating = false;

    AlbumTreeModel *m_treeModel = nullptr;
    ItemListModel *m_itemModel = nullptr;
    DeletionController *m_deletion = nullptr;
    ImageWells *m_wells = nullptr;
    ThumbnailCache *m_thumbnails = nullptr;

    QSplitter *m_splitter = nullptr;
    QSplitter *m_itemSplitter = nullptr;
    QSlider *m_sliderThumbnailSize = nullptr;
    FindController *m_find = nullptr;
    BatchEditController *m_batch = nullptr;
    FileChecks *m_fileChecks = nullptr;
    // Items cut, to be pasted into another album; gone ones are left out.
    QList<std::weak_ptr<Item>> m_cut;
    std::weak_ptr<TreeNode> m_cutFrom;
    // What the status bar says once an undo or redo has been done.
    QString m_afterStep;
    QWidget *m_subvAlbums = nullptr;
    AlbumTreeView *m_ovAlbums = nullptr;
    ItemListView *m_itemViews = nullptr;
    ItemTableView *m_tvPhotos = nullptr;
    ItemDetailPanel *m_itemDetails = nullptr;
    MyImageView *m_ivAlbumThumb = nullptr;
    QPlainTextEdit *m_txtAlbumDesc = nullptr;
    QPushButton *m_btnChangeAlbumThumb = nullptr;
    QAction *m_miUndo = nullptr;
    QAction *m_miRedo = nullptr;
    QAction *m_miApplyTitleToRest = nullptr;
    QAction *m_miApplyDateToRest = nullptr;
    QAction *m_miApplyLocationToRest = nullptr;
    QAction *m_miShowVideo = nullptr;
    QMenu *m_miOpenRecent = nullptr;

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
    CheckGalleryController *m_ctlCheckGallery = nullptr;
    PublishController *m_ctlPublish = nullptr;
    PreviewServer *m_preview = nullptr;
    QPointer<Job> m_viewerJob;
};

} // namespace qm
