#include "app/DeviceSubmenuTestSupport.h"
#include "app/menus/values/StatusBarMenu.h"
#include "app/shell/AppDelegate.h"
#include "model/StatusBarPresetRepository.h"
#include "settings/SettingsWindowController.h"
#include "settings/WidgetPane.h"

#include <QIcon>
#include <QWidget>

using namespace corvane;
using namespace corvane::test;

namespace {

class PaneRecorder : public SettingsWindowController {
public:
    PaneRecorder()
        : SettingsWindowController(
              QList<SettingsPane *>{new WidgetPane({"general"}, "General", QIcon(), new QWidget)})
    {
    }
    void showPane(const std::optional<Settings::PaneIdentifier> &pane) override
    {
        panes << (pane ? pane->rawValue : "none");
    }
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool) override {}
    void raise() override {}
    void focusContent() override {}
    QStringList panes;
};

class StatusBarMenuTest : public DeviceSubmenuTest {
protected:
    void SetUp() override
    {
        DeviceSubmenuTest::SetUp();
        // An empty store: made without a file it would seed "Keynote".
        writeFile(path("presets.json"), "[]");
        repository = StatusBarPresetRepository::make(path("presets.json"));
    }

    std::shared_ptr<StatusBarMenu> menu(const QString &udid)
    {
        return offMain([&] {
            return StatusBarMenu::make(device(udid), toolset, {repository, commands});
        });
    }

    // Replaces the store's presets and waits for the save's announcement.
    void store(std::vector<StatusBarPresetPtr> presets)
    {
        bool saved = false;
        ObserverCollection observers;
        observers.append(
            observeNotification(StatusBarPresetRepository::didChange, DispatchQueue::main(),
                                [&](const Notification &, const ObjectPtr &) { saved = true; }));
        repository->setPresets(std::move(presets));
        ASSERT_TRUE(waitUntil([&] { return saved; }));
    }

    static StatusBarPresetPtr presetOf(const MenuItemPtr &item)
    {
        return item->representedObject().as<StatusBarPreset>();
    }

    std::shared_ptr<StatusBarPresetRepository> repository;
};

} // namespace

TEST_F(StatusBarMenuTest, AnEmptyStoreGivesExactlyFourItems)
{
    const auto bar = menu(phone);
    EXPECT_EQ(bar->title(), "Status Bar");
    EXPECT_EQ(itemTitles(*bar),
              QStringList({"No Presets", "-", "Reset to Default", "Manage Presets…"}));
    EXPECT_FALSE(bar->items()[0]->isEnabled());
    EXPECT_TRUE(bar->items()[0]->action().isEmpty());
}

TEST_F(StatusBarMenuTest, PresetsGoByCodePointsAndEqualTitlesKeepTheirStoreOrder)
{
    const auto alpha = StatusBarPreset::make("alpha");
    const auto beta = StatusBarPreset::make("Beta");
    const auto secondBeta = StatusBarPreset::make("Beta");
    // U+FFFC comes before U+1D49C, although its UTF-16 unit is the larger.
    const auto symbol = StatusBarPreset::make(QString::fromUcs4(U"\U0001D49C"));
    const auto replacement = StatusBarPreset::make(QString(QChar(0xFFFC)));
    // The decomposed "é" sorts as the composed one, before "z".
    const auto accent = StatusBarPreset::make(QString::fromUtf8("e\u0301t\u00E9"));
    const auto zed = StatusBarPreset::make("ez");
    store({alpha, beta, symbol, secondBeta, replacement, zed, accent});

    const auto bar = menu(phone);
    const auto items = bar->items();
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(presetOf(items[0]), beta);
    EXPECT_EQ(presetOf(items[1]), secondBeta);
    EXPECT_EQ(presetOf(items[2]), alpha);
    EXPECT_EQ(presetOf(items[3]), zed);
    EXPECT_EQ(presetOf(items[4]), accent);
    EXPECT_EQ(presetOf(items[5]), replacement);
    EXPECT_EQ(presetOf(items[6]), symbol);
    EXPECT_TRUE(items[7]->isSeparator());
    EXPECT_EQ(items[8], bar->resetStatusBarItem());
    EXPECT_EQ(items[0]->action(), "preset:");
    EXPECT_EQ(items[0]->target(), bar);
}

TEST_F(StatusBarMenuTest, ASavedRenameRetitlesEveryDevicesMenuAndKeepsTheFixedItems)
{
    const auto work = StatusBarPreset::make("Work");
    const auto demo = StatusBarPreset::make("Demo");
    store({work, demo});
    const auto phoneBar = menu(phone);
    auto tabletBar = menu(tablet);
    const auto reset = phoneBar->resetStatusBarItem();
    const auto manage = phoneBar->manageItem();
    EXPECT_EQ(itemTitles(*phoneBar),
              QStringList({"Demo", "Work", "-", "Reset to Default", "Manage Presets…"}));

    work->setTitle("Apps");
    const QStringList renamed{"Apps", "Demo", "-", "Reset to Default", "Manage Presets…"};
    ASSERT_TRUE(waitUntil(
        [&] { return itemTitles(*phoneBar) == renamed && itemTitles(*tabletBar) == renamed; }));
    EXPECT_EQ(phoneBar->items()[3], reset);
    EXPECT_EQ(phoneBar->items()[4], manage);

    store({});
    EXPECT_EQ(itemTitles(*tabletBar).first(), "No Presets");

    // Its registration does not keep a dropped menu.
    const std::weak_ptr<StatusBarMenu> dropped = tabletBar;
    tabletBar.reset();
    store({demo});
    EXPECT_TRUE(dropped.expired());
    EXPECT_EQ(itemTitles(*phoneBar).first(), "Demo");
}

TEST_F(StatusBarMenuTest, PresetAndResetRunSimctlAndRecordWhatQuickRepeatDoesAgain)
{
    const auto keynote = StatusBarPresetRepository::seedPreset();
    store({keynote});
    const auto bar = menu(phone);
    const QString prefix = "status_bar " + phone + " override --time 09:41";

    bar->items()[0]->sendAction();
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 1; }));
    ASSERT_EQ(simctlCalls().size(), 1);
    EXPECT_TRUE(simctlCalls()[0].startsWith(prefix)) << simctlCalls()[0].toStdString();
    const auto applied = commands->recentCommands().back();
    EXPECT_EQ(applied.title, "Status Bar: Keynote");
    EXPECT_EQ(applied.selector, "setStatusBarUsing:");
    EXPECT_EQ(applied.loadTarget(), device(phone));
    ASSERT_TRUE(applied.object);
    EXPECT_EQ(std::get<ObjectPtr>(*applied.object), keynote);

    // A repeat applies the preset with its values of that moment.
    keynote->setTime("10:08 AM");
    tree.clearLog();
    CommandManager::repeat(applied);
    ASSERT_TRUE(waitUntil([&] { return simctlCalls().size() == 1; }));
    EXPECT_TRUE(simctlCalls()[0].startsWith("status_bar " + phone + " override --time 10:08"));

    tree.clearLog();
    bar->resetStatusBarItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 2; }));
    EXPECT_EQ(simctlCalls(), QStringList{"status_bar " + phone + " clear"});
    const auto reset = commands->recentCommands().back();
    EXPECT_EQ(reset.title, "Status Bar: Reset to Default");
    EXPECT_EQ(reset.selector, "resetStatusBar");
    EXPECT_FALSE(reset.object);

    // Without a menu item the title says so.
    bar->perform("resetStatus:", nullptr);
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 3; }));
    EXPECT_EQ(commands->recentCommands().back().title, "Status Bar: Unknown");
}

TEST_F(StatusBarMenuTest, ANonPresetDoesNothingAndManageAsksForTheStatusBarPane)
{
    auto settings = std::make_shared<PaneRecorder>();
    AppDelegate::Environment environment;
    environment.statusItem = std::make_shared<RecordingStatusItem>();
    environment.makeSettingsWindow = [&] { return settings; };
    const auto delegate = AppDelegate::make(environment);

    const auto bar = menu(phone);
    bar->perform("preset:", nullptr);
    bar->preset(MenuItem::make("Plain"));
    const auto text = MenuItem::make("Keynote");
    text->setRepresentedObject(QStringLiteral("Keynote"));
    bar->preset(text);
    bar->manageItem()->sendAction();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(settings->panes, QStringList{"statusBar"});
    EXPECT_TRUE(simctlCalls().isEmpty());
    EXPECT_TRUE(commands->recentCommands().empty());
}
