#include "location/LocationsSettings.h"

#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
std::function<void(const QString &)> g_opener;

} // namespace

void setPreferencesPaneOpener(std::function<void(const QString &pane)> opener)
{
    std::lock_guard lock(g_mutex);
    g_opener = std::move(opener);
}

void showLocationsSettings()
{
    std::function<void(const QString &)> opener;
    {
        std::lock_guard lock(g_mutex);
        opener = g_opener;
    }
    if (opener)
        opener("locations");
}

} // namespace corvane
