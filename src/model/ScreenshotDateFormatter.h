#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace corvane {

// The date text of capture file names: "yyyy-MM-dd HH.mm.ss" in local time,
// independent of the user's locale.
class ScreenshotDateFormatter {
public:
    using Clock = std::function<QDateTime()>;

    static QString string(const QDateTime &date);
    // The text of the clock's current date.
    static QString currentDateText();
    static QDateTime now();
    // Tests fix the date; nothing restores the system clock.
    static void setClock(Clock clock);
};

} // namespace corvane
