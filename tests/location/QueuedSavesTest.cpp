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
    const auto locations = std::make_shared<LastLocationsStore>(dir.filePath("last.json"));
    const auto presets = LocationPresetRepository::make(dir.filePath("presets.json"));
    const auto bar = StatusBarPresetRepository::make(dir.filePath("bar.json"));
    const std::pair<const char *, std::function<void()>> saves[] = {
        {"last locations",
         [&] { locations->saveLater(std::make_shared<std::vector<Location>>(1, Location(1, 1))); }},
        {"location presets", [&] { presets->setPresets(presets->presets()); }},
        {"status bar presets", [&] { bar->setPresets(bar->presets()); }},
    };
    for (const auto &[name, save] : saves) {
        SCOPED_TRACE(name);
        // Outlives the save, whether anything waits for it or not.
        const auto pending = std::make_shared<std::atomic<int>>(-1);
        {
            const test::SaveFault hold({.step = AtomicFile::Step::create,
                                        .hold = [pending] { *pending = PendingSaves::count(); }});
            save();
            ASSERT_TRUE(test::waitUntil([&] { return *pending >= 0; }));
        }
        EXPECT_GE(*pending, 1);
        EXPECT_TRUE(PendingSaves::waitUntilDone(std::chrono::steady_clock::now() +
                                                std::chrono::seconds(30)));
    }
}
