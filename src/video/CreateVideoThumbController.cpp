#include "video/CreateVideoThumbController.h"

#include "storage/Gallery.h"
#include "model/Video.h"
#include "storage/Preferences.h"
#include "video/CroppingImageView.h"
#include "video/VideoThumbnail.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

namespace qm {

CreateVideoThumbController::CreateVideoThumbController(Gallery *gallery, QWidget *parent)
    : QDialog(parent)
    , m_gallery(gallery)
    , m_prefs(&gallery->prefs())
{
    setObjectName(QStringLiteral("pnlCreateVideoThumb"));
    setWindowTitle(tr("Video Thumbnail"));
    setWindowModality(Qt::ApplicationModal);

    m_imgCapture = new CroppingImageView;
    m_imgThumb = new QLabel;
    m_imgThumb->setObjectName(QStringLiteral("imgThumb"));
    m_imgThumb->setAccessibleName(tr("Thumbnail preview"));
    m_imgThumb->setAlignment(Qt::AlignCenter);
    m_imgThumb->setMinimumSize(160, 120);
    m_imgThumb->setFrameShape(QFrame::StyledPanel);
    m_txtThumbWidth = new QLineEdit(QString::number(kDefaultVideoThumbWidth));
    m_txtThumbWidth->setObjectName(QStringLiteral("txtThumbWidth"));
    m_txtThumbHeight = new QLineEdit(QString::number(kDefaultVideoThumbHeight));
    m_txtThumbHeight->setObjectName(QStringLiteral("txtThumbHeight"));
    for (QLineEdit *f : {m_txtThumbWidth, m_txtThumbHeight}) {
        f->setValidator(new QIntValidator(1, 4000, f));
        f->setMaximumWidth(70);
        f->setAlignment(Qt::AlignRight);
        connect(f, &QLineEdit::editingFinished, this, &CreateVideoThumbController::changedThumbSize);
    }
    m_sldQuality = new QSlider(Qt::Horizontal);
    m_sldQuality->setObjectName(QStringLiteral("sldQuality"));
    m_sldQuality->setAccessibleName(tr("JPEG quality"));
    m_sldQuality->setRange(10, 100);
    m_sldQuality->setValue(kDefaultVideoThumbQuality);
    connect(m_sldQuality, &QSlider::valueChanged, this, &CreateVideoThumbController::changedQuality);
    m_lblThumbFileSize = new QLabel;
    m_lblThumbFileSize->setObjectName(QStringLiteral("lblThumbFileSize"));
    connect(m_imgCapture, &CroppingImageView::selectionChanged, this, &CreateVideoThumbController::updateThumbnail);

    auto *size = new QHBoxLayout;
    size->addWidget(m_txtThumbWidth);
    size->addWidget(new QLabel(QStringLiteral("\u00d7")));
    size->addWidget(m_txtThumbHeight);
    size->addStretch();
    auto *form = new QFormLayout;
    form->addRow(tr("Size:"), size);
    form->addRow(tr("Quality:"), m_sldQuality);
    form->addRow(tr("File size:"), m_lblThumbFileSize);
    auto *side = new QVBoxLayout;
    side->addWidget(m_imgThumb);
    side->addLayout(form);
    side->addStretch();

    auto *buttons = new QDialogButtonBox;
    auto *create = buttons->addButton(tr("Create Thumbnail"), QDialogButtonBox::AcceptRole);
    create->setObjectName(QStringLiteral("btnCreateThumb"));
    create->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));
    connect(create, &QPushButton::clicked, this, &CreateVideoThumbController::clickedCreateThumb);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    // The frame is shown at its own size; a screen too small for it scrolls.
    m_scrCapture = new QScrollArea;
    m_scrCapture->setObjectName(QStringLiteral("scrCapture"));
    m_scrCapture->setWidgetResizable(true);
    m_scrCapture->setAlignment(Qt::AlignCenter);
    m_scrCapture->setWidget(m_imgCapture);
    auto *top = new QHBoxLayout;
    top->addWidget(m_scrCapture, 1);
    top->addLayout(side);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Drag the frame to choose the part of the picture; drag its corner to resize it.")));
    layout->addLayout(top, 1);
    layout->addWidget(buttons);
}

void CreateVideoThumbController::setImage(const QImage &image)
{
    const QSignalBlocker block(m_sldQuality);
    if (m_prefs->videoThumbQuality() > 0)
        m_sldQuality->setValue(m_prefs->videoThumbQuality());
    if (m_prefs->videoThumbWidth() > 0)
        m_txtThumbWidth->setText(QString::number(m_prefs->videoThumbWidth()));
    if (m_prefs->videoThumbHeight() > 0)
        m_txtThumbHeight->setText(QString::number(m_prefs->videoThumbHeight()));
    m_imgCapture->setImage(image);
    changedThumbSize();
}

void CreateVideoThumbController::showWindow()
{
    // Large enough for the whole frame and the controls beside it, as far
    // as the screen allows (Qt would make a new window at most two thirds
    // of the screen, which hides part of a 600 x 400 frame).
    const QSize frame = m_imgCapture->image().size().expandedTo(m_imgCapture->minimumSize());
    const int border = 2 * m_scrCapture->frameWidth();
    m_scrCapture->setMinimumSize(frame + QSize(border, border));
    layout()->invalidate();
    const QSize wanted = layout()->totalSizeHint().expandedTo(layout()->totalMinimumSize());
    m_scrCapture->setMinimumSize(QSize(200, 150));
    QSize room = wanted;
    if (const QScreen *s = screen()) {
        // Room for the title bar and the frame the window manager adds.
        room = s->availableGeometry().size() - QSize(16, 48);
    }
    resize(wanted.boundedTo(room));
    exec();
}

void CreateVideoThumbController::changedThumbSize()
{
    m_imgCapture->setCroppingAspectRatio(m_txtThumbWidth->text().toFloat() / m_txtThumbHeight->text().toFloat());
}

void CreateVideoThumbController::changedQuality()
{
    updateThumbnail();
}

QByteArray CreateVideoThumbController::renderThumbnail() const
{
    return encodeJPEG(m_imgCapture->croppedImageFitToWidth(m_txtThumbWidth->text().toInt()), m_sldQuality->value());
}

void CreateVideoThumbController::updateThumbnail()
{
    const QByteArray jpeg = renderThumbnail();
    m_lblThumbFileSize->setText(QStringLiteral("%1 KB").arg(jpeg.size() / 1000));
    m_imgThumb->setPixmap(QPixmap::fromImage(QImage::fromData(jpeg, "JPG")));
}

void CreateVideoThumbController::clickedCreateThumb()
{
    if (!m_video)
        return;
    const WriteResult written = m_gallery->setVideoThumbnail(m_video, renderThumbnail());
    if (!written) {
        // The old thumbnail stays; nothing is recorded that is not on disk.
        QMessageBox box(QMessageBox::Warning, tr("Video Thumbnail"), tr("The thumbnail could not be written."),
                        QMessageBox::Ok, this);
        box.setInformativeText(QStringLiteral("%1: %2").arg(written.path, written.reason));
        box.exec();
        return;
    }
    // The main window's details follow the video through the gallery's signal.
    m_prefs->setVideoThumbWidth(m_txtThumbWidth->text().toInt(), m_txtThumbHeight->text().toInt());
    m_prefs->setVideoThumbQuality(m_sldQuality->value());
    accept();
}

} // namespace qm
