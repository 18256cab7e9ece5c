#include "app/ShellTestSupport.h"
#include "app/menus/ApplicationMenuItem.h"
#include "app/qt/ImageCache.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/files/SystemPaths.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::fixture;
using corvane::test::offMain;

namespace {

class ApplicationMenuItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths::setCurrent(tree.paths());
        tree.addRuntime("iOS", "17.2");
        tree.addRuntime("watchOS", "10.2");
        phone = tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.2"});
        watch = tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "watchOS 10.2"});
        tree.installApp(phone, {.identifier = "com.example.foo", .name = "Foo"});
        tree.installApp(phone, {.identifier = "com.example.bar", .name = "Bar"});
        tree.installApp(watch, {.identifier = "com.example.foo.watch", .name = "Foo Watch"});
        toolset = Toolset::make(QUrl::fromLocalFile(tree.addXcode()));
        ASSERT_TRUE(toolset);
        watcher = offMain([&] { return DeviceWatcher::make(toolset); });
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    DevicePtr device(const QString &udid) const
    {
        return watcher->all()->at(QUuid::fromString(udid));
    }

    ApplicationPtr application(const QString &udid, const QString &identifier) const
    {
        return device(udid)->applicationTable().at(identifier);
    }

    std::shared_ptr<ApplicationMenuItem> makeItem(bool showDevice = true)
    {
        auto item = ApplicationMenuItem::make("N/A", "auto:");
        item->setShowDeviceInTitle(showDevice);
        item->refresh();
        return item;
    }

    FixtureTree tree;
    QString phone, watch;
    std::shared_ptr<Toolset> toolset;
    DeviceWatcherPtr watcher;
};

} // namespace

TEST_F(ApplicationMenuItemTest, TitlesNameTheApplicationAndItsDevice)
{
    auto item = makeItem();
    EXPECT_EQ(item->title(), "??");
    EXPECT_TRUE(item->image().isNull());
    EXPECT_FALSE(item->twoLineTitle());
    EXPECT_EQ(item->iconConfig().size, QSizeF(24, 24));

    item->setRepresentedObject(application(phone, "com.example.foo"));
    EXPECT_EQ(item->title(), "Foo");
    EXPECT_EQ(item->twoLineTitle(),
              (TwoLineTitle{"Foo", "iPhone 15 (iOS 17.2)", TwoLineTitle::Role::DisabledText}));
    EXPECT_EQ(item->observationCount(), 1u);

    item->setRepresentedObject(application(watch, "com.example.foo.watch"));
    EXPECT_EQ(item->twoLineTitle()->secondary, "Series 9 (45mm) (watchOS 10.2)");

    auto plain = makeItem(false);
    plain->setRepresentedObject(application(phone, "com.example.bar"));
    EXPECT_EQ(plain->title(), "Bar");
    EXPECT_FALSE(plain->twoLineTitle());

    // Something that is no application ends the observation, keeps the title.
    item->setRepresentedObject(QString("not an application"));
    EXPECT_EQ(item->observationCount(), 0u);
    EXPECT_EQ(item->title(), "Foo Watch");
    EXPECT_FALSE(item->application());
}

TEST_F(ApplicationMenuItemTest, AReinstallKeepsOneObservationAndOthersUpdatesAreIgnored)
{
    auto item = makeItem();
    const auto foo = application(phone, "com.example.foo");
    item->setRepresentedObject(foo);

    // The same bundle installed again elsewhere: an equal application with
    // a new bundle folder.
    for (int i = 0; i < 3; ++i) {
        const AppInstall install =
            tree.installApp(phone, {.identifier = "com.example.foo", .name = "Foo"});
        const auto again = offMain([&] {
            return Application::make(QUrl::fromLocalFile(install.bundlePath), device(phone),
                                     toolset, Application::SimulatorCheck::byCaller);
        });
        ASSERT_TRUE(again);
        ASSERT_NE(again->uuid(), foo->uuid());
        again->setTitle("Foo " + QString::number(i));
        item->setRepresentedObject(again);
        EXPECT_EQ(item->title(), "Foo " + QString::number(i));
        EXPECT_EQ(item->observationCount(), 1u);
    }

    // The same application again: no refresh.
    const auto current = item->application();
    current->setTitle("Unseen");
    item->setRepresentedObject(current);
    EXPECT_EQ(item->title(), "Foo 2");

    const auto bar = application(phone, "com.example.bar");
    bar->setTitle("Changed");
    postNotification(Application::applicationDidUpdate, bar);
    DispatchQueue::drainMain();
    EXPECT_EQ(item->title(), "Foo 2");

    current->setTitle("Foo Renamed");
    postNotification(Application::applicationDidUpdate, current);
    DispatchQueue::drainMain();
    EXPECT_EQ(item->title(), "Foo Renamed");
}

TEST_F(ApplicationMenuItemTest, ASecondLineStaysOnlyForItsOwnApplication)
{
    const QString listing = "== Devices ==\n-- iOS 17.2 --\n    Gone (" + phone + ") (Shutdown)\n";
    auto gone = offMain(
        [&] { return DeviceWatcher::parseDeviceListText(listing, toolset, {}).begin()->second; });
    const QString bundle = application(phone, "com.example.bar")->url().toLocalFile();
    auto orphan = offMain([&] {
        return Application::make(QUrl::fromLocalFile(bundle), gone, toolset,
                                 Application::SimulatorCheck::byCaller);
    });
    ASSERT_TRUE(orphan);
    gone.reset();
    ASSERT_TRUE(test::waitUntil([&] { return !orphan->device(); }));

    auto item = makeItem();
    const auto foo = application(phone, "com.example.foo");
    item->setRepresentedObject(foo);
    item->setRepresentedObject(orphan);
    EXPECT_EQ(item->title(), "Bar");
    EXPECT_FALSE(item->twoLineTitle());

    // Its own application losing its device keeps the line.
    auto kept = makeItem();
    const QString again = "== Devices ==\n-- iOS 17.2 --\n    Short (" + phone + ") (Shutdown)\n";
    auto shortLived = offMain(
        [&] { return DeviceWatcher::parseDeviceListText(again, toolset, {}).begin()->second; });
    auto app = offMain([&] {
        return Application::make(QUrl::fromLocalFile(bundle), shortLived, toolset,
                                 Application::SimulatorCheck::byCaller);
    });
    kept->setRepresentedObject(app);
    ASSERT_TRUE(kept->twoLineTitle());
    shortLived.reset();
    kept->refresh();
    EXPECT_EQ(kept->twoLineTitle()->secondary, "Short (iOS 17.2)");
}

TEST_F(ApplicationMenuItemTest, TheRowShowsTheApplicationsMaskedIconPaddedByTheInsets)
{
    const QString pad = tree.addDevice({.name = "iPad", .runtime = "iOS 17.2"});
    AppSpec spec{.identifier = "com.example.icon", .name = "Icon", .icons = true};
    tree.installApp(pad, spec);
    auto fresh = offMain([&] { return DeviceWatcher::make(toolset); });
    auto app = fresh->all()->at(QUuid::fromString(pad))->applicationTable().at("com.example.icon");
    ASSERT_TRUE(app->appIcon());

    auto item = makeItem();
    item->setIconConfig({QSizeF(24, 24), QMarginsF(0, 2, 0, 2)});
    item->setRepresentedObject(app);
    const ImageRef ref = item->image();
    ASSERT_EQ(ref.source(), ImageRef::Source::Provided);
    const QImage shown = ImageCache::shared().resolve(ref);
    ASSERT_FALSE(shown.isNull());
    // 24 points, plus 2 above and below, at twice the pixels.
    EXPECT_EQ(shown.width(), 48);
    EXPECT_EQ(shown.height(), 56);
    EXPECT_EQ(qAlpha(shown.pixel(shown.width() / 2, 1)), 0);
    EXPECT_GT(qAlpha(shown.pixel(shown.width() / 2, shown.height() / 2)), 0);

    // A reinstall into a new folder is another picture.
    const QString bundle = tree.installApp(pad, spec).bundlePath;
    offMain([&] { app->updateURL(QUrl::fromLocalFile(bundle)); });
    EXPECT_TRUE(test::waitUntil([&] { return !(item->image() == ref); }));
}
