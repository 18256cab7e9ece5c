#include "app/menus/root/RootMenu.h"

#include "app/menus/ApplicationMenuItem.h"
#include "app/menus/CommandManager.h"
#include "app/menus/DeviceTitle.h"
#include "app/menus/MenuHost.h"
#include "app/menus/root/DeviceRecordings.h"
#include "app/menus/root/StatusMenuActions.h"
#include "app/menus/root/StatusMenuItems.h"
#include "core/ProcessRunner.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "location/GPSWindowController.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "model/InstalledRuntimes.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/processes/ChildProcess.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/desktop/Workspace.h"

#include <QHash>

#include <algorithm>
#include <unordered_set>

namespace corvane {

namespace {

const QString kGlobalRedoKey = "GlobalRedo";
const QString kDeleteDerivedDataKey = "DeleteDerivedData";

MenuItemPtr disabledItem(const QString &title)
{
    auto item = MenuItem::make(title);
    item->setEnabled(false);
    return item;
}

ImageRef onImage()
{
    static const ImageRef image = ImageRef::resource("On");
    return image;
}

ImageRef recordingImage()
{
    static const ImageRef image = ImageRef::resource("Recording");
    return image;
}

// A device row's running mark when not highlighted: derived from the mark's
// own art, so that leaving the highlight never keeps a tint of the white.
ImageRef restingMark(const ImageRef &current)
{
    const ImageRef base = current.base();
    return base == recordingImage() ? base : base.tinted(ImageRef::TintColor::Accent);
}

ImageRef highlightedMark(const ImageRef &current)
{
    return current.base().tinted(ImageRef::TintColor::White);
}

std::vector<DevicePtr> watcherDevices(const std::shared_ptr<Toolset> &toolset)
{
    std::vector<DevicePtr> devices;
    const auto watcher =
        toolset ? std::dynamic_pointer_cast<DeviceWatcher>(toolset->deviceWatcher()) : nullptr;
    if (!watcher)
        return devices;
    const auto all = watcher->all();
    devices.reserve(all->size());
    for (const auto &[uuid, device] : *all)
        devices.push_back(device);
    Device::sort(devices);
    return devices;
}

bool hasInstalledApplications(const Device &device)
{
    return !device.applicationTable().empty();
}

} // namespace

std::shared_ptr<RootMenu> RootMenu::make(const QString &title,
                                         const std::shared_ptr<Toolset> &toolset,
                                         Environment environment)
{
    std::shared_ptr<RootMenu> menu(new RootMenu(title, toolset, std::move(environment)));
    menu->setUp();
    return menu;
}

RootMenu::RootMenu(const QString &title, const std::shared_ptr<Toolset> &toolset,
                   Environment environment)
    : Menu(title), m_environment(std::move(environment)), m_toolset(toolset),
      m_poller(m_environment.modifiers ? m_environment.modifiers : ModifierSource::system())
{
    auto &env = m_environment;
    if (!env.modifiers)
        env.modifiers = ModifierSource::system();
    if (!env.activityMonitor)
        env.activityMonitor = ActivityMonitor::shared();
    if (!env.commandManager)
        env.commandManager = CommandManager::shared();
    if (!env.recordingDevices)
        env.recordingDevices = std::make_shared<DeviceRecordings>();
    if (!env.deviceMenuFactory)
        env.deviceMenuFactory = makeDeviceMenu;
    if (!env.applicationMenuFactory)
        env.applicationMenuFactory = SubmenuFactories::standard().applicationMenu;
    if (!env.gpsWindow)
        env.gpsWindow = GPSWindowController::opener();
    if (!env.installedRuntimes)
        env.installedRuntimes = installedRuntimes;
    if (!env.devices)
        env.devices = watcherDevices;

    addAction("noSimulatorsFound:", [this](const ObjectPtr &) { noSimulatorsFound(); });
    addAction("trashPreviews:", [this](const ObjectPtr &sender) { trashPreviews(sender); });
    addAction("deleteDD:", [](const ObjectPtr &) { StatusMenuActions::deleteDerivedData(); });
    addAction("about:", [](const ObjectPtr &) { StatusMenuActions::about(); });
    addAction("redo:", [this](const ObjectPtr &sender) { redo(sender); });
    addAction("help:", [](const ObjectPtr &) { StatusMenuActions::help(); });
    addAction("preferences:", [](const ObjectPtr &) { StatusMenuActions::preferences(); });
    addAction("activity:", [](const ObjectPtr &) { StatusMenuActions::activity(); });
    addAction("quit:", [](const ObjectPtr &) { StatusMenuActions::quit(); });
    addAction("manage:", [](const ObjectPtr &) { StatusMenuActions::manage(); });
    addAction("stopRecording:", [this](const ObjectPtr &) { stopRecording(); });
    addAction("logs:", [](const ObjectPtr &) { StatusMenuActions::logs(); });
    addAction("gps:", [this](const ObjectPtr &) { gps(); });
}

RootMenu::~RootMenu() = default;

void RootMenu::setUp()
{
    makeFixedItems();
    registerObservers();
    observeKeyEquivalents();
    // The usage text is read once per toolset; here, off the main thread,
    // rather than in the first update. A stale process list starts its
    // listing in the background, so the first opening finds it done.
    if (auto toolset = m_toolset.lock())
        toolset->supportedCommands();
    m_environment.activityMonitor->latestSnapshot();
    // The observers are in place: a change from now on rebuilds after this.
    const auto build = m_builds.begin();
    auto items = buildItems(currentDevices(), ExistingRows{});
    m_builds.applyIfNewest(build, [&] { setItems(std::move(items)); });
    fillRecentItems();
    fillRedoItem();
    finishFirstFill();
}

void RootMenu::makeFixedItems()
{
    const auto self = weakAs<RootMenu>();
    auto targeted = [&self](MenuItemPtr item) {
        item->setTarget(self);
        return item;
    };

    m_notSeeingPromptItem = disabledItem("Not Seeing Any Devices?");
    m_stopRecordingBuffer = MenuItem::separator();
    m_stopRecordingItem = targeted(MenuItem::make("Stop Recording", "stopRecording:"));
    m_stopRecordingItem->setImage(ImageRef::symbol("stop"));
    m_diagnosticsItem = targeted(StatusMenuItems::diagnosticsItem());
    m_noSimsShowAllItem = disabledItem("Hold ⌥ to show all…");
    m_noSimsItem = targeted(MenuItem::make("Help: No Simulators Found", "noSimulatorsFound:"));
    m_recentApplicationsItem = disabledItem("Most Recent Builds");
    m_noRecentItem = disabledItem("None");
    for (int i = 0; i < 3; ++i) {
        auto item = ApplicationMenuItem::make("N/A", "auto:");
        item->setIconConfig({QSizeF(30, 30), QMarginsF(0, 3, 4, 3)});
        item->refresh();
        item->setEnabled(false);
        item->setShowDeviceInTitle(true);
        item->refresh();
        m_recentItems.push_back(item);
    }
    m_redoTitleItem = disabledItem(loc("Quick Repeat", "REDO_ITEM_TITLE"));
    m_redoItem =
        targeted(MenuItem::make(loc("No Recent Command", "REDO_NORECENT_ITEM_TITLE"), "redo:"));
    m_deleteDDItem = targeted(StatusMenuItems::deleteDerivedDataItem());
    m_trashPreviewsItem = targeted(StatusMenuItems::trashPreviewsItem());
    m_manageItem =
        targeted(MenuItem::make(loc("Select an Xcode…", "MANAGE_XCODE_ITEM_TITLE"), "manage:"));
    m_activityItem = targeted(StatusMenuItems::activityItem());
    m_aboutItem = targeted(StatusMenuItems::aboutItem());
    m_helpItem = targeted(StatusMenuItems::helpItem());
    m_preferencesItem = targeted(StatusMenuItems::preferencesItem());
    m_quitItem = targeted(StatusMenuItems::quitItem());
    m_gpsItem = targeted(StatusMenuItems::gpsItem());
}

void RootMenu::registerObservers()
{
    const auto weak = weakAs<RootMenu>();
    const auto main = DispatchQueue::main();
    auto observe = [&](const QString &name,
                       std::function<void(RootMenu &, const ObjectPtr &)> run) {
        m_observers.append(observeNotification(
            name, main,
            [weak, run = std::move(run)](const Notification &, const ObjectPtr &object) {
                if (auto menu = weak.lock())
                    run(*menu, object);
            }));
    };
    observe(CommandManager::historyDidChange,
            [](RootMenu &menu, const ObjectPtr &) { menu.updateRedoItem(); });
    auto changedBuilds = [](RootMenu &menu, const ObjectPtr &object) {
        menu.forgetNewestBuilds(object);
        menu.refreshSubmenus();
    };
    observe(Device::applicationListDidChange, changedBuilds);
    observe(Application::applicationDidUpdate, changedBuilds);
    observe(Notifications::deviceListDidChange,
            [](RootMenu &menu, const ObjectPtr &) { menu.deviceListDidChange(); });
    observe(Device::recordingDidChange,
            [](RootMenu &menu, const ObjectPtr &object) { menu.recordingDidChange(object); });
}

void RootMenu::observeKeyEquivalents()
{
    const auto weak = weakAs<RootMenu>();
    const auto defaults = UserDefaults::standard();
    for (const auto &[key, item] : {std::pair{kGlobalRedoKey, m_redoItem},
                                    std::pair{kDeleteDerivedDataKey, m_deleteDDItem}}) {
        // In place before the menu is handed over; later changes come on
        // whatever thread wrote them.
        updateKeyEquivalent(key, item);
        m_kvoObservers.push_back(
            defaults->observe(key, [weak, key = key, item = std::weak_ptr<MenuItem>(item)](
                                       const std::optional<QVariant> &) {
                DispatchQueue::main()->async([weak, key, item] {
                    auto menu = weak.lock();
                    auto live = item.lock();
                    if (menu && live)
                        menu->updateKeyEquivalent(key, live);
                });
            }));
    }
}

void RootMenu::updateKeyEquivalent(const QString &defaultsKey, const MenuItemPtr &item)
{
    if (item)
        StatusMenuItems::applyHotKeyEquivalent(*item, defaultsKey);
}

std::shared_ptr<Device> RootMenu::recordingDevice() const
{
    return std::dynamic_pointer_cast<Device>(m_recordingDevice.lock());
}

std::vector<DevicePtr> RootMenu::currentDevices() const
{
    const auto toolset = m_toolset.lock();
    return toolset ? m_environment.devices(toolset) : std::vector<DevicePtr>{};
}

std::vector<MenuItemPtr> RootMenu::buildItems(const std::vector<DevicePtr> &devices,
                                              const std::vector<MenuItemPtr> &existingItems)
{
    return buildItems(devices, existingRows(existingItems));
}

RootMenu::ExistingRows RootMenu::existingRows(const std::vector<MenuItemPtr> &items)
{
    ExistingRows rows;
    for (const auto &item : items)
        if (auto device = item ? item->representedObject().as<Device>() : nullptr)
            rows.emplace_back(device->uuid(), item);
    return rows;
}

std::vector<MenuItemPtr> RootMenu::buildItems(const std::vector<DevicePtr> &devices,
                                              const ExistingRows &existingRows)
{
    // The first row of each UUID is the one reused.
    QHash<QUuid, MenuItemPtr> reusable;
    reusable.reserve(qsizetype(existingRows.size()));
    for (const auto &[uuid, item] : existingRows)
        if (!reusable.contains(uuid))
            reusable.insert(uuid, item);

    std::vector<MenuItemPtr> items{
        m_stopRecordingItem,   m_stopRecordingBuffer,    m_redoTitleItem, m_redoItem,
        MenuItem::separator(), m_recentApplicationsItem, m_noRecentItem};
    items.insert(items.end(), m_recentItems.begin(), m_recentItems.end());
    items.reserve(items.size() + devices.size() * 3 / 2 + 24);

    std::optional<Runtime> previous;
    for (const auto &device : devices) {
        const auto toolset = m_toolset.lock();
        if (!device || !toolset)
            continue;
        const Runtime runtime = device->runtime();
        if (!previous || !(*previous == runtime)) {
            auto separator = MenuItem::separator();
            separator->setRepresentedObject(runtime);
            auto header = disabledItem(runtime.description());
            header->setRepresentedObject(runtime);
            items.push_back(std::move(separator));
            items.push_back(std::move(header));
            previous = runtime;
        }
        const auto found = reusable.constFind(device->uuid());
        items.push_back(found != reusable.cend() ? *found : makeDeviceRow(device, toolset));
    }

    items.insert(items.end(), {MenuItem::separator(), m_notSeeingPromptItem, m_noSimsShowAllItem,
                               m_noSimsItem, m_manageItem});
    items.insert(items.end(), {MenuItem::separator(), m_gpsItem, m_activityItem});
    items.insert(items.end(), {MenuItem::separator(), m_trashPreviewsItem, m_deleteDDItem});
    items.insert(items.end(), {MenuItem::separator(), m_aboutItem, m_preferencesItem, m_helpItem,
                               m_diagnosticsItem, m_quitItem});
    return items;
}

MenuItemPtr RootMenu::makeDeviceRow(const DevicePtr &device,
                                    const std::shared_ptr<Toolset> &toolset) const
{
    auto row = MenuItem::make(DeviceTitle::menuTitle(*device), "auto:");
    if (auto submenu = m_environment.deviceMenuFactory(device, toolset, true, true)) {
        row->setSubmenu(submenu);
        row->setTarget(submenu);
    }
    row->setImage(ImageRef::file(device->image()));
    row->setIndentationLevel(1);
    row->setOnStateImage(onImage().tinted(ImageRef::TintColor::Accent));
    row->setOffStateImage(ImageRef::resource("Off"));
    row->setRepresentedObject(device);
    return row;
}

std::vector<MenuItemPtr> RootMenu::deviceItems() const
{
    std::vector<MenuItemPtr> rows;
    for (const auto &item : items())
        if (item->representedObject().is<Device>())
            rows.push_back(item);
    return rows;
}

std::shared_ptr<DispatchQueue> RootMenu::queue()
{
    if (!m_queue)
        m_queue = DispatchQueue::makeSerial(queueLabelPrefix + newUuidString());
    return m_queue;
}

void RootMenu::deviceListDidChange()
{
    queue()->async([weak = weakAs<RootMenu>(), rows = existingRows(items())]() mutable {
        rebuildDeviceItems(weak, std::move(rows));
    });
}

void RootMenu::rebuildDeviceItems(const std::weak_ptr<RootMenu> &weak, ExistingRows existingRows)
{
    auto menu = weak.lock();
    if (!menu) {
        releaseOnMain(std::move(existingRows));
        return;
    }
    const auto build = menu->m_builds.begin();
    auto items = menu->buildItems(menu->currentDevices(), existingRows);
    releaseOnMain(std::move(menu));
    // The main queue drops these rows after the new array is set (or found
    // older than one already set).
    DispatchQueue::main()->async(
        [weak, build, items = std::move(items), rows = std::move(existingRows)]() mutable {
            if (auto menu = weak.lock()) {
                menu->m_builds.applyIfNewest(build, [&] { menu->setItems(std::move(items)); });
                // The recent builds are those of the listed devices.
                menu->refreshSubmenus();
            }
        });
}

void RootMenu::recordingDidChange(const ObjectPtr &object)
{
    const auto &devices = *m_environment.recordingDevices;
    if (!devices.isDevice(object))
        return;
    // Another device that still records keeps the stop item.
    m_recordingDevice = devices.deviceToShow(object, m_recordingDevice.lock());
}

void RootMenu::update()
{
    const bool option = m_environment.modifiers->isOptionHeld();
    const auto toolset = m_toolset.lock();
    const bool hasToolset = toolset != nullptr;
    const auto recording = recordingDevice();
    const auto highlighted = m_lastItem.lock();
    const auto allItems = items();
    const auto processes = m_environment.activityMonitor->latestSnapshot();

    std::unordered_set<Runtime> visibleRuntimes;
    for (const auto &item : allItems) {
        const auto device = item->representedObject().as<Device>();
        if (!device)
            continue;
        const bool running = processes->simulatorProcess(device->uuid()).has_value();
        const bool shown = option || running || !hasToolset || hasInstalledApplications(*device);
        item->setEnabled(hasToolset);
        item->setHidden(!shown);
        item->setState(running ? ControlState::On : ControlState::Off);
        const ImageRef mark =
            recording && recording->uuid() == device->uuid() ? recordingImage() : onImage();
        item->setOnStateImage(item == highlighted ? highlightedMark(mark) : restingMark(mark));
        if (shown)
            visibleRuntimes.insert(device->runtime());
    }
    for (const auto &item : allItems)
        if (const auto runtime = item->representedObject().as<Runtime>())
            item->setHidden(!visibleRuntimes.contains(*runtime));

    const bool anyVisible = !visibleRuntimes.empty();
    m_notSeeingPromptItem->setHidden(anyVisible);
    m_manageItem->setHidden(anyVisible || hasToolset);
    m_noSimsItem->setHidden(anyVisible || !hasToolset || !option);
    m_noSimsShowAllItem->setHidden(anyVisible || !hasToolset || option);

    m_diagnosticsItem->setHidden(!option);
    m_stopRecordingItem->setHidden(!recording);
    m_stopRecordingBuffer->setHidden(!recording);

    m_noRecentItem->setHidden(!m_recentItems.front()->representedObject().isEmpty());
    for (const auto &item : m_recentItems) {
        item->setHidden(item->representedObject().isEmpty());
        item->setEnabled(hasToolset);
    }
    const auto newest = m_environment.commandManager->newestLiveCommand();
    // A target that has gone since (a deleted device) posts nothing: the
    // item would go on naming its command.
    if (m_redoItem->representedObject().as<CommandManager::Command>() != newest)
        updateRedoItem();
    m_redoItem->setEnabled(hasToolset && newest.has_value());
    m_deleteDDItem->setEnabled(true);
    m_gpsItem->setEnabled(hasToolset && (toolset->supports(Toolset::Command::gps) ||
                                         toolset->supports(Toolset::Command::gpsFull)));
}

void RootMenu::willOpen()
{
    if (auto host = MenuHost::current())
        host->unbindHotKeys();
    const auto weak = weakAs<RootMenu>();
    m_poller.start([weak](bool) {
        DispatchQueue::main()->async([weak] {
            if (auto menu = weak.lock())
                menu->update();
        });
    });
    m_openObservers.removeAll();
    m_openObservers.append(
        m_environment.activityMonitor->observeChanges(DispatchQueue::main(), [weak] {
            if (auto menu = weak.lock())
                menu->update();
        }));
    // The update that follows shows the last snapshot and starts a listing.
    m_environment.activityMonitor->markOutOfDate();
}

void RootMenu::didClose()
{
    if (auto host = MenuHost::current())
        host->bindHotKeys();
    m_poller.stop();
    m_openObservers.removeAll();
}

void RootMenu::willHighlight(const MenuItemPtr &item)
{
    if (auto last = m_lastItem.lock())
        last->setOnStateImage(restingMark(last->onStateImage()));
    m_lastItem.reset();
    if (item && item->representedObject().is<Device>()) {
        item->setOnStateImage(highlightedMark(item->onStateImage()));
        m_lastItem = item;
    }
}

void RootMenu::noSimulatorsFound()
{
    const auto runtimes = m_environment.installedRuntimes();
    const auto visionRuntimes = std::count_if(runtimes.begin(), runtimes.end(), [](const auto &r) {
        return r.system() == Runtime::System::visionOS;
    });
    AlertSpec spec;
    spec.style = AlertSpec::Style::Informational;
    spec.messageText = "Troubleshooting Tip";
    spec.informativeText =
        visionRuntimes > 1
            ? "Having multiple visionOS SDKs installed can cause issues with Xcode's "
              "command-line interface. Please try removing any old visionOS SDKs via Xcode -> "
              "Settings -> Platforms."
            : "Ensure you have your current Xcode selected in Corvane's settings.";
    Workspace::shared()->activateIgnoringOtherApps();
    AlertPresenter::shared()->run(spec);
}

void RootMenu::trashPreviews(const ObjectPtr &sender)
{
    DispatchQueue::userInitiated()->async([weak = weakAs<RootMenu>(), toolset = m_toolset,
                                           commands = m_environment.commandManager,
                                           record = CommandManager::actionRecord(sender)] {
        std::shared_ptr<ChildProcess> process;
        if (auto live = toolset.lock()) {
            process = live->process({"--set", "previews", "delete", "all"});
            try {
                process->launch();
            } catch (const LaunchError &error) {
                Log::general().error("Resetting the previews failed: %{PUBLIC}@",
                                     error.description());
                process.reset();
            }
        }
        if (auto menu = weak.lock()) {
            commands->recordAction(record, menu, "trashPreviews:");
            releaseOnMain(std::move(menu));
        }
        if (process)
            awaitTool(*process);
    });
}

void RootMenu::stopRecording()
{
    const auto device = m_recordingDevice.lock();
    if (device && m_environment.recordingDevices->isRecording(device))
        m_environment.recordingDevices->interruptRecording(device);
}

void RootMenu::gps()
{
    Workspace::shared()->activateIgnoringOtherApps();
    m_environment.gpsWindow->showWindow();
}

} // namespace corvane
