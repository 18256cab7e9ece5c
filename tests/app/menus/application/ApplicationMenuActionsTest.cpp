#include "app/ApplicationMenuTestSupport.h"
#include "app/menus/application/JSONPromptingAlert.h"
#include "platform/menus/MenuItem.h"

#include <QFile>
#include <QJsonDocument>

using namespace corvane;
using namespace corvane::test;

namespace {

class ApplicationMenuActionsTest : public ApplicationMenuFixture {
protected:
    // The simctl calls of one subcommand, without the subcommand.
    QStringList calls(const QString &subcommand) const
    {
        QStringList found;
        for (const QString &call : simctlCalls())
            if (call.startsWith(subcommand + ' '))
                found << call.mid(subcommand.size() + 1);
        return found;
    }

    QString udid() const { return foo->device()->udid(); }

    // The payload files handed to simctl push, in order.
    QStringList pushedPayloads() const
    {
        QStringList payloads;
        for (const QString &call : calls("push"))
            payloads << QString::fromUtf8(readFile(call.section(' ', 2)));
        return payloads;
    }

    AlertResponse send(const QString &text) { return {0, false, text}; }

    std::vector<CommandManager::Command> history() const { return commands->recentCommands(); }
};

} // namespace

TEST_F(ApplicationMenuActionsTest, LaunchAndQuitActOnlyInTheStateThatNeedsThem)
{
    const auto menu = makeMenu(foo);
    setRunning({phone}, {foo});
    menu->perform("launch:", menu->launchItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(calls("launch").isEmpty());

    setRunning({phone});
    menu->perform("quit:", menu->quitItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(calls("terminate").isEmpty());

    // The device menu's row sends launch: with itself as sender.
    const auto row = MenuItem::make("Foo", "launch:");
    row->setTarget(menu);
    ASSERT_TRUE(row->sendAction());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(calls("launch"), QStringList{udid() + " com.example.foo"});
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history().back().title, "Foo");
    EXPECT_EQ(history().back().selector, "launch");
    // The next question lists the processes again.
    EXPECT_EQ(monitor->lastCheck(), ActivityMonitor::TimePoint());

    // Quick Repeat launches it again.
    CommandManager::repeat(history().back());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(calls("launch").size(), 2);

    setRunning({phone}, {foo});
    menu->perform("quit:", menu->quitItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(calls("terminate"), QStringList{udid() + " com.example.foo"});
    EXPECT_EQ(history().back().title, "Quit");
    EXPECT_EQ(history().back().selector, "terminate");

    // With the simulator shut down nothing runs, whatever the item says.
    setRunning({});
    menu->perform("launch:", nullptr);
    menu->perform("eraseState:", menu->eraseSceneItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(calls("launch").size(), 2);
    EXPECT_EQ(history().size(), 2u);
}

TEST_F(ApplicationMenuActionsTest, UninstallAsksUntilToldNotTo)
{
    const auto menu = makeMenu(foo);
    setRunning({phone});

    // Return holds the cancelling button.
    alerts->enqueue({1, true, {}});
    menu->perform("uninstall:", menu->uninstallItem());
    ASSERT_EQ(alerts->presented.size(), 1u);
    const AlertSpec &spec = alerts->presented[0];
    EXPECT_EQ(spec.messageText, "Are you sure you want to remove Foo from iPhone 15?");
    EXPECT_TRUE(spec.informativeText.isEmpty());
    EXPECT_TRUE(spec.showsSuppressionButton);
    ASSERT_EQ(spec.buttons.size(), 2u);
    EXPECT_EQ(spec.buttons[0].title, "Uninstall");
    EXPECT_EQ(spec.buttons[0].keyEquivalent, AlertSpec::KeyEquivalent::None);
    EXPECT_EQ(spec.buttons[1].title, "Don't Uninstall");
    EXPECT_EQ(spec.buttons[1].keyEquivalent, AlertSpec::KeyEquivalent::Return);
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(calls("uninstall").isEmpty());
    EXPECT_FALSE(defaults->boolean("UninstallPrompt"));

    // Ticked and confirmed: stored, and the application goes.
    alerts->enqueue({0, true, {}});
    menu->perform("uninstall:", menu->uninstallItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(defaults->boolean("UninstallPrompt"));
    EXPECT_EQ(calls("uninstall"), QStringList{udid() + " com.example.foo"});
    EXPECT_TRUE(history().empty());

    // From then on no alert.
    menu->perform("uninstall:", menu->uninstallItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(alerts->presented.size(), 2u);
    EXPECT_EQ(calls("uninstall").size(), 2);
}

TEST_F(ApplicationMenuActionsTest, PushWrapsABareDictionaryAndRemembersTheTextTyped)
{
    const auto menu = makeMenu(foo);
    setRunning({phone});

    const QString typed = "  {\"alert\": {\"title\": \"Hi\"}}\n\n";
    alerts->enqueue(send(typed));
    menu->perform("push:", menu->sendPushItem());
    ASSERT_TRUE(waitForBackgroundWork());
    const AlertSpec first = alerts->presented.at(0);
    EXPECT_EQ(first.messageText, "Push Notification Payload");
    EXPECT_EQ(first.informativeText, "Will be delivered to Foo on iPhone 15 (iOS 17.2).");
    ASSERT_TRUE(first.accessory);
    EXPECT_TRUE(first.accessory->initialText.isEmpty());
    EXPECT_FALSE(first.buttons[0].enabled);
    const QString wrapped = "{\"aps\": {\"alert\": {\"title\": \"Hi\"}}}";
    EXPECT_EQ(pushedPayloads(), QStringList{wrapped});
    EXPECT_FALSE(QJsonDocument::fromJson(wrapped.toUtf8()).isNull());
    EXPECT_EQ(history().back().title, "Send Push…");
    EXPECT_EQ(history().back().selector, "sendPushWithPayload:");
    EXPECT_EQ(std::get<QString>(*history().back().object), wrapped);

    // The next alert starts with the text as typed and Send enabled.
    const QString shouting = "{\"APS\": {\"badge\": 3}}";
    alerts->enqueue(send(shouting));
    menu->perform("push:", nullptr);
    ASSERT_TRUE(waitForBackgroundWork());
    const AlertSpec second = alerts->presented.at(1);
    EXPECT_EQ(second.accessory->initialText, typed);
    EXPECT_TRUE(second.buttons[0].enabled);
    EXPECT_EQ(pushedPayloads().value(1), shouting);
    EXPECT_EQ(history().back().title, "Unknown");

    // Blanks send nothing and leave the remembered text; so does Cancel.
    alerts->enqueue(send(" \n\t "));
    menu->perform("push:", menu->sendPushItem());
    alerts->enqueue({1, false, "{\"x\": 1}"});
    menu->perform("push:", menu->sendPushItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(pushedPayloads().size(), 2);
    EXPECT_EQ(ApplicationMenu::lastPushPayload(), shouting);
    EXPECT_EQ(history().size(), 2u);

    // Quick Repeat sends the recorded payload again.
    CommandManager::repeat(history().back());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_EQ(pushedPayloads().value(2), shouting);

    // A shut-down simulator gets no alert.
    setRunning({});
    menu->perform("push:", menu->sendPushItem());
    EXPECT_EQ(alerts->presented.size(), 4u);
}

TEST_F(ApplicationMenuActionsTest, ExportNamesTheArchiveXcappdataAndReachesTheTaskService)
{
    const auto menu = makeMenu(foo);
    const QString folder = dir.filePath("exports");
    savePanel->enqueue(folder + "/Backup");
    savePanel->enqueue(folder + "/Backup.zip");
    savePanel->enqueue(folder + "/Backup.xcappdata");
    savePanel->enqueue(std::nullopt);
    for (int i = 0; i < 4; ++i)
        menu->perform("export:", menu->exportItem());
    ASSERT_TRUE(waitUntil([&] { return tasks->calls().size() == 3; }));
    ASSERT_TRUE(waitForBackgroundWork());

    const SavePanelSpec spec = savePanel->presented.at(0);
    EXPECT_EQ(spec.title, "Export Data Containers");
    EXPECT_EQ(spec.prompt, "Export");
    EXPECT_EQ(spec.identifier, "ExportData");
    EXPECT_TRUE(spec.canHideExtension);
    EXPECT_TRUE(spec.proposedName.startsWith("Foo 20"));
    EXPECT_TRUE(spec.proposedName.endsWith(".xcappdata"));
    EXPECT_FALSE(spec.proposedName.contains(':'));

    QStringList urls;
    for (const auto &call : tasks->calls()) {
        EXPECT_EQ(call.operation, StubTaskService::Operation::exportData);
        EXPECT_EQ(call.application.lock(), foo);
        urls << call.url.toLocalFile();
    }
    urls.sort();
    EXPECT_EQ(urls, QStringList({folder + "/Backup.xcappdata", folder + "/Backup.xcappdata",
                                 folder + "/Backup.zip.xcappdata"}));
    EXPECT_EQ(history().back().selector, "repeatExportDataWithPrevious:");
    EXPECT_TRUE(std::get<QUrl>(*history().back().object).toLocalFile().endsWith(".xcappdata"));

    // Quick Repeat exports a new dated archive beside the last one.
    CommandManager::repeat(history().back());
    ASSERT_TRUE(waitForBackgroundWork());
    ASSERT_EQ(tasks->calls().size(), 4u);
    const QString repeated = tasks->calls().back().url.toLocalFile();
    EXPECT_TRUE(repeated.startsWith(folder + "/Foo 20")) << repeated.toStdString();
}

TEST_F(ApplicationMenuActionsTest, ReplaceImportsTheChosenArchiveWithoutAsking)
{
    const auto menu = makeMenu(foo);
    const QString archive = dir.filePath("Foo.xcappdata");
    openPanel->enqueue({archive});
    openPanel->enqueue({});
    menu->perform("replace:", menu->replaceItem());
    menu->perform("replace:", menu->replaceItem());
    ASSERT_TRUE(waitUntil([&] { return tasks->calls().size() == 1; }));
    ASSERT_TRUE(waitForBackgroundWork());

    const OpenPanelSpec spec = openPanel->presented.at(0);
    EXPECT_EQ(spec.title, "Replace Data Containers");
    EXPECT_EQ(spec.prompt, "Import");
    EXPECT_EQ(spec.identifier, "ReplaceData");
    EXPECT_EQ(spec.allowedTypes, QStringList{"xcappdata"});
    EXPECT_TRUE(spec.canChooseFiles);
    EXPECT_FALSE(spec.canChooseDirectories);
    EXPECT_FALSE(spec.allowsMultipleSelection);
    EXPECT_TRUE(alerts->presented.empty());
    ASSERT_EQ(tasks->calls().size(), 1u);
    EXPECT_EQ(tasks->calls()[0].operation, StubTaskService::Operation::importData);
    EXPECT_EQ(tasks->calls()[0].url, QUrl::fromLocalFile(archive));
    EXPECT_EQ(history().back().selector, "importDataFrom:");
    EXPECT_EQ(history().back().title, "Replace Data…");
}

TEST_F(ApplicationMenuActionsTest, FolderItemsOpenTheirOwnContainer)
{
    setRunning({phone});
    const auto menu = makeMenu(foo);
    const size_t index = size_t(menu->groupsIndex());
    const size_t sandbox = size_t(menu->indexOf(menu->sandboxItem()));
    menu->willOpen();
    ASSERT_TRUE(
        waitUntil([&] { return menu->items()[index]->representedObject().is<Container>(); }));
    menu->didClose();
    const auto group = menu->items()[index];

    group->sendAction();
    ASSERT_TRUE(waitForBackgroundWork());
    menu->sandboxItem()->sendAction();
    ASSERT_TRUE(waitForBackgroundWork());
    const auto data = offMain([&] { return foo->dataContainer(); });
    ASSERT_TRUE(data);
    const QString groupFolder = group->representedObject().as<Container>()->url().toLocalFile();
    EXPECT_NE(groupFolder, data->url().toLocalFile());
    EXPECT_EQ(workspace->made("showFolder"), QStringList({groupFolder, data->url().toLocalFile()}));

    // A shortcut opens its place in the data container; one missing does
    // nothing; a sender without a place does nothing either.
    menu->items()[sandbox + 3]->sendAction();
    menu->items()[sandbox + 1]->sendAction();
    menu->perform("openContainerShortcut:", menu->launchItem());
    ASSERT_TRUE(waitForBackgroundWork());
    const QStringList shown = workspace->made("showFolder");
    ASSERT_EQ(shown.size(), 3);
    EXPECT_TRUE(shown[2].startsWith(data->url().toLocalFile() + "/Documents"))
        << shown[2].toStdString();
    EXPECT_EQ(workspace->requests.size(), 3u);
}

TEST_F(ApplicationMenuActionsTest, EraseSandboxEmptiesTheDataContainerWithoutAsking)
{
    setRunning({phone});
    const auto data = offMain([&] { return foo->dataContainer(); });
    ASSERT_TRUE(data);
    const QString note = data->url().toLocalFile() + "/Documents/note.txt";
    ASSERT_TRUE(writeFile(note, "hello"));
    const auto menu = makeMenu(foo);
    menu->perform("eraseData:", menu->eraseItem());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_FALSE(QFile::exists(note));
    EXPECT_TRUE(alerts->presented.empty());
    EXPECT_EQ(history().back().title, "Erase Sandbox");
    EXPECT_EQ(history().back().selector, "eraseSandboxWithFileManager:error:");

    // Quick Repeat erases again.
    ASSERT_TRUE(writeFile(note, "again"));
    CommandManager::repeat(history().back());
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_FALSE(QFile::exists(note));
}
