#include "location/LocationPresetRepository.h"

#include "core/JsonStore.h"
#include "platform/files/PendingSaves.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace corvane {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<LocationPresetRepository> g_shared;

} // namespace

std::shared_ptr<LocationPresetRepository> LocationPresetRepository::shared()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared)
        g_shared = make(defaultFilePath());
    return g_shared;
}

void LocationPresetRepository::resetShared()
{
    std::shared_ptr<LocationPresetRepository> old;
    {
        std::lock_guard lock(g_sharedMutex);
        old = std::exchange(g_shared, nullptr);
    }
    if (old)
        old->waitForSaves();
}

QString LocationPresetRepository::defaultFilePath()
{
    return SystemPaths::current().programSupportDir() + '/' + fileName;
}

std::shared_ptr<LocationPresetRepository> LocationPresetRepository::make(const QString &filePath,
                                                                         FileWriter writer)
{
    if (!writer)
        writer = writeFileAtomically;
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    // Seeded only when nothing is there: an empty list the user left stays
    // empty, and a file that does not decode is set aside at the first save.
    if (!QFileInfo::exists(filePath)) {
        if (auto seed = LocationPreset::encodeList({LocationPreset::make(seedTitle)->values()}))
            writer(filePath, *seed);
    }

    std::shared_ptr<LocationPresetRepository> repository(
        new LocationPresetRepository(filePath, std::move(writer)));
    repository->m_presets = loadJsonStore<LocationPresetPtr>(filePath, LocationPreset::fromJson,
                                                             repository->m_fileNotReadWhole);

    std::weak_ptr<LocationPresetRepository> weak = repository;
    repository->m_observers.append(observeNotification<LocationPreset>(
        LocationPreset::didChange, nullptr, DispatchQueue::main(),
        [weak](const Notification &, const LocationPresetPtr &preset) {
            if (auto self = weak.lock())
                self->presetDidChange(preset);
        }));
    return repository;
}

LocationPresetRepository::LocationPresetRepository(QString filePath, FileWriter writer)
    : m_filePath(std::move(filePath)), m_writer(std::move(writer)),
      m_saveQueue(DispatchQueue::makeSerial("com.quendrith.corvane.locationpresets.save"))
{
}

LocationPresetRepository::~LocationPresetRepository() = default;

std::vector<LocationPresetPtr> LocationPresetRepository::presets() const
{
    std::lock_guard lock(m_mutex);
    return m_presets;
}

void LocationPresetRepository::setPresets(std::vector<LocationPresetPtr> presets)
{
    {
        std::lock_guard lock(m_mutex);
        m_presets = std::move(presets);
    }
    scheduleSave();
}

void LocationPresetRepository::presetDidChange(const LocationPresetPtr &preset)
{
    const auto listed = presets();
    const bool contained = std::any_of(listed.begin(), listed.end(),
                                       [&](const auto &each) { return each->isEqual(*preset); });
    if (contained)
        scheduleSave();
}

// The copy is taken now, on the main thread, and the saves run in the order
// they were scheduled, so the file always ends with the newest list. The work
// keeps the repository alive so that no change goes unsaved, and quitting
// waits for it.
void LocationPresetRepository::scheduleSave()
{
    std::vector<LocationPreset::Values> snapshot;
    for (const auto &preset : presets())
        snapshot.push_back(preset->values());
    auto self = sharedAs<LocationPresetRepository>();
    m_saveQueue->async([self, snapshot = std::move(snapshot), pending = PendingSaves::begin()] {
        const std::optional<QByteArray> bytes = LocationPreset::encodeList(snapshot);
        if (!bytes)
            return;
        if (setAsideUnreadFile(self->m_filePath, self->m_fileNotReadWhole))
            self->m_writer(self->m_filePath, *bytes);
        DispatchQueue::main()->async([self] { postNotification(didChange, self, QVariantMap{}); });
    });
}

void LocationPresetRepository::waitForSaves()
{
    m_saveQueue->sync([] {});
}

} // namespace corvane
