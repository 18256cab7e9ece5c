#include "PanesTestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "platform/Log.h"
#include "platform/desktop/LoginItem.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/desktop/Updater.h"
#include "preferences/GeneralPreferenceViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

#include <atomic>
#include <thread>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;
using fixture::FixtureTree;
using fixture::XcodeSpec;

namespace {

class FakeUpdater : public Updater {
public:
    std::optional<QDateTime> lastUpdateCheckDate() const override { return date; }
    void checkForUpdates() override
    {
        ++checks;
        date = dateAfterCheck;
    }

    std::optional<QDateTime> date;
    QDateTime dateAfterCheck;
    int checks = 0;
};

// Xcodes of the simulated tree, found by the program's own toolset manager.
class GeneralPaneTest : public PaneTestBase {
protected:
    void SetUp() override
    {
        PaneTestBase::SetUp();
        m_currentChanges = observeNotification(
            ToolsetManager::currentDidChange, nullptr,
            [this](const Notification &, const ObjectPtr &) { ++currentChanges; });
    }

    void TearDown() override
    {
        m_currentChanges->invalidate();
        PaneTestBase::TearDown();
    }

    QString addXcode(const QString &name, const QString &version, const QString &build)
    {
        XcodeSpec spec;
        spec.name = name;
        spec.version = version;
        spec.build = build;
        return tree.addXcode(spec);
    }

    // The pane once it shows the manager's Xcodes.
    std::unique_ptr<GeneralPreferenceViewController>
    makePane(std::shared_ptr<Updater> updater = nullptr)
    {
        setPaths(tree.paths());
        auto pane = std::make_unique<GeneralPreferenceViewController>(std::move(updater));
        EXPECT_TRUE(waitUntil([&] { return pane->isReady(); }));
        return pane;
    }

    static QString currentPath()
    {
        const auto current = ToolsetManager::shared()->current();
        return current ? QDir::cleanPath(current->xcodePath().toLocalFile()) : QString();
    }

    FixtureTree tree;
    std::atomic<int> currentChanges{0};

private:
    std::shared_ptr<NotificationObserver> m_currentChanges;
};

} // namespace

TEST_F(GeneralPaneTest, ChoosingAnXcodeRemembersOnlyWhatDiffersFromXcodeSelect)
{
    const QString stable = addXcode("Xcode.app", "15.4", "15F31d");
    const QString beta = addXcode("Xcode-beta.app", "16.0", "16A5171c");
    tree.selectXcode(stable);
    CorvaneSettings::shared()->setToolsPath(QUrl::fromLocalFile(beta));

    auto pane = makePane();
    EXPECT_EQ(pane->xcodes(), (QStringList{"Xcode 16.0 (16A5171c)", "Xcode 15.4 (15F31d)"}));
    EXPECT_EQ(pane->xcodeSelection()->currentIndex(), 0);
    EXPECT_EQ(pane->xcodePathLabel()->text(), beta);

    // The Xcode that xcode-select names: switched to, and nothing remembered.
    pane->xcodeChanged(1);
    ASSERT_TRUE(waitUntil([&] { return pane->xcodePathLabel()->text() == stable; }));
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(currentPath(), stable);
    EXPECT_EQ(pane->xcodeSelection()->currentIndex(), 1);
    EXPECT_EQ(CorvaneSettings::shared()->toolsPath(), std::nullopt);

    // Another one: its path is remembered.
    pane->xcodeChanged(0);
    ASSERT_TRUE(waitUntil([&] { return pane->xcodePathLabel()->text() == beta; }));
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(CorvaneSettings::shared()->toolsPath(), QUrl::fromLocalFile(beta));

    // The current one again: no second switch.
    const int changes = currentChanges;
    pane->xcodeChanged(0);
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(currentChanges, changes);
    EXPECT_EQ(CorvaneSettings::shared()->toolsPath(), QUrl::fromLocalFile(beta));

    // Rows that stand for no Xcode do nothing.
    pane->xcodeChanged(-1);
    pane->xcodeChanged(2);
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(currentChanges, changes);
}

TEST_F(GeneralPaneTest, WithASingleXcodeTheChoiceIsNeverStored)
{
    // Not named by xcode-select, so only the count keeps it from being stored.
    const QString only = addXcode("Xcode.app", "15.4", "15F31d");
    auto pane = makePane();
    ASSERT_EQ(pane->xcodes(), QStringList{"Xcode 15.4 (15F31d)"});
    pane->xcodeChanged(0);
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(currentPath(), only);
    EXPECT_EQ(CorvaneSettings::shared()->toolsPath(), std::nullopt);
}

TEST_F(GeneralPaneTest, ThePathLabelAndSelectionFollowTheManager)
{
    {
        auto empty = makePane();
        EXPECT_TRUE(empty->xcodes().isEmpty());
        EXPECT_EQ(empty->xcodePathLabel()->text(), "No Xcodes detected.");
    }
    EXPECT_TRUE(waitForBackgroundWork());
    ToolsetManager::resetShared();

    const QString stable = addXcode("Xcode.app", "15.4", "15F31d");
    const QString beta = addXcode("Xcode-beta.app", "16.0", "16A5171c");
    tree.selectXcode(stable);
    auto pane = makePane();
    EXPECT_EQ(pane->xcodeSelection()->currentIndex(), 1);
    EXPECT_EQ(pane->xcodePathLabel()->text(), stable);

    // Switched elsewhere, on another thread.
    auto manager = ToolsetManager::shared();
    std::thread([&] { manager->setCurrent(manager->availableToolsets().front()); }).join();
    ASSERT_TRUE(waitUntil([&] { return pane->xcodePathLabel()->text() == beta; }));
    EXPECT_EQ(pane->xcodeSelection()->currentIndex(), 0);
    EXPECT_EQ(pane->xcodeSelection()->currentText(), "Xcode 16.0 (16A5171c)");

    std::thread([&] { manager->setCurrent(nullptr); }).join();
    ASSERT_TRUE(waitUntil([&] { return pane->xcodePathLabel()->text() == "No Xcode selected."; }));
    EXPECT_EQ(pane->xcodeSelection()->currentIndex(), -1);
    EXPECT_EQ(pane->xcodeSelection()->count(), 2);
}

TEST_F(GeneralPaneTest, ANewerXcodeListedAheadLeavesTheCurrentOneSelected)
{
    const QString stable = addXcode("Xcode.app", "15.4", "15F31d");
    tree.selectXcode(stable);
    auto pane = makePane();
    ASSERT_EQ(pane->xcodeSelection()->currentIndex(), 0);

    // Found by the reload each showing of the pane starts.
    addXcode("Xcode-beta.app", "16.0", "16A5171c");
    pane->willAppear();
    ASSERT_TRUE(waitUntil([&] { return pane->xcodes().size() == 2; }));
    EXPECT_EQ(pane->xcodeSelection()->itemText(0), "Xcode 16.0 (16A5171c)");
    EXPECT_EQ(pane->xcodeSelection()->currentIndex(), 1);
    EXPECT_EQ(pane->xcodeSelection()->currentText(), "Xcode 15.4 (15F31d)");
    EXPECT_EQ(pane->xcodePathLabel()->text(), stable);
    EXPECT_EQ(currentPath(), stable);
}

TEST_F(GeneralPaneTest, WithoutAnUpdaterTheLineNeverPretendsToCheck)
{
    auto pane = makePane();
    pane->willAppear();
    EXPECT_EQ(pane->updateLastCheckLabel()->text(), "Last Checked: Never.");
    EXPECT_FALSE(pane->updateButton()->isEnabled());
    EXPECT_EQ(Updater::standard(), nullptr);
}

TEST_F(GeneralPaneTest, TheUpdateLineShowsTheLastCheckAndRefreshesAfterACheck)
{
    const QLocale locale;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    auto updater = std::make_shared<FakeUpdater>();
    auto pane = makePane(updater);
    EXPECT_EQ(pane->updateLastCheckLabel()->text(), "Last Checked: Never.");
    EXPECT_TRUE(pane->updateButton()->isEnabled());

    updater->date = QDateTime(QDate(2024, 3, 5), QTime(15, 4, 5));
    pane->willAppear();
    EXPECT_EQ(pane->updateLastCheckLabel()->text(), "Last Checked: Mar 5, 2024 at 3:04:05 PM.");

    updater->dateAfterCheck = QDateTime(QDate(2024, 11, 30), QTime(9, 0, 0));
    pane->updateButton()->click();
    EXPECT_EQ(updater->checks, 1);
    // The refresh waits half a second for the updater to record its check.
    pumpFor(200ms);
    EXPECT_EQ(pane->updateLastCheckLabel()->text(), "Last Checked: Mar 5, 2024 at 3:04:05 PM.");
    EXPECT_TRUE(waitUntil([&] {
        return pane->updateLastCheckLabel()->text() == "Last Checked: Nov 30, 2024 at 9:00:00 AM.";
    }));
    QLocale::setDefault(locale);
}

TEST_F(GeneralPaneTest, TheLoginCheckboxWritesAndReadsTheAutostartEntry)
{
    auto pane = makePane();
    const QString entry = path("autostart/com.quendrith.corvane.launchagent.desktop");
    pane->willAppear();
    EXPECT_FALSE(pane->loginOption()->isChecked());

    pane->loginOption()->click();
    EXPECT_TRUE(pane->loginOption()->isChecked());
    const QByteArray written = readFile(entry);
    EXPECT_TRUE(written.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(written.contains("\nType=Application\n"));
    EXPECT_TRUE(
        written.contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
    EXPECT_TRUE(LoginItem::isEnabled());

    pane->loginOption()->click();
    EXPECT_FALSE(pane->loginOption()->isChecked());
    EXPECT_FALSE(QFile::exists(entry));

    // An entry switched off by the desktop reads as off.
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nType=Application\nExec=corvane\nHidden=true\n"));
    pane->willAppear();
    EXPECT_FALSE(pane->loginOption()->isChecked());
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nExec=corvane\n"));
    pane->willAppear();
    EXPECT_TRUE(pane->loginOption()->isChecked());
}

TEST_F(GeneralPaneTest, ALoginItemThatCannotBeWrittenPutsTheCheckboxBack)
{
    auto pane = makePane();
    // A file where the folder should be: nothing can be written, even as root.
    auto paths = SystemPaths::current();
    paths.autostartDir = path("autostart-file");
    ASSERT_TRUE(writeFile(paths.autostartDir, "not a folder"));
    SystemPaths::setCurrent(paths);

    Log::Capture log;
    pane->willAppear();
    pane->loginOption()->click();
    EXPECT_FALSE(pane->loginOption()->isChecked());
    EXPECT_EQ(log.count("Error configuring launch behavior"), 1);
    EXPECT_EQ(readFile(paths.autostartDir), "not a folder");
}
