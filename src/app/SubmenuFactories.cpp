#include "app/SubmenuFactories.h"

#include "app/ApplicationMenu.h"
#include "app/AppearanceBarMenu.h"
#include "app/ContentSizeMenu.h"
#include "app/StatusBarMenu.h"
#include "app/TouchesMenu.h"
#include "app/UnsplashMenu.h"

namespace corvane {

SubmenuFactories SubmenuFactories::standard()
{
    return SubmenuFactories{}.withDefaults();
}

SubmenuFactories SubmenuFactories::withDefaults() const
{
    SubmenuFactories factories = *this;
    auto fill = [](auto &field, auto function) {
        if (!field)
            field = function;
    };
    fill(factories.applicationMenu, makeApplicationMenu);
    fill(factories.openURLsMenu, makeOpenURLsMenu);
    fill(factories.appearanceBarMenu, makeAppearanceBarMenu);
    fill(factories.contentSizeMenu, makeContentSizeMenu);
    fill(factories.statusBarMenu, makeStatusBarMenu);
    fill(factories.touchesMenu, makeTouchesMenu);
    fill(factories.unsplashMenu, makeUnsplashMenu);
    return factories;
}

// Each kind of submenu is offered once it exists; until then its row has
// none.
MenuPtr makeApplicationMenu(const std::shared_ptr<Application> &application,
                            const std::shared_ptr<Toolset> &toolset, bool showsDeviceSubmenu)
{
    return ApplicationMenu::make(application, toolset, showsDeviceSubmenu);
}

MenuPtr makeAppearanceBarMenu(const std::shared_ptr<Device> &device,
                              const std::shared_ptr<Toolset> &toolset)
{
    return AppearanceBarMenu::make(device, toolset);
}

MenuPtr makeContentSizeMenu(const std::shared_ptr<Device> &device,
                            const std::shared_ptr<Toolset> &toolset)
{
    return ContentSizeMenu::make(device, toolset);
}

MenuPtr makeStatusBarMenu(const std::shared_ptr<Device> &device,
                          const std::shared_ptr<Toolset> &toolset)
{
    return StatusBarMenu::make(device, toolset);
}

MenuPtr makeTouchesMenu(const std::shared_ptr<Device> &device,
                        const std::shared_ptr<Toolset> &toolset)
{
    return TouchesMenu::make(device, toolset);
}

MenuPtr makeUnsplashMenu(const std::shared_ptr<Device> &device,
                         const std::shared_ptr<Toolset> &toolset)
{
    return UnsplashMenu::make(device, toolset);
}

} // namespace corvane
