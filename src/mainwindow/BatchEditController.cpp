#include "mainwindow/BatchEditController.h"

#include "edit/BatchEdit.h"
#include "import/DateForm.h"
#include "storage/Gallery.h"
#include "storage/GalleryTrash.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qm {

namespace {

const ItemField kFields[] = {ItemField::Title, ItemField::Date, ItemField::Location, ItemField::Description};

// The value all the items share, or null when they differ.
QString common(const QList<ItemPtr> &items, ItemField field)
{
    auto value = [field](const ItemPtr &i) {
        switch (field) {
        case ItemField::Title:
            return i->title();
        case ItemField::Date:
            return i->date();
        case ItemField::Location:
            return i->location();
        case ItemField::Description:
            return i->description();
        }
        return QString();
    };
    const QString first = items.isEmpty() ? QString() : value(items.first());
    for (const ItemPtr &i : items)
        if (value(i) != first)
            return QString();
    return first.isNull() ? QStringLiteral("") : first;
}

QSpinBox *spin(const QString &name, int range)
{
    auto *box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(-range, range);
    box->setAlignment(Qt::AlignRight);
    return box;
}

} // namespace

BatchEditController::BatchEditController(Gallery *gallery, QWidget *window)
    : QObject(window)
    , m_gallery(gallery)
    , m_window(window)
{
    // Change: each field with a box that says whether it is set.
    auto *grid = new QGridLayout;
    const QString labels[] = {tr("&Title:"), tr("&Date:"), tr("&Location:"), tr("D&escription:")};
    for (int f = 0; f < 4; ++f) {
        m_chkFields[f] = new QCheckBox(labels[f]);
        m_chkFields[f]->setObjectName(QStringLiteral("chkField%1").arg(f));
        grid->addWidget(m_chkFields[f], f, 0, f == 3 ? Qt::AlignTop : Qt::Alignment());
        if (f < 3) {
            m_txtFields[f] = new QLineEdit;
            m_txtFields[f]->setObjectName(QStringLiteral("txtField%1").arg(f));
            m_txtFields[f]->setAccessibleName(QString(labels[f]).remove(QLatin1Char('&')).chopped(1));
            grid->addWidget(m_txtFields[f], f, 1);
            // Typing in a field means setting it.
            connect(m_txtFields[f], &QLineEdit::textEdited, m_chkFields[f], [box = m_chkFields[f]] { box->setChecked(true); });
        }
    }
    m_txtDescription = new QPlainTextEdit;
    m_txtDescription->setObjectName(QStringLiteral("txtField3"));
    m_txtDescription->setAccessibleName(tr("Description"));
    m_txtDescription->setTabChangesFocus(true);
    m_txtDescription->setMaximumHeight(90);
    grid->addWidget(m_txtDescription, 3, 1);
    connect(m_txtDescription, &QPlainTextEdit::textChanged, this, [this] {
        if (m_txtDescription->hasFocus())
            m_chkFields[3]->setChecked(true);
    });
    m_change = sheet(QStringLiteral("pnlChangeItems"), tr("Change Items"), grid, tr("Change"));
    connect(m_change, &QDialog::accepted, this, [this] {
        QList<Gallery::FieldChange> changes;
        for (int f = 0; f < 4; ++f) {
            if (!m_chkFields[f]->isChecked())
                continue;
            const QString value = f < 3 ? m_txtFields[f]->text() : m_txtDescription->toPlainText();
            for (const ItemPtr &item : std::as_const(m_items))
                changes.append({item, kFields[f], value});
        }
        if (m_gallery->setItemFields(changes, itemsText("Change", m_items)) == 0)
            emit status(tr("Nothing was changed: the items hold these values already."));
    });

    // Shift dates: years, months and days, with what becomes of the first date.
    auto *shift = new QVBoxLayout;
    auto *amounts = new QHBoxLayout;
    m_years = spin(QStringLiteral("spinYears"), 200);
    m_months = spin(QStringLiteral("spinMonths"), 1200);
    m_days = spin(QStringLiteral("spinDays"), 100000);
    for (auto [box, label] : {std::pair{m_years, tr("&years")}, {m_months, tr("&months")}, {m_days, tr("&days")}}) {
        auto *l = new QLabel(label);
        l->setBuddy(box);
        box->setAccessibleName(l->text().remove(QLatin1Char('&')));
        amounts->addWidget(box);
        amounts->addWidget(l);
        connect(box, &QSpinBox::valueChanged, this, &BatchEditController::updateShiftPreview);
    }
    amounts->addStretch();
    m_shiftPreview = new QLabel;
    m_shiftPreview->setObjectName(QStringLiteral("lblShiftPreview"));
    m_shiftPreview->setWordWrap(true);
    shift->addWidget(new QLabel(tr("Move the dates of the selected items by:")));
    shift->addLayout(amounts);
    shift->addWidget(m_shiftPreview);
    m_shift = sheet(QStringLiteral("pnlShiftDates"), tr("Shift Dates"), shift, tr("Shift"));
    connect(m_shift, &QDialog::accepted, this, [this] {
        const DateShift by{m_years->value(), m_months->value(), m_days->value()};
        QStringList dates;
        for (const ItemPtr &item : std::as_const(m_items))
            dates << item->date();
        const DateForm hint = dateHint(m_gallery->data(), dates);
        QList<Gallery::FieldChange> changes;
        int unread = 0;
        for (const ItemPtr &item : std::as_const(m_items)) {
            const QString moved = shiftedDate(item->date(), by, hint);
            if (moved.isNull())
                unread += !item->date().trimmed().isEmpty();
            else
                changes.append({item, ItemField::Date, moved});
        }
        const int n = m_gallery->setItemFields(changes, tr("Shift %1").arg(counted(int(changes.size()), "Date", "Dates")));
        QString text = tr("%1 moved.").arg(counted(n, "date", "dates"));
        if (unread > 0)
            text += QLatin1Char(' ') + tr("%1 could not be read and stayed as written.").arg(counted(unread, "date", "dates"));
        emit status(text);
    });

    // Number titles: a pattern and the first number.
    auto *number = new QFormLayout;
    m_pattern = new QLineEdit;
    m_pattern->setObjectName(QStringLiteral("txtPattern"));
    m_pattern->setToolTip(tr("# stands for the number; ## pads it to two digits"));
    m_start = new QSpinBox;
    m_start->setObjectName(QStringLiteral("spinStart"));
    m_start->setRange(0, 999999);
    m_numberPreview = new QLabel;
    m_numberPreview->setObjectName(QStringLiteral("lblNumberPreview"));
    m_numberPreview->setWordWrap(true);
    number->addRow(tr("&Pattern:"), m_pattern);
    number->addRow(tr("&First number:"), m_start);
    number->addRow(m_numberPreview);
    connect(m_pattern, &QLineEdit::textChanged, this, &BatchEditController::updateNumberPreview);
    connect(m_start, &QSpinBox::valueChanged, this, &BatchEditController::updateNumberPreview);
    m_number = sheet(QStringLiteral("pnlNumberTitles"), tr("Number Titles"), number, tr("Number"));
    connect(m_number, &QDialog::accepted, this, [this] {
        QList<Gallery::FieldChange> changes;
        for (int i = 0; i < m_items.size(); ++i)
            changes.append({m_items[i], ItemField::Title, numberedTitle(m_pattern->text(), m_start->value() + i)});
        m_gallery->setItemFields(changes, tr("Number %1").arg(counted(int(m_items.size()), "Title", "Titles")));
    });
    for (QDialog *d : {m_change, m_shift, m_number})
        connect(d, &QDialog::finished, this, [this] { m_items.clear(); });
}

QDialog *BatchEditController::sheet(const QString &name, const QString &title, QLayout *body, const QString &button)
{
    auto *dialog = new QDialog(m_window);
    dialog->setObjectName(name);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton *ok = buttons->addButton(button, QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(dialog);
    layout->addLayout(body);
    layout->addStretch();
    layout->addWidget(buttons);
    // Return does the sheet's work: the button is the dialog's default once it is in it.
    ok->setDefault(true);
    dialog->resize(420, dialog->sizeHint().height());
    return dialog;
}

void BatchEditController::changeItems(const QList<ItemPtr> &items)
{
    if (items.isEmpty() || m_gallery->isBusy())
        return;
    m_items = items;
    for (int f = 0; f < 4; ++f) {
        const QString value = common(items, kFields[f]);
        m_chkFields[f]->setChecked(false);
        if (f < 3) {
            m_txtFields[f]->setText(value);
            m_txtFields[f]->setPlaceholderText(value.isNull() ? tr("Several values") : QString());
        } else {
            m_txtDescription->setPlainText(value);
            m_txtDescription->setPlaceholderText(value.isNull() ? tr("Several values") : QString());
        }
    }
    m_change->setWindowTitle(tr("Change %1").arg(counted(int(items.size()), "Item", "Items")));
    m_txtFields[0]->setFocus();
    m_change->open();
}

void BatchEditController::shiftDates(const QList<ItemPtr> &items)
{
    if (items.isEmpty() || m_gallery->isBusy())
        return;
    m_items = items;
    for (QSpinBox *box : {m_years, m_months, m_days})
        box->setValue(0);
    updateShiftPreview();
    m_days->setFocus();
    m_shift->open();
}

void BatchEditController::updateShiftPreview()
{
    const DateShift by{m_years->value(), m_months->value(), m_days->value()};
    int unread = 0;
    QString example;
    for (const ItemPtr &item : std::as_const(m_items)) {
        const QString moved = shiftedDate(item->date(), by);
        if (moved.isNull())
            unread += !item->date().trimmed().isEmpty();
        else if (example.isEmpty())
            example = tr("\u201c%1\u201d becomes \u201c%2\u201d.").arg(item->date(), moved);
    }
    if (example.isEmpty())
        example = tr("None of the selected items has a date that can be read.");
    if (unread > 0)
        example += QLatin1Char(' ') + tr("%1 cannot be read and will stay as written.").arg(counted(unread, "date", "dates"));
    m_shiftPreview->setText(example);
}

void BatchEditController::numberTitles(const QList<ItemPtr> &items)
{
    if (items.isEmpty() || m_gallery->isBusy())
        return;
    m_items = items;
    const Album *album = m_gallery->data().selectedAlbum();
    m_pattern->setText((album && !album->title().isEmpty() ? album->title() : tr("Photo")) + QStringLiteral(" #"));
    m_start->setValue(1);
    updateNumberPreview();
    m_pattern->selectAll();
    m_pattern->setFocus();
    m_number->open();
}

void BatchEditController::updateNumberPreview()
{
    const int n = int(m_items.size());
    QStringList shown;
    for (int i = 0; i < std::min(n, 2); ++i)
        shown << numberedTitle(m_pattern->text(), m_start->value() + i);
    if (n > 2)
        shown << QStringLiteral("\u2026") << numberedTitle(m_pattern->text(), m_start->value() + n - 1);
    m_numberPreview->setText(shown.join(QStringLiteral(", ")));
}

} // namespace qm
