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

void DateFormCounter::add(QStringView date)
{
    Token t[6];
    int n;
    if (date.isEmpty() || date.size() > 40 || !tokenize(date, t, n))
        return;
    auto padding = [](Tally &tally, const Token &part) {
        if (part.text.size() == 1)
            ++tally.unpadded;
        else if (part.text.front() == QLatin1Char('0'))
            ++tally.padded;
    };
    auto named = [&](Family family, QStringView word, int day, int year, bool dotAfterDay) {
        int month;
        bool english;
        if (!monthNumber(word, month, english) || !QDate(year, std::abs(month), day).isValid())
            return;
        Tally &tally = m_tally[family];
        ++tally.count;
        ++(english ? tally.english : tally.local);
        if (month < 0)
            ++tally.abbreviated;
        if (dotAfterDay)
            ++tally.dotAfterDay;
    };

    if (n == 5 && isNumber(t[0], 4, 4) && isMark(t[1], '-') && isNumber(t[2], 2, 2) && isMark(t[3], '-')
        && isNumber(t[4], 2, 2)) {
        if (QDate(t[0].value, t[2].value, t[4].value).isValid())
            ++m_tally[Iso].count;
    } else if (n == 3 && isNumber(t[0], 4, 4) && isMark(t[1], '-') && isNumber(t[2], 2, 2)) {
        if (t[2].value >= 1 && t[2].value <= 12)
            ++m_tally[IsoMonth].count;
    } else if (n == 5 && isNumber(t[0], 1, 2) && isNumber(t[2], 1, 2) && isNumber(t[4], 4, 4)
               && ((isMark(t[1], '.') && isMark(t[3], '.')) || (isMark(t[1], '/') && isMark(t[3], '/')))) {
        const int a = t[0].value, b = t[2].value, y = t[4].value;
        if (isMark(t[1], '.')) {
            if (!QDate(y, b, a).isValid())
                return;
            Tally &tally = m_tally[Dotted];
            ++tally.count;
            padding(tally, t[0]);
            padding(tally, t[2]);
        } else {
            const bool asDayFirst = QDate(y, b, a).isValid(), asMonthFirst = QDate(y, a, b).isValid();
            if (!asDayFirst && !asMonthFirst)
                return;
            Tally &tally = m_tally[Slashed];
            ++tally.count;
            padding(tally, t[0]);
            padding(tally, t[2]);
            if (asDayFirst && !asMonthFirst)
                ++tally.dayFirst;
            else if (asMonthFirst && !asDayFirst)
                ++tally.monthFirst;
        }
    } else if ((n == 3 || n == 4) && isNumber(t[0], 1, 2) && t[n - 2].kind == Token::Word && isNumber(t[n - 1], 4, 4)
               && (n == 3 || isMark(t[1], '.'))) {
        named(DayMonthName, t[n - 2].text, t[0].value, t[n - 1].value, n == 4);
    } else if ((n == 3 || n == 4) && t[0].kind == Token::Word && isNumber(t[1], 1, 2) && isNumber(t[n - 1], 4, 4)
               && (n == 3 || isMark(t[2], ','))) {
        named(MonthNameDay, t[0].text, t[1].value, t[n - 1].value, false);
    } else if (n == 2 && t[0].kind == Token::Word && isNumber(t[1], 4, 4)) {
        named(MonthNameYear, t[0].text, 1, t[1].value, false);
    } else if (n == 1 && isNumber(t[0], 4, 4)) {
        if (t[0].value >= 1800 && t[0].value <= 2200)
            ++m_tally[Year].count;
    }
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
