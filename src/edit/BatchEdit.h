#pragma once

#include "import/DateForm.h"

#include <QDate>
#include <QString>

namespace qm {

class Data;

// How far the dates of a camera whose clock was wrong are moved.
struct DateShift
{
    int years = 0;
    int months = 0;
    int days = 0;
    bool isNull() const { return years == 0 && months == 0 && days == 0; }
    QDate apply(QDate date) const { return date.addYears(years).addMonths(months).addDays(days); }
};

// The date of `text` moved by `shift` and written in the same form it was
// written in ("7 May 2008" stays a day-month-year date with the month's
// name); a null string when the text is no date that can be read.
QString shiftedDate(const QString &text, const DateShift &shift, const DateForm &hint = DateForm());

// The gallery's own date form, which settles dates like 03/04/2008; the
// gallery's dates are read for it only when one of `dates` has slashes.
DateForm dateHint(const Data &gallery, const QStringList &dates);

// A title made by a numbering pattern: each run of "#" becomes the number,
// padded with zeros to the run's length ("Harbour ##" gives "Harbour 07");
// a pattern without "#" gets the number after a space.
QString numberedTitle(const QString &pattern, int number);

} // namespace qm
