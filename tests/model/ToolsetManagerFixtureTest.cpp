#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "fixtures/FixtureTree.h"
#include "platform/SystemPaths.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;

// The simulated Xcode's tree and its xcode-select: discovery, and a switch
// with `xcode-select -s` that the link watch follows.
TEST(ToolsetManagerFixture, FollowsTheSimulatedXcodeSelect)
{
    fixture::FixtureTree tree;
    const QString older = tree.addXcode({"Xcode-15.app", "15.4", "15F31d"});
    const QString newer = tree.addXcode({"Xcode-beta.app", "16.0", "16A5171c"});
    tree.selectXcode(older);
    SystemPaths::setCurrent(tree.paths());
    CorvaneSettings::resetShared(UserDefaults::withFile(tree.root() + "/defaults.conf"),
                                 std::make_shared<CloudKeyValueStore>(tree.root() + "/kvs.json"));
    CorvaneSettings::shared()->registerCommonSettings();

    auto manager = ToolsetManager::shared();
    const auto available = manager->availableToolsets();
    ASSERT_EQ(available.size(), 2u);
    EXPECT_EQ(available[0]->xcodePath().toLocalFile(), newer);
    EXPECT_EQ(manager->current()->xcodePath().toLocalFile(), older);
    EXPECT_TRUE(manager->isCurrentSystemSelected());

    std::atomic<int> changes{0};
    auto token = observeNotification(ToolsetManager::currentDidChange, nullptr,
                                     [&](const Notification &, const ObjectPtr &) { ++changes; });
    tree.selectXcode(newer);
    EXPECT_TRUE(test::waitUntil([&] { return changes > 0; }));
    EXPECT_EQ(manager->current()->xcodePath().toLocalFile(), newer);
    EXPECT_EQ(manager->current(), available[0]);

    token->invalidate();
    ToolsetManager::resetShared();
    CorvaneSettings::resetShared();
    SystemPaths::resetToEnvironment();
}
