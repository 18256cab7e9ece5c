#include "app/DeviceActionFixture.h"
#include "app/menus/urls/OpenURLsMenu.h"
#include "app/qt/ImageCache.h"
#include "model/Application.h"
#include "platform/queues/DispatchQueue.h"

#include <algorithm>
#include <atomic>

using namespace corvane;
using namespace corvane::test;

namespace {

QList<QUrl> urls(const QStringList &texts)
{
    QList<QUrl> list;
    for (const QString &text : texts)
        list << QUrl(text);
    return list;
}

ImageRef resourceIcon(const QString &name)
{
    return ImageRef::resource(name).thumbnail(QSizeF(14, 14)).roundedClip(3.08);
}

const QStringList kEmpty{"No Recent URLs", "-", "Clear Menu"};

class OpenURLsMenuTest : public DeviceActionFixture {
protected:
    std::shared_ptr<OpenURLsMenu> makeMenu(const QString &udid,
                                           std::function<void()> didReadList = {},
                                           std::shared_ptr<Toolset> xcode = nullptr)
    {
        OpenURLsMenu::Environment env{monitor, commands, settings(), std::move(didReadList)};
        return offMain([&] {
            return OpenURLsMenu::make(device(udid), xcode ? xcode : toolset, std::move(env));
        });
    }

    // Sets the list as an action finishing on a worker does.
    void setRecent(const QStringList &texts)
    {
        offMain([&] { settings()->setRecentURLs(urls(texts)); });
    }

    static bool shows(const Menu &menu, const QStringList &expected)
    {
        return waitUntil([&] { return itemTitles(menu) == expected; });
    }

    // An application of the phone declaring these schemes.
    ApplicationPtr declaring(const QString &name, const QStringList &schemes)
    {
        tree.installApp(
            phone,
            {.identifier = "com.example." + name.toLower(), .name = name, .schemes = schemes});
        offMain([&] { device(phone)->reloadApplications(); });
        return device(phone)->applicationTable().at("com.example." + name.toLower());
    }
};

} // namespace

TEST_F(OpenURLsMenuTest, TheEmptyListOffersOnlyClearMenu)
{
    const auto menu = makeMenu(phone);
    EXPECT_EQ(menu->title(), "Recent URLs");
    EXPECT_EQ(itemTitles(*menu), kEmpty);
    EXPECT_FALSE(menu->noRecentItem()->isEnabled());
    EXPECT_TRUE(menu->clearMenuItem()->isEnabled());
    EXPECT_EQ(menu->clearMenuItem()->action(), "clearMenu:");
    EXPECT_EQ(menu->clearMenuItem()->target(), menu);
    menu->update();
    EXPECT_TRUE(menu->clearMenuItem()->isEnabled());

    settings()->setRecentURLs(QList<QUrl>());
    EXPECT_TRUE(shows(*menu, kEmpty));
    EXPECT_EQ(menu->items().front(), menu->noRecentItem());
}

TEST_F(OpenURLsMenuTest, RowTitlesDropASingleSchemeAndAreShortened)
{
    setRecent({"https://example.com/a", "https://x.com/https-guide",
               "https://example.com/abcdefghij", "https://example.com/abcdefghijk"});
    const auto menu = makeMenu(phone);
    EXPECT_EQ(itemTitles(*menu),
              QStringList({"example.com/a", "x.com/-guide", "example.com/abcdefghij",
                           "example.com/abcdefghijk", "-", "Clear Menu"}));
    const auto guide = menu->items()[1];
    EXPECT_EQ(guide->toolTip(), "https://x.com/https-guide");
    EXPECT_EQ(guide->representedObject().as<QUrl>(), QUrl("https://x.com/https-guide"));
    EXPECT_EQ(guide->action(), "openRecentURL:");
    EXPECT_EQ(guide->target(), menu);
    EXPECT_TRUE(guide->keyEquivalent().isEmpty());

    // Two schemes: whole strings, shortened past 30 characters.
    const QString thirty = "https://example.com/abcdefghij";
    const QString thirtyOne = thirty + "k";
    setRecent({"tel:123", thirty, thirtyOne});
    ASSERT_TRUE(
        shows(*menu, QStringList({"tel:123", thirty, thirtyOne.left(15) + "…" + thirtyOne.right(14),
                                  "-", "Clear Menu"})));
    EXPECT_EQ(OpenURLsMenu::rowTitle(QUrl(thirtyOne), true).size(), 30);
    EXPECT_FALSE(OpenURLsMenu::hasSeveralSchemes(urls({"https://a.com", "https://b.com"})));
}

TEST_F(OpenURLsMenuTest, IconsFollowTheTableAndTheInstalledSchemes)
{
    const std::vector<ApplicationPtr> none;
    const struct {
        const char *url;
        const char *image;
    } cases[] = {
        {"https://example.com", "App Icon - Safari"},
        {"http://example.com", "App Icon - Safari"},
        {"x-web-search://?corvane", "App Icon - Safari"},
        {"App-prefs:root=General", "App Icon - Settings"},
        {"tel:123", "App Icon - Phone"},
        {"telprompt:123", "App Icon - Phone"},
        {"facetime-audio:123", "App Icon - FaceTime"},
        {"facetime-audiox", "App Icon - FaceTime"},
        {"mailto:a@example.com", "App Icon - Mail"},
        {"maps:?q=cafe", "App Icon - Maps"},
        {"itms-watchs://x", "App Icon - Watch"},
        {"myapp:foo", "App Icon - iOS"},
        // Schemes match whatever their case.
        {"TEL:123", "App Icon - Phone"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OpenURLsMenu::icon(c.url, none), resourceIcon(c.image)) << c.url;

    // An application declaring "maps" takes maps: URLs; one declaring
    // "http" changes no web URL.
    const auto web = declaring("Browser", {"http"});
    const auto zebra = declaring("Zebra", {"maps"});
    const auto maps = declaring("Atlas", {"geo", "maps"});
    auto applications = device(phone)->applications();
    EXPECT_EQ(OpenURLsMenu::icon("https://example.com", applications),
              resourceIcon("App Icon - Safari"));
    const ImageRef atlas = OpenURLsMenu::icon("maps:?q=cafe", applications);
    EXPECT_EQ(atlas.source(), ImageRef::Source::Provided);
    EXPECT_EQ(atlas.steps(), resourceIcon("x").steps());
    EXPECT_EQ(OpenURLsMenu::icon("geo:1,2", applications), atlas);
    // The first in title order wins, whatever order the device lists them in.
    std::reverse(applications.begin(), applications.end());
    EXPECT_EQ(OpenURLsMenu::icon("maps:?q=cafe", applications), atlas);
    EXPECT_NE(OpenURLsMenu::icon("maps:?q=cafe", {zebra}), atlas);
    EXPECT_EQ(OpenURLsMenu::icon("tel:1", applications), resourceIcon("App Icon - Phone"));

    // Every icon of the table is art of the program, 14 points wide.
    for (const auto &c : cases) {
        const QImage image = ImageCache::shared().resolve(resourceIcon(c.image));
        ASSERT_FALSE(image.isNull()) << c.image;
        EXPECT_EQ(image.deviceIndependentSize().toSize(), QSize(14, 14)) << c.image;
    }
    for (const char *name :
         {"Shortcuts", "Notes", "Reminders", "Mail", "Photos", "Messages", "News", "AppStore",
          "Music", "Calendar", "Contacts", "Wallet", "Find My", "Voice Memos"})
        EXPECT_FALSE(ImageCache::shared()
                         .resolve(ImageRef::resource(QString("App Icon - ") + name))
                         .isNull())
            << name;
    EXPECT_FALSE(ImageCache::shared().resolve(atlas).isNull());

    // The rows carry them.
    setRecent({"maps:?q=cafe", "https://example.com"});
    const auto menu = makeMenu(phone);
    EXPECT_EQ(menu->items()[0]->image(), atlas);
    EXPECT_EQ(menu->items()[1]->image(), resourceIcon("App Icon - Safari"));
}

// Through the store, schemes come back in lower case: "App-prefs:" and an
// application's "MyApp" scheme still give their icons.
TEST_F(OpenURLsMenuTest, StoredURLsOfMixedCaseSchemesKeepTheirIcons)
{
    const auto mine = declaring("Mine", {"MyApp"});
    setRecent({"App-prefs:root=General", "MyApp://open"});
    const auto menu = makeMenu(phone);
    ASSERT_EQ(itemTitles(*menu).size(), 4);
    EXPECT_EQ(menu->items()[0]->image(), resourceIcon("App Icon - Settings"));
    const ImageRef icon = menu->items()[1]->image();
    EXPECT_EQ(icon.source(), ImageRef::Source::Provided);
    EXPECT_EQ(icon, OpenURLsMenu::icon("MyApp://open", {mine}));
}

TEST_F(OpenURLsMenuTest, UrlRowsNeedAnXcodeThatOpensURLs)
{
    setRecent({"https://example.com"});
    fixture::XcodeSpec old;
    old.name = "Xcode-9.app";
    old.subcommands = {"list", "boot", "shutdown", "erase"};
    const QString oldPath = tree.addXcode(old);
    const auto oldXcode = offMain([&] { return Toolset::make(QUrl::fromLocalFile(oldPath)); });
    ASSERT_TRUE(oldXcode);
    const auto menu = makeMenu(phone, {}, oldXcode);
    menu->update();
    EXPECT_FALSE(menu->items()[0]->isEnabled());
    EXPECT_TRUE(menu->clearMenuItem()->isEnabled());

    const auto current = makeMenu(phone);
    current->update();
    EXPECT_TRUE(current->items()[0]->isEnabled());

    // A toolset that has gone disables them too.
    const auto orphan =
        makeMenu(phone, {}, offMain([&] { return Toolset::make(QUrl::fromLocalFile(xcode)); }));
    ASSERT_EQ(itemTitles(*orphan).first(), "example.com");
    orphan->update();
    EXPECT_FALSE(orphan->items()[0]->isEnabled());
    EXPECT_TRUE(orphan->clearMenuItem()->isEnabled());
}

TEST_F(OpenURLsMenuTest, EveryMenuFollowsTheListAndClearMenuEmptiesThemAll)
{
    const auto phoneMenu = makeMenu(phone);
    const auto watchMenu = makeMenu(watch);
    setRecent({"https://example.com", "tel:123"});
    const QStringList both{"https://example.com", "tel:123", "-", "Clear Menu"};
    EXPECT_TRUE(shows(*phoneMenu, both));
    EXPECT_TRUE(shows(*watchMenu, both));
    const auto clear = phoneMenu->clearMenuItem();

    clear->sendAction();
    EXPECT_TRUE(shows(*phoneMenu, kEmpty));
    EXPECT_TRUE(shows(*watchMenu, kEmpty));
    EXPECT_EQ(settings()->recentURLs(), std::nullopt);
    EXPECT_EQ(phoneMenu->clearMenuItem(), clear);
    EXPECT_TRUE(commands->recentCommands().empty());
}

TEST_F(OpenURLsMenuTest, TheNewestListWinsWhateverOrderBuildsFinishIn)
{
    // The construction is a menu's first build; its second holds after
    // reading its list until the test lets it go.
    struct Hold {
        std::atomic<int> builds{0};
        DispatchSemaphore read, release;
        std::function<void()> hook()
        {
            return [this] {
                if (++builds == 2) {
                    read.signal();
                    release.wait();
                }
            };
        }
    } first, second;
    auto menu = makeMenu(phone, first.hook());
    setRecent({"https://old.example.com"});
    first.read.wait();
    setRecent({"https://new.example.com"});
    ASSERT_TRUE(shows(*menu, QStringList({"new.example.com", "-", "Clear Menu"})));
    first.release.signal();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(itemTitles(*menu), QStringList({"new.example.com", "-", "Clear Menu"}));

    // A menu dropped while its build runs installs nothing and ends.
    auto dropped = makeMenu(phone, second.hook());
    std::weak_ptr<OpenURLsMenu> weak = dropped;
    setRecent({"https://later.example.com"});
    second.read.wait();
    dropped.reset();
    second.release.signal();
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(itemTitles(*menu), QStringList({"later.example.com", "-", "Clear Menu"}));
}

TEST_F(OpenURLsMenuTest, ChoosingAURLOpensItAgainOnTheMenusDevice)
{
    const QString url = "https://example.com/abcdefghijklmnopqrst";
    setRecent({"myapp:foo", url});
    const auto menu = makeMenu(phone);
    const auto watchMenu = makeMenu(watch);
    const auto custom = menu->items()[0];
    const auto web = menu->items()[1];

    // The watch does not run; a sender without a URL opens nothing.
    watchMenu->items()[0]->sendAction();
    menu->openRecentURL(menu->clearMenuItem());
    menu->openRecentURL(nullptr);
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(simctlCalls().isEmpty());
    EXPECT_TRUE(workspace->requests.empty());

    web->sendAction();
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 1; }));
    EXPECT_EQ(simctlCalls(), QStringList{"openurl " + phone + " " + url});
    EXPECT_EQ(workspace->requests.front().operation, "activate");
    const auto recorded = commands->recentCommands().back();
    EXPECT_EQ(recorded.title, url.left(15) + "…" + url.right(14));
    EXPECT_EQ(recorded.selector, "openWithUrl:");
    EXPECT_EQ(recorded.loadTarget(), device(phone));
    const QString shortened = url.left(15) + "…" + url.right(14);
    ASSERT_TRUE(shows(*menu, QStringList({shortened, "myapp:foo", "-", "Clear Menu"})));

    // simctl refuses a scheme no application declares: the list stays, the
    // command is recorded all the same.
    custom->sendAction();
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 2; }));
    EXPECT_EQ(simctlCalls().last(), "openurl " + phone + " myapp:foo");
    EXPECT_EQ(commands->recentCommands().back().title, "myapp:foo");
    EXPECT_EQ(recentURLs(), QStringList({url, "myapp:foo"}));
}
