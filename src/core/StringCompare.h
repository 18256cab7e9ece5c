#pragma once

#include <QString>

namespace corvane {

enum class ComparisonResult { Ascending = -1, Same = 0, Descending = 1 };

// Runs of ASCII digits compare by value, everything else by code unit, case
// sensitive, without locale ("15.10" after "15.9"). For versions.
ComparisonResult numericCompare(QStringView a, QStringView b);

// The order the Finder shows names in: the user's locale (English when the
// environment names none), numbers by value, case-insensitive. Texts that
// differ only in case or leading zeros are Same.
ComparisonResult standardCompare(QStringView a, QStringView b);

// By Unicode code points of the canonically composed (NFC) texts, case
// sensitive ("Alpha" < "alpha" < "beta"); the order presets are listed in.
bool codePointLess(const QString &a, const QString &b);

inline bool numericLess(QStringView a, QStringView b)
{
    return numericCompare(a, b) == ComparisonResult::Ascending;
}
inline bool standardLess(QStringView a, QStringView b)
{
    return standardCompare(a, b) == ComparisonResult::Ascending;
}

} // namespace corvane
