#include "import/ImportPhotosController.h"

#include "import/ImportingPhotosController.h"
#include "model/Album.h"
#include "storage/Preferences.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDate>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QStringListModel>
#include <QVBoxLayout>

namespace qm {

namespace {

// Sizes a fresh install starts with: a grid thumbnail, a screen-sized
// picture and one for large displays.
constexpr int kSmall[2] = {150, 150};
constexpr int kNormal[2] = {800, 600};
constexpr int kLarge[2] = {1600, 1200};
constexpr int kQuality = 85;

QLineEdit *sizeField(const QString &name, int value)
{
    auto *field = new QLineEdit(QString::number(value));
    field->setObjectName(name);
    field->setValidator(new QIntValidator(1, 30000, field));
    field->setAlignment(Qt::AlignRight);
    field->setMaximumWidth(72);
    return field;
}

QWidget *sizeRow(QLineEdit *w, QLineEdit *h)
{
    auto *row = new QWidget;
    auto *l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(w);
    l->addWidget(new QLabel(QStringLiteral("\u00d7")));
    l->addWidget(h);
    l->addWidget(new QLabel(QObject::tr("pixels")));
    l->addStretch();
    return row;
}

QFont defaultCopyrightFont()
{
    const QString family = QFontDatabase::hasFamily(QStringLiteral("Arial"))
        ? QStringLiteral("Arial")
        : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    QFont font(family);
    font.setPointSizeF(12.0);
    return font;
}

} // namespace

ImportPhotosController::ImportPhotosController(Preferences *prefs, ImportingPhotosController *importing,
                                               QWidget *parent)
    : QDialog(parent)
    , m_prefs(prefs)
    , m_ctlImportingPhotos(importing)
{
    setObjectName(QStringLiteral("pnlImportPhotos"));
    setWindowTitle(tr("Import Photos"));
    setWindowModality(Qt::WindowModal);

    m_fileNames = new QStringListModel(this);
    m_tvFiles = new QListView;
    m_tvFiles->setObjectName(QStringLiteral("tvFiles"));
    m_tvFiles->setAccessibleName(tr("Files to import"));
    m_tvFiles->setModel(m_fileNames);
    m_tvFiles->setUniformItemSizes(true);
    m_tvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tvFiles->setSelectionMode(QAbstractItemView::NoSelection);
    m_tvFiles->setMinimumHeight(110);

    m_txtSmallWidth = sizeField(QStringLiteral("txtSmallWidth"), kSmall[0]);
    m_txtSmallHeight = sizeField(QStringLiteral("txtSmallHeight"), kSmall[1]);
    m_txtWidth = sizeField(QStringLiteral("txtWidth"), kNormal[0]);
    m_txtHeight = sizeField(QStringLiteral("txtHeight"), kNormal[1]);
    m_txtLargeWidth = sizeField(QStringLiteral("txtLargeWidth"), kLarge[0]);
    m_txtLargeHeight = sizeField(QStringLiteral("txtLargeHeight"), kLarge[1]);
    m_chkCreateLarge = new QCheckBox(tr("&Large:"));
    m_chkCreateLarge->setObjectName(QStringLiteral("chkCreateLarge"));
    m_chkCreateLarge->setToolTip(tr("Also make a large picture for big screens"));
    m_chkCreateLarge->setChecked(true);

    m_sliderQuality = new QSlider(Qt::Horizontal);
    m_sliderQuality->setObjectName(QStringLiteral("sliderQuality"));
    m_sliderQuality->setAccessibleName(tr("JPEG quality"));
    m_sliderQuality->setRange(10, 100);
    m_sliderQuality->setValue(kQuality);
    m_lblQuality = new QLabel(QString::number(kQuality));
    m_lblQuality->setObjectName(QStringLiteral("lblQuality"));
    m_lblQuality->setMinimumWidth(m_lblQuality->fontMetrics().horizontalAdvance(QStringLiteral("1000")));
    connect(m_sliderQuality, &QSlider::valueChanged, m_lblQuality, [this](int v) { m_lblQuality->setNum(v); });
    auto *qualityRow = new QHBoxLayout;
    qualityRow->addWidget(m_sliderQuality, 1);
    qualityRow->addWidget(m_lblQuality);

    auto *sizes = new QGroupBox(tr("Sizes"));
    auto *form = new QFormLayout(sizes);
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(tr("Small:"), sizeRow(m_txtSmallWidth, m_txtSmallHeight));
    form->addRow(tr("Normal:"), sizeRow(m_txtWidth, m_txtHeight));
    form->addRow(m_chkCreateLarge, sizeRow(m_txtLargeWidth, m_txtLargeHeight));
    form->addRow(tr("Quality:"), qualityRow);
    connect(m_chkCreateLarge, &QCheckBox::toggled, this, [this](bool on) {
        m_txtLargeWidth->setEnabled(on);
        m_txtLargeHeight->setEnabled(on);
        updateImportButton();
    });

    m_chkInsertCopyright = new QCheckBox(tr("Add a &copyright line to the normal and large pictures"));
    m_chkInsertCopyright->setObjectName(QStringLiteral("chkInsertCopyright"));
    m_txtCopyright = new QLineEdit(QStringLiteral("\u00a9 %1").arg(QDate::currentDate().year()));
    m_txtCopyright->setObjectName(QStringLiteral("txtCopyright"));
    m_txtCopyright->setAccessibleName(tr("Copyright line"));
    m_btnFont = new QPushButton(tr("Font..."));
    m_btnFont->setObjectName(QStringLiteral("btnFont"));
    m_clrCopyright = new QPushButton;
    m_clrCopyright->setObjectName(QStringLiteral("clrCopyright"));
    m_clrCopyright->setAccessibleName(tr("Copyright colour"));
    m_clrCopyright->setToolTip(tr("Colour of the copyright line"));
    m_clrCopyright->setFixedWidth(44);
    m_lblCopyrightText = new QLabel(tr("Sample"));
    m_lblCopyrightText->setObjectName(QStringLiteral("lblCopyrightText"));
    m_lblCopyrightText->setMinimumHeight(28);
    // Return always imports; these only open their own windows.
    m_btnFont->setAutoDefault(false);
    m_clrCopyright->setAutoDefault(false);
    connect(m_chkInsertCopyright, &QCheckBox::clicked, this, &ImportPhotosController::clickedCopyrightCheckbox);
    connect(m_btnFont, &QPushButton::clicked, this, &ImportPhotosController::clickedFont);
    connect(m_clrCopyright, &QPushButton::clicked, this, &ImportPhotosController::clickedTextColor);
    connect(m_txtCopyright, &QLineEdit::textChanged, m_lblCopyrightText, [this](const QString &t) {
        m_lblCopyrightText->setText(t.isEmpty() ? tr("Sample") : t);
    });
    m_lblCopyrightText->setText(m_txtCopyright->text());

    auto *copyright = new QGroupBox(tr("Copyright"));
    auto *cl = new QGridLayout(copyright);
    cl->addWidget(m_chkInsertCopyright, 0, 0, 1, 3);
    cl->addWidget(m_txtCopyright, 1, 0);
    cl->addWidget(m_btnFont, 1, 1);
    cl->addWidget(m_clrCopyright, 1, 2);
    cl->addWidget(m_lblCopyrightText, 2, 0, 1, 3);
    cl->setColumnStretch(0, 1);
    // Off until asked for.
    m_txtCopyright->setEnabled(false);
    m_btnFont->setEnabled(false);
    m_clrCopyright->setEnabled(false);

    m_chkCameraDates = new QCheckBox(tr("Take each photo's &date from the camera"));
    m_chkCameraDates->setObjectName(QStringLiteral("chkCameraDates"));
    m_chkCameraDates->setToolTip(tr("Fills in the date the camera recorded in the picture, written the way the "
                                    "gallery's dates already are"));

    auto *buttons = new QDialogButtonBox;
    m_btnImport = buttons->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
    m_btnImport->setObjectName(QStringLiteral("btnImport"));
    m_btnImport->setDefault(true);
    auto *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setAutoDefault(false);
    connect(m_btnImport, &QPushButton::clicked, this, &ImportPhotosController::clickedImport);
    connect(cancel, &QPushButton::clicked, this, &ImportPhotosController::clickedCancel);
    for (QLineEdit *f : {m_txtSmallWidth, m_txtSmallHeight, m_txtWidth, m_txtHeight, m_txtLargeWidth, m_txtLargeHeight})
        connect(f, &QLineEdit::textChanged, this, &ImportPhotosController::updateImportButton);

    auto *layout = new QVBoxLayout(this);
    m_lblFiles = new QLabel(tr("Pictures to import:"));
    layout->addWidget(m_lblFiles);
    layout->addWidget(m_tvFiles, 1);
    layout->addWidget(sizes);
    layout->addWidget(copyright);
    layout->addWidget(m_chkCameraDates);
    layout->addWidget(buttons);
    resize(460, 560);

    // Cancel and Escape alike let go of the files.
    connect(this, &QDialog::rejected, this, [this] { setFiles({}); });
    connect(this, &QDialog::finished, this, [this] {
        if (!m_use)
            return;
        m_use = nullptr;
        // Later: the button's use may still read it.
        if (m_extra)
            m_extra->deleteLater();
        m_tvFiles->show();
        setWindowTitle(tr("Import Photos"));
        m_btnImport->setText(tr("Import"));
        m_lblFiles->setText(tr("Pictures to import:"));
        m_chkCameraDates->show();
    });
    awakeFromNib();
}

void ImportPhotosController::awakeFromNib()
{
    auto fill = [](QLineEdit *w, QLineEdit *h, int width, int height) {
        if (width > 0) {
            w->setText(QString::number(width));
            h->setText(QString::number(height));
        }
    };
    fill(m_txtWidth, m_txtHeight, m_prefs->importPhotosWidth(), m_prefs->importPhotosHeight());
    fill(m_txtSmallWidth, m_txtSmallHeight, m_prefs->importPhotosSmallWidth(), m_prefs->importPhotosSmallHeight());
    fill(m_txtLargeWidth, m_txtLargeHeight, m_prefs->importPhotosLargeWidth(), m_prefs->importPhotosLargeHeight());
    if (m_prefs->importPhotosQuality() > 0) {
        m_sliderQuality->setValue(m_prefs->importPhotosQuality());
        m_lblQuality->setNum(m_prefs->importPhotosQuality());
    }
    // The settings keep only a "yes"; a stored "no" leaves the layout's choice.
    if (m_prefs->importPhotosCreateLarge())
        m_chkCreateLarge->setChecked(true);
    m_chkCameraDates->setChecked(m_prefs->importPhotosCameraDates());
    setCopyrightFont(defaultCopyrightFont());
    setCopyrightColor(m_color);
}

void ImportPhotosController::openFor(const QString &title, const QString &button, const QString &heading,
                                     const QStringList &listed, Use use, QWidget *extra)
{
    m_use = std::move(use);
    setWindowTitle(title);
    m_btnImport->setText(button);
    m_lblFiles->setText(heading);
    m_chkCameraDates->hide();
    m_extra = extra;
    if (extra)
        static_cast<QVBoxLayout *>(layout())->insertWidget(2, extra);
    setFiles(listed);
    m_fileNames->setStringList(listed);
    m_tvFiles->setVisible(!listed.isEmpty());
    open();
}

void ImportPhotosController::setFiles(const QStringList &files)
{
    m_files = files;
    QStringList names;
    names.reserve(files.size());
    for (const QString &f : files)
        names.append(QFileInfo(f).fileName());
    m_fileNames->setStringList(names);
    updateImportButton();
}

void ImportPhotosController::setCopyrightFont(const QFont &font)
{
    m_font = font;
    m_lblCopyrightText->setFont(font);
}

void ImportPhotosController::setCopyrightColor(const QColor &color)
{
    m_color = color;
    // The swatch on a neutral ground, so white still shows.
    m_clrCopyright->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid #777; "
                                                 "border-radius: 3px; min-height: 20px; }")
                                      .arg(color.name()));
}

void ImportPhotosController::updateImportButton()
{
    // A box of no size gives no picture worth having.
    bool ok = !m_files.isEmpty() || m_use;
    QList<QLineEdit *> needed{m_txtSmallWidth, m_txtSmallHeight, m_txtWidth, m_txtHeight};
    if (m_chkCreateLarge->isChecked())
        needed << m_txtLargeWidth << m_txtLargeHeight;
    for (QLineEdit *f : needed)
        ok = ok && f->text().toInt() > 0;
    m_btnImport->setEnabled(ok);
    if (ok)
        m_btnImport->setDefault(true); // Return imports again once the fields are complete
}

void ImportPhotosController::clickedCopyrightCheckbox()
{
    const bool on = m_chkInsertCopyright->isChecked();
    m_btnFont->setEnabled(on);
    m_txtCopyright->setEnabled(on);
    m_clrCopyright->setEnabled(on);
}

void ImportPhotosController::clickedFont()
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, m_font, this, tr("Copyright Font"));
    if (ok)
        setCopyrightFont(font);
}

void ImportPhotosController::clickedTextColor()
{
    const QColor color = QColorDialog::getColor(m_color, this, tr("Copyright Colour"));
    if (color.isValid())
        setCopyrightColor(color);
}

PhotoImportRequest ImportPhotosController::request() const
{
    PhotoImportRequest r;
    r.files = m_files;
    r.album = m_album;
    r.smallWidth = m_txtSmallWidth->text().toInt();
    r.smallHeight = m_txtSmallHeight->text().toInt();
    r.width = m_txtWidth->text().toInt();
    r.height = m_txtHeight->text().toInt();
    r.largeWidth = m_txtLargeWidth->text().toInt();
    r.largeHeight = m_txtLargeHeight->text().toInt();
    r.quality = m_sliderQuality->value();
    r.createLarge = m_chkCreateLarge->isChecked();
    r.renderCopyright = m_chkInsertCopyright->isChecked();
    if (r.renderCopyright) {
        r.copyrightText = m_txtCopyright->text();
        r.copyrightFont = m_font;
        r.copyrightColor = m_color;
    }
    r.cameraDates = m_chkCameraDates->isChecked();
    return r;
}

void ImportPhotosController::clickedImport()
{
    if (!m_btnImport->isEnabled() || (!m_album && !m_use))
        return;
    const PhotoImportRequest r = request();
    const Use use = m_use;
    accept();
    m_prefs->setImportPhotosWidth(r.width, r.height);
    m_prefs->setImportPhotosSmallWidth(r.smallWidth, r.smallHeight);
    m_prefs->setImportPhotosLargeWidth(r.largeWidth, r.largeHeight);
    m_prefs->setImportPhotosQuality(r.quality);
    m_prefs->setImportPhotosCreateLarge(r.createLarge);
    setFiles({});
    if (use) {
        use(r);
        return;
    }
    m_prefs->setImportPhotosCameraDates(r.cameraDates);
    m_ctlImportingPhotos->start(r);
}

void ImportPhotosController::clickedCancel()
{
    reject();
}

} // namespace qm
