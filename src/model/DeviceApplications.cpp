#include "model/Device.h"

#include "core/Debounce.h"
#include "core/Glob.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "platform/Log.h"
#include "platform/notifications/NotificationCenter.h"

#include <QDir>

#include <algorithm>

namespace corvane {

namespace {

std::vector<ApplicationPtr> inTitleOrder(const Device::ApplicationTable &table)
{
    std::vector<ApplicationPtr> applications;
    applications.reserve(table.size());
    for (const auto &[identifier, application] : table)
        applications.push_back(application);
    std::stable_sort(applications.begin(), applications.end(),
                     [](const ApplicationPtr &a, const ApplicationPtr &b) { return *a < *b; });
    return applications;
}

bool sameList(const Device::ApplicationTable &a, const Device::ApplicationTable &b)
{
    const auto left = inTitleOrder(a);
    const auto right = inTitleOrder(b);
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](const ApplicationPtr &x, const ApplicationPtr &y) { return *x == *y; });
}

} // namespace

std::vector<ApplicationPtr> Device::applications() const
{
    return inTitleOrder(applicationTable());
}

Device::ApplicationTable Device::applicationTable() const
{
    std::lock_guard lock(m_mutex);
    return m_applications;
}

DirectoryMonitorPtr Device::applicationWatcher() const
{
    return m_applicationWatcher;
}

Device::ApplicationTable Device::loadApplications(const ApplicationTable &reuse)
{
    ApplicationTable result;
    const auto toolset = this->toolset();
    if (!toolset)
        return result;
    const auto self = sharedAs<Device>();
    const QString folder = QDir::cleanPath(m_applicationDirectory.toLocalFile());
    bool changed = false;
    for (const QUrl &bundle : Glob(Glob::escape(folder) + "/*/*.app")) {
        const QVariantMap infoDictionary = Application::findInfoDictionary(bundle);
        const QVariant identifier = infoDictionary.value("CFBundleIdentifier");
        if (identifier.typeId() != QMetaType::QString)
            continue;
        const QString key = identifier.toString();
        if (const auto known = reuse.find(key); known != reuse.end()) {
            if (known->second->url() != bundle) {
                Log::device().debug("Application %@ moved", key);
                changed |= known->second->updateURL(bundle, Application::SimulatorCheck::byCaller);
            }
            result[key] = known->second;
            continue;
        }
        auto application = Application::make(bundle, self, toolset,
                                             Application::SimulatorCheck::byCaller, infoDictionary);
        if (!application)
            continue;
        changed = true;
        result[application->identifier().value_or(key)] = std::move(application);
    }
    // Each new or moved application would ask for the simulator again; one
    // question per scan leaves the monitor in the same state.
    if (changed)
        Application::processListAfterChanges(self);
    return result;
}

void Device::reloadApplications()
{
    std::lock_guard reload(m_reloadMutex);
    const ApplicationTable old = applicationTable();
    ApplicationTable fresh = loadApplications(old);
    {
        std::lock_guard lock(m_mutex);
        m_applications = std::move(fresh);
    }
    applicationsDidChange(old);
}

void Device::applicationsDidChange(const ApplicationTable &old)
{
    if (sameList(old, applicationTable()))
        return;
    ActivityMonitor::shared()->markOutOfDate();
    NotificationCenter::defaultCenter().post(applicationListDidChange, shared_from_this());
    Log::device().debug("Application list changed for %@", description());
}

// Per object, not per UDID: after an Xcode switch two Device objects of one
// UDID can live at once (a menu holds the older), and with a shared key one's
// rescan cancelled the other's.
QString Device::applicationsDebounceKey() const
{
    return "ApplicationChange" + m_udid + '-' + QString::number(m_objectNumber);
}

void Device::directoryMonitorDidObserveChange(const DirectoryMonitorPtr &)
{
    const std::weak_ptr<Device> weak = sharedAs<Device>();
    debounce(DispatchQueue::background(), 1.0, applicationsDebounceKey(), [weak] {
        if (const auto device = weak.lock())
            device->reloadApplications();
    });
}

void Device::startApplicationWatching()
{
    // Watching before the first scan, so that an install during it is found
    // by a rescan; a rescan waits for the first to end.
    std::lock_guard reload(m_reloadMutex);
    m_applicationWatcher =
        DirectoryMonitor::make(QDir::cleanPath(m_applicationDirectory.toLocalFile()));
    m_applicationWatcher->setDelegate(sharedAs<Device>());
    m_applicationWatcher->startMonitoring();
    ApplicationTable first = loadApplications({});
    std::lock_guard lock(m_mutex);
    m_applications = std::move(first);
}

Device::~Device()
{
    if (m_applicationWatcher)
        m_applicationWatcher->stop();
}

} // namespace corvane
