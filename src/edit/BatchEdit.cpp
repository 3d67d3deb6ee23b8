#include "edit/BatchEdit.h"

namespace qm {

QString shiftedDate(const QString &text, const DateShift &shift, const DateForm &hint)
{
    const DateReading r = DateForm::read(text, hint);
    if (!r.isValid())
        return QString();
    return r.form.format(shift.apply(r.date));
}

DateForm dateHint(const Data &gallery, const QStringList &dates)
{
    const bool slashed = std::any_of(dates.begin(), dates.end(), [](const QString &d) { return d.contains(QLatin1Char('/')); });
    return slashed ? DateForm::ofGallery(gallery) : DateForm();
}

QString numberedTitle(const QString &pattern, int number)
{
    if (!pattern.contains(QLatin1Char('#')))
        return pattern.isEmpty() ? QString::number(number) : pattern + QLatin1Char(' ') + QString::number(number);
    QString out;
    for (qsizetype i = 0; i < pattern.size();) {
        if (pattern[i] != QLatin1Char('#')) {
            out += pattern[i++];
            continue;
        }
        qsizetype run = 0;
        while (i + run < pattern.size() && pattern[i + run] == QLatin1Char('#'))
            ++run;
        out += QStringLiteral("%1").arg(number, int(run), 10, QLatin1Char('0'));
        i += run;
    }
    return out;
}

} // namespace qm
