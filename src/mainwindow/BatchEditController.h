#pragma once

#include "model/Item.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace qm {

class Gallery;

// The sheets that change the selected items together, each change one step
// of Undo: their title, date, location or description set at once; their
// dates moved by a time (a camera whose clock was wrong), each written back
// in its own form; their titles numbered by a pattern.
class BatchEditController : public QObject
{
    Q_OBJECT
public:
    BatchEditController(Gallery *gallery, QWidget *window);

    void changeItems(const QList<ItemPtr> &items);
    void shiftDates(const QList<ItemPtr> &items);
    void numberTitles(const QList<ItemPtr> &items);

    QDialog *changeSheet() const { return m_change; }
    QDialog *shiftSheet() const { return m_shift; }
    QDialog *numberSheet() const { return m_number; }
    QLineEdit *txtField(int field) const { return m_txtFields[field]; }
    QCheckBox *chkField(int field) const { return m_chkFields[field]; }
    QPlainTextEdit *txtDescription() const { return m_txtDescription; }
    QSpinBox *spinYears() const { return m_years; }
    QSpinBox *spinMonths() const { return m_months; }
    QSpinBox *spinDays() const { return m_days; }
    QLabel *lblShiftPreview() const { return m_shiftPreview; }
    QLineEdit *txtPattern() const { return m_pattern; }
    QSpinBox *spinStart() const { return m_start; }
    QLabel *lblNumberPreview() const { return m_numberPreview; }

signals:
    // What was done, for the status bar.
    void status(const QString &text);

private:
    QDialog *sheet(const QString &name, const QString &title, QLayout *body, const QString &button);
    void updateShiftPreview();
    void updateNumberPreview();

    Gallery *m_gallery;
    QWidget *m_window;
    QList<ItemPtr> m_items;

    QDialog *m_change;
    QLineEdit *m_txtFields[3];
    QCheckBox *m_chkFields[4];
    QPlainTextEdit *m_txtDescription;

    QDialog *m_shift;
    QSpinBox *m_years, *m_months, *m_days;
    QLabel *m_shiftPreview;

    QDialog *m_number;
    QLineEdit *m_pattern;
    QSpinBox *m_start;
    QLabel *m_numberPreview;
};

} // namespace qm
