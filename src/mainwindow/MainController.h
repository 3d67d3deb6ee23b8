#pragma once

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
class FirstRunController;
class ItemListModel;
class MyImageView;
class NewOrvaneFolderController;
class PreferencesController;

// The one main window: the album tree, the item list of the selected album
// and the details of the selection. It owns the document and the settings
// store and starts every other window.
class MainController : public QMainWindow
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
};

} // namespace qm
