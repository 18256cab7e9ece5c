#include "app/RootMenuFactory.h"

#include "app/RootPlaceholderMenu.h"
#include "core/ToolsetManager.h"

namespace corvane {

MenuPtr makeRootMenu(const QString &title)
{
    // Finding and choosing the Xcode, and its first device listing, happen
    // here, off the main thread.
    ToolsetManager::shared();
    return RootPlaceholderMenu::make(title, false);
}

} // namespace corvane
