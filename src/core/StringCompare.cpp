#include "core/StringCompare.h"

#include <QList>

#include <algorithm>

namespace corvane {

namespace {

ComparisonResult compare(QStringView a, QStringView b, bool caseInsensitive)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            qsizetype endB = j;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            qsizetype startA = i;
            while (startA + 1 < endA && a[startA].digitValue() == 0)
                ++startA;
            qsizetype startB = j;
            while (startB + 1 < endB && b[startB].digitValue() == 0)
                ++startB;
            const qsizetype lengthA = endA - startA;
            const qsizetype lengthB = endB - startB;
            if (lengthA != lengthB)
                return lengthA < lengthB ? ComparisonResult::Ascending
                                         : ComparisonResult::Descending;
            for (qsizetype k = 0; k < lengthA; ++k) {
                const int da = a[startA + k].digitValue();
                const int db = b[startB + k].digitValue();
                if (da != db)
                    return da < db ? ComparisonResult::Ascending : ComparisonResult::Descending;
            }
            i = endA;
            j = endB;
            continue;
        }
        char16_t ca = a[i].unicode();
        char16_t cb = b[j].unicode();
        if (caseInsensitive) {
            ca = QChar(ca).toCaseFolded().unicode();
            cb = QChar(cb).toCaseFolded().unicode();
        }
        if (ca != cb)
            return ca < cb ? ComparisonResult::Ascending : ComparisonResult::Descending;
        ++i;
        ++j;
    }
    if (i < a.size())
        return ComparisonResult::Descending;
    if (j < b.size())
        return ComparisonResult::Ascending;
    return ComparisonResult::Same;
}

} // namespace

ComparisonResult numericCompare(QStringView a, QStringView b)
{
    return compare(a, b, false);
}

ComparisonResult standardCompare(QStringView a, QStringView b)
{
    return compare(a, b, true);
}

bool codePointLess(const QString &a, const QString &b)
{
    const QList<uint> left = a.normalized(QString::NormalizationForm_C).toUcs4();
    const QList<uint> right = b.normalized(QString::NormalizationForm_C).toUcs4();
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

} // namespace corvane
