#pragma once

#include "platform/menus/Menu.h"

#include <functional>
#include <memory>

namespace corvane {

class Application;
class Device;
class Toolset;

// The submenus that device and application rows carry, one factory per kind.
// A factory may be called on any thread and returns at once: whatever it
// must ask simctl is read later on the submenu's own queue, never on the
// calling thread. Nothing means the row has no submenu.
struct SubmenuFactories {
    using ApplicationFactory =
        std::function<MenuPtr(const std::shared_ptr<Application> &application,
                              const std::shared_ptr<Toolset> &toolset, bool showsDeviceSubmenu)>;
    using DeviceFactory = std::function<MenuPtr(const std::shared_ptr<Device> &device,
                                                const std::shared_ptr<Toolset> &toolset)>;

    ApplicationFactory applicationMenu;
    DeviceFactory openURLsMenu;
    DeviceFactory appearanceBarMenu;
    DeviceFactory contentSizeMenu;
    DeviceFactory statusBarMenu;
    DeviceFactory touchesMenu;
    DeviceFactory unsplashMenu;

    // The program's own factories.
    static SubmenuFactories standard();
    // Empty fields take the program's own.
    SubmenuFactories withDefaults() const;
};

MenuPtr makeApplicationMenu(const std::shared_ptr<Application> &application,
                            const std::shared_ptr<Toolset> &toolset, bool showsDeviceSubmenu);
MenuPtr makeOpenURLsMenu(const std::shared_ptr<Device> &device,
                         const std::shared_ptr<Toolset> &toolset);
MenuPtr makeAppearanceBarMenu(const std::shared_ptr<Device> &device,
                              const std::shared_ptr<Toolset> &toolset);
MenuPtr makeContentSizeMenu(const std::shared_ptr<Device> &device,
                            const std::shared_ptr<Toolset> &toolset);
MenuPtr makeStatusBarMenu(const std::shared_ptr<Device> &device,
                          const std::shared_ptr<Toolset> &toolset);
MenuPtr makeTouchesMenu(const std::shared_ptr<Device> &device,
                        const std::shared_ptr<Toolset> &toolset);
MenuPtr makeUnsplashMenu(const std::shared_ptr<Device> &device,
                         const std::shared_ptr<Toolset> &toolset);

} // namespace corvane
