#include "model/StatusBarPresetRepository.h"

#include "core/JsonStore.h"
#include "platform/files/PendingSaves.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFileInfo>

namespace corvane {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<StatusBarPresetRepository> g_shared;

} // namespace

std::shared_ptr<StatusBarPresetRepository> StatusBarPresetRepository::shared()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared)
        g_shared = make(defaultFilePath());
    return g_shared;
}

void StatusBarPresetRepository::resetShared()
{
    std::shared_ptr<StatusBarPresetRepository> old;
    std::lock_guard lock(g_sharedMutex);
    old = std::exchange(g_shared, nullptr);
}

QString StatusBarPresetRepository::defaultFilePath()
{
    return SystemPaths::current().programSupportDir() + '/' + fileName;
}

StatusBarPresetPtr StatusBarPresetRepository::seedPreset()
{
    auto preset = StatusBarPreset::make("Keynote");
    preset->setTime("9:41 AM");
    preset->setBatteryLevel(100);
    preset->setBatteryState("discharging");
    preset->setCellularMode("notSupported");
    preset->setWifiMode("active");
    preset->setDataNetwork("wifi");
    preset->setWifiBars(3);
    preset->setCellularBars(4);
    preset->setCarrierName("Apple");
    return preset;
}

std::shared_ptr<StatusBarPresetRepository> StatusBarPresetRepository::make(const QString &filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    if (!QFileInfo::exists(filePath))
        writeFileAtomically(filePath, StatusBarPreset::encodeList({seedPreset()}));

    std::shared_ptr<StatusBarPresetRepository> repository(new StatusBarPresetRepository(filePath));
    repository->m_presets = loadJsonStore<StatusBarPresetPtr>(filePath, StatusBarPreset::fromJson,
                                                              repository->m_fileNotReadWhole);

    std::weak_ptr<StatusBarPresetRepository> weak = repository;
    repository->m_observers.append(observeNotification<StatusBarPreset>(
        StatusBarPreset::didChange, nullptr, DispatchQueue::main(),
        [weak](const Notification &, const StatusBarPresetPtr &preset) {
            if (auto self = weak.lock())
                self->presetDidChange(preset);
        }));
    return repository;
}

StatusBarPresetRepository::StatusBarPresetRepository(QString filePath)
    : m_filePath(std::move(filePath)),
      m_saveQueue(DispatchQueue::makeSerial("com.quendrith.corvane.statusbarpresets.save"))
{
}

StatusBarPresetRepository::~StatusBarPresetRepository() = default;

std::vector<StatusBarPresetPtr> StatusBarPresetRepository::presets() const
{
    std::lock_guard lock(m_mutex);
    return m_presets;
}

void StatusBarPresetRepository::setPresets(std::vector<StatusBarPresetPtr> presets)
{
    {
        std::lock_guard lock(m_mutex);
        m_presets = std::move(presets);
    }
    scheduleSave();
}

StatusBarPresetPtr StatusBarPresetRepository::presetWithIdentifier(const QString &identifier) const
{
    const QString wanted = identifier.toLower();
    for (const auto &preset : presets())
        if (preset->uniqueIdentifier().toLower() == wanted)
            return preset;
    return nullptr;
}

void StatusBarPresetRepository::presetDidChange(const StatusBarPresetPtr &preset)
{
    const auto listed = presets();
    const bool contained = std::any_of(listed.begin(), listed.end(),
                                       [&](const auto &each) { return each->isEqual(*preset); });
    if (contained)
        scheduleSave();
}

// Saves run one after another, each writing the list as it is when it runs;
// the work keeps the repository alive so that no change goes unsaved, and
// quitting waits for it.
void StatusBarPresetRepository::scheduleSave()
{
    auto self = sharedAs<StatusBarPresetRepository>();
    m_saveQueue->async([self, pending = PendingSaves::begin()] { self->save(); });
}

void StatusBarPresetRepository::save()
{
    if (setAsideUnreadFile(m_filePath, m_fileNotReadWhole))
        writeFileAtomically(m_filePath, StatusBarPreset::encodeList(presets()));
    auto self = sharedAs<StatusBarPresetRepository>();
    DispatchQueue::main()->async([self] { postNotification(didChange, self, QVariantMap{}); });
}

} // namespace corvane
