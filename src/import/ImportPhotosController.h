#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QStringList>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSlider;
class QStringListModel;

namespace qm {

class Album;
class ImportingPhotosController;
class Preferences;

// What the user settled in the dialog, handed to the import run.
struct PhotoImportRequest
{
    QStringList files;
    Album *album = nullptr;
    int smallWidth = 0, smallHeight = 0;
    int width = 0, height = 0;
    int largeWidth = 0, largeHeight = 0;
    int quality = 0; // percent
    bool createLarge = false;
    bool renderCopyright = false;
    QString copyrightText;
    QFont copyrightFont;
    QColor copyrightColor;
    bool cameraDates = false;
};

// The import sheet: the dropped files, the three boxes, quality, the large
// size and an optional copyright line. Sizes, quality and the large choice
// are remembered in the settings; the copyright line for this run of the
// application only.
class ImportPhotosController : public QDialog
{
    Q_OBJECT
public:
    ImportPhotosController(Preferences *prefs, ImportingPhotosController *importing, QWidget *parent = nullptr);

    void setFiles(const QStringList &files);
    void setAlbum(Album *album) { m_album = album; }
    const QStringList &files() const { return m_files; }
    Album *album() const { return m_album; }
    // The font of the copyright line; "Arial" at 12 points where it exists.
    const QFont &copyrightFont() const { return m_font; }
    void setCopyrightFont(const QFont &font);
    QColor copyrightColor() const { return m_color; }
    void setCopyrightColor(const QColor &color);
    PhotoImportRequest request() const;

    // The sheet for another use of its settings than an import (making a
    // photo's sizes again, replacing its picture): the title, the button,
    // the heading over the list and what is listed, and what the button
    // does with the settings. `extra` (owned from now) shows above the
    // sizes. The sheet is the import's again once closed.
    using Use = std::function<void(const PhotoImportRequest &)>;
    void openFor(const QString &title, const QString &button, const QString &heading, const QStringList &listed, Use use,
                 QWidget *extra = nullptr);

    QLineEdit *txtSmallWidth() const { return m_txtSmallWidth; }
    QLineEdit *txtSmallHeight() const { return m_txtSmallHeight; }
    QLineEdit *txtWidth() const { return m_txtWidth; }
    QLineEdit *txtHeight() const { return m_txtHeight; }
    QLineEdit *txtLargeWidth() const { return m_txtLargeWidth; }
    QLineEdit *txtLargeHeight() const { return m_txtLargeHeight; }
    QSlider *sliderQuality() const { return m_sliderQuality; }
    QLabel *lblQuality() const { return m_lblQuality; }
    QCheckBox *chkCreateLarge() const { return m_chkCreateLarge; }
    QCheckBox *chkInsertCopyright() const { return m_chkInsertCopyright; }
    QLineEdit *txtCopyright() const { return m_txtCopyright; }
    QPushButton *btnFont() const { return m_btnFont; }
    QPushButton *clrCopyright() const { return m_clrCopyright; }
    QLabel *lblCopyrightText() const { return m_lblCopyrightText; }
    QCheckBox *chkCameraDates() const { return m_chkCameraDates; }
    QPushButton *btnImport() const { return m_btnImport; }
    QListView *tvFiles() const { return m_tvFiles; }

public slots:
    void clickedCopyrightCheckbox();
    void clickedFont();
    void clickedTextColor();
    void clickedImport();
    void clickedCancel();

private:
    void awakeFromNib();
    void updateImportButton();

    Preferences *m_prefs;
    ImportingPhotosController *m_ctlImportingPhotos;
    QStringList m_files;
    Album *m_album = nullptr;
    QFont m_font;
    QColor m_color = Qt::white;

    QStringListModel *m_fileNames;
    QListView *m_tvFiles;
    QLineEdit *m_txtSmallWidth, *m_txtSmallHeight, *m_txtWidth, *m_txtHeight, *m_txtLargeWidth, *m_txtLargeHeight;
    QSlider *m_sliderQuality;
    QLabel *m_lblQuality;
    QCheckBox *m_chkCreateLarge;
    QCheckBox *m_chkInsertCopyright;
    QLineEdit *m_txtCopyright;
    QPushButton *m_btnFont;
    QPushButton *m_clrCopyright;
    QLabel *m_lblCopyrightText;
    QCheckBox *m_chkCameraDates;
    QPushButton *m_btnImport;
    QLabel *m_lblFiles;
    Use m_use;
    QPointer<QWidget> m_extra;
};

} // namespace qm
