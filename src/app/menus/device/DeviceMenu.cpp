#include "app/menus/device/DeviceMenu.h"

#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/CommandManager.h"
#include "core/StringCompare.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"

#include <QMarginsF>
#include <QSizeF>

#include <algorithm>

namespace corvane {

namespace {

struct ItemDefinition {
    const char *title;
    const char *comment;
    const char *action;
    const char *symbol;
};

// Titles, actions and symbols of the titled fixed items, by field. Items
// with a submenu have no action.
ItemDefinition definition(int field)
{
    static const ItemDefinition definitions[] = {
        {"Device Data", "DATA_DEVICE_ITEM_TITLE", "deviceData:", "folder"},
        {"Launch", "LAUNCH_DEVICE_ITEM_TITLE", "launch:", "power"},
        {"Unsplash", "UNSPLSH_DEVICE_ITEM_TITLE", nullptr, "photo.on.rectangle.angled"},
        {"Status Bar", "STATUS_BAR_DEVICE_ITEM_TITLE", nullptr, "clock"},
        {"Touch Indicators", "SHOW_TOUCHES_DEVICE_ITEM_TITLE", nullptr, "hand.point.up.left"},
        {"Open Recent", "OPEN_RECENT_URL_DEVICE_ITEM_TITLE", nullptr, "link"},
        {"Open URL / Trigger Scheme…", "OPEN_URL_DEVICE_ITEM_TITLE", "openURL:", "link"},
        {"Erase Contents and Settings…", "ERASE_DEVICE_ITEM_TITLE", "erase:", "eraser"},
        {"Erase Keychain…", "ERASE_KEYCHAIN_DEVICE_ITEM_TITLE", "eraseKeychain:", "eraser"},
        {"Install App…", "INSTALL_DEVICE_ITEM_TITLE", "install:", "plus.app"},
        {"Send Image/Video to Device…", "COPY_MEDIA_DEVICE_ITEM_TITLE",
         "addMedia:", "iphone.and.arrow.right.inward"},
        {"Get Pasteboard from Device", "COPY_DEVICE_ITEM_TITLE",
         "copy:", "iphone.and.arrow.right.outward"},
        {"Send Pasteboard to Device", "PASTE_DEVICE_ITEM_TITLE",
         "paste:", "iphone.and.arrow.right.inward"},
        {"Shutdown", "SHUTDOWN_DEVICE_ITEM_TITLE", "shutdown:", "power"},
        {"Save Screenshot", "SCREENSHOT_DEVICE_ITEM_TITLE", "screenshot:", "photo"},
        {"Copy Screenshot", "COPY_SCREENSHOT_DEVICE_ITEM_TITLE", "copyScreenshot:", "photo"},
        {"Capture Video", "VIDEO_DEVICE_ITEM_TITLE", "record:", "record.circle"},
        {"Stop Recording", "STOP_RECORDING_DEVICE_ITEM_TITLE", "stopRecording:", "stop"},
        {"Delete…", "DELETE_DEVICE_ITEM_TITLE", "delete:", "trash"},
        {nullptr, nullptr, nullptr, nullptr},
        {"Dynamic Type", "DYNAMICTYPE_ITEM_TITLE", nullptr, "textformat.size"},
        {"Appearance", "APPEARANCE_ITEM_TITLE", nullptr, "circle.righthalf.filled"},
    };
    return definitions[field];
}

const QString kAppearanceVersion = QStringLiteral("13.0");
const QString kTVOpensURLsVersion = QStringLiteral("15.0");

} // namespace

bool DeviceMenu::Facts::supports(Toolset::Command command) const
{
    return std::find(supportedCommands.begin(), supportedCommands.end(), command) !=
           supportedCommands.end();
}

bool DeviceMenu::isVersionAtLeast(const QString &version, const QString &minimum)
{
    return numericCompare(version, minimum) != ComparisonResult::Ascending;
}

bool DeviceMenu::opensURLs(const Runtime &runtime)
{
    return runtime.system() == Runtime::System::iOS ||
           (runtime.system() == Runtime::System::tvOS &&
            isVersionAtLeast(runtime.version(), kTVOpensURLsVersion));
}

std::shared_ptr<DeviceMenu> DeviceMenu::make(const std::shared_ptr<Device> &device,
                                             const std::shared_ptr<Toolset> &toolset,
                                             bool shouldShowApplicationSubmenus,
                                             bool shouldShowPairedDevicesSubmenus,
                                             Environment environment)
{
    if (!device)
        return nullptr;
    std::shared_ptr<DeviceMenu> menu(new DeviceMenu(device, toolset, shouldShowApplicationSubmenus,
                                                    shouldShowPairedDevicesSubmenus,
                                                    std::move(environment)));
    menu->setUp();
    return menu;
}

DeviceMenu::DeviceMenu(const std::shared_ptr<Device> &device,
                       const std::shared_ptr<Toolset> &toolset, bool shouldShowApplicationSubmenus,
                       bool shouldShowPairedDevicesSubmenus, Environment environment)
    : Menu(device->title()), m_device(device), m_toolset(toolset),
      m_shouldShowApplicationSubmenus(shouldShowApplicationSubmenus),
      m_shouldShowPairedDevicesSubmenus(shouldShowPairedDevicesSubmenus),
      m_environment(std::move(environment))
{
    if (!m_environment.activityMonitor)
        m_environment.activityMonitor = ActivityMonitor::shared();
    if (!m_environment.commandManager)
        m_environment.commandManager = CommandManager::shared();
    m_environment.submenus = m_environment.submenus.withDefaults();
    registerActions();
}

DeviceMenu::~DeviceMenu() = default;

void DeviceMenu::setUp()
{
    // Registered before the applications are read: a rescan that lands
    // while the items are built rebuilds them afterwards.
    m_observers.append(observeNotification(
        Device::applicationListDidChange, DispatchQueue::main(),
        [weak = weakAs<DeviceMenu>()](const Notification &, const ObjectPtr &object) {
            if (auto menu = weak.lock())
                menu->applicationListDidChange(object);
        }));
    // The rules read the supported commands on the main thread: read once
    // here, off it, they never run simctl there.
    if (const auto toolset = m_toolset.lock())
        toolset->supportedCommands();
    const auto build = m_builds.begin();
    auto items = buildItems(m_device->applications(), {});
    m_builds.applyIfNewest(build, [&] { setItems(std::move(items)); });
}

void DeviceMenu::applicationListDidChange(const ObjectPtr &object)
{
    // Only the posting device's applications changed; the other menus' rows
    // would come out as they are.
    const auto posting = std::dynamic_pointer_cast<Device>(object);
    if (posting && posting->uuid() != m_device->uuid())
        return;
    std::vector<MenuItemPtr> existing;
    for (const auto &item : items())
        if (item->representedObject().is<Application>())
            existing.push_back(item);
    DispatchQueue::main()->async([weak = weakAs<DeviceMenu>(), existing = std::move(existing)] {
        auto menu = weak.lock();
        if (!menu)
            return;
        const auto build = menu->m_builds.begin();
        auto built = menu->buildItems(menu->m_device->applications(), existing);
        DispatchQueue::main()->async([weak, build, built = std::move(built)]() mutable {
            if (auto menu = weak.lock())
                menu->m_builds.applyIfNewest(build, [&] { menu->setItems(std::move(built)); });
        });
    });
}

std::vector<MenuItemPtr>
DeviceMenu::buildItems(const std::vector<std::shared_ptr<Application>> &applications,
                       const std::vector<MenuItemPtr> &existingItems)
{
    const auto toolset = m_toolset.lock();
    if (!toolset)
        return {};

    std::vector<MenuItemPtr> items;
    items.reserve(applications.size() + 40);
    if (m_shouldShowApplicationSubmenus) {
        for (const auto &application : applications) {
            const auto reused =
                std::find_if(existingItems.begin(), existingItems.end(), [&](const auto &item) {
                    const auto shown = item->representedObject().template as<Application>();
                    return shown && *shown == *application;
                });
            items.push_back(
                reused != existingItems.end() ? *reused : makeApplicationRow(application, toolset));
        }
        items.push_back(installItem());
        items.push_back(MenuItem::separator());
    }

    items.insert(items.end(), {openURLItem(),         openRecentURLItem(),
                               MenuItem::separator(), appearanceItem(),
                               contentSizeItem(),     statusBarItem(),
                               touchesItem(),         appearanceDivide(),
                               screenshotItem(),      copyScreenshotItem(),
                               recordVideoItem(),     stopRecordingItem(),
                               MenuItem::separator(), copyItem(),
                               pasteItem(),           addMediaItem(),
                               unsplashItem(),        MenuItem::separator(),
                               deviceFolder(),        MenuItem::separator(),
                               eraseItem(),           eraseKeychainItem(),
                               deleteItem(),          shutdownItem(),
                               launchItem()});
    appendPairedDevices(items, toolset);
    return items;
}

MenuItemPtr DeviceMenu::makeApplicationRow(const std::shared_ptr<Application> &application,
                                           const std::shared_ptr<Toolset> &toolset)
{
    auto row = ApplicationMenuItem::make(application->title(), "launch:");
    row->setIconConfig({QSizeF(24, 24), QMarginsF(0, 2, 0, 2)});
    row->refresh();
    row->setRepresentedObject(application);
    // Choosing the row launches the application through its own menu.
    if (auto submenu = m_environment.submenus.applicationMenu(application, toolset, false)) {
        row->setSubmenu(submenu);
        row->setTarget(submenu);
    }
    return row;
}

void DeviceMenu::appendPairedDevices(std::vector<MenuItemPtr> &items,
                                     const std::shared_ptr<Toolset> &toolset)
{
    const auto pairedTo = m_device->pairedTo();
    if (m_device->category() != Device::Category::Watch && pairedTo.empty())
        return;
    items.push_back(MenuItem::separator());
    items.push_back(pairedDevicesItem());

    std::vector<DevicePtr> paired;
    const auto watcher = std::dynamic_pointer_cast<DeviceWatcher>(toolset->deviceWatcher());
    if (watcher) {
        const auto all = watcher->all();
        for (const QUuid &uuid : pairedTo) {
            const auto found = all->find(uuid);
            if (found != all->end())
                paired.push_back(found->second);
        }
    }
    if (paired.empty()) {
        items.push_back(independentItem());
        return;
    }
    for (const auto &device : paired) {
        auto row = MenuItem::make(device->title(), "launch:");
        if (m_shouldShowPairedDevicesSubmenus) {
            if (auto submenu = DeviceMenu::make(device, toolset, false, false, m_environment)) {
                row->setSubmenu(submenu);
                row->setTarget(submenu);
            }
        }
        row->setImage(ImageRef::symbol(device->category() == Device::Category::Watch
                                           ? QStringLiteral("applewatch")
                                           : QStringLiteral("iphone")));
        row->setRepresentedObject(device);
        items.push_back(std::move(row));
    }
}

MenuItemPtr DeviceMenu::lazyItem(Field field)
{
    return m_fields.get(size_t(field), [this, field] { return makeItem(field); });
}

MenuItemPtr DeviceMenu::makeItem(Field field)
{
    if (field == Field::appearanceDivide)
        return MenuItem::separator();
    if (field == Field::pairedDevicesItem || field == Field::independentItem) {
        const bool paired = field == Field::pairedDevicesItem;
        auto item = MenuItem::make(paired ? QStringLiteral("Paired Devices")
                                          : QStringLiteral("Independent"));
        if (!paired)
            item->setImage(ImageRef::symbol("iphone.slash"));
        item->setEnabled(false);
        return item;
    }

    const ItemDefinition d = definition(int(field));
    auto item = MenuItem::make(loc(d.title, d.comment), d.action ? QString(d.action) : QString());
    if (d.action)
        item->setTarget(weakAs<DeviceMenu>());
    if (field == Field::deviceFolder && !ImageRef::symbolsEnabled())
        item->setImage(ImageRef::resource("Folder").padded(QMarginsF(0, 2, 0, 0)));
    else
        item->setImage(ImageRef::symbol(d.symbol));

    // A submenu is attached only if the toolset is there when the item is
    // made; the item is kept, so it never gets one later.
    const auto toolset = m_toolset.lock();
    if (!toolset)
        return item;
    const Runtime runtime = m_device->runtime();
    const bool iOS = runtime.system() == Runtime::System::iOS;
    const bool appearance = isVersionAtLeast(runtime.version(), kAppearanceVersion);
    const auto &factories = m_environment.submenus;
    MenuPtr submenu;
    switch (field) {
    case Field::openRecentURLItem:
        if (opensURLs(runtime))
            submenu = factories.openURLsMenu(m_device, toolset);
        break;
    case Field::appearanceItem:
        if (appearance)
            submenu = factories.appearanceBarMenu(m_device, toolset);
        break;
    case Field::contentSizeItem:
        if (appearance)
            submenu = factories.contentSizeMenu(m_device, toolset);
        break;
    case Field::statusBarItem:
        if (iOS)
            submenu = factories.statusBarMenu(m_device, toolset);
        break;
    case Field::touchesItem: submenu = factories.touchesMenu(m_device, toolset); break;
    case Field::unsplashItem:
        if (iOS)
            submenu = factories.unsplashMenu(m_device, toolset);
        break;
    default: break;
    }
    if (submenu)
        item->setSubmenu(submenu);
    return item;
}

MenuItemPtr DeviceMenu::deviceFolder()
{
    return lazyItem(Field::deviceFolder);
}
MenuItemPtr DeviceMenu::launchItem()
{
    return lazyItem(Field::launchItem);
}
MenuItemPtr DeviceMenu::unsplashItem()
{
    return lazyItem(Field::unsplashItem);
}
MenuItemPtr DeviceMenu::statusBarItem()
{
    return lazyItem(Field::statusBarItem);
}
MenuItemPtr DeviceMenu::touchesItem()
{
    return lazyItem(Field::touchesItem);
}
MenuItemPtr DeviceMenu::openRecentURLItem()
{
    return lazyItem(Field::openRecentURLItem);
}
MenuItemPtr DeviceMenu::openURLItem()
{
    return lazyItem(Field::openURLItem);
}
MenuItemPtr DeviceMenu::eraseItem()
{
    return lazyItem(Field::eraseItem);
}
MenuItemPtr DeviceMenu::eraseKeychainItem()
{
    return lazyItem(Field::eraseKeychainItem);
}
MenuItemPtr DeviceMenu::installItem()
{
    return lazyItem(Field::installItem);
}
MenuItemPtr DeviceMenu::addMediaItem()
{
    return lazyItem(Field::addMediaItem);
}
MenuItemPtr DeviceMenu::copyItem()
{
    return lazyItem(Field::copyItem);
}
MenuItemPtr DeviceMenu::pasteItem()
{
    return lazyItem(Field::pasteItem);
}
MenuItemPtr DeviceMenu::shutdownItem()
{
    return lazyItem(Field::shutdownItem);
}
MenuItemPtr DeviceMenu::screenshotItem()
{
    return lazyItem(Field::screenshotItem);
}
MenuItemPtr DeviceMenu::copyScreenshotItem()
{
    return lazyItem(Field::copyScreenshotItem);
}
MenuItemPtr DeviceMenu::recordVideoItem()
{
    return lazyItem(Field::recordVideoItem);
}
MenuItemPtr DeviceMenu::stopRecordingItem()
{
    return lazyItem(Field::stopRecordingItem);
}
MenuItemPtr DeviceMenu::deleteItem()
{
    return lazyItem(Field::deleteItem);
}
MenuItemPtr DeviceMenu::appearanceDivide()
{
    return lazyItem(Field::appearanceDivide);
}
MenuItemPtr DeviceMenu::contentSizeItem()
{
    return lazyItem(Field::contentSizeItem);
}
MenuItemPtr DeviceMenu::appearanceItem()
{
    return lazyItem(Field::appearanceItem);
}
MenuItemPtr DeviceMenu::pairedDevicesItem()
{
    return lazyItem(Field::pairedDevicesItem);
}
MenuItemPtr DeviceMenu::independentItem()
{
    return lazyItem(Field::independentItem);
}

void DeviceMenu::update()
{
    Menu::update();
    DispatchQueue::main()->async([weak = weakAs<DeviceMenu>()] {
        if (auto menu = weak.lock())
            menu->applyRules(menu->currentFacts());
    });
}

void DeviceMenu::willOpen()
{
    m_openObservers.removeAll();
    m_openObservers.append(m_environment.activityMonitor->observeChanges(
        DispatchQueue::main(), [weak = weakAs<DeviceMenu>()] {
            if (auto menu = weak.lock())
                menu->applyRules(menu->currentFacts());
        }));
}

void DeviceMenu::didClose()
{
    m_openObservers.removeAll();
}

DeviceMenu::Facts DeviceMenu::currentFacts() const
{
    Facts facts;
    const auto toolset = m_toolset.lock();
    facts.hasToolset = toolset != nullptr;
    if (toolset)
        facts.supportedCommands = toolset->supportedCommands();
    const auto processes = m_environment.activityMonitor->latestSnapshot();
    facts.isRunning = [processes](const QUuid &device) {
        return processes->simulatorProcess(device).has_value();
    };
    facts.running = facts.isRunning(m_device->uuid());
    facts.runtime = m_device->runtime();
    facts.recording = m_device->isRecording();
    return facts;
}

void DeviceMenu::applyRules(const Facts &facts)
{
    const auto all = items();
    if (!facts.hasToolset) {
        for (const auto &item : all)
            item->setEnabled(false);
        return;
    }

    using Command = Toolset::Command;
    const bool running = facts.running;
    const QUuid own = m_device->uuid();
    for (const auto &item : all) {
        const auto application = item->representedObject().as<Application>();
        if (!application)
            continue;
        const auto device = application->device();
        bool deviceRuns = false;
        if (device)
            deviceRuns = device->uuid() == own ? running
                                               : facts.isRunning && facts.isRunning(device->uuid());
        item->setEnabled(deviceRuns);
    }

    const auto set = [](const MenuItemPtr &item, bool enabled, bool hidden) {
        item->setEnabled(enabled);
        item->setHidden(hidden);
    };
    const auto system = facts.runtime.system();
    const bool iOS = system == Runtime::System::iOS;
    const bool noURLs = !opensURLs(facts.runtime);
    const bool noAppearance = !isVersionAtLeast(facts.runtime.version(), kAppearanceVersion) ||
                              !facts.supports(Command::appearance);
    const bool records = running && facts.supports(Command::recording);
    const bool opens = running && facts.supports(Command::openURLs);
    const bool sendsMedia = running && facts.supports(Command::addmedia);
    const bool captures = running && facts.supports(Command::screenshots);

    set(installItem(), running && facts.supports(Command::install), false);
    set(stopRecordingItem(), records, !facts.recording);
    set(recordVideoItem(), records, facts.recording);
    set(openURLItem(), opens, noURLs);
    set(openRecentURLItem(), opens, noURLs);
    set(appearanceItem(), running, noAppearance);
    set(contentSizeItem(), running, noAppearance);
    set(touchesItem(), running, !facts.supports(Command::touch) || !iOS);
    set(statusBarItem(), running, !iOS || !facts.supports(Command::statusBar));
    appearanceDivide()->setHidden(appearanceItem()->isHidden() && contentSizeItem()->isHidden() &&
                                  touchesItem()->isHidden() && statusBarItem()->isHidden());
    set(copyItem(), running && facts.supports(Command::copy), false);
    set(pasteItem(), running && facts.supports(Command::paste), false);
    set(addMediaItem(), sendsMedia, !iOS);
    set(unsplashItem(), sendsMedia, !iOS);
    set(screenshotItem(), captures, false);
    set(copyScreenshotItem(), captures, false);
    set(eraseItem(), facts.supports(Command::erase), false);
    set(eraseKeychainItem(), running && facts.supports(Command::keychain), false);

    set(shutdownItem(), facts.supports(Command::shutdown), !running);
    set(launchItem(), facts.supports(Command::boot), running);
}

} // namespace corvane
