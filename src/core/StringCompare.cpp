#include "core/StringCompare.h"

#include <QCollator>
#include <QList>
#include <QLocale>

#include <algorithm>

namespace corvane {

namespace {

// Only ASCII digits count as digits: other scripts' digits compare as the
// code units they are, so that the order stays a strict weak one.
bool isAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

QStringView digitRun(QStringView text, qsizetype &position)
{
    const qsizetype start = position;
    while (position < text.size() && isAsciiDigit(text[position]))
        ++position;
    QStringView run = text.mid(start, position - start);
    while (run.size() > 1 && run.front() == u'0')
        run = run.mid(1);
    return run;
}

ComparisonResult ordered(int difference)
{
    if (difference < 0)
        return ComparisonResult::Ascending;
    return difference > 0 ? ComparisonResult::Descending : ComparisonResult::Same;
}

// The user's locale, or English where the environment names none ("C"),
// which would otherwise order by code point and ignore numbers.
QLocale collationLocale()
{
    const QLocale system = QLocale::system();
    return system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates)
                                           : system;
}

// A collator is not safe to share between threads; each thread makes one.
const QCollator &threadCollator()
{
    thread_local const QCollator collator = [] {
        QCollator made(collationLocale());
        made.setNumericMode(true);
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    return collator;
}

} // namespace

ComparisonResult numericCompare(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const QStringView runA = digitRun(a, i);
            const QStringView runB = digitRun(b, j);
            if (runA.size() != runB.size())
                return ordered(runA.size() < runB.size() ? -1 : 1);
            if (const int difference = runA.compare(runB); difference != 0)
                return ordered(difference);
            continue;
        }
        if (a[i] != b[j])
            return ordered(a[i].unicode() < b[j].unicode() ? -1 : 1);
        ++i;
        ++j;
    }
    if (i < a.size())
        return ComparisonResult::Descending;
    if (j < b.size())
        return ComparisonResult::Ascending;
    return ComparisonResult::Same;
}

ComparisonResult standardCompare(QStringView a, QStringView b)
{
    return ordered(threadCollator().compare(a, b));
}

bool codePointLess(const QString &a, const QString &b)
{
    const QList<uint> left = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> right = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

} // namespace corvane
