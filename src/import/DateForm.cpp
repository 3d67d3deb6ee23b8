#include "import/DateForm.h"

#include "model/Data.h"

namespace qm {

namespace {

struct Token
{
    enum Kind { Number, Word, Mark } kind;
    QStringView text;
    int value = 0;
};

// Numbers, words and punctuation marks; spaces only separate. False for
// text too long or too odd to be one of the forms.
bool tokenize(QStringView s, Token *out, int &n)
{
    n = 0;
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (n == 6)
            return false;
        qsizetype j = i;
        if (c.isDigit()) {
            int v = 0;
            while (j < s.size() && s[j].isDigit() && j - i < 5)
                v = v * 10 + s[j++].digitValue();
            if (j - i > 4)
                return false;
            out[n++] = {Token::Number, s.sliced(i, j - i), v};
        } else if (c.isLetter()) {
            while (j < s.size() && s[j].isLetter())
                ++j;
            out[n++] = {Token::Word, s.sliced(i, j - i)};
        } else {
            out[n++] = {Token::Mark, s.sliced(i, 1)};
            j = i + 1;
        }
        i = j;
    }
    return n > 0;
}

bool isNumber(const Token &t, int minDigits, int maxDigits)
{
    return t.kind == Token::Number && t.text.size() >= minDigits && t.text.size() <= maxDigits;
}

bool isMark(const Token &t, char mark)
{
    return t.kind == Token::Mark && t.text.front() == QLatin1Char(mark);
}

} // namespace

QString DateForm::format(QDate date) const
{
    return date.isValid() ? m_locale.toString(date, m_pattern) : QString();
}

DateForm DateForm::mostUsed(const QStringList &dates)
{
    DateFormCounter counter;
    for (const QString &d : dates)
        counter.add(d);
    return counter.best();
}

DateForm DateForm::ofGallery(const Data &data)
{
    DateFormCounter counter;
    data.forEachNode([&](const NodePtr &node) {
        if (node->isAlbum()) {
            for (const ItemPtr &item : static_cast<const Album &>(*node).items())
                counter.add(item->date());
        }
        return true;
    });
    return counter.best();
}

DateFormCounter::DateFormCounter()
    : m_system(QLocale::system())
{
    auto learn = [](const QLocale &l, QHash<QString, int> &names) {
        for (int m = 1; m <= 12; ++m) {
            names.insert(l.monthName(m, QLocale::ShortFormat).toLower().remove(QLatin1Char('.')), -m);
            names.insert(l.standaloneMonthName(m, QLocale::ShortFormat).toLower().remove(QLatin1Char('.')), -m);
            // Where a short name is the whole name ("May"), the whole name wins.
            names.insert(l.monthName(m, QLocale::LongFormat).toLower(), m);
            names.insert(l.standaloneMonthName(m, QLocale::LongFormat).toLower(), m);
        }
    };
    learn(QLocale::c(), m_english);
    learn(m_system, m_local);
}

// A month's number from its name; negative for an abbreviation.
bool DateFormCounter::monthNumber(QStringView word, int &month, bool &english) const
{
    const QString key = word.toString().toLower();
    if (auto it = m_english.constFind(key); it != m_english.constEnd()) {
        month = *it;
        english = true;
        return true;
    }
    if (auto it = m_local.constFind(key); it != m_local.constEnd()) {
        month = *it;
        english = false;
        return true;
    }
    return false;
}

bool DateFormCounter::recognize(QStringView date, Reading &r) const
{
    Token t[6];
    int n;
    if (date.isEmpty() || date.size() > 40 || !tokenize(date, t, n))
        return false;
    auto padding = [&r](const Token &part) {
        if (part.text.size() == 1)
            ++r.unpadded;
        else if (part.text.front() == QLatin1Char('0'))
            ++r.padded;
    };
    auto named = [&](Family family, QStringView word, int day, int year, bool dotAfterDay) {
        int month;
        bool english;
        if (!monthNumber(word, month, english) || !QDate(year, std::abs(month), day).isValid())
            return false;
        r.family = family;
        r.date = QDate(year, std::abs(month), day);
        r.english = english;
        r.abbreviated = month < 0;
        r.dotAfterDay = dotAfterDay;
        return true;
    };

    if (n == 5 && isNumber(t[0], 4, 4) && isMark(t[1], '-') && isNumber(t[2], 2, 2) && isMark(t[3], '-')
        && isNumber(t[4], 2, 2)) {
        r.family = Iso;
        r.date = QDate(t[0].value, t[2].value, t[4].value);
        return r.date.isValid();
    }
    if (n == 3 && isNumber(t[0], 4, 4) && isMark(t[1], '-') && isNumber(t[2], 2, 2)) {
        r.family = IsoMonth;
        r.date = QDate(t[0].value, t[2].value, 1);
        return r.date.isValid();
    }
    if (n == 5 && isNumber(t[0], 1, 2) && isNumber(t[2], 1, 2) && isNumber(t[4], 4, 4)
        && ((isMark(t[1], '.') && isMark(t[3], '.')) || (isMark(t[1], '/') && isMark(t[3], '/')))) {
        const int a = t[0].value, b = t[2].value, y = t[4].value;
        padding(t[0]);
        padding(t[2]);
        if (isMark(t[1], '.')) {
            r.family = Dotted;
            r.date = QDate(y, b, a);
            return r.date.isValid();
        }
        r.family = Slashed;
        r.date = QDate(y, b, a);
        r.monthFirstDate = QDate(y, a, b);
        return r.date.isValid() || r.monthFirstDate.isValid();
    }
    if ((n == 3 || n == 4) && isNumber(t[0], 1, 2) && t[n - 2].kind == Token::Word && isNumber(t[n - 1], 4, 4)
        && (n == 3 || isMark(t[1], '.')))
        return named(DayMonthName, t[n - 2].text, t[0].value, t[n - 1].value, n == 4);
    if ((n == 3 || n == 4) && t[0].kind == Token::Word && isNumber(t[1], 1, 2) && isNumber(t[n - 1], 4, 4)
        && (n == 3 || isMark(t[2], ',')))
        return named(MonthNameDay, t[0].text, t[1].value, t[n - 1].value, false);
    if (n == 2 && t[0].kind == Token::Word && isNumber(t[1], 4, 4))
        return named(MonthNameYear, t[0].text, 1, t[1].value, false);
    if (n == 1 && isNumber(t[0], 4, 4) && t[0].value >= 1800 && t[0].value <= 2200) {
        r.family = Year;
        r.date = QDate(t[0].value, 1, 1);
        return true;
    }
    return false;
}

void DateFormCounter::add(QStringView date)
{
    Reading r;
    if (!recognize(date, r))
        return;
    Tally &tally = m_tally[r.family];
    ++tally.count;
    tally.padded += r.padded;
    tally.unpadded += r.unpadded;
    if (r.family == Slashed) {
        if (r.date.isValid() && !r.monthFirstDate.isValid())
            ++tally.dayFirst;
        else if (r.monthFirstDate.isValid() && !r.date.isValid())
            ++tally.monthFirst;
    }
    if (r.family == DayMonthName || r.family == MonthNameDay || r.family == MonthNameYear) {
        ++(r.english ? tally.english : tally.local);
        tally.abbreviated += r.abbreviated;
        tally.dotAfterDay += r.dotAfterDay;
    }
}

DateReading DateForm::read(QStringView text, const DateForm &hint)
{
    static const DateFormCounter names;
    DateFormCounter counter(names);
    DateFormCounter::Reading r;
    if (!counter.recognize(text, r))
        return {};
    counter.add(text);
    DateReading out;
    out.form = counter.best();
    out.date = r.date;
    if (r.family == DateFormCounter::Slashed) {
        // Read both ways: the gallery's own order decides, else the written one.
        const bool hintDayFirst = hint.pattern().startsWith(QLatin1Char('d')) && hint.pattern().contains(QLatin1Char('/'));
        const bool hintMonthFirst = hint.pattern().startsWith(QLatin1Char('M')) && hint.pattern().contains(QLatin1Char('/'));
        bool dayFirst = r.date.isValid() && (!r.monthFirstDate.isValid() || hintDayFirst
                                             || (!hintMonthFirst && out.form.pattern().startsWith(QLatin1Char('d'))));
        out.date = dayFirst ? r.date : r.monthFirstDate;
        const QString d = out.form.pattern().contains(QStringLiteral("dd")) ? QStringLiteral("dd") : QStringLiteral("d");
        const QString m = out.form.pattern().contains(QStringLiteral("MM")) ? QStringLiteral("MM") : QStringLiteral("M");
        out.form = DateForm(dayFirst ? d + '/' + m + QStringLiteral("/yyyy") : m + '/' + d + QStringLiteral("/yyyy"),
                            QLocale::c());
    }
    return out;
}

DateForm DateFormCounter::best() const
{
    int family = Iso;
    for (int f = 0; f < FamilyCount; ++f) {
        if (m_tally[f].count > m_tally[family].count)
            family = f;
    }
    const Tally &t = m_tally[family];
    if (t.count == 0)
        return DateForm();
    const bool padded = t.padded >= t.unpadded;
    const QLocale names = t.local > t.english ? m_system : QLocale::c();
    const QString month = t.abbreviated * 2 > t.count ? QStringLiteral("MMM") : QStringLiteral("MMMM");
    switch (family) {
    case IsoMonth:
        return {QStringLiteral("yyyy-MM"), QLocale::c()};
    case Dotted:
        return {padded ? QStringLiteral("dd.MM.yyyy") : QStringLiteral("d.M.yyyy"), QLocale::c()};
    case Slashed: {
        // Dates like 03/04/2008 read both ways; the user's own locale decides those.
        bool dayFirst = t.dayFirst > t.monthFirst;
        if (t.dayFirst == t.monthFirst)
            dayFirst = m_system.dateFormat(QLocale::ShortFormat).startsWith(QLatin1Char('d'));
        const QString d = padded ? QStringLiteral("dd") : QStringLiteral("d");
        const QString m = padded ? QStringLiteral("MM") : QStringLiteral("M");
        return {dayFirst ? d + '/' + m + QStringLiteral("/yyyy") : m + '/' + d + QStringLiteral("/yyyy"), QLocale::c()};
    }
    case DayMonthName:
        return {(t.dotAfterDay * 2 > t.count ? QStringLiteral("d. ") : QStringLiteral("d ")) + month
                    + QStringLiteral(" yyyy"),
                names};
    case MonthNameDay:
        return {month + QStringLiteral(" d, yyyy"), names};
    case MonthNameYear:
        return {month + QStringLiteral(" yyyy"), names};
    case Year:
        return {QStringLiteral("yyyy"), QLocale::c()};
    default:
        return DateForm();
    }
}

} // namespace qm
