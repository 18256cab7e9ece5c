#include "FakeHotKeyCenter.h"
#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/hotkeys/KeyCodes.h"
#include "platform/Log.h"
#include "shortcuts/ShortcutBinder.h"
#include "shortcuts/ShortcutMonitor.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using namespace corvane;
using Combination = test::FakeHotKeyCenter::Combination;

namespace {

constexpr unsigned kCmdOpt = KeyCodes::cmdKey | KeyCodes::optionKey;

class ShortcutBinderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        defaults = UserDefaults::withFile(m_dir.filePath("defaults.ini"));
        monitor = ShortcutMonitor::make(center);
        binder = std::make_shared<ShortcutBinder>(monitor, defaults);
    }
    void TearDown() override { DispatchQueue::drainMain(); }

    QTemporaryDir m_dir;
    std::shared_ptr<test::FakeHotKeyCenter> center = std::make_shared<test::FakeHotKeyCenter>();
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<ShortcutMonitor> monitor;
    std::shared_ptr<ShortcutBinder> binder;
    int redo = 0;
    int derived = 0;
};

} // namespace

TEST_F(ShortcutBinderTest, AnEqualShortcutTwiceKeepsOneHotKeyRunningTheNewerAction)
{
    const Shortcut shortcut(40, Shortcut::Command | Shortcut::Option);
    ASSERT_TRUE(monitor->registerShortcut(shortcut, [this] { ++redo; }));
    ASSERT_TRUE(monitor->registerShortcut(
        Shortcut(40, Shortcut::Command | Shortcut::Option | 0x10000), [this] { ++derived; }));
    EXPECT_EQ(center->registrations.size(), 1u);
    EXPECT_TRUE(monitor->isShortcutRegistered(shortcut));

    center->press(40, kCmdOpt);
    // Never inside event handling: on a later turn of the main queue.
    EXPECT_EQ(derived, 0);
    DispatchQueue::drainMain();
    EXPECT_EQ(redo, 0);
    EXPECT_EQ(derived, 1);

    monitor->unregisterShortcut(shortcut);
    EXPECT_TRUE(center->registrations.empty());
    EXPECT_FALSE(monitor->isShortcutRegistered(shortcut));
    monitor->unregisterShortcut(std::nullopt);
}

TEST_F(ShortcutBinderTest, ARefusedShortcutChangesNothing)
{
    const Shortcut shortcut(40, Shortcut::Command | Shortcut::Option);
    ASSERT_TRUE(monitor->registerShortcut(shortcut, [this] { ++redo; }));
    const quint32 firstId = center->registrations.front().id;
    center->heldElsewhere.insert({40, kCmdOpt});
    EXPECT_FALSE(monitor->registerShortcut(shortcut, [this] { ++derived; }));
    ASSERT_EQ(center->registrations.size(), 1u);
    EXPECT_EQ(center->registrations.front().id, firstId);
    center->press(40, kCmdOpt);
    DispatchQueue::drainMain();
    EXPECT_EQ(redo, 1);
    EXPECT_EQ(derived, 0);

    // Identifiers only grow, refused registrations included.
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(41, Shortcut::Command), [] {}));
    EXPECT_GT(center->registrations.back().id, firstId + 1);
    monitor->unregisterAllShortcuts();
    EXPECT_TRUE(center->registrations.empty());
}

TEST_F(ShortcutBinderTest, FollowsTheStoredValueOfItsKey)
{
    defaults->set("GlobalRedo", Shortcut(40, Shortcut::Command | Shortcut::Option).archived());
    binder->bindShortcutWithDefaultsKey("GlobalRedo", [this] { ++redo; });
    EXPECT_EQ(center->grabbed(), (std::set<Combination>{{40, kCmdOpt}}));
    EXPECT_EQ(binder->shortcutForKey("GlobalRedo"),
              Shortcut(40, Shortcut::Command | Shortcut::Option));

    defaults->set("GlobalRedo", Shortcut(122, Shortcut::Shift).archived());
    EXPECT_EQ(center->grabbed(), (std::set<Combination>{{122, KeyCodes::shiftKey}}));
    center->press(40, kCmdOpt);
    center->press(122, KeyCodes::shiftKey);
    DispatchQueue::drainMain();
    EXPECT_EQ(redo, 1);

    // A value that is no shortcut, then removal: nothing grabbed.
    defaults->set("GlobalRedo", QByteArray("garbage"));
    EXPECT_TRUE(center->grabbed().empty());
    defaults->set("GlobalRedo", Shortcut(122, Shortcut::Shift).archived());
    defaults->remove("GlobalRedo");
    EXPECT_TRUE(center->grabbed().empty());
    EXPECT_FALSE(binder->shortcutForKey("GlobalRedo"));
}

TEST_F(ShortcutBinderTest, ValuesWrittenOnAnotherThreadApplyOnMain)
{
    binder->bindShortcutWithDefaultsKey("GlobalRedo", [this] { ++redo; });
    EXPECT_TRUE(center->grabbed().empty());
    std::thread writer([this] {
        defaults->set("GlobalRedo", Shortcut(0, Shortcut::Command).archived());
        defaults->set("GlobalRedo", Shortcut(1, Shortcut::Command).archived());
    });
    writer.join();
    EXPECT_TRUE(center->grabbed().empty());
    DispatchQueue::drainMain();
    EXPECT_EQ(center->grabbed(), (std::set<Combination>{{1, KeyCodes::cmdKey}}));
}

TEST_F(ShortcutBinderTest, BreakingUngrabsAndStopsFollowing)
{
    defaults->set("DeleteDerivedData", Shortcut(2, Shortcut::Command).archived());
    defaults->set("GlobalRedo", Shortcut(15, Shortcut::Command).archived());
    binder->bindShortcutWithDefaultsKey("DeleteDerivedData", [this] { ++derived; });
    binder->bindShortcutWithDefaultsKey("GlobalRedo", [this] { ++redo; });
    EXPECT_EQ(center->grabbed().size(), 2u);

    binder->breakBindingWithDefaultsKey("GlobalRedo");
    EXPECT_EQ(center->grabbed(), (std::set<Combination>{{2, KeyCodes::cmdKey}}));
    defaults->set("GlobalRedo", Shortcut(16, Shortcut::Command).archived());
    DispatchQueue::drainMain();
    EXPECT_EQ(center->grabbed(), (std::set<Combination>{{2, KeyCodes::cmdKey}}));

    // Binding again replaces the action and follows the key again.
    binder->bindShortcutWithDefaultsKey("DeleteDerivedData", [this] { redo += 10; });
    EXPECT_EQ(center->registrations.size(), 1u);
    center->press(2, KeyCodes::cmdKey);
    DispatchQueue::drainMain();
    EXPECT_EQ(derived, 0);
    EXPECT_EQ(redo, 10);
    binder->breakBindingWithDefaultsKey("DeleteDerivedData");
    EXPECT_TRUE(center->registrations.empty());
    binder->breakBindingWithDefaultsKey("NeverBound");
}

TEST_F(ShortcutBinderTest, KeysWithDotsOrSpacesAreRefused)
{
    for (const char *key : {"Global.Redo", "Global Redo"}) {
        try {
            binder->bindShortcutWithDefaultsKey(key, [] {});
            ADD_FAILURE() << key;
        } catch (const std::invalid_argument &error) {
            EXPECT_NE(std::string(error.what()).find(QString(key).contains('.') ? "'.'" : "' '"),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_TRUE(center->registrations.empty());
}

TEST_F(ShortcutBinderTest, DefaultShortcutsGoToTheRegistrationDomain)
{
    binder->registerDefaultShortcuts(
        {{"GlobalRedo", Shortcut(15, Shortcut::Command | Shortcut::Shift)}});
    EXPECT_FALSE(defaults->hasStoredValue("GlobalRedo"));
    EXPECT_EQ(Shortcut::fromStoredValue(defaults->object("GlobalRedo")),
              Shortcut(15, Shortcut::Command | Shortcut::Shift));
    binder->bindShortcutWithDefaultsKey("GlobalRedo", [] {});
    EXPECT_EQ(center->grabbed(),
              (std::set<Combination>{{15, KeyCodes::cmdKey | KeyCodes::shiftKey}}));
}

TEST(HotKeyCenterTest, WithoutX11EveryRegistrationFailsAndTheLogSaysSoOnce)
{
    Log::Capture capture;
    auto center = HotKeyCenter::makeForPlatform();
    auto monitor = ShortcutMonitor::make(center);
    EXPECT_FALSE(monitor->registerShortcut(Shortcut(40, Shortcut::Command), [] {}));
    EXPECT_FALSE(monitor->registerShortcut(Shortcut(41, Shortcut::Command), [] {}));
    EXPECT_FALSE(monitor->isShortcutRegistered(Shortcut(40, Shortcut::Command)));
    EXPECT_FALSE(center->isHeldElsewhere(40, KeyCodes::cmdKey));
    EXPECT_EQ(capture.count("Global hot keys need an X11 session (platform: offscreen); none "
                            "registered."),
              1);
}
