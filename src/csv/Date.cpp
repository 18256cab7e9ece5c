#include "csv/Date.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>

namespace corvane {

QDateTime Date::toQDateTime() const
{
    const double milliseconds = std::round(timeIntervalSince1970() * 1000.0);
    // Infinity, not-a-number and what no 64-bit count holds have no date.
    if (!(std::fabs(milliseconds) < 9.2e18))
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds), QTimeZone::utc());
}

} // namespace corvane
