#include "model/DeviceWatcher.h"

#include "core/ToolsetManager.h"

#include "core/Debounce.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

namespace corvane {

namespace {

bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// The text between a heading's three-character markers; the five-character
// "== ==" shares the blank between its markers and has none.
QStringView headingText(QStringView line)
{
    return line.size() >= 6 ? line.mid(3, line.size() - 6) : QStringView();
}

bool sameDevices(const DeviceWatcher::DeviceMap &a, const DeviceWatcher::DeviceMap &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](const auto &x, const auto &y) { return x.first == y.first; });
}

// Entry names of the devices folder without hidden ones, sorted; nothing when
// the folder cannot be listed.
std::optional<QStringList> folderContents(const QString &path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(path.toStdString(), error);
    if (error)
        return std::nullopt;
    QStringList names;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            return std::nullopt;
        const QString name = QString::fromStdString(it->path().filename().string());
        if (!name.startsWith('.'))
            names.append(name);
    }
    if (error)
        return std::nullopt;
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

DeviceWatcher::DeviceWatcher(const std::shared_ptr<Toolset> &toolset)
    : m_toolset(toolset), m_identifier(QUuid::createUuid()),
      m_all(std::make_shared<const DeviceMap>())
{
}

std::shared_ptr<DeviceWatcher> DeviceWatcher::make(const std::shared_ptr<Toolset> &toolset)
{
    std::shared_ptr<DeviceWatcher> watcher(new DeviceWatcher(toolset));
    // Watching before the first listing, so that a device made while it runs
    // is listed again; a relisting waits for the first to end.
    std::unique_lock relisting(watcher->m_relistingMutex);
    watcher->m_deviceChangeWatcher = DirectoryMonitor::make(Device::devicesFolder());
    watcher->m_deviceChangeWatcher->setDelegate(watcher);
    watcher->m_deviceChangeWatcher->startMonitoring();
    // A change heard during the listing lists again only when the folder's
    // entries differ from those before it.
    const auto contents = folderContents(Device::devicesFolder());
    const auto devices = listDevices(toolset, {});
    {
        std::lock_guard lock(watcher->m_mutex);
        watcher->m_all = std::make_shared<const DeviceMap>(devices.value_or(DeviceMap()));
        if (devices)
            watcher->m_lastContents = contents;
    }
    relisting.unlock();
    if (!devices && toolset)
        watcher->scheduleRetry();
    return watcher;
}

DeviceWatcher::~DeviceWatcher()
{
    if (m_deviceChangeWatcher)
        m_deviceChangeWatcher->stop();
}

std::shared_ptr<const DeviceWatcher::DeviceMap> DeviceWatcher::all() const
{
    std::lock_guard lock(m_mutex);
    return m_all;
}

QString DeviceWatcher::debounceKey() const
{
    return "DeviceListMonitor" + uuidString(m_identifier);
}

Device::Status DeviceWatcher::parseDeviceStatus(const QString &line)
{
    const auto match = Device::deviceLineExpression().match(line);
    return match ? Device::statusFromStateText(match->state) : Device::Status();
}

DeviceWatcher::DeviceMap DeviceWatcher::parseDeviceList(const std::shared_ptr<Toolset> &toolset,
                                                        const DeviceMap &reuse)
{
    return listDevices(toolset, reuse).value_or(DeviceMap());
}

std::optional<DeviceWatcher::DeviceMap>
DeviceWatcher::listDevices(const std::shared_ptr<Toolset> &toolset, const DeviceMap &reuse)
{
    if (!toolset)
        return std::nullopt;
    std::optional<QString> output;
    try {
        output = toolset->run({"list"});
    } catch (...) {
        // The runner has logged it.
        return std::nullopt;
    }
    if (!output)
        return std::nullopt;
    if (!toolset->supports(Toolset::Command::deviceListing))
        return DeviceMap();
    return parseDeviceListText(*output, toolset, reuse);
}

DeviceWatcher::DeviceMap DeviceWatcher::parseDeviceListText(const QString &text,
                                                            const std::shared_ptr<Toolset> &toolset,
                                                            const DeviceMap &reuse)
{
    const auto &expression = Device::deviceLineExpression();
    DeviceMap result;
    std::optional<QString> section;
    std::optional<Runtime> runtime;
    std::optional<QUuid> pendingWatch;
    // Pairs are gathered afresh and set at the end, so that a device kept
    // from an earlier listing holds this listing's partners only.
    std::map<QUuid, std::vector<QUuid>, UuidLess> pairs;

    const auto handleLine = [&](QStringView line) {
        line = line.trimmed();
        if (line.startsWith(QLatin1String("== ")) && line.endsWith(QLatin1String(" =="))) {
            section = headingText(line).toString();
            runtime.reset();
            return;
        }
        if (line.startsWith(QLatin1String("-- ")) && line.endsWith(QLatin1String(" --"))) {
            runtime = Runtime::fromString(headingText(line).toString());
            return;
        }
        if (!section)
            return;

        if (*section == QLatin1String("Devices")) {
            if (!runtime)
                return;
            const auto match = expression.match(line);
            if (!match)
                return;
            const auto uuid = parseUuid(match->udid);
            if (!uuid)
                return;
            if (const auto reused = reuse.find(*uuid); reused != reuse.end()) {
                const DevicePtr &device = reused->second;
                device->setTitle(match->name.toString());
                device->setStatus(Device::statusFromStateText(match->state));
                result[*uuid] = device;
                return;
            }
            if (auto device = Device::initFromListLine(line.toString(), *runtime, toolset))
                result[device->uuid()] = std::move(device);
            return;
        }

        if (*section == QLatin1String("Device Pairs")) {
            const auto match = expression.match(line);
            if (!match)
                return;
            const auto uuid = parseUuid(match->udid);
            if (!uuid)
                return;
            const bool listed = result.count(*uuid) > 0;
            if (!pendingWatch) {
                if (listed && line.startsWith(QLatin1String("Watch: ")))
                    pendingWatch = *uuid;
                return;
            }
            if (listed) {
                pairs[*pendingWatch].push_back(*uuid);
                pairs[*uuid].push_back(*pendingWatch);
            }
            pendingWatch.reset();
        }
    };

    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isNewline(text[i])) {
            handleLine(QStringView(text).mid(start, i - start));
            start = i + 1;
        }
    }
    handleLine(QStringView(text).mid(start));

    for (const auto &[uuid, device] : result) {
        const auto found = pairs.find(uuid);
        device->setPairedTo(found == pairs.end() ? std::vector<QUuid>() : found->second);
    }
    return result;
}

void DeviceWatcher::directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &)
{
    scheduleRelisting(1.0);
}

void DeviceWatcher::scheduleRelisting(double seconds)
{
    const std::weak_ptr<DeviceWatcher> weak = sharedAs<DeviceWatcher>();
    debounce(DispatchQueue::background(), seconds, debounceKey(), [weak] {
        if (const auto self = weak.lock())
            self->deviceListMightHaveChanged();
    });
}

// A failed listing is tried again after a pause that doubles up to a minute,
// unless a change of the folder comes first.
void DeviceWatcher::scheduleRetry()
{
    double delay;
    {
        std::lock_guard lock(m_mutex);
        delay = m_retryDelay;
        m_retryDelay = std::min(m_retryDelay * 2, kLongestRetryDelay);
    }
    scheduleRelisting(delay);
}

void DeviceWatcher::deviceListMightHaveChanged()
{
    const auto toolset = m_toolset.lock();
    if (!toolset)
        return;
    std::lock_guard relisting(m_relistingMutex);
    Log::device().debug("Device list might have changed, checking directory contents");

    const auto contents = folderContents(Device::devicesFolder());
    if (!contents)
        return;
    std::shared_ptr<const DeviceMap> current;
    {
        std::lock_guard lock(m_mutex);
        if (contents == m_lastContents)
            return;
        current = m_all;
    }

    // A failed listing (simctl erring, stalling or gone) says nothing about
    // the devices: the last good list stays, and the folder is not taken as
    // seen, so that the next change or the retry lists again.
    auto devices = listDevices(toolset, *current);
    if (!devices) {
        {
            std::lock_guard lock(m_mutex);
            m_lastContents.reset();
        }
        scheduleRetry();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_lastContents = *contents;
        m_retryDelay = kFirstRetryDelay;
    }
    if (sameDevices(*devices, *current))
        return;
    updateDeviceList(std::move(*devices));
}

void DeviceWatcher::updateDeviceList(DeviceMap devices)
{
    {
        std::lock_guard lock(m_mutex);
        if (sameDevices(devices, *m_all))
            return;
        m_all = std::make_shared<const DeviceMap>(std::move(devices));
    }
    Log::device().debug("Device list changed");
    const std::weak_ptr<Object> weak = weak_from_this();
    DispatchQueue::main()->async([weak] {
        if (const auto self = weak.lock())
            postNotification(Notifications::deviceListDidChange, self, QVariantMap());
    });
}

void DeviceWatcher::installAsToolsetWatcherFactory()
{
    ToolsetManager::setDeviceWatcherFactory(
        [](const std::shared_ptr<Toolset> &toolset) -> std::shared_ptr<DeviceWatching> {
            return DeviceWatcher::make(toolset);
        });
}

} // namespace corvane
