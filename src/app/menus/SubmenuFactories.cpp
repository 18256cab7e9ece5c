#include "app/menus/SubmenuFactories.h"

#include "app/menus/application/ApplicationMenu.h"
#include "app/menus/values/AppearanceBarMenu.h"
#include "app/menus/values/ContentSizeMenu.h"
#include "app/menus/values/StatusBarMenu.h"
#include "app/menus/values/TouchesMenu.h"
#include "app/menus/values/UnsplashMenu.h"

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
