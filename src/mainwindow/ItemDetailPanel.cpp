#include "mainwindow/ItemDetailPanel.h"

#include "imaging/ImageProc.h"
#include "mainwindow/MyImageView.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/FileReader.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"

#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace qm {

namespace {

QSize pictureSize(const QString &path)
{
    if (path.isEmpty())
        return {};
    // The frame header is enough for the files we write; anything else
    // (a progressive JPEG, a PNG thumbnail) is asked of its reader's header.
    const QSize size = ImageProc::sizeOfJPEG(path);
    if (size.width() > 0)
        return size;
    QFile file;
    return FileReader::open(file, path, FileReader::kPictureLimit) ? QImageReader(&file).size() : QSize();
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1 x %2").arg(qMax(0, size.width())).arg(qMax(0, size.height()));
}

// The size of a file that is there, or why there is none; nothing for no file.
QString sizeOrWhy(const QString &path)
{
    if (path.isEmpty())
        return QString();
    const QSize size = pictureSize(path);
    if (size.width() > 0)
        return sizeText(size);
    return QFileInfo::exists(path) ? ItemDetailPanel::tr("cannot be read") : ItemDetailPanel::tr("missing");
}

} // namespace

ItemDetailPanel::ItemDetailPanel(Gallery *gallery, QWidget *parent)
    : QGroupBox(tr("Item"), parent)
    , m_gallery(gallery)
{
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
    auto *sizeColumn = new QVBoxLayout;
    sizeColumn->addLayout(sizes);
    sizeColumn->addStretch();
    sizeColumn->addWidget(m_btnShowVideo);

    m_txtPhotoDesc = new QPlainTextEdit;
    m_txtPhotoDesc->setObjectName(QStringLiteral("txtPhotoDesc"));
    m_txtPhotoDesc->setAccessibleName(tr("Item description"));
    m_txtPhotoDesc->setPlaceholderText(tr("Item description"));
    m_txtPhotoDesc->setTabChangesFocus(true);
    connect(m_txtPhotoDesc, &QPlainTextEdit::textChanged, this, &ItemDetailPanel::textDidChange);

    m_ivTrash = new MyImageView;
    m_ivTrash->setObjectName(QStringLiteral("ivTrash"));
    m_ivTrash->setAccessibleName(tr("Trash"));
    m_ivTrash->setToolTip(tr("Drop albums, collections or items here to delete them with their files"));
    m_ivTrash->setFrameStyle(QFrame::NoFrame);
    m_ivTrash->setFixedSize(72, 72);

    auto *row = new QHBoxLayout(this);
    row->addWidget(m_ivPhoto, 0, Qt::AlignTop);
    row->addLayout(sizeColumn);
    row->addWidget(m_txtPhotoDesc, 1);
    row->addWidget(m_ivTrash, 0, Qt::AlignBottom);

    // Undo and redo, or a new video thumbnail, change what is shown.
    connect(gallery, &Gallery::itemChanged, this, [this](Item *item) {
        if (item == m_item)
            fill();
    });
    connect(&m_sizes, &QFutureWatcherBase::finished, this, &ItemDetailPanel::showSizes);
    showItem(nullptr);
}

void ItemDetailPanel::setDescription(const QString &text, bool editable)
{
    // Loading a description is not an edit, and an unchanged one keeps the cursor.
    if (m_txtPhotoDesc->toPlainText() != text) {
        const QSignalBlocker block(m_txtPhotoDesc);
        m_txtPhotoDesc->setPlainText(text);
    }
    m_txtPhotoDesc->setReadOnly(!editable || m_gallery->isReadOnly());
}

void ItemDetailPanel::showItem(Item *item)
{
    // Another item's sizes are not shown while this one's are read.
    if (item != m_item) {
        m_lblSmallImageSize->clear();
        m_lblImageSize->clear();
        m_lblLargeImageSize->clear();
    }
    m_item = item;
    fill();
}

void ItemDetailPanel::fill()
{
    const Preferences &prefs = m_gallery->prefs();
    m_sizes.cancel();
    if (!m_item) {
        m_ivPhoto->setImage(QImage());
        setDescription(QString(), false);
        m_btnShowVideo->setEnabled(false);
        emit showVideoEnabledChanged(false);
        return;
    }
    // Small (or the video's thumbnail), normal and large: read on a thread,
    // as a file of the gallery may be anything (a pipe, a file on a stalled share).
    QStringList files;
    if (m_item->isPhoto()) {
        const auto *photo = static_cast<const Photo *>(m_item);
        files << prefs.imgPath(photo->smallImageFile()) << prefs.imgPath(photo->imageFile())
              << prefs.imgPath(photo->largeImageFile());
    } else {
        files << prefs.imgPath(static_cast<const Video *>(m_item)->thumbFile()) << QString() << QString();
    }
    m_ivPhoto->setImageFromFileLater(files.first());
    m_sizes.setFuture(QtConcurrent::run([files] {
        QStringList sizes;
        for (const QString &f : files)
            sizes << sizeOrWhy(f);
        return sizes;
    }));
    setDescription(m_item->description(), true);
    m_btnShowVideo->setEnabled(m_item->isVideo());
    emit showVideoEnabledChanged(m_item->isVideo());
}

void ItemDetailPanel::showSizes()
{
    if (m_sizes.isCanceled() || !m_item)
        return;
    // A photo without a large size shows nothing; one whose large file is gone says so.
    const QStringList sizes = m_sizes.result();
    m_lblSmallImageSize->setText(sizes.value(0));
    m_lblImageSize->setText(sizes.value(1));
    m_lblLargeImageSize->setText(sizes.value(2));
}

void ItemDetailPanel::textDidChange()
{
    if (m_item)
        m_gallery->setItemField(m_item, ItemField::Description, m_txtPhotoDesc->toPlainText());
}

} // namespace qm
