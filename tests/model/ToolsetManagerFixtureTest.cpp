#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "fixtures/FixtureTree.h"
#include "platform/files/SystemPaths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

// Quitting asks for the manager while start-up may still be building it: the
// answer comes at once, without the manager, until the build is done.
TEST(ToolsetManagerFixture, ExistingNeverWaitsForABuildUnderWay)
{
    fixture::FixtureTree tree;
    tree.selectXcode(tree.addXcode());
    fixture::Fault slow;
    slow.delaySeconds = 2;
    tree.setFault("xcode-select", slow);
    SystemPaths::setCurrent(tree.paths());
    CorvaneSettings::resetShared(UserDefaults::withFile(tree.root() + "/defaults.conf"),
                                 std::make_shared<CloudKeyValueStore>(tree.root() + "/kvs.json"));
    CorvaneSettings::shared()->registerCommonSettings();

    std::shared_ptr<ToolsetManager> built;
    std::thread builder([&] { built = ToolsetManager::shared(); });
    ASSERT_TRUE(test::waitUntil([&] {
        for (const auto &invocation : tree.invocations())
            if (invocation.tool == "xcode-select")
                return true;
        return false;
    }));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(ToolsetManager::existing(), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    tree.clearFaults();
    builder.join();
    ASSERT_TRUE(built);
    EXPECT_EQ(ToolsetManager::existing(), built);
    EXPECT_EQ(ToolsetManager::shared(), built);

    ToolsetManager::resetShared();
    EXPECT_EQ(ToolsetManager::existing(), nullptr);
    CorvaneSettings::resetShared();
    SystemPaths::resetToEnvironment();
}
