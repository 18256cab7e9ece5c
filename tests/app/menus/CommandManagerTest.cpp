#include "app/menus/CommandManager.h"
#include "core/Observer.h"
#include "platform/menus/ActionTarget.h"
#include "platform/notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

class Target : public ActionTarget {
public:
    Target()
    {
        addAction("go:", [this](const ObjectPtr &sender) {
            ++performed;
            lastSender = sender;
        });
    }
    std::atomic<int> performed{0};
    ObjectPtr lastSender;
};

// Counts the history notifications of one manager.
class HistoryPosts {
public:
    explicit HistoryPosts(const std::shared_ptr<CommandManager> &manager)
    {
        m_token = NotificationCenter::defaultCenter().addObserver(
            CommandManager::historyDidChange, manager, nullptr,
            [this](const Notification &) { ++count; });
    }
    ~HistoryPosts() { NotificationCenter::defaultCenter().removeObserver(m_token); }
    std::atomic<int> count{0};

private:
    NotificationCenter::Token m_token;
};

QStringList titles(const CommandManager &manager)
{
    QStringList result;
    for (const auto &command : manager.recentCommands())
        result << command.title;
    return result;
}

} // namespace

TEST(CommandManagerTest, RecordingRulesAndTheirNotifications)
{
    auto manager = CommandManager::make();
    HistoryPosts posts(manager);
    auto target = std::make_shared<Target>();

    manager->recordCommand("Erase", target, "go:");
    manager->recordCommand("Erase", target, "go:");
    EXPECT_EQ(titles(*manager), QStringList{"Erase"});
    EXPECT_EQ(posts.count, 1);

    manager->recordCommand("Boot", target, "go:");
    // An argument on one side only takes no part: the older entry moves.
    manager->recordCommand("Erase", target, "go:", QString("text"));
    EXPECT_EQ(titles(*manager), (QStringList{"Boot", "Erase"}));
    ASSERT_TRUE(manager->recentCommands().back().object);
    manager->recordCommand("Erase", target, "go:", QString("other text"));
    EXPECT_EQ(titles(*manager), (QStringList{"Boot", "Erase", "Erase"}));
    manager->recordCommand("Boot", target, "go:");
    EXPECT_EQ(titles(*manager), (QStringList{"Erase", "Erase", "Boot"}));
    EXPECT_EQ(posts.count, 5);
}

TEST(CommandManagerTest, ArgumentsCompareByValueOrIdentityOrNotAtAll)
{
    auto manager = CommandManager::make();
    auto target = std::make_shared<Target>();
    auto other = std::make_shared<Target>();
    auto item = std::make_shared<Object>();

    manager->recordCommand("Open", target, "go:", QUrl("https://a.example"));
    manager->recordCommand("Open", target, "go:", QUrl("https://a.example"));
    EXPECT_EQ(manager->recentCommands().size(), 1u);

    manager->recordCommand("Open", target, "go:", std::any(std::vector<int>{1}));
    EXPECT_EQ(manager->recentCommands().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<std::any>(*manager->recentCommands().back().object));

    manager->recordCommand("Item", target, "go:", item);
    manager->recordCommand("Item", target, "go:", std::make_shared<Object>());
    EXPECT_EQ(manager->recentCommands().size(), 3u);

    manager->recordCommand("Item", other, "go:", item);
    EXPECT_EQ(manager->recentCommands().size(), 4u);

    // The same title and target with another selector is another command.
    manager->recordCommand("Item", other, "stop:", item);
    EXPECT_EQ(manager->recentCommands().size(), 5u);
    EXPECT_EQ(manager->recentCommands().back().selector, "stop:");
}

TEST(CommandManagerTest, EleventhEvictsTheOldest)
{
    auto manager = CommandManager::make();
    auto target = std::make_shared<Target>();
    for (int i = 1; i <= 11; ++i)
        manager->recordCommand(QString::number(i), target, "go:");
    QStringList expected;
    for (int i = 2; i <= 11; ++i)
        expected << QString::number(i);
    EXPECT_EQ(titles(*manager), expected);
}

TEST(CommandManagerTest, PerformingNeedsALiveTarget)
{
    auto manager = CommandManager::make();
    auto target = std::make_shared<Target>();
    auto sender = std::make_shared<Object>();
    manager->recordCommand("Live", target, "go:", sender);
    {
        auto gone = std::make_shared<Target>();
        manager->recordCommand("Gone", gone, "go:");
    }
    const auto commands = manager->recentCommands();
    commands.back().perform();
    EXPECT_EQ(target->performed, 0);

    ASSERT_TRUE(manager->newestLiveCommand());
    manager->newestLiveCommand()->perform();
    EXPECT_EQ(target->performed, 1);
    EXPECT_EQ(target->lastSender, sender);
}

TEST(CommandManagerTest, ConcurrentRecordsKeepTheRules)
{
    auto manager = CommandManager::make();
    HistoryPosts posts(manager);
    std::vector<std::shared_ptr<Target>> targets;
    for (int i = 0; i < 4; ++i)
        targets.push_back(std::make_shared<Target>());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                manager->recordCommand(QString::number(i % 15), targets[t], "go:");
                manager->recentCommands();
            }
        });
    for (auto &thread : threads)
        thread.join();

    const auto commands = manager->recentCommands();
    EXPECT_EQ(commands.size(), 10u);
    for (size_t i = 0; i < commands.size(); ++i)
        for (size_t j = i + 1; j < commands.size(); ++j)
            EXPECT_FALSE(commands[i] == commands[j]);
    EXPECT_GT(posts.count, 0);
}
