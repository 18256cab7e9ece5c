#include "app/DeviceSubmenuTestSupport.h"
#include "app/menus/values/UnsplashMenu.h"
#include "common/StubTaskService.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class UnsplashMenuTest : public DeviceSubmenuTest {
protected:
    void SetUp() override
    {
        DeviceSubmenuTest::SetUp();
        previous = TaskService::shared();
        tasks = std::make_shared<StubTaskService>();
        TaskService::setShared(tasks);
    }
    void TearDown() override
    {
        DeviceSubmenuTest::TearDown();
        TaskService::setShared(previous);
    }

    std::shared_ptr<UnsplashMenu> menu()
    {
        return offMain([&] {
            return UnsplashMenu::make(device(phone), toolset, {tasks, commands});
        });
    }

    QStringList searches() const
    {
        QStringList terms;
        for (const auto &call : tasks->calls()) {
            EXPECT_EQ(call.operation, StubTaskService::Operation::unsplash);
            EXPECT_EQ(call.device.lock(), device(phone));
            terms << call.searchString;
        }
        return terms;
    }

    std::shared_ptr<StubTaskService> tasks;
    std::shared_ptr<TaskService> previous;
};

} // namespace

TEST_F(UnsplashMenuTest, ElevenCategoriesInOrderWithTheirTerms)
{
    const auto unsplash = menu();
    EXPECT_EQ(unsplash->title(), "Unsplash");
    EXPECT_EQ(itemTitles(*unsplash),
              QStringList({"Animal", "Architecture", "Business", "Food", "Interior", "Minimal",
                           "Nature", "Plant", "Portrait", "Space", "Technology"}));
    for (const auto &item : unsplash->items())
        EXPECT_EQ(item->representedObject().as<QString>(), item->title().toLower());
    EXPECT_EQ(UnsplashMenu::itemTitle("éclair"), "Éclair");
    EXPECT_EQ(UnsplashMenu::itemTitle("mIxed"), "MIxed");
    EXPECT_EQ(UnsplashMenu::itemTitle(""), "");
    // A letter outside the basic plane: Deseret small long I to capital.
    EXPECT_EQ(UnsplashMenu::itemTitle(QString::fromUcs4(U"\U00010428x")),
              QString::fromUcs4(U"\U00010400x"));
}

TEST_F(UnsplashMenuTest, APickStartsATaskForItsTermAndRecordsIt)
{
    const auto unsplash = menu();
    const auto space = unsplash->items()[9];
    space->sendAction();
    ASSERT_TRUE(waitUntil([&] { return commands->recentCommands().size() == 1; }));
    EXPECT_EQ(searches(), QStringList{"space"});
    const auto command = commands->recentCommands().back();
    EXPECT_EQ(command.title, "Unsplash \u201CSpace\u201D");
    EXPECT_EQ(command.selector, "unsplashFor:");
    EXPECT_EQ(command.loadTarget(), device(phone));
    ASSERT_TRUE(command.object);
    EXPECT_EQ(std::get<QString>(*command.object), "space");

    // Each pick starts its own task; the history keeps one entry.
    space->sendAction();
    ASSERT_TRUE(waitUntil([&] { return tasks->calls().size() == 2; }));
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(commands->recentCommands().size(), 1u);

    // Quick Repeat starts another, through the device.
    CommandManager::repeat(command);
    ASSERT_TRUE(waitUntil([&] { return tasks->calls().size() == 3; }));
    EXPECT_EQ(searches(), QStringList({"space", "space", "space"}));
    // The device is not asked whether it runs.
    EXPECT_TRUE(simctlCalls().isEmpty());
}

TEST_F(UnsplashMenuTest, ASenderWithoutATermDoesNothing)
{
    const auto unsplash = menu();
    unsplash->perform("unsplash:", nullptr);
    unsplash->unsplash(MenuItem::make("Space"));
    const auto url = MenuItem::make("Space");
    url->setRepresentedObject(QUrl("https://example.com/space"));
    unsplash->unsplash(url);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(tasks->calls().empty());
    EXPECT_TRUE(commands->recentCommands().empty());
}
