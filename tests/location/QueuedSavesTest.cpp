#include "common/TestSupport.h"
#include "core/Location.h"
#include "location/LastLocationsStore.h"
#include "location/LocationPresetRepository.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/files/PendingSaves.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

using namespace corvane;

// A save that a store hands to its queue counts as under way until it has
// ended, so that quitting waits for it rather than cutting it off.
TEST(QueuedSaves, EachStoresSaveIsPendingWhileItWrites)
{
    QTemporaryDir dir;
    // Makes the store at the path; what it gives back asks for a save.
    const struct {
        const char *name;
        std::function<std::function<void()>(const QString &)> make;
    } stores[] = {
        {"location presets",
         [](const QString &path) -> std::function<void()> {
             auto presets = LocationPresetRepository::make(path);
             return [presets] { presets->setPresets(presets->presets()); };
         }},
        {"status bar presets",
         [](const QString &path) -> std::function<void()> {
             auto presets = StatusBarPresetRepository::make(path);
             return [presets] { presets->setPresets(presets->presets()); };
         }},
        {"last locations",
         [](const QString &path) -> std::function<void()> {
             auto store = std::make_shared<LastLocationsStore>(path);
             return [store] {
                 store->saveLater(std::make_shared<const std::vector<Location>>(1, Location(1, 1)));
             };
         }},
    };
    for (const auto &store : stores) {
        SCOPED_TRACE(store.name);
        const auto save = store.make(dir.filePath(QString(store.name) + ".json"));
        // Outlives the save, whether quitting would have waited for it or not.
        const auto pending = std::make_shared<std::atomic<int>>(-1);
        {
            const test::SaveFault hold(
                AtomicFile::Fault{.step = AtomicFile::Step::create,
                                  .hold = [pending] { *pending = PendingSaves::count(); }});
            save();
            ASSERT_TRUE(test::waitUntil([&] { return *pending >= 0; }));
        }
        EXPECT_GE(*pending, 1);
        EXPECT_TRUE(PendingSaves::waitUntilDone(std::chrono::steady_clock::now() +
                                                std::chrono::seconds(30)));
    }
}
