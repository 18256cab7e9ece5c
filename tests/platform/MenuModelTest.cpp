#include "common/TestSupport.h"
#include "platform/ImageRef.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/Loc.h"
#include "platform/menus/Menu.h"
#include "platform/menus/MenuObserver.h"
#include "platform/menus/StatusItem.h"
#include "platform/desktop/Workspace.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

struct Device : Object {
    QString uuid;
};
struct Runtime {
    QString version;
};

class CountingObserver : public MenuObserver {
public:
    void menuItemsDidChange(Menu &) override { ++itemsChanges; }
    void menuItemDidChange(Menu &, const MenuItemPtr &item) override { changed.push_back(item); }
    void menuTitleDidChange(Menu &) override {}
    void menuCancelTracking(Menu &) override { ++cancels; }
    int itemsChanges = 0;
    int cancels = 0;
    std::vector<MenuItemPtr> changed;
};

// A menu that fills itself in its constructor, as the status menus do.
class SelfBuildingMenu : public Menu {
public:
    SelfBuildingMenu() { setItems({MenuItem::make("first")}); }
};

} // namespace

TEST(MenuModelTest, RepresentedObjectsKeepTypeAndIdentity)
{
    auto device = std::make_shared<Device>();
    auto item = MenuItem::make("row");
    item->setRepresentedObject(device);
    EXPECT_EQ(item->representedObject().as<Device>(), device);
    EXPECT_FALSE(item->representedObject().as<Runtime>());

    auto separator = MenuItem::separator();
    separator->setRepresentedObject(Runtime{"17.2"});
    EXPECT_EQ(separator->representedObject().as<Runtime>()->version, "17.2");
    EXPECT_EQ(separator->representedObject().as<Device>(), nullptr);
    EXPECT_TRUE(separator->isSeparator());
    EXPECT_TRUE(MenuItem::make()->representedObject().isEmpty());
}

TEST(MenuModelTest, ChangesReachTheObserverOnlyForItemsStillInTheMenu)
{
    auto menu = std::make_shared<Menu>("root");
    auto a = MenuItem::make("A"), b = MenuItem::make("B");
    menu->setItems({a, b});
    auto observer = std::make_shared<CountingObserver>();
    menu->setObserver(observer);

    a->setHidden(true);
    a->setHidden(true);
    ASSERT_EQ(observer->changed.size(), 1u) << "an unchanged value tells nobody";
    menu->setItems({a});
    EXPECT_EQ(observer->itemsChanges, 1);
    EXPECT_EQ(b->menu(), nullptr);
    b->setTitle("gone");
    EXPECT_EQ(observer->changed.size(), 1u);
    menu->cancelTracking();
    EXPECT_EQ(observer->cancels, 1);
}

TEST(MenuModelTest, ItemsSetDuringConstructionPointBackOnceObserved)
{
    auto menu = std::make_shared<SelfBuildingMenu>();
    auto observer = std::make_shared<CountingObserver>();
    menu->setObserver(observer);
    auto first = menu->items().front();
    EXPECT_EQ(first->menu(), menu);
    first->setEnabled(false);
    EXPECT_EQ(observer->changed.size(), 1u);
}

TEST(MenuModelTest, DeferredPopulationRunsOnce)
{
    auto menu = std::make_shared<Menu>();
    int runs = 0;
    menu->setDeferredPopulation([&runs](Menu &self) {
        ++runs;
        self.addItem(MenuItem::make("late"));
    });
    EXPECT_TRUE(menu->needsPopulation());
    RecordingStatusItem status;
    status.setMenu(menu);
    status.popUpMenu();
    status.popUpMenu();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(menu->items().size(), 1u);
}

TEST(MenuModelTest, ImageRefStepsAndKeys)
{
    const ImageRef on = ImageRef::resource("On");
    const ImageRef accent = on.tinted(ImageRef::TintColor::Accent);
    // Re-tinting replaces the tint, so highlight changes never pile up steps.
    const ImageRef white = accent.tinted(ImageRef::TintColor::White);
    EXPECT_EQ(white.steps().size(), 1u);
    EXPECT_EQ(white.tinted(ImageRef::TintColor::Accent), accent);
    EXPECT_NE(accent.cacheKey(Qt::blue), accent.cacheKey(Qt::red));
    EXPECT_EQ(on.padded(QMarginsF(0, 2, 0, 2)).thumbnail(QSizeF(24, 24)).steps().size(), 2u);
    EXPECT_TRUE(ImageRef::resource("").isNull());
    EXPECT_TRUE(ImageRef().tinted(Qt::red).isNull());
}

TEST(MenuModelTest, ActionsGoToLiveTargetsOnly)
{
    struct Target : ActionTarget {
        Target()
        {
            addAction("go:", [this](const ObjectPtr &sender) { last = sender; });
        }
        ObjectPtr last;
    };
    auto item = MenuItem::make("Go", "go:");
    {
        auto target = std::make_shared<Target>();
        item->setTarget(target);
        EXPECT_TRUE(item->sendAction());
        EXPECT_EQ(target->last, item);
        item->setAction("unknown:");
        EXPECT_FALSE(item->sendAction());
        item->setAction("go:");
    }
    EXPECT_FALSE(item->sendAction());
}

TEST(MenuModelTest, ALazyItemsMakerMayAskForAnotherItemAndTheFirstStoredWins)
{
    LazyMenuItems items(3);
    // A maker that builds a submenu asking the same menu for another item.
    const auto inner = items.get(0, [&] {
        auto item = MenuItem::make("Outer");
        auto submenu = std::make_shared<Menu>();
        submenu->addItem(items.get(1, [] { return MenuItem::make("Inner"); }));
        item->setSubmenu(submenu);
        return item;
    });
    EXPECT_EQ(inner->title(), "Outer");
    EXPECT_EQ(items.peek(1)->title(), "Inner");
    EXPECT_EQ(items.get(1, [] { return MenuItem::make("Again"); }), items.peek(1));

    // Racing makers: every caller gets the item stored first.
    std::atomic<int> made{0};
    std::vector<MenuItemPtr> got(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < got.size(); ++i)
        threads.emplace_back([&, i] {
            got[i] = items.get(2, [&] {
                ++made;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return MenuItem::make("Raced");
            });
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_GE(made.load(), 1);
    for (const auto &item : got)
        EXPECT_EQ(item, items.peek(2));
}

TEST(MenuModelTest, LocalizedTextFallsBackToEnglish)
{
    EXPECT_EQ(loc("Quit", "QUIT_ITEM_TITLE"), "Quit");
    EXPECT_EQ(loc("Launch", "LAUNCH_ITEM_TITLE"), loc("Launch", "APP_LAUNCH_ITEM_TITLE"));
}

TEST(WorkspaceTest, BundleExecutableFollowsInfoPlistThenBundleName)
{
    QTemporaryDir dir;
    const QString named = dir.filePath("Named.app");
    ASSERT_TRUE(test::writeScript(named + "/Contents/MacOS/Runner", "exit 0"));
    ASSERT_TRUE(test::writeFile(named + "/Contents/Info.plist",
                                "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                                "<key>CFBundleExecutable</key><string>Runner</string>"
                                "</dict></plist>"));
    EXPECT_EQ(Workspace::bundleExecutable(named), named + "/Contents/MacOS/Runner");

    const QString plain = dir.filePath("Plain.app");
    ASSERT_TRUE(test::writeScript(plain + "/Contents/MacOS/Plain", "exit 0"));
    EXPECT_EQ(Workspace::bundleExecutable(plain), plain + "/Contents/MacOS/Plain");
    EXPECT_TRUE(Workspace::bundleExecutable(dir.filePath("Missing.app")).isEmpty());
    EXPECT_FALSE(Workspace().openApplication(dir.filePath("Missing.app")));
}

TEST(WorkspaceTest, SharedInstanceCanBeRecorded)
{
    auto recording = std::make_shared<RecordingWorkspace>();
    Workspace::setShared(recording);
    Workspace::shared()->revealFile("/tmp/a.txt");
    Workspace::shared()->activateIgnoringOtherApps();
    Workspace::setShared(nullptr);
    ASSERT_EQ(recording->requests.size(), 2u);
    EXPECT_EQ(recording->requests[0], (RecordingWorkspace::Request{"revealFile", "/tmp/a.txt"}));
    EXPECT_NE(Workspace::shared(), recording);
}
