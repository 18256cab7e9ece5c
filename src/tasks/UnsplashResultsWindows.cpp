#include "tasks/UnsplashResultsWindows.h"

#include "platform/desktop/WindowController.h"

#include <mutex>

namespace corvane {

namespace {

class AbsentResultsWindows : public UnsplashResultsWindows {
public:
    std::shared_ptr<WindowController> windowFor(const std::vector<UnsplashSearchResultsImage> &,
                                                const QString &) override
    {
        return std::make_shared<AbsentWindowController>();
    }
};

std::mutex g_mutex;
std::shared_ptr<UnsplashResultsWindows> g_shared;

} // namespace

std::shared_ptr<UnsplashResultsWindows> UnsplashResultsWindows::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<AbsentResultsWindows>();
    return g_shared;
}

void UnsplashResultsWindows::setShared(std::shared_ptr<UnsplashResultsWindows> windows)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(windows);
}

} // namespace corvane
