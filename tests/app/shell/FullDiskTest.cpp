#include "common/TestSupport.h"
#include "core/JsonStore.h"
#include "location/LastLocationsStore.h"
#include "location/LocationPresetRepository.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/Log.h"
#include "platform/PendingSaves.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "tasks/TaskJournal.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

std::vector<LocationPresetPtr> locationPresets(int count)
{
    std::vector<LocationPresetPtr> presets;
    for (int i = 0; i < count; ++i) {
        presets.push_back(LocationPreset::make("Preset " + QString::number(i)));
        presets.back()->setLatitude(10 + i);
    }
    return presets;
}

std::vector<Location> route(int points)
{
    std::vector<Location> locations;
    for (int i = 0; i < points; ++i)
        locations.push_back(Location::coordinateOnly(i * 1e-4, i * 2e-4, 1600000000 + i));
    return locations;
}

TaskJournal::Entry journalEntry()
{
    TaskJournal::Entry entry;
    entry.kind = TaskJournal::Entry::Kind::importArchive;
    entry.taskID = "1F0C5A2E-3B7D-4C11-9E55-0A7B6C3D2E10";
    entry.archive = "/somewhere/Demo.xcappdata";
    return entry;
}

struct Store {
    const char *name;
    // Writes the store's file as it is before the disk fills; its path.
    std::function<QString(const QString &folder)> prepare;
    // Saves something else in it; what the store told its caller, for the
    // stores that answer (the others only log).
    std::function<std::optional<bool>(const QString &path)> save;
};

} // namespace

// However the disk refuses a save, each store's file keeps every byte it
// held, the failure is logged, and a store that answers says it failed.
TEST(FullDisk, EachStoresSaveFailsAndLeavesItsFileAsItWas)
{
    const Store stores[] = {
        {"location presets",
         [](const QString &folder) {
             const QString path = folder + "/LocationPresets.json";
             const auto repository = LocationPresetRepository::make(path);
             repository->setPresets(locationPresets(6));
             repository->waitForSaves();
             return path;
         },
         [](const QString &path) -> std::optional<bool> {
             std::optional<bool> written;
             const auto repository = LocationPresetRepository::make(
                 path, [&](const QString &to, const QByteArray &bytes) {
                     written = writeFileAtomically(to, bytes);
                     return *written;
                 });
             auto presets = repository->presets();
             presets.pop_back();
             repository->setPresets(presets);
             repository->waitForSaves();
             return written;
         }},
        {"last locations",
         [](const QString &folder) {
             const QString path = folder + "/LastLocations.json";
             LastLocationsStore(path).save(route(2000));
             return path;
         },
         [](const QString &path) -> std::optional<bool> {
             return LastLocationsStore(path).save(route(5000));
         }},
        {"status-bar presets",
         [](const QString &folder) {
             const QString path = folder + "/StatusBarPresets.json";
             StatusBarPresetRepository::make(path);
             return path;
         },
         [](const QString &path) -> std::optional<bool> {
             const auto repository = StatusBarPresetRepository::make(path);
             auto presets = repository->presets();
             presets.push_back(StatusBarPreset::make("Another"));
             repository->setPresets(presets);
             EXPECT_TRUE(PendingSaves::waitUntilDone(std::chrono::steady_clock::now() + 30s));
             return std::nullopt;
         }},
        {"settings",
         [](const QString &folder) {
             const QString path = folder + "/com.quendrith.corvane.conf";
             const auto defaults = UserDefaults::withFile(path);
             defaults->set("gpsAutoRewind", true);
             defaults->set("screenshotFormat", "png");
             defaults->set("group/key", 12.5);
             return path;
         },
         [](const QString &path) -> std::optional<bool> {
             return UserDefaults::withFile(path)->set("screenshotFormat", "jpeg");
         }},
        {"property list",
         [](const QString &folder) {
             const QString path = folder + "/com.apple.iphonesimulator.plist";
             PropertyList::writeFile(path, QVariantMap{{"ShowSingleTouches", true}}, true);
             return path;
         },
         [](const QString &path) -> std::optional<bool> {
             return PropertyList::writeFile(
                 path, QVariantMap{{"ShowSingleTouches", false}, {"ShowPinches", true}}, true);
         }},
        {"task journal entry",
         [](const QString &folder) {
             auto entry = journalEntry();
             TaskJournal(folder).write(entry);
             return folder + "/tasks/" + entry.taskID + ".json";
         },
         [](const QString &path) -> std::optional<bool> {
             auto entry = journalEntry();
             entry.phase = TaskJournal::Entry::Phase::copying;
             try {
                 // The entries lie in "<state folder>/tasks".
                 TaskJournal(QFileInfo(QFileInfo(path).path()).path()).write(entry);
             } catch (const std::runtime_error &) {
                 return false;
             }
             return true;
         }},
    };
    using Step = AtomicFile::Step;
    const std::pair<const char *, AtomicFile::Fault> faults[] = {
        {"no byte fits", {Step::write, 0, ENOSPC}},
        {"ten bytes fit", {Step::write, 10, ENOSPC}},
        {"sync fails", {Step::sync, 0, EIO}},
        {"rename fails", {Step::rename, 0, EROFS}},
    };
    for (const Store &store : stores) {
        for (const auto &[faultName, fault] : faults) {
            SCOPED_TRACE(std::string(store.name) + ", " + faultName);
            QTemporaryDir dir;
            const QString path = store.prepare(dir.path());
            const QByteArray before = test::readFile(path);
            ASSERT_FALSE(before.isEmpty());
            const QStringList entriesBefore = test::folderEntries(QFileInfo(path).path());

            Log::Capture log;
            std::optional<bool> saved;
            {
                const test::SaveFault full(fault);
                saved = store.save(path);
            }
            EXPECT_NE(saved, std::optional<bool>(true));
            EXPECT_EQ(test::readFile(path), before);
            EXPECT_EQ(test::folderEntries(QFileInfo(path).path()), entriesBefore);
            EXPECT_TRUE(log.contains(path));
        }
    }
    EXPECT_TRUE(test::waitForBackgroundWork());
}
