#include "app/menus/root/RootMenuFactory.h"

#include "app/menus/root/RootMenu.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "model/DeviceWatcher.h"
#include "platform/Log.h"

namespace corvane {

MenuPtr makeRootMenu(const QString &title)
{
    // Finding and choosing the Xcode, and its first device listing, happen
    // here, off the main thread.
    const auto toolset = ToolsetManager::shared()->current();
    const auto watcher =
        toolset ? std::dynamic_pointer_cast<DeviceWatcher>(toolset->deviceWatcher()) : nullptr;
    Log::device().info("%{PUBLIC}@ devices listed", watcher ? int(watcher->all()->size()) : 0);
    return RootMenu::make(title, toolset);
}

} // namespace corvane
