#pragma once

#include <compare>

class QDateTime;

namespace corvane {

// An instant, as seconds since 2001-01-01 00:00:00 UTC. A double keeps the
// fractions of a second that text gives (1.5 s stays exact).
struct Date {
    // Seconds from 1970-01-01 to 2001-01-01, both at 00:00:00 UTC.
    static constexpr double referenceDateSince1970 = 978307200.0;

    static constexpr Date sinceReferenceDate(double seconds) { return Date{seconds}; }
    static constexpr Date since1970(double seconds)
    {
        return Date{seconds - referenceDateSince1970};
    }

    constexpr double timeIntervalSince1970() const
    {
        return timeIntervalSinceReferenceDate + referenceDateSince1970;
    }
    // In UTC, to the nearest millisecond; invalid for an infinite or
    // not-a-number interval and for one beyond what QDateTime holds.
    QDateTime toQDateTime() const;

    friend constexpr auto operator<=>(const Date &, const Date &) = default;

    double timeIntervalSinceReferenceDate = 0;
};

} // namespace corvane
