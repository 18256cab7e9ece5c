#include "app/DeviceSubmenuTestSupport.h"
#include "app/menus/values/AppearanceBarMenu.h"
#include "app/menus/values/ContentSizeMenu.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <atomic>
#include <condition_variable>

using namespace corvane;
using namespace corvane::test;
using ContentSize = Device::ContentSize;
using Appearance = Device::Appearance;

namespace {

// Appearance values read through a latch the test opens, so that a reading
// can be held in flight while the user chooses.
struct LatchedTraits : AppearanceTraits {
    static constexpr const char *queueLabel = "test.latched";
    static constexpr const char *debounceKeyPrefix = "Latched";

    static inline std::mutex mutex;
    static inline std::condition_variable opened;
    static inline bool open = false;
    static inline std::atomic<int> started{0};
    static inline Appearance answer = Appearance::light;

    // Shut, with no reading started.
    static void reset()
    {
        std::lock_guard lock(mutex);
        open = false;
        started = 0;
    }
    static void release()
    {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }

    static Value read(const Device &)
    {
        ++started;
        std::unique_lock lock(mutex);
        opened.wait(lock, [] { return open; });
        return answer;
    }
    static void write(const std::shared_ptr<Device> &, Value, CommandManager &) {}
};

class ValueMenuTest : public DeviceSubmenuTest {
protected:
    ValueMenuEnvironment environment() { return {monitor, commands, scheduler}; }

    std::shared_ptr<ContentSizeMenu> contentSizeMenu(const QString &udid)
    {
        return offMain([&] { return ContentSizeMenu::make(device(udid), toolset, environment()); });
    }
    std::shared_ptr<AppearanceBarMenu> appearanceMenu(const QString &udid)
    {
        return offMain(
            [&] { return AppearanceBarMenu::make(device(udid), toolset, environment()); });
    }

    static QStringList checked(const Menu &menu)
    {
        QStringList titles;
        for (const auto &item : menu.items())
            if (item->state() == ControlState::On)
                titles << item->title();
        return titles;
    }

    // Picks the item as the renderer does, on the main thread.
    static void choose(const Menu &menu, const QString &title)
    {
        for (const auto &item : menu.items())
            if (item->title() == title)
                item->sendAction();
    }
};

} // namespace

TEST_F(ValueMenuTest, ItemsCarryTheirValuesInDeclarationOrder)
{
    const auto sizes = contentSizeMenu(phone);
    EXPECT_EQ(sizes->title(), "Content Size");
    const QStringList titles = itemTitles(*sizes);
    ASSERT_EQ(titles.size(), 12);
    EXPECT_EQ(titles.first(3), QStringList({"Extra Small", "Small", "Medium (Default)"}));
    EXPECT_EQ(titles.last(), "Accessibility Extra Extra Extra Large");
    EXPECT_EQ(sizes->items()[7]->representedObject().as<ContentSize>(),
              ContentSize::accessibilityMedium);
    EXPECT_EQ(sizes->itemForValue(ContentSize::large), sizes->items()[3]);
    EXPECT_EQ(sizes->items()[3]->target(), sizes);
    EXPECT_EQ(sizes->debounceKey(), "ContentToggle" + phone);

    const auto appearance = appearanceMenu(phone);
    EXPECT_EQ(itemTitles(*appearance), QStringList({"Light", "Dark"}));
    EXPECT_EQ(appearance->debounceKey(), "DarkLightToggle" + phone);
}

TEST_F(ValueMenuTest, OpeningsWithinHalfASecondReadOnceHalfASecondAfterTheLast)
{
    tree.simctl({"ui", phone, "content_size", "extra-large"});
    tree.clearLog();
    const QString read = "ui " + phone + " content_size";

    // Not running when built: no reading, no mark until the first refresh.
    const auto menu = contentSizeMenu(phone);
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(simctlCalls().isEmpty());
    EXPECT_TRUE(checked(*menu).isEmpty());

    menu->willOpen();
    ASSERT_TRUE(scheduler->advance(0.3));
    menu->willOpen();
    EXPECT_TRUE(checked(*menu).isEmpty());
    ASSERT_TRUE(scheduler->advance(0.49));
    EXPECT_TRUE(simctlCalls().isEmpty());
    ASSERT_TRUE(scheduler->advance(0.02));
    EXPECT_EQ(simctlCalls(), QStringList{read});
    ASSERT_TRUE(waitUntil([&] { return menu->currentSelection() == ContentSize::extraLarge; }));
    EXPECT_EQ(checked(*menu), QStringList{"Extra Large"});

    // Another device's menu keeps its own debounce.
    const auto other = contentSizeMenu(tablet);
    menu->willOpen();
    other->willOpen();
    ASSERT_TRUE(scheduler->advance(0.5));
    EXPECT_EQ(simctlCalls().count(read), 2);
    EXPECT_EQ(simctlCalls().count("ui " + tablet + " content_size"), 1);
}

TEST_F(ValueMenuTest, ARunningDeviceIsReadOffTheBuildingThreadAndTheMainThread)
{
    tree.simctl({"ui", phone, "content_size", "large"});
    fixture::Fault slow;
    slow.delaySeconds = 6;
    tree.setFault("ui", slow);
    setRunning({phone});

    // Built off the main thread, where the monitor may list processes, and on
    // it, where it gives its last snapshot: neither waits for simctl.
    QElapsedTimer timer;
    timer.start();
    const auto menu = contentSizeMenu(phone);
    const auto onMain = ContentSizeMenu::make(device(phone), toolset, environment());
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_FALSE(menu->currentSelection());

    ASSERT_TRUE(waitUntil([&] {
        return menu->currentSelection() == ContentSize::large &&
               onMain->currentSelection() == ContentSize::large;
    }));
    EXPECT_EQ(checked(*menu), QStringList{"Large"});
    // The opening shows the value at once.
    menu->willOpen();
    EXPECT_EQ(checked(*menu), QStringList{"Large"});
    tree.clearFaults();
}

TEST_F(ValueMenuTest, AnUnreadableValueShowsMediumAndAChosenValueIsSentEachTime)
{
    const QString reply = path("reply");
    writeFile(reply, "gigantic\n");
    fixture::Fault garbage;
    garbage.stdoutFile = reply;
    tree.setFault("ui", garbage);
    const auto menu = contentSizeMenu(phone);
    menu->willOpen();
    ASSERT_TRUE(scheduler->advance(0.5));
    ASSERT_TRUE(waitUntil([&] { return menu->currentSelection() == ContentSize::medium; }));
    EXPECT_EQ(checked(*menu), QStringList{"Medium (Default)"});
    tree.clearFaults();
    tree.clearLog();

    choose(*menu, "Accessibility Extra Extra Extra Large");
    EXPECT_EQ(checked(*menu), QStringList{"Accessibility Extra Extra Extra Large"});
    const QString write = "ui " + phone + " content_size accessibility-extra-extra-extra-large";
    ASSERT_TRUE(waitForCall("simctl", write));
    // The checked value goes to the device again; nothing is recorded.
    choose(*menu, "Accessibility Extra Extra Extra Large");
    ASSERT_TRUE(waitForCall("simctl", write, 2));
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(commands->recentCommands().empty());
    EXPECT_EQ(tree.device(phone)->extras().value("contentSize"),
              "accessibility-extra-extra-extra-large");
}

TEST_F(ValueMenuTest, DarkRecordsToggleAppearanceWhichQuickRepeatTurnsLight)
{
    const auto menu = appearanceMenu(phone);
    choose(*menu, "Dark");
    EXPECT_EQ(menu->currentSelection(), Appearance::dark);
    ASSERT_TRUE(waitUntil([&] { return !commands->recentCommands().empty(); }));
    EXPECT_EQ(simctlCalls(), QStringList{"ui " + phone + " appearance dark"});
    const auto command = commands->recentCommands().back();
    EXPECT_EQ(command.title, "Toggle Appearance");
    EXPECT_EQ(command.selector, "toggleAppearance");
    EXPECT_EQ(command.loadTarget(), device(phone));
    EXPECT_FALSE(command.object);

    tree.clearLog();
    CommandManager::repeat(command);
    ASSERT_TRUE(waitForCall("simctl", "ui " + phone + " appearance light"));
    EXPECT_EQ(simctlCalls(),
              QStringList({"ui " + phone + " appearance", "ui " + phone + " appearance light"}));
    EXPECT_EQ(commands->recentCommands().size(), 1u);
}

TEST_F(ValueMenuTest, ASenderWithoutAValueOfTheMenusKindDoesNothing)
{
    const auto menu = appearanceMenu(phone);
    menu->perform("change:", nullptr);
    menu->change(MenuItem::make("Plain"));
    const auto wrongKind = MenuItem::make("Large");
    wrongKind->setRepresentedObject(ContentSize::large);
    menu->change(wrongKind);
    const auto text = MenuItem::make("Dark");
    text->setRepresentedObject(QStringLiteral("dark"));
    menu->change(text);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_FALSE(menu->currentSelection());
    EXPECT_TRUE(checked(*menu).isEmpty());
    EXPECT_TRUE(simctlCalls().isEmpty());
    EXPECT_TRUE(commands->recentCommands().empty());
}

TEST_F(ValueMenuTest, AReadingInFlightWhenTheUserChoosesNeverUndoesTheChoice)
{
    setRunning({phone});
    LatchedTraits::reset();
    // A failed check leaves no reading waiting on the latch.
    const auto release = qScopeGuard([] { LatchedTraits::release(); });
    LatchedTraits::answer = Appearance::light;
    const auto menu = offMain(
        [&] { return ValueMenu<LatchedTraits>::make(device(phone), toolset, environment()); });
    ASSERT_TRUE(waitUntil([] { return LatchedTraits::started == 1; }));
    choose(*menu, "Dark");
    LatchedTraits::release();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(menu->currentSelection(), Appearance::dark);
    EXPECT_EQ(checked(*menu), QStringList{"Dark"});

    // A reading that starts after the choice shows the device's value.
    menu->willOpen();
    ASSERT_TRUE(scheduler->advance(0.5));
    ASSERT_TRUE(waitUntil([&] { return menu->currentSelection() == Appearance::light; }));
}

TEST_F(ValueMenuTest, AMenuDroppedBeforeItsRefreshIsNotReadFor)
{
    auto menu = contentSizeMenu(phone);
    menu->willOpen();
    menu.reset();
    ASSERT_TRUE(scheduler->advance(0.5));
    EXPECT_TRUE(simctlCalls().isEmpty());
}
