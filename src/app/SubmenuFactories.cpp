#include "app/SubmenuFactories.h"

#include "app/ApplicationMenu.h"

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

MenuPtr makeAppearanceBarMenu(const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &)
{
    return nullptr;
}

MenuPtr makeContentSizeMenu(const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &)
{
    return nullptr;
}

MenuPtr makeStatusBarMenu(const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &)
{
    return nullptr;
}

MenuPtr makeTouchesMenu(const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &)
{
    return nullptr;
}

MenuPtr makeUnsplashMenu(const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &)
{
    return nullptr;
}

} // namespace corvane
