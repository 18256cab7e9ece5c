#include "app/ApplicationMenuTestSupport.h"
#include "app/menus/values/PermissionBarMenu.h"
#include "platform/menus/MenuItem.h"

#include <QRegularExpression>

using namespace corvane;
using namespace corvane::test;
using Permission = Application::Permission;
using Scope = Application::PermissionScope;

namespace {

const QStringList kServices{"All",
                            "Calendar",
                            "Contacts (Limited)",
                            "Contacts",
                            "Location (Always)",
                            "Location",
                            "Photos (Read)",
                            "Photos (Write)",
                            "Media Library",
                            "Microphone",
                            "Motion",
                            "Reminders",
                            "Siri"};

class PermissionBarMenuTest : public ApplicationMenuFixture {
protected:
    std::shared_ptr<PermissionBarMenu> make(Permission permission)
    {
        return PermissionBarMenu::make(foo, permission, toolset, commands);
    }

    MenuItemPtr item(const Menu &menu, const QString &title) const
    {
        for (const auto &item : menu.items())
            if (item->title() == title)
                return item;
        return nullptr;
    }

    QStringList privacyCalls() const
    {
        return simctlCalls().filter(QRegularExpression("^privacy "));
    }
};

} // namespace

TEST_F(PermissionBarMenuTest, ThirteenServicesInOrderUnderEachPermission)
{
    const QStringList titles{"Grant Permissions", "Revoke Permissions", "Reset Permissions"};
    for (const Permission permission : Application::allPermissions()) {
        const auto menu = make(permission);
        EXPECT_EQ(menu->title(), titles[int(permission)]);
        EXPECT_EQ(itemTitles(menu->items()), kServices);
        const auto items = menu->items();
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i]->representedObject().as<Scope>(),
                      Application::allPermissionScopes()[i]);
            EXPECT_EQ(items[i]->action(), "apply:");
            EXPECT_EQ(items[i]->target(), menu);
            EXPECT_TRUE(items[i]->keyEquivalent().isEmpty());
        }
    }
}

TEST_F(PermissionBarMenuTest, EveryServiceWordIsOneSimctlOffers)
{
    const QString help = QString::fromUtf8(
        readFile(realWorldPath("simctl-help/blog2020__xcode11.4-help-privacy.txt")));
    ASSERT_FALSE(help.isEmpty());
    const QString services = help.section("The service:", 1).section("bundle identifier", 0, 0);
    QStringList offered;
    static const QRegularExpression line(R"(^\s+([a-z-]+) - )",
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(services); it.hasNext();)
        offered << it.next().captured(1);
    ASSERT_EQ(offered.size(), 13);
    for (const Scope scope : Application::allPermissionScopes())
        EXPECT_TRUE(offered.contains(Application::rawValue(scope)))
            << Application::rawValue(scope).toStdString();
}

TEST_F(PermissionBarMenuTest, TheTitleRuleEndsWordsAtEveryNonLetter)
{
    EXPECT_EQ(PermissionBarMenu::titleCase("media-library"), "Media Library");
    EXPECT_EQ(PermissionBarMenu::titleCase("revoke"), "Revoke");
    EXPECT_EQ(PermissionBarMenu::titleCase("REMINDERS"), "Reminders");
    EXPECT_EQ(PermissionBarMenu::titleCase("photos-add"), "Photos Add");
    EXPECT_EQ(PermissionBarMenu::titleCase("x2y z"), "X2Y Z");
    EXPECT_EQ(PermissionBarMenu::titleCase(""), "");
    EXPECT_EQ(PermissionBarMenu::commandTitle(Permission::reset, "All", Scope::all),
              "Reset All Permissions");
    EXPECT_EQ(PermissionBarMenu::commandTitle(Permission::grant, "Contacts (Limited)",
                                              Scope::contactslimited),
              "Grant Contacts (Limited) Permission");
}

TEST_F(PermissionBarMenuTest, RevokeAllIsRecordedAndQuickRepeatRunsItAgain)
{
    const auto menu = make(Permission::revoke);
    ASSERT_TRUE(item(*menu, "All")->sendAction());
    ASSERT_TRUE(waitForBackgroundWork());
    const QString call = "privacy " + foo->device()->udid() + " revoke all com.example.foo";
    EXPECT_EQ(privacyCalls(), QStringList{call});

    const auto history = commands->recentCommands();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].title, "Revoke All Permissions");
    EXPECT_EQ(history[0].selector, "revokePermissionTo:");
    EXPECT_EQ(std::get<QString>(*history[0].object), "all");
    EXPECT_EQ(history[0].loadTarget(), foo);

    CommandManager::repeat(history[0]);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(privacyCalls(), QStringList({call, call}));
    EXPECT_EQ(commands->recentCommands().size(), 1u);
}

TEST_F(PermissionBarMenuTest, GrantPhotosWriteRunsPhotosAdd)
{
    const auto menu = make(Permission::grant);
    ASSERT_TRUE(item(*menu, "Photos (Write)")->sendAction());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(privacyCalls(), QStringList{"privacy " + foo->device()->udid() +
                                          " grant photos-add com.example.foo"});
    const auto history = commands->recentCommands();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].title, "Grant Photos (Write) Permission");
    EXPECT_EQ(history[0].selector, "grantPermissionTo:");
    EXPECT_EQ(std::get<QString>(*history[0].object), "photos-add");

    // Only an item carrying a service does anything.
    menu->perform("apply:", nullptr);
    menu->perform("apply:", MenuItem::make("Photos (Write)", "apply:"));
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(privacyCalls().size(), 1);
    EXPECT_EQ(commands->recentCommands().size(), 1u);
}
