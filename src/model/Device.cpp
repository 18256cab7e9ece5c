#include "model/Device.h"

#include "core/StringCompare.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <array>
#include <initializer_list>

namespace corvane {

namespace {

struct ContentSizeInfo {
    const char *text;
    const char *menuTitle;
};

constexpr std::array<ContentSizeInfo, 12> kContentSizes{{
    {"extra-small", "Extra Small"},
    {"small", "Small"},
    {"medium", "Medium (Default)"},
    {"large", "Large"},
    {"extra-large", "Extra Large"},
    {"extra-extra-large", "Extra Extra Large"},
    {"extra-extra-extra-large", "Extra Extra Extra Large"},
    {"accessibility-medium", "Accessibility Medium"},
    {"accessibility-large", "Accessibility Large"},
    {"accessibility-extra-large", "Accessibility Extra Large"},
    {"accessibility-extra-extra-large", "Accessibility Extra Extra Large"},
    {"accessibility-extra-extra-extra-large", "Accessibility Extra Extra Extra Large"},
}};

bool containsAny(const QString &text, std::initializer_list<const char *> needles)
{
    return std::any_of(needles.begin(), needles.end(),
                       [&](const char *needle) { return text.contains(QLatin1String(needle)); });
}

QString readDeviceType(const QString &plistPath)
{
    const auto dictionary = PropertyList::readDictionary(plistPath);
    if (dictionary) {
        const QVariant type = dictionary->value("deviceType");
        if (type.typeId() == QMetaType::QString)
            return type.toString();
    }
    return QStringLiteral("unknown");
}

} // namespace

const std::vector<Device::Category> &Device::allCategories()
{
    static const std::vector<Category> all{Category::iPhone, Category::iPad,   Category::Watch,
                                           Category::TV,     Category::Vision, Category::Unknown};
    return all;
}

QString Device::rawValue(Category category)
{
    switch (category) {
    case Category::iPhone: return QStringLiteral("iPhone");
    case Category::iPad: return QStringLiteral("iPad");
    case Category::Watch: return QStringLiteral("Watch");
    case Category::TV: return QStringLiteral("TV");
    case Category::Vision: return QStringLiteral("Vision");
    case Category::Unknown: return QStringLiteral("Unknown");
    }
    return {};
}

std::optional<Device::Category> Device::categoryFromRawValue(const QString &rawValue)
{
    for (Category category : allCategories())
        if (Device::rawValue(category) == rawValue)
            return category;
    return std::nullopt;
}

const std::vector<Device::Appearance> &Device::allAppearances()
{
    static const std::vector<Appearance> all{Appearance::light, Appearance::dark};
    return all;
}

int Device::rawValue(Appearance appearance)
{
    return static_cast<int>(appearance);
}

std::optional<Device::Appearance> Device::appearanceFromRawValue(int rawValue)
{
    if (rawValue < 0 || rawValue > 1)
        return std::nullopt;
    return static_cast<Appearance>(rawValue);
}

const std::vector<Device::ContentSize> &Device::allContentSizes()
{
    static const std::vector<ContentSize> all = [] {
        std::vector<ContentSize> result;
        for (int i = 0; i < int(kContentSizes.size()); ++i)
            result.push_back(static_cast<ContentSize>(i));
        return result;
    }();
    return all;
}

int Device::rawValue(ContentSize size)
{
    return static_cast<int>(size);
}

std::optional<Device::ContentSize> Device::contentSizeFromRawValue(int rawValue)
{
    if (rawValue < 0 || rawValue >= int(kContentSizes.size()))
        return std::nullopt;
    return static_cast<ContentSize>(rawValue);
}

QString Device::text(ContentSize size)
{
    return QString::fromLatin1(kContentSizes[std::size_t(size)].text);
}

QString Device::menuTitle(ContentSize size)
{
    return QString::fromLatin1(kContentSizes[std::size_t(size)].menuTitle);
}

namespace {

constexpr qsizetype kUdidLength = 36;

bool isUdid(QStringView text)
{
    if (text.size() != kUdidLength)
        return false;
    for (qsizetype i = 0; i < kUdidLength; ++i) {
        const char16_t c = text[i].unicode();
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != u'-' : !((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

quint64 nextObjectNumber()
{
    static std::atomic<quint64> next{0};
    return ++next;
}

} // namespace

// Candidates ("(" UDID ")") lie at least 38 characters apart, and each one's
// look past its UDID stops at the next ")", so the pass stays linear.
std::optional<Device::DeviceLineMatch> Device::DeviceLineExpression::match(QStringView line) const
{
    std::optional<DeviceLineMatch> found;
    const qsizetype size = line.size();
    for (qsizetype open = 1; open + kUdidLength + 1 < size; ++open) {
        if (line[open] != u'(' || !line[open - 1].isSpace())
            continue;
        const qsizetype close = open + kUdidLength + 1;
        if (line[close] != u')' || !isUdid(line.mid(open + 1, kUdidLength)))
            continue;
        qsizetype position = close + 1;
        while (position < size && line[position].isSpace())
            ++position;
        if (position == close + 1 || position >= size || line[position] != u'(')
            continue;
        const qsizetype stateStart = position + 1;
        qsizetype stateEnd = stateStart;
        while (stateEnd < size && line[stateEnd] != u')')
            ++stateEnd;
        if (stateEnd >= size || stateEnd == stateStart)
            continue;
        found = DeviceLineMatch{line.left(open - 1), line.mid(open + 1, kUdidLength),
                                line.mid(stateStart, stateEnd - stateStart)};
    }
    return found;
}

const Device::DeviceLineExpression &Device::deviceLineExpression()
{
    static const DeviceLineExpression expression;
    return expression;
}

Device::Status Device::statusFromStateText(QStringView state)
{
    Status status;
    if (state.contains(QLatin1String("Shutdown")))
        status = status | Status::shutdown;
    if (state.contains(QLatin1String("Booted")))
        status = status | Status::booted;
    return status;
}

QString Device::devicesFolder()
{
    return SystemPaths::current().coreSimulatorDevices();
}

Device::Device(QUuid uuid, QString title, Status status, Runtime runtime,
               std::weak_ptr<Toolset> toolset)
    : m_uuid(uuid), m_udid(uuidString(uuid)), m_objectNumber(nextObjectNumber()),
      m_runtime(std::move(runtime)), m_toolset(std::move(toolset)), m_title(std::move(title)),
      m_status(status)
{
}

std::shared_ptr<Device> Device::initFromListLine(const QString &line, const Runtime &runtime,
                                                 const std::shared_ptr<Toolset> &toolset)
{
    const auto match = deviceLineExpression().match(line);
    if (!match)
        return nullptr;
    const auto uuid = parseUuid(match->udid);
    if (!uuid)
        return nullptr;

    std::shared_ptr<Device> device(new Device(*uuid, match->name.toString(),
                                              statusFromStateText(match->state), runtime, toolset));
    const QString folder = devicesFolder() + '/' + device->m_udid;
    device->m_url = QUrl::fromLocalFile(folder);
    device->m_applicationDirectory =
        QUrl::fromLocalFile(folder + "/data/Containers/Bundle/Application/");
    device->m_deviceIdentifier = readDeviceType(folder + "/device.plist");
    device->m_category = Category::Unknown;
    for (Category category : allCategories()) {
        if (device->m_deviceIdentifier.contains(rawValue(category))) {
            device->m_category = category;
            break;
        }
    }
    device->startApplicationWatching();
    return device;
}

QString Device::title() const
{
    std::lock_guard lock(m_mutex);
    return m_title;
}

void Device::setTitle(const QString &title)
{
    std::lock_guard lock(m_mutex);
    m_title = title;
}

Device::Status Device::status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

void Device::setStatus(Status status)
{
    std::lock_guard lock(m_mutex);
    m_status = status;
}

std::vector<QUuid> Device::pairedTo() const
{
    std::lock_guard lock(m_mutex);
    return m_pairedTo;
}

void Device::setPairedTo(std::vector<QUuid> pairedTo)
{
    std::lock_guard lock(m_mutex);
    m_pairedTo = std::move(pairedTo);
}

QString Device::description() const
{
    return title() + " - " + m_runtime.version();
}

QString Device::image() const
{
    return ":/images/" + imageName(m_category, m_deviceIdentifier) + ".svg";
}

QString Device::imageName(Category category, const QString &deviceIdentifier)
{
    switch (category) {
    case Category::iPhone:
        if (containsAny(deviceIdentifier, {"-8", "-7", "-6", "-SE"}))
            return QStringLiteral("iPhoneButton");
        if (containsAny(deviceIdentifier, {"-14-Pro", "-15-Pro", "-16", "-17", "-18", "-19"}))
            return QStringLiteral("iPhonePill");
        return QStringLiteral("iPhoneX");
    case Category::iPad:
        if (containsAny(deviceIdentifier, {"Air", "mini", "Retina", "9-7-inch", ".iPad-Pro)",
                                           "12-9-inch---2nd-generation", "iPad-2)", "iPad--"}))
            return QStringLiteral("iPadButton");
        return QStringLiteral("iPadX");
    case Category::Watch:
        return deviceIdentifier.contains(QLatin1String("Ultra")) ? QStringLiteral("WatchUltra")
                                                                 : QStringLiteral("iWatch");
    case Category::TV: return QStringLiteral("TV");
    case Category::Vision: return QStringLiteral("visionPro");
    case Category::Unknown: return QStringLiteral("iPadX");
    }
    return QStringLiteral("iPadX");
}

bool Device::comesBefore(const Device &a, const Device &b)
{
    return runtimeOrTitleBefore(a.m_runtime, a.title(), b.m_runtime, b.title());
}

void Device::sort(std::vector<std::shared_ptr<Device>> &devices)
{
    // Titles are read once: a listing may rename a device while we sort, and
    // a comparator that changes its mind mid-sort breaks the sort.
    struct Keyed {
        std::shared_ptr<Device> device;
        QString title;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(devices.size());
    for (auto &device : devices) {
        QString title = device->title();
        keyed.push_back({std::move(device), std::move(title)});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        return runtimeOrTitleBefore(a.device->m_runtime, a.title, b.device->m_runtime, b.title);
    });
    devices.clear();
    for (auto &entry : keyed)
        devices.push_back(std::move(entry.device));
}

bool Device::runtimeOrTitleBefore(const Runtime &ra, const QString &ta, const Runtime &rb,
                                  const QString &tb)
{
    if (ra.system() != rb.system())
        return static_cast<int>(ra.system()) < static_cast<int>(rb.system());
    // Version texts that differ but compare the same ("17.01", "17.1") go on
    // to the title, so that the order stays a strict weak one.
    switch (standardCompare(ra.version(), rb.version())) {
    case ComparisonResult::Descending: return true;
    case ComparisonResult::Ascending: return false;
    case ComparisonResult::Same: break;
    }
    return standardCompare(ta, tb) == ComparisonResult::Ascending;
}

} // namespace corvane
