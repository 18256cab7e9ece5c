#include "platform/menus/ContextMenuPresenter.h"

#include <mutex>

namespace corvane {

namespace {

class HiddenContextMenuPresenter : public ContextMenuPresenter {
public:
    void popUp(const MenuPtr &, const QPoint &) override {}
};

std::mutex g_mutex;
std::shared_ptr<ContextMenuPresenter> g_shared;

} // namespace

std::shared_ptr<ContextMenuPresenter> ContextMenuPresenter::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<HiddenContextMenuPresenter>();
    return g_shared;
}

void ContextMenuPresenter::setShared(std::shared_ptr<ContextMenuPresenter> presenter)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(presenter);
}

} // namespace corvane
