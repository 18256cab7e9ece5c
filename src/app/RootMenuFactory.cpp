#include "app/RootMenuFactory.h"

#include "app/RootPlaceholderMenu.h"

namespace corvane {

MenuPtr makeRootMenu(const QString &title)
{
    return RootPlaceholderMenu::make(title, false);
}

} // namespace corvane
