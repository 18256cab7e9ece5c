#pragma once

#include "core/Observer.h"
#include "model/StatusBarPreset.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// All status-bar presets, kept in "StatusBarPresets.json" in the program's
// folder. The file is read once; every replacement of the list and every
// change of a listed preset writes it again, one save after another, and then
// posts didChange on the main queue.
class StatusBarPresetRepository : public Object {
public:
    static constexpr const char *didChange = "com.quendrith.corvane.statusbarpresets.didChange";
    static constexpr const char *fileName = "StatusBarPresets.json";

    static std::shared_ptr<StatusBarPresetRepository> shared();
    // Tests: the next shared() reads the file under SystemPaths::current().
    static void resetShared();

    // Seeds the file when it is missing, then loads it.
    static std::shared_ptr<StatusBarPresetRepository> make(const QString &filePath);

    static QString defaultFilePath();
    static StatusBarPresetPtr seedPreset();

    ~StatusBarPresetRepository() override;

    QString filePath() const { return m_filePath; }

    // In the order of the file.
    std::vector<StatusBarPresetPtr> presets() const;
    void setPresets(std::vector<StatusBarPresetPtr> presets);

    // The first preset whose identifier matches, ignoring case.
    StatusBarPresetPtr presetWithIdentifier(const QString &identifier) const;

private:
    explicit StatusBarPresetRepository(QString filePath);
    void presetDidChange(const StatusBarPresetPtr &preset);
    void scheduleSave();
    void save();

    const QString m_filePath;
    const DispatchQueuePtr m_saveQueue;
    ObserverCollection m_observers;

    mutable std::mutex m_mutex;
    std::vector<StatusBarPresetPtr> m_presets;
    // The file holds what was not read whole (it could not be read, was no
    // list, or had elements that were left out): it is set aside before the
    // first save, never overwritten. Touched on the save queue only.
    bool m_fileNotReadWhole = false;
};

} // namespace corvane
