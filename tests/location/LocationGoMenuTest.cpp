#include "common/TestSupport.h"
#include "location/GoToActions.h"
#include "location/LocationGoMenu.h"
#include "location/LocationPreset.h"
#include "location/LocationPresetRepository.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/desktop/SettingsOpener.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

// Records each action it is sent, with its sender.
class RecordingTarget : public ActionTarget {
public:
    bool perform(const QString &selector, const ObjectPtr &sender) override
    {
        performed.push_back({selector, sender});
        return true;
    }
    std::vector<std::pair<QString, ObjectPtr>> performed;
};

class LocationGoMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        test::writeFile(path(), "[]");
        repository = LocationPresetRepository::make(path());
    }

    void TearDown() override
    {
        menu.reset();
        ASSERT_TRUE(test::waitForBackgroundWork());
        repository.reset();
        SettingsOpener::setHandler({});
    }

    QString path() const { return m_dir.filePath("LocationPresets.json"); }

    void makeMenu() { menu = LocationGoMenu::make("Go", target, repository); }

    QStringList titles() const
    {
        QStringList result;
        for (const auto &item : menu->items())
            result << (item->isSeparator() ? QString("—") : item->title());
        return result;
    }

    // The store saves and announces; the menu rebuilds and replaces its items.
    void settle() { ASSERT_TRUE(test::waitForBackgroundWork()); }

    std::vector<LocationPresetPtr> presetsTitled(const QStringList &titles)
    {
        std::vector<LocationPresetPtr> presets;
        for (const QString &title : titles)
            presets.push_back(LocationPreset::make(title));
        return presets;
    }

    QTemporaryDir m_dir;
    std::shared_ptr<LocationPresetRepository> repository;
    std::shared_ptr<RecordingTarget> target = std::make_shared<RecordingTarget>();
    std::shared_ptr<LocationGoMenu> menu;
};

TEST_F(LocationGoMenuTest, AnEmptyStoreShowsNoPresetsAndTheFixedItems)
{
    makeMenu();
    EXPECT_EQ(titles(), QStringList({"—", "No Presets", "—", "My Location", "Custom…", "—",
                                     "Manage Presets…"}));
    const auto items = menu->items();
    EXPECT_FALSE(items[1]->isEnabled());
    EXPECT_TRUE(items[1]->action().isEmpty());

    EXPECT_EQ(items[3], menu->currentLocationItem());
    EXPECT_EQ(menu->currentLocationItem()->action(), "gotoCurrentLocation:");
    EXPECT_EQ(menu->currentLocationItem()->image(), ImageRef::symbol("location.fill"));
    EXPECT_EQ(menu->manualLocationItem()->action(), "gotoManualCoordinate:");
    EXPECT_EQ(menu->manualLocationItem()->image(), ImageRef::symbol("keyboard.fill"));
    EXPECT_TRUE(menu->currentLocationItem()->sendAction());
    EXPECT_TRUE(menu->manualLocationItem()->sendAction());
    ASSERT_EQ(target->performed.size(), 2u);
    EXPECT_EQ(target->performed[0].first, "gotoCurrentLocation:");
    EXPECT_EQ(target->performed[1].first, "gotoManualCoordinate:");

    QStringList opened;
    SettingsOpener::setHandler([&](const QString &pane) { opened << pane; });
    EXPECT_EQ(menu->manageItem()->target(), menu);
    EXPECT_TRUE(menu->manageItem()->sendAction());
    EXPECT_EQ(opened, QStringList({"locations"}));
}

TEST_F(LocationGoMenuTest, PresetsAreSortedByCodePointsAndSendThemselves)
{
    auto presets = presetsTitled({"beta", "Alpha", "alpha", "Zürich", "Alpha"});
    repository->setPresets(presets);
    settle();
    makeMenu();
    EXPECT_EQ(titles(), QStringList({"—", "Alpha", "Alpha", "Zürich", "alpha", "beta", "—",
                                     "My Location", "Custom…", "—", "Manage Presets…"}));
    const auto items = menu->items();
    // Equal titles keep the store's order.
    EXPECT_EQ(items[1]->representedObject().as<LocationPreset>(), presets[1]);
    EXPECT_EQ(items[2]->representedObject().as<LocationPreset>(), presets[4]);
    EXPECT_TRUE(items[1]->keyEquivalent().isEmpty());

    EXPECT_TRUE(items[5]->sendAction());
    ASSERT_EQ(target->performed.size(), 1u);
    EXPECT_EQ(target->performed[0].first, GoToActions::gotoLocationPresetAction);
    EXPECT_EQ(target->performed[0].second, items[5]);
}

TEST_F(LocationGoMenuTest, ARenameReordersOneMainTurnAfterTheSave)
{
    auto presets = presetsTitled({"Bravo", "Charlie"});
    repository->setPresets(presets);
    settle();
    makeMenu();
    const auto fixed =
        std::vector{menu->currentLocationItem(), menu->manualLocationItem(), menu->manageItem()};

    // Registered after the menu, so it hears the save right after the menu
    // has rebuilt, before the items are replaced.
    QStringList whenAnnounced;
    auto observer = observeNotification(
        LocationPresetRepository::didChange, DispatchQueue::main(),
        [&](const Notification &, const ObjectPtr &) { whenAnnounced = titles(); });
    presets[1]->setTitle("Alpha");
    settle();
    observer->invalidate();

    EXPECT_EQ(whenAnnounced.mid(1, 2), QStringList({"Bravo", "Charlie"}));
    EXPECT_EQ(titles().mid(1, 2), QStringList({"Alpha", "Bravo"}));
    EXPECT_EQ(menu->items()[4], fixed[0]);
    EXPECT_EQ(menu->items()[5], fixed[1]);
    EXPECT_EQ(menu->items()[7], fixed[2]);

    repository->setPresets({});
    settle();
    EXPECT_EQ(titles(), QStringList({"—", "No Presets", "—", "My Location", "Custom…", "—",
                                     "Manage Presets…"}));
    EXPECT_EQ(menu->currentLocationItem(), fixed[0]);
}

TEST_F(LocationGoMenuTest, TheMenuIsHeldWeaklyByItsRegistration)
{
    makeMenu();
    std::weak_ptr<LocationGoMenu> weak = menu;
    repository->setPresets(presetsTitled({"A"}));
    menu.reset();
    EXPECT_TRUE(weak.expired());
    settle();
}

} // namespace
