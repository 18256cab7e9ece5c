#include "app/menus/application/ApplicationMenu.h"

#include "app/menus/CommandManager.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/values/PermissionBarMenu.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"

#include <QFileInfo>
#include <QMarginsF>

#include <algorithm>

namespace corvane {

namespace {

struct ItemDefinition {
    const char *title;
    const char *comment;
    const char *action;
    const char *symbol;
    // The resource shown where symbols are not, with 2 points above it.
    const char *fallback;
};

// The titled fixed items with an action, by field.
ItemDefinition definition(int field)
{
    static const ItemDefinition definitions[] = {
        {"Export Data…", "EXPORT_APPLICATION_ITEM_TITLE", "export:", "arrow.up.document", nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"Replace Data…", "REPLACE_APPLICATION_ITEM_TITLE", "replace:", "arrow.down.document",
         nullptr},
        {"Erase Sandbox", "ERASE_APPLICATION_ITEM_TITLE", "eraseData:", "trash", nullptr},
        {"Application Contents", "REVEAL_APPLICATION_ITEM_TITLE", "open:", "app", "Folder"},
        {"User Data Sandbox", "DATA_APPLICATION_ITEM_TITLE", "openContainer:", "person", "Folder"},
        {"Uninstall…", "UNINSTALL_APPLICATION_ITEM_TITLE", "uninstall:", "trash", nullptr},
        {"Send Push…", "SEND_PUSH_APPLICATION_ITEM_TITLE", "push:", "app.badge", nullptr},
        {"Launch", "LAUNCH_APPLICATION_ITEM_TITLE", "launch:", "arrow.up.right.square", nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        {"Clear State Restoration Data (UIScene)", "ERASE_SCENE_STATE", "eraseState:", "eraser",
         nullptr},
        {"Clear Launch Storyboard Cache", "ERASE_LAUNCH_STORYBOARD_CACHE",
         "eraseLaunchStoryboardCache:", "eraser", nullptr},
        {"Quit", "QUIT_APPLICATION_ITEM_TITLE", "quit:", "xmark", nullptr},
    };
    return definitions[field];
}

const QMarginsF kTwoPointsAbove(0, 2, 0, 0);

// A symbol where the system has them, else the resource (if any) with 2
// points of space above it.
ImageRef itemImage(const QString &symbol, const QString &fallback = {})
{
    if (ImageRef::symbolsEnabled() || fallback.isEmpty())
        return ImageRef::symbol(symbol);
    return ImageRef::resource(fallback).padded(kTwoPointsAbove);
}

ImageRef runningMark(ImageRef::TintColor color)
{
    return ImageRef::resource(QStringLiteral("On")).tinted(color);
}

QString revealTitle(bool clip)
{
    return clip ? loc("App Clip Contents", "REVEAL_CLIP_ITEM_TITLE")
                : loc("Application Contents", "REVEAL_APPLICATION_ITEM_TITLE");
}

const char *permissionSymbol(Application::Permission permission)
{
    switch (permission) {
    case Application::Permission::grant: return "plus";
    case Application::Permission::revoke: return "xmark";
    case Application::Permission::reset: return "arrow.clockwise";
    }
    return "";
}

std::shared_ptr<Container> knownDataContainer(const Application &application)
{
    auto cached = application.cachedDataContainer();
    if (cached && QFileInfo::exists(cached->url().toLocalFile()))
        return cached;
    return nullptr;
}

} // namespace

bool ApplicationMenu::Facts::supports(Toolset::Command command) const
{
    return std::find(supportedCommands.begin(), supportedCommands.end(), command) !=
           supportedCommands.end();
}

QString ApplicationMenu::versionText(const Application &application)
{
    const QString text = "Version " + application.version() + " (" + application.build() + ")";
    return loc(text.toUtf8().constData(), "VERSION_APPLICATION_ITEM_TITLE");
}

std::shared_ptr<ApplicationMenu>
ApplicationMenu::make(const std::shared_ptr<Application> &application,
                      const std::shared_ptr<Toolset> &toolset, bool shouldShowDeviceSubmenu,
                      Environment environment)
{
    if (!application)
        return nullptr;
    std::shared_ptr<ApplicationMenu> menu(
        new ApplicationMenu(application, toolset, shouldShowDeviceSubmenu, std::move(environment)));
    // The refresh reads the supported commands on the main thread: read once
    // here, off it, they never run simctl there.
    if (toolset)
        toolset->supportedCommands();
    // The device's menu is built here, on the creator's thread, as device
    // menus are; only the recent builds ask for one.
    if (shouldShowDeviceSubmenu)
        menu->deviceItem();
    menu->setDeferredPopulation(
        [](Menu &self) { static_cast<ApplicationMenu &>(self).populate(); });
    return menu;
}

ApplicationMenu::ApplicationMenu(const std::shared_ptr<Application> &application,
                                 const std::shared_ptr<Toolset> &toolset,
                                 bool shouldShowDeviceSubmenu, Environment environment)
    : Menu(application->title()), m_application(application), m_toolset(toolset),
      m_shouldShowDeviceSubmenu(shouldShowDeviceSubmenu), m_environment(std::move(environment))
{
    if (!m_environment.activityMonitor)
        m_environment.activityMonitor = ActivityMonitor::shared();
    if (!m_environment.commandManager)
        m_environment.commandManager = CommandManager::shared();
}

ApplicationMenu::~ApplicationMenu() = default;

void ApplicationMenu::populate()
{
    const auto device = m_application->device();
    std::vector<MenuItemPtr> items{deviceItem(), deviceDivideItem(), revealItem(), sandboxItem()};
    for (const auto location : Container::allLocations())
        items.push_back(makeShortcutItem(location));
    m_groupsIndex = int(items.size());
    items.insert(items.end(), {MenuItem::separator(), exportItem(), replaceItem(), eraseItem(),
                               MenuItem::separator(), sendPushItem(), MenuItem::separator()});
    for (const auto permission : Application::allPermissions())
        items.push_back(makePermissionItem(int(permission)));
    if (device && (device->category() == Device::Category::iPhone ||
                   device->category() == Device::Category::iPad))
        items.insert(items.end(),
                     {MenuItem::separator(), eraseSceneItem(), eraseStoryboardCacheItem()});
    items.insert(items.end(),
                 {MenuItem::separator(), versionItem(), launchItem(), uninstallItem(), quitItem()});
    setItems(std::move(items));

    // Observed from the first opening on: until then the version item has
    // not been made, and making it reads the version of the moment. Only
    // this application's posts are delivered: the device keeps one object
    // per installed application, and thousands of opened menus would
    // otherwise each take a main-queue turn for every update.
    m_observers.append(observeNotification<Application>(
        Application::applicationDidUpdate, m_application, DispatchQueue::main(),
        [weak = weakAs<ApplicationMenu>()](const Notification &,
                                           const std::shared_ptr<Application> &application) {
            if (auto menu = weak.lock())
                menu->applicationDidUpdate(application);
        }));
}

void ApplicationMenu::applicationDidUpdate(const ObjectPtr &object)
{
    const auto application = std::dynamic_pointer_cast<Application>(object);
    if (application && *application == *m_application)
        versionItem()->setTitle(versionText(*m_application));
}

MenuItemPtr ApplicationMenu::lazyItem(Field field)
{
    return m_fields.get(size_t(field), [this, field] { return makeItem(field); });
}

MenuItemPtr ApplicationMenu::makeItem(Field field)
{
    switch (field) {
    case Field::deviceItem: return makeDeviceItem();
    case Field::deviceDivideItem: return MenuItem::separator();
    case Field::versionItem: {
        auto item = MenuItem::make(versionText(*m_application));
        item->setEnabled(false);
        return item;
    }
    default: break;
    }
    const ItemDefinition d = definition(int(field));
    auto item = MenuItem::make(loc(d.title, d.comment), QString::fromLatin1(d.action));
    item->setTarget(weakAs<ApplicationMenu>());
    item->setImage(itemImage(QString::fromLatin1(d.symbol),
                             d.fallback ? QString::fromLatin1(d.fallback) : QString()));
    return item;
}

MenuItemPtr ApplicationMenu::makeDeviceItem()
{
    auto item = MenuItem::make(loc("Simulator", "SIMULATOR_APPLICATION_ITEM_TITLE"));
    item->setIndentationLevel(1);
    item->setOffStateImage(ImageRef::resource(QStringLiteral("Off")));
    item->setOnStateImage(runningMark(ImageRef::TintColor::Accent));
    const auto device = m_application->device();
    const auto toolset = m_toolset.lock();
    if (m_shouldShowDeviceSubmenu && device && toolset) {
        DeviceMenu::Environment environment{m_environment.activityMonitor,
                                            m_environment.commandManager, m_environment.submenus};
        item->setSubmenu(DeviceMenu::make(device, toolset, false, false, std::move(environment)));
    }
    return item;
}

MenuItemPtr ApplicationMenu::makeShortcutItem(Container::Location location)
{
    const bool preferences = location == Container::Location::preferences;
    auto item =
        MenuItem::make(Container::rawValue(location), QStringLiteral("openContainerShortcut:"));
    item->setTarget(weakAs<ApplicationMenu>());
    item->setIndentationLevel(1);
    item->setRepresentedObject(location);
    if (ImageRef::symbolsEnabled())
        item->setImage(ImageRef::symbol(preferences ? QStringLiteral("text.document")
                                                    : QStringLiteral("folder")));
    else
        item->setImage(ImageRef::resource(preferences ? QStringLiteral("Plist - Small")
                                                      : QStringLiteral("Folder - Small")));
    return item;
}

MenuItemPtr ApplicationMenu::makePermissionItem(int value)
{
    const auto permission = Application::Permission(value);
    const QString title = PermissionBarMenu::menuTitle(permission);
    auto item = MenuItem::make(loc(title.toUtf8().constData(), "PERMISSIONS_DEVICE_ITEM_TITLE"));
    item->setSubmenu(PermissionBarMenu::make(m_application, permission, m_toolset.lock(),
                                             m_environment.commandManager));
    item->setRepresentedObject(permission);
    item->setImage(ImageRef::symbol(QString::fromLatin1(permissionSymbol(permission))));
    return item;
}

MenuItemPtr ApplicationMenu::makeGroupItem(const std::shared_ptr<Container> &container,
                                           bool enabled)
{
    auto item = MenuItem::make(container->identifier(), QStringLiteral("openContainer:"));
    item->setTarget(weakAs<ApplicationMenu>());
    item->setRepresentedObject(container);
    item->setImage(
        itemImage(QStringLiteral("arrow.left.arrow.right.square"), QStringLiteral("AppGroup")));
    item->setEnabled(enabled);
    return item;
}

MenuItemPtr ApplicationMenu::exportItem()
{
    return lazyItem(Field::exportItem);
}
MenuItemPtr ApplicationMenu::deviceItem()
{
    return lazyItem(Field::deviceItem);
}
MenuItemPtr ApplicationMenu::deviceDivideItem()
{
    return lazyItem(Field::deviceDivideItem);
}
MenuItemPtr ApplicationMenu::replaceItem()
{
    return lazyItem(Field::replaceItem);
}
MenuItemPtr ApplicationMenu::eraseItem()
{
    return lazyItem(Field::eraseItem);
}
MenuItemPtr ApplicationMenu::revealItem()
{
    return lazyItem(Field::revealItem);
}
MenuItemPtr ApplicationMenu::sandboxItem()
{
    return lazyItem(Field::sandboxItem);
}
MenuItemPtr ApplicationMenu::uninstallItem()
{
    return lazyItem(Field::uninstallItem);
}
MenuItemPtr ApplicationMenu::sendPushItem()
{
    return lazyItem(Field::sendPushItem);
}
MenuItemPtr ApplicationMenu::launchItem()
{
    return lazyItem(Field::launchItem);
}
MenuItemPtr ApplicationMenu::versionItem()
{
    return lazyItem(Field::versionItem);
}
MenuItemPtr ApplicationMenu::eraseSceneItem()
{
    return lazyItem(Field::eraseSceneItem);
}
MenuItemPtr ApplicationMenu::eraseStoryboardCacheItem()
{
    return lazyItem(Field::eraseStoryboardCacheItem);
}
MenuItemPtr ApplicationMenu::quitItem()
{
    return lazyItem(Field::quitItem);
}

void ApplicationMenu::update()
{
    Menu::update();
    DispatchQueue::main()->async([weak = weakAs<ApplicationMenu>()] {
        if (auto menu = weak.lock())
            menu->refreshNow(true);
    });
}

void ApplicationMenu::refreshNow(bool mayListContainer)
{
    const Facts facts = currentFacts();
    refresh(facts);
    if (mayListContainer)
        listDataContainer(facts);
    DispatchQueue::main()->async([weak = weakAs<ApplicationMenu>()] {
        if (auto menu = weak.lock())
            menu->setRunningMark(menu->currentFacts());
    });
}

void ApplicationMenu::listDataContainer(const Facts &facts)
{
    if (m_listingContainer || facts.dataContainer || !facts.deviceExists || !facts.simulatorRuns ||
        !facts.supports(Toolset::Command::containerListing))
        return;
    m_listingContainer = true;
    DispatchQueue::userInitiated()->async(
        [weak = weakAs<ApplicationMenu>(), application = m_application] {
            application->loadDataContainer();
            DispatchQueue::main()->async([weak] {
                auto menu = weak.lock();
                if (!menu)
                    return;
                menu->m_listingContainer = false;
                // Without a container the items stay disabled; the next
                // opening asks again.
                menu->refreshNow(false);
            });
        });
}

ApplicationMenu::Facts ApplicationMenu::currentFacts() const
{
    Facts facts;
    const auto toolset = m_toolset.lock();
    facts.hasToolset = toolset != nullptr;
    if (toolset)
        facts.supportedCommands = toolset->supportedCommands();
    const auto processes = m_environment.activityMonitor->latestSnapshot();
    if (const auto device = m_application->device()) {
        facts.deviceExists = true;
        facts.simulatorRuns = processes->simulatorProcess(device->uuid()).has_value();
        facts.system = device->runtime().system();
    }
    facts.applicationRuns = processes->applicationProcess(m_application->uuid()).has_value();
    facts.dataContainer = knownDataContainer(*m_application);
    return facts;
}

void ApplicationMenu::refresh(const Facts &facts)
{
    const auto all = items();
    if (!facts.hasToolset) {
        for (const auto &item : all)
            item->setEnabled(false);
        return;
    }

    using Command = Toolset::Command;
    const bool exists = facts.deviceExists;
    const bool live = exists && facts.simulatorRuns;
    const bool lists = live && facts.supports(Command::containerListing);
    const auto &container = facts.dataContainer;
    const bool known = container != nullptr;
    for (const auto &item : all) {
        const RepresentedObject object = item->representedObject();
        if (const auto location = object.as<Container::Location>())
            item->setEnabled(lists && known && container->urlForLocation(*location));
        else if (object.is<Container>())
            item->setEnabled(lists && known);
        else if (object.is<Application::Permission>())
            item->setEnabled(live && facts.supports(Command::privacy));
    }

    revealItem()->setTitle(
        revealTitle(m_application->executableType() == Application::ExecutableType::clip));
    deviceItem()->setHidden(!m_shouldShowDeviceSubmenu);
    deviceDivideItem()->setHidden(!m_shouldShowDeviceSubmenu);

    const auto set = [](const MenuItemPtr &item, bool enabled, bool hidden) {
        item->setHidden(hidden);
        item->setEnabled(enabled);
    };
    const bool gone = !exists;
    set(sandboxItem(), lists && known, gone);
    set(exportItem(), live && known, gone);
    set(replaceItem(), live && known, gone);
    set(sendPushItem(), live && facts.supports(Command::push),
        gone || facts.system != Runtime::System::iOS);
    set(eraseItem(), live && known, gone);
    set(eraseSceneItem(), live, false);
    set(eraseStoryboardCacheItem(), live, false);
    set(launchItem(), live && facts.supports(Command::launch), facts.applicationRuns || gone);
    set(uninstallItem(), live && facts.supports(Command::uninstall), gone);
    set(quitItem(), live && facts.supports(Command::quit), !facts.applicationRuns || gone);
}

void ApplicationMenu::setRunningMark(const Facts &facts)
{
    deviceItem()->setState(facts.deviceExists && facts.simulatorRuns ? ControlState::On
                                                                     : ControlState::Off);
}

void ApplicationMenu::willOpen()
{
    m_openObservers.removeAll();
    m_openObservers.append(m_environment.activityMonitor->observeChanges(
        DispatchQueue::main(), [weak = weakAs<ApplicationMenu>()] {
            if (auto menu = weak.lock())
                menu->refreshNow(true);
        }));

    if (m_groupsIndex == -1 || !m_application->device() || !simulatorRuns())
        return;
    const int index = m_groupsIndex;
    m_groupsIndex = -1;
    if (!m_toolset.lock())
        return;
    DispatchQueue::userInitiated()->async(
        [weak = weakAs<ApplicationMenu>(), application = m_application, index] {
            auto groups = application->groupContainers();
            if (groups.empty())
                return;
            DispatchQueue::main()->async([weak, index, groups = std::move(groups)] {
                if (auto menu = weak.lock())
                    menu->insertGroupItems(index, groups);
            });
        });
}

void ApplicationMenu::insertGroupItems(int index,
                                       const std::vector<std::shared_ptr<Container>> &groups)
{
    const Facts facts = currentFacts();
    const bool enabled = facts.deviceExists && facts.simulatorRuns &&
                         facts.supports(Toolset::Command::containerListing);
    auto all = items();
    index = std::clamp(index, 0, int(all.size()));
    std::vector<MenuItemPtr> made;
    made.reserve(groups.size());
    for (const auto &container : groups)
        made.push_back(makeGroupItem(container, enabled));
    all.insert(all.begin() + index, made.begin(), made.end());
    setItems(std::move(all));
}

void ApplicationMenu::didClose()
{
    m_openObservers.removeAll();
}

void ApplicationMenu::willHighlight(const MenuItemPtr &item)
{
    if (m_lastItem) {
        m_lastItem->setOnStateImage(m_lastItem->onStateImage().tinted(ImageRef::TintColor::Accent));
        m_lastItem.reset();
    }
    if (item && item == deviceItem()) {
        item->setOnStateImage(item->onStateImage().tinted(ImageRef::TintColor::White));
        m_lastItem = item;
    }
}

} // namespace corvane
