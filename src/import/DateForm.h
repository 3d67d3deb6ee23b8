#pragma once

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringView>

namespace qm {

class Data;

// How a gallery writes its dates ("2008-03-07", "07.03.2008", "7 March
// 2008", ...), so that dates filled in by the program read like the ones the
// user typed. Dates are free text in the gallery; only a few common forms
// are recognised, and ISO "yyyy-MM-dd" stands when none is.
class DateForm
{
public:
    DateForm() = default; // ISO
    DateForm(QString pattern, QLocale locale) : m_pattern(std::move(pattern)), m_locale(std::move(locale)) {}

    // A Qt date pattern ("yyyy-MM-dd", "d MMMM yyyy").
    const QString &pattern() const { return m_pattern; }
    const QLocale &locale() const { return m_locale; }
    QString format(QDate date) const;

    // The form most of `dates` are written in.
    static DateForm mostUsed(const QStringList &dates);
    // The form most dates of the gallery's photos and videos are written in.
    static DateForm ofGallery(const Data &data);

    bool operator==(const DateForm &o) const { return m_pattern == o.m_pattern && m_locale == o.m_locale; }

    // A date written in one of the recognised forms. `hint`, the gallery's
    // form, settles dates like 03/04/2008 that read both ways.
    static struct DateReading read(QStringView text, const DateForm &hint);

private:
    QString m_pattern = QStringLiteral("yyyy-MM-dd");
    QLocale m_locale = QLocale::c();
};

// The day a date names (the first of the month or year for the shorter
// forms) and its own form, so that a changed date is written back the same way.
struct DateReading
{
    QDate date;
    DateForm form;
    bool isValid() const { return date.isValid(); }
};

// Counts the forms of dates one at a time (a gallery has many).
class DateFormCounter
{
public:
    DateFormCounter();
    void add(QStringView date);
    DateForm best() const;

private:
    friend class DateForm;
    enum Family { Iso, IsoMonth, Dotted, Slashed, DayMonthName, MonthNameDay, MonthNameYear, Year, FamilyCount };
    // One date taken apart; a slashed date may read both ways.
    struct Reading
    {
        Family family = Iso;
        QDate date; // day first where that matters
        QDate monthFirstDate;
        int padded = 0, unpadded = 0;
        bool dotAfterDay = false, abbreviated = false, english = false;
    };
    bool recognize(QStringView date, Reading &r) const;
    struct Tally
    {
        int count = 0;
        int padded = 0, unpadded = 0;      // numeric day/month parts with and without a leading zero
        int dayFirst = 0, monthFirst = 0;  // slashed dates that can only be read one way
        int dotAfterDay = 0;               // "7. March 2008"
        int abbreviated = 0;               // "7 Mar 2008"
        int english = 0, local = 0;        // whose month names were used
    };
    bool monthNumber(QStringView word, int &month, bool &english) const;

    Tally m_tally[FamilyCount];
    QHash<QString, int> m_english; // lower-cased month names and abbreviations
    QHash<QString, int> m_local;
    QLocale m_system;
};

} // namespace qm
