#include "model/ScreenshotDateFormatter.h"

#include <QLocale>

#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
ScreenshotDateFormatter::Clock g_clock;

} // namespace

QString ScreenshotDateFormatter::string(const QDateTime &date)
{
    // Colons cannot stand in a file name the Finder shows.
    return QLocale::c().toString(date.toLocalTime(), "yyyy-MM-dd HH.mm.ss").replace(':', '.');
}

QString ScreenshotDateFormatter::currentDateText()
{
    return string(now());
}

QDateTime ScreenshotDateFormatter::now()
{
    Clock clock;
    {
        std::lock_guard lock(g_mutex);
        clock = g_clock;
    }
    return clock ? clock() : QDateTime::currentDateTime();
}

void ScreenshotDateFormatter::setClock(Clock clock)
{
    std::lock_guard lock(g_mutex);
    g_clock = std::move(clock);
}

} // namespace corvane
