#include "app/ShellTestSupport.h"
#include "app/menus/root/RootPlaceholderMenu.h"
#include "app/shell/AppDelegate.h"
#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/defaults/UserDefaults.h"
#include "shortcuts/Shortcut.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

class RootPlaceholderMenuTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        modifiers = std::make_shared<FakeModifiers>();
    }
    std::shared_ptr<FakeModifiers> modifiers;
};

} // namespace

TEST_F(RootPlaceholderMenuTest, ItemsInOrderWithTheirStates)
{
    auto menu = RootPlaceholderMenu::make("Corvane", true, modifiers);
    EXPECT_EQ(itemTitles(*menu),
              (QStringList{"Loading…", "-", "GPS Simulator…", "Import/Export Activity", "-",
                           "Reset SwiftUI Previews", "Trash Derived Data", "-", "About Corvane",
                           "Settings…", "Help", "Export Debug Logs…", "Quit"}));
    EXPECT_FALSE(menu->loadingItem()->isEnabled());
    EXPECT_FALSE(menu->gpsItem()->isEnabled());
    EXPECT_TRUE(menu->gpsItem()->action().isEmpty());
    EXPECT_FALSE(menu->trashPreviewsItem()->isEnabled());
    EXPECT_EQ(menu->preferencesItem()->keyEquivalent(), ",");
    EXPECT_EQ(menu->quitItem()->keyEquivalent(), "q");
    EXPECT_EQ(menu->deleteDDItem()->target(), menu);
    EXPECT_EQ(menu->deleteDDItem()->image(), ImageRef::symbol("trash"));

    auto root = RootPlaceholderMenu::make("Corvane", false, modifiers);
    EXPECT_EQ(itemTitles(*root).first(), "GPS Simulator…");
}

TEST_F(RootPlaceholderMenuTest, OptionShowsTheDiagnosticsItemWhileOpen)
{
    auto menu = RootPlaceholderMenu::make("Corvane", true, modifiers);
    menu->willOpen();
    menu->update();
    EXPECT_TRUE(menu->diagnosticsItem()->isHidden());
    EXPECT_TRUE(menu->isPollingOptionKey());

    modifiers->modifiers = KeyModifier::Option;
    EXPECT_TRUE(waitUntil([&] { return !menu->diagnosticsItem()->isHidden(); }));
    modifiers->modifiers = KeyModifier::None;
    EXPECT_TRUE(waitUntil([&] { return menu->diagnosticsItem()->isHidden(); }));
    menu->didClose();
    EXPECT_FALSE(menu->isPollingOptionKey());

    // Held before opening: the opening's update shows it at once.
    modifiers->modifiers = KeyModifier::Option;
    menu->willOpen();
    menu->update();
    EXPECT_FALSE(menu->diagnosticsItem()->isHidden());
    menu->didClose();
}

TEST_F(RootPlaceholderMenuTest, DerivedDataKeyEquivalentFollowsTheStoredShortcut)
{
    auto defaults = UserDefaults::standard();
    defaults->set("DeleteDerivedData", Shortcut{40, 0x100000 | 0x20000}.archived());
    auto menu = RootPlaceholderMenu::make("Corvane", true, modifiers);
    EXPECT_EQ(menu->deleteDDItem()->keyEquivalent(), "k");
    EXPECT_EQ(menu->deleteDDItem()->keyEquivalentModifierMask(),
              KeyModifier::Command | KeyModifier::Shift);

    defaults->set("DeleteDerivedData", Shortcut{122, 0x80000}.archived());
    DispatchQueue::drainMain();
    EXPECT_EQ(menu->deleteDDItem()->keyEquivalent(), QString(QChar(0xF704)));
    EXPECT_EQ(menu->deleteDDItem()->keyEquivalentModifierMask(), KeyModifier::Option);

    // No key, garbage, then nothing stored: no key equivalent.
    for (const QVariant &value : {QVariant(Shortcut{Shortcut::NotFound, 0x100000}.archived()),
                                  QVariant(QByteArray("not a property list"))}) {
        defaults->set("DeleteDerivedData", value);
        DispatchQueue::drainMain();
        EXPECT_TRUE(menu->deleteDDItem()->keyEquivalent().isEmpty());
        EXPECT_EQ(menu->deleteDDItem()->keyEquivalentModifierMask(), KeyModifier::None);
    }
    defaults->set("DeleteDerivedData", Shortcut{40, 0x100000}.archived());
    defaults->remove("DeleteDerivedData");
    DispatchQueue::drainMain();
    EXPECT_TRUE(menu->deleteDDItem()->keyEquivalent().isEmpty());
}

TEST_F(RootPlaceholderMenuTest, OpeningUnbindsTheHotKeysAndClosingBindsThemOnce)
{
    AppDelegate::Environment environment;
    environment.statusItem = std::make_shared<CountingStatusItem>();
    auto delegate = AppDelegate::make(environment);
    delegate->bindHotKeys();
    auto menu = RootPlaceholderMenu::make("Corvane", true, modifiers);
    for (int i = 0; i < 3; ++i) {
        binder->log.clear();
        menu->willOpen();
        EXPECT_TRUE(binder->bindings.empty());
        EXPECT_EQ(binder->log, (QStringList{"break GlobalRedo", "break DeleteDerivedData"}));
        menu->didClose();
        EXPECT_EQ(binder->bindings.size(), 2u);
        EXPECT_EQ(binder->log.mid(2), (QStringList{"bind DeleteDerivedData", "bind GlobalRedo"}));
        EXPECT_FALSE(menu->isPollingOptionKey());
    }

    // Without a binder the delegate leaves hot keys alone.
    ShortcutBinder::setSharedBinder(nullptr);
    menu->willOpen();
    menu->didClose();
    EXPECT_EQ(binder->bindings.size(), 2u);
}

TEST_F(RootPlaceholderMenuTest, ActionsReachTheDelegate)
{
    AppDelegate::Environment environment;
    environment.statusItem = std::make_shared<CountingStatusItem>();
    auto delegate = AppDelegate::make(environment);
    auto menu = RootPlaceholderMenu::make("Corvane", true, modifiers);

    menu->helpItem()->sendAction();
    menu->activityItem()->sendAction();
    ASSERT_EQ(workspace->requests.size(), 2u);
    EXPECT_EQ(workspace->requests[0].operation, "openUrl");
    EXPECT_EQ(workspace->requests[1].operation, "activate");
    EXPECT_FALSE(menu->gpsItem()->sendAction());
}
