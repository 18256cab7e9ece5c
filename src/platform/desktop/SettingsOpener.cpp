#include "platform/desktop/SettingsOpener.h"

#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
SettingsOpener::Handler g_handler;

} // namespace

void SettingsOpener::setHandler(Handler handler)
{
    std::lock_guard lock(g_mutex);
    g_handler = std::move(handler);
}

void SettingsOpener::showPane(const QString &paneIdentifier)
{
    Handler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    if (handler)
        handler(paneIdentifier);
}

} // namespace corvane
