#include "model/Application.h"

#include "core/Glob.h"
#include "core/StringCompare.h"
#include "core/Uuid.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "platform/files/FileCoordinator.h"
#include "platform/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/formats/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>

#include <fcntl.h>
#include <sys/stat.h>

namespace corvane {

namespace {

bool isText(const QVariant &value)
{
    return value.typeId() == QMetaType::QString;
}

QString textOrEmpty(const QVariantMap &dictionary, const QString &key)
{
    const auto it = dictionary.constFind(key);
    return it != dictionary.constEnd() && isText(*it) ? it->toString() : QString();
}

// The bundle's path without the trailing "/" that globbed directories carry.
QString bundlePath(const QUrl &bundle)
{
    return QDir::cleanPath(bundle.toLocalFile());
}

std::optional<QUuid> installationUuid(const QUrl &bundle)
{
    return parseUuid(QFileInfo(bundlePath(bundle)).dir().dirName());
}

QString osIconName(Runtime::System system)
{
    switch (system) {
    case Runtime::System::iOS: return "App Icon - iOS";
    case Runtime::System::tvOS: return "App Icon - tvOS";
    case Runtime::System::watchOS:
    case Runtime::System::visionOS: return "App Icon - watchOS";
    }
    return "App Icon - iOS";
}

QDateTime fromTimestamp(const statx_timestamp &time)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000,
                                          Qt::UTC);
}

} // namespace

const std::vector<Application::ExecutableType> &Application::allExecutableTypes()
{
    static const std::vector<ExecutableType> all{ExecutableType::app, ExecutableType::clip};
    return all;
}

QString Application::rawValue(ExecutableType type)
{
    return type == ExecutableType::clip ? "clip" : "app";
}

std::optional<Application::ExecutableType>
Application::executableTypeFromRawValue(const QString &rawValue)
{
    if (rawValue == "app")
        return ExecutableType::app;
    if (rawValue == "clip")
        return ExecutableType::clip;
    return std::nullopt;
}

FileCoordinator &Application::fileCoordinator()
{
    return FileCoordinator::shared(FileCoordinators::application);
}

QVariantMap Application::findInfoDictionary(const QUrl &bundle)
{
    for (const QUrl &candidate : Glob(Glob::escape(bundlePath(bundle)) + "/*.plist")) {
        const auto dictionary = PropertyList::readDictionary(candidate.toLocalFile());
        if (dictionary && dictionary->contains("CFBundleIdentifier"))
            return *dictionary;
    }
    return {};
}

QDateTime Application::creationDate(const QUrl &bundle)
{
    const QByteArray path = QFile::encodeName(bundlePath(bundle));
    struct statx info {};
    if (::statx(AT_FDCWD, path.constData(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return QDateTime::currentDateTimeUtc();
    // Linux file systems without a birth time give the modification time, the
    // nearest date they keep.
    if (info.stx_mask & STATX_BTIME)
        return fromTimestamp(info.stx_btime);
    if (info.stx_mask & STATX_MTIME)
        return fromTimestamp(info.stx_mtime);
    return QDateTime::currentDateTimeUtc();
}

void Application::processListAfterChanges(const std::shared_ptr<Device> &device)
{
    // The last snapshot answers: a scan (the first device listing among
    // them) never waits for ps just to decide whether to mark it.
    const auto monitor = ActivityMonitor::shared();
    if (!device || !monitor->snapshot()->simulatorProcess(device->uuid()))
        monitor->markOutOfDate();
}

std::shared_ptr<Application> Application::make(const QUrl &url,
                                               const std::shared_ptr<Device> &device,
                                               const std::shared_ptr<Toolset> &toolset,
                                               SimulatorCheck check,
                                               std::optional<QVariantMap> found)
{
    if (!device)
        return nullptr;
    const auto uuid = installationUuid(url);
    if (!uuid)
        return nullptr;
    const QVariantMap infoDictionary = found ? std::move(*found) : findInfoDictionary(url);
    if (infoDictionary.isEmpty())
        return nullptr;
    const QVariant identifier = infoDictionary.value("CFBundleIdentifier");
    if (!isText(identifier) || identifier.toString().isEmpty())
        return nullptr;

    std::shared_ptr<Application> application(new Application);
    application->m_created = creationDate(url);
    application->m_toolset = toolset;
    application->m_device = device;
    application->m_uuid = *uuid;
    application->m_url = url;
    application->m_executableType =
        infoDictionary.contains("NSAppClip") ? ExecutableType::clip : ExecutableType::app;
    application->m_osIcon = osIconName(device->runtime().system());
    application->applyInfoDictionary(infoDictionary);

    if (check == SimulatorCheck::each)
        processListAfterChanges(device);
    return application;
}

QUuid Application::uuid() const
{
    std::lock_guard lock(m_mutex);
    return m_uuid;
}

QUrl Application::url() const
{
    std::lock_guard lock(m_mutex);
    return m_url;
}

QDateTime Application::created() const
{
    std::lock_guard lock(m_mutex);
    return m_created;
}

std::optional<QString> Application::identifier() const
{
    std::lock_guard lock(m_mutex);
    return m_identifier;
}

QVariantMap Application::infoDictionary() const
{
    std::lock_guard lock(m_mutex);
    return m_infoDictionary;
}

QStringList Application::schemes() const
{
    std::lock_guard lock(m_mutex);
    return m_schemes;
}

void Application::applyInfoDictionary(const QVariantMap &infoDictionary)
{
    if (infoDictionary.isEmpty())
        return;
    const QVariant identifier = infoDictionary.value("CFBundleIdentifier");
    if (!isText(identifier))
        return;
    QUrl url;
    {
        std::lock_guard lock(m_mutex);
        m_identifier = identifier.toString();
        m_infoDictionary = infoDictionary;
        url = m_url;
    }

    QString title = QFileInfo(bundlePath(url)).fileName();
    for (const char *key : {"CFBundleDisplayName", "CFBundleName"}) {
        const QVariant value = infoDictionary.value(key);
        if (isText(value)) {
            title = value.toString();
            break;
        }
    }
    setTitle(title);
    setMinimumOS(textOrEmpty(infoDictionary, "MinimumOSVersion"));
    setExecutable(textOrEmpty(infoDictionary, "CFBundleExecutable"));
    setVersion(textOrEmpty(infoDictionary, "CFBundleShortVersionString"));
    setBuild(textOrEmpty(infoDictionary, "CFBundleVersion"));
    loadIcons();
    loadSchemes();
}

void Application::loadSchemes()
{
    std::lock_guard lock(m_mutex);
    m_schemes.clear();
    const QVariant types = m_infoDictionary.value("CFBundleURLTypes");
    if (types.typeId() != QMetaType::QVariantList)
        return;
    const QVariantList entries = types.toList();
    // Any entry of another shape makes the whole list unreadable.
    for (const QVariant &entry : entries) {
        if (entry.typeId() != QMetaType::QVariantMap)
            return;
    }
    for (const QVariant &entry : entries) {
        const QVariant schemes = entry.toMap().value("CFBundleURLSchemes");
        if (schemes.typeId() != QMetaType::QVariantList)
            continue;
        QStringList texts;
        bool allText = true;
        for (const QVariant &scheme : schemes.toList()) {
            if (!isText(scheme)) {
                allText = false;
                break;
            }
            texts << scheme.toString();
        }
        if (allText)
            m_schemes << texts;
    }
}

bool Application::updateURL(const QUrl &newUrl, SimulatorCheck check)
{
    const auto newUuid = installationUuid(newUrl);
    if (!newUuid)
        return false;
    const QUrl oldUrl = url();
    const QString oldPath = bundlePath(oldUrl);
    const QString newPath = bundlePath(newUrl);
    bool moved = false;
    try {
        fileCoordinator().coordinateReading(oldUrl, 0, [&](const QUrl &) {
            Log::toolset().debug("Moved from URL %{PUBLIC}@ to %{PUBLIC}@", oldPath, newPath);
            const QVariantMap infoDictionary = findInfoDictionary(newUrl);
            if (infoDictionary.isEmpty())
                return;
            const QDateTime created = creationDate(newUrl);
            {
                std::lock_guard lock(m_mutex);
                m_created = created;
                m_uuid = *newUuid;
                m_url = newUrl;
                m_appIcon.reset();
            }
            applyInfoDictionary(infoDictionary);
            {
                std::lock_guard lock(m_mutex);
                m_dataContainer.reset();
                m_groupContainers.reset();
            }
            moved = true;
        });
    } catch (const FileCoordinationError &) {
        Log::toolset().error(
            "Error getting file read lock when changing from URL %{PUBLIC}@ to %{PUBLIC}@", oldPath,
            newPath);
        return false;
    }
    if (!moved)
        return false;
    NotificationCenter::defaultCenter().post(applicationDidUpdate, shared_from_this());
    if (check == SimulatorCheck::each)
        processListAfterChanges(device());
    return true;
}

std::shared_ptr<Container> Application::cachedDataContainer() const
{
    std::lock_guard lock(m_mutex);
    return m_dataContainer;
}

void Application::setCachedDataContainer(std::shared_ptr<Container> container)
{
    std::lock_guard lock(m_mutex);
    m_dataContainer = std::move(container);
}

std::optional<std::vector<std::shared_ptr<Container>>> Application::cachedGroupContainers() const
{
    std::lock_guard lock(m_mutex);
    return m_groupContainers;
}

void Application::setCachedGroupContainers(
    std::optional<std::vector<std::shared_ptr<Container>>> containers)
{
    std::lock_guard lock(m_mutex);
    m_groupContainers = std::move(containers);
}

QString Application::description() const
{
    QStringList parts{title(), "v" + version(), "(" + build() + ")"};
    if (const auto device = this->device())
        parts << "- " + device->title() + " - " + device->runtime().version();
    return parts.join(' ');
}

bool Application::isEqual(const std::shared_ptr<Object> &other) const
{
    const auto application = std::dynamic_pointer_cast<Application>(other);
    return application && *this == *application;
}

std::size_t Application::hash() const
{
    const auto identifier = this->identifier();
    const auto device = this->device();
    return qHashMulti(0, identifier.has_value(), identifier.value_or(QString()), bool(device),
                      device ? device->uuid() : QUuid());
}

bool operator==(const Application &a, const Application &b)
{
    if (&a == &b)
        return true;
    if (a.identifier() != b.identifier())
        return false;
    const auto deviceA = a.device();
    const auto deviceB = b.device();
    if (!deviceA || !deviceB)
        return !deviceA && !deviceB;
    return deviceA->uuid() == deviceB->uuid();
}

bool operator<(const Application &a, const Application &b)
{
    return standardLess(a.title(), b.title());
}

size_t qHash(const Application &application, size_t seed)
{
    return qHashMulti(seed, application.hash());
}

} // namespace corvane
