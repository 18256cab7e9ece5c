#pragma once

#include "core/Observer.h"
#include "location/LocationPreset.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// All location presets, kept in "LocationPresets.json" in the program's
// folder. The file is read once, element by element; a file not read whole
// is set aside before the first save. Every replacement of the list and every
// change of a listed preset takes a copy of the list on the main thread and
// writes it, one save after another, each replacing the file in one step;
// each save that could encode its list then posts didChange on the main
// queue, also when the write failed.
class LocationPresetRepository : public Object {
public:
    static constexpr const char *didChange = "com.quendrith.corvane.locationpresets.didChange";
    static constexpr const char *fileName = "LocationPresets.json";
    static constexpr const char *seedTitle = "The Mothership";

    // Writes the bytes to the path; false when the file was left as it was.
    using FileWriter = std::function<bool(const QString &path, const QByteArray &bytes)>;

    // Made on first use (on the main thread) from the file under
    // SystemPaths::current().
    static std::shared_ptr<LocationPresetRepository> shared();
    // Tests: the next shared() reads the file afresh.
    static void resetShared();

    // Creates the folder and seeds the file when no file exists, then loads
    // it. Used on the main thread.
    static std::shared_ptr<LocationPresetRepository> make(const QString &filePath,
                                                          FileWriter writer = {});
    static QString defaultFilePath();

    ~LocationPresetRepository() override;

    QString filePath() const { return m_filePath; }

    // In the order of the file.
    std::vector<LocationPresetPtr> presets() const;
    // Main thread.
    void setPresets(std::vector<LocationPresetPtr> presets);

    void waitForSaves();

private:
    LocationPresetRepository(QString filePath, FileWriter writer);
    void presetDidChange(const LocationPresetPtr &preset);
    void scheduleSave();

    const QString m_filePath;
    const FileWriter m_writer;
    const DispatchQueuePtr m_saveQueue;
    ObserverCollection m_observers;

    mutable std::mutex m_mutex;
    std::vector<LocationPresetPtr> m_presets;
    // The file holds what was not read whole: it is set aside before the
    // first save, never written over. Touched on the save queue only.
    bool m_fileNotReadWhole = false;
};

} // namespace corvane
