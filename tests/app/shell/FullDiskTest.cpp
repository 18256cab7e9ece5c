#include "common/TestSupport.h"
#include "location/LastLocationsStore.h"
#include "location/LocationPresetRepository.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/Log.h"
#include "platform/files/PendingSaves.h"
#include "platform/formats/PropertyList.h"
#include "platform/defaults/UserDefaults.h"
#include "tasks/TaskJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace corvane;
using namespace std::chrono_literals;

// However the disk refuses a save, each store's file keeps every byte it
// held, the failure is logged, and a store that answers says it failed.
TEST(FullDisk, EachStoresSaveFailsAndLeavesItsFileAsItWas)
{
    const struct {
        const char *name;
        const char *file; // in the state folder
        // Saves the store's first contents in the file, or (`again`) others;
        // what the store told its caller, for the stores that answer (the
        // others only log).
        std::function<std::optional<bool>(const QString &path, bool again)> save;
    } stores[] = {
        {"location presets", "LocationPresets.json",
         [](const QString &path, bool again) -> std::optional<bool> {
             const auto repository = LocationPresetRepository::make(path);
             std::vector<LocationPresetPtr> presets;
             for (int i = again ? 1 : 0; i < 6; ++i)
                 presets.push_back(LocationPreset::make("Preset " + QString::number(i)));
             repository->setPresets(presets);
             repository->waitForSaves();
             return std::nullopt;
         }},
        {"last locations", "LastLocations.json",
         [](const QString &path, bool again) -> std::optional<bool> {
             std::vector<Location> route;
             for (int i = 0; i < (again ? 5000 : 2000); ++i)
                 route.push_back(Location::coordinateOnly(i * 1e-4, i * 2e-4, 1600000000 + i));
             return LastLocationsStore(path).save(route);
         }},
        {"status-bar presets", "StatusBarPresets.json",
         [](const QString &path, bool again) -> std::optional<bool> {
             const auto repository = StatusBarPresetRepository::make(path); // seeds the file
             if (again) {
                 auto presets = repository->presets();
                 presets.push_back(StatusBarPreset::make("Another"));
                 repository->setPresets(presets);
                 EXPECT_TRUE(PendingSaves::waitUntilDone(std::chrono::steady_clock::now() + 30s));
             }
             return std::nullopt;
         }},
        {"settings", "com.quendrith.corvane.conf",
         [](const QString &path, bool again) -> std::optional<bool> {
             const auto defaults = UserDefaults::withFile(path);
             if (!again)
                 defaults->set("group/key", 12.5);
             return defaults->set("screenshotFormat", again ? "jpeg" : "png");
         }},
        {"property list", "com.apple.iphonesimulator.plist",
         [](const QString &path, bool again) -> std::optional<bool> {
             return PropertyList::writeFile(
                 path, QVariantMap{{"ShowSingleTouches", !again}, {"ShowPinches", again}}, true);
         }},
        {"task journal entry", "tasks/1F0C5A2E-3B7D-4C11-9E55-0A7B6C3D2E10.json",
         [](const QString &path, bool again) -> std::optional<bool> {
             TaskJournal::Entry entry;
             entry.kind = TaskJournal::Entry::Kind::importArchive;
             entry.taskID = QFileInfo(path).completeBaseName();
             entry.archive = "/somewhere/Demo.xcappdata";
             if (again)
                 entry.phase = TaskJournal::Entry::Phase::copying;
             try {
                 TaskJournal(QDir::cleanPath(path + "/../..")).write(entry);
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
    for (const auto &store : stores) {
        for (const auto &[faultName, fault] : faults) {
            SCOPED_TRACE(std::string(store.name) + ", " + faultName);
            QTemporaryDir dir;
            const QString path = dir.filePath(store.file);
            store.save(path, false);
            const QByteArray before = test::readFile(path);
            ASSERT_FALSE(before.isEmpty());
            const QStringList entriesBefore = test::folderEntries(QFileInfo(path).path());

            Log::Capture log;
            const auto saved = [&] {
                const test::SaveFault full(fault);
                return store.save(path, true);
            }();
            EXPECT_NE(saved, true);
            EXPECT_EQ(test::readFile(path), before);
            EXPECT_EQ(test::folderEntries(QFileInfo(path).path()), entriesBefore);
            EXPECT_TRUE(log.contains(path));
        }
    }
    EXPECT_TRUE(test::waitForBackgroundWork());
}
