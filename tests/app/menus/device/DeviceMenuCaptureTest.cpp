#include "app/DeviceActionFixture.h"
#include "app/menus/device/DeviceMenu.h"
#include "app/menus/urls/URLPromptingAlert.h"
#include "model/Application.h"

#include <QFile>
#include <QFileInfo>

using namespace corvane;
using namespace corvane::test;

namespace {

class DeviceMenuCaptureTest : public DeviceActionFixture {
protected:
    std::shared_ptr<DeviceMenu> makeMenu(const QString &udid)
    {
        // The value menus read the running device's settings through simctl;
        // these tests count only what the actions run.
        SubmenuFactories submenus;
        const auto none = [](const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &) {
            return MenuPtr();
        };
        submenus.appearanceBarMenu = none;
        submenus.contentSizeMenu = none;
        return offMain([&] {
            return DeviceMenu::make(device(udid), toolset, true, true,
                                    {monitor, commands, submenus});
        });
    }

    // Chooses "Open URL / Trigger Scheme…" and answers the prompt.
    void openURL(DeviceMenu &menu, const QString &typed, int button = 0)
    {
        alerts->enqueue({button, false, typed});
        menu.openURLItem()->sendAction();
    }

    size_t waitForCommands(size_t count)
    {
        waitUntil([&] { return commands->recentCommands().size() >= count; });
        return commands->recentCommands().size();
    }

    QStringList savedFiles() const { return QDir(captures()).entryList(QDir::Files, QDir::Name); }
};

} // namespace

TEST_F(DeviceMenuCaptureTest, ATypedURLIsCompletedOpenedAndRecorded)
{
    const auto menu = makeMenu(phone);
    const QString open = "openurl " + phone + " ";

    openURL(*menu, "example.com");
    ASSERT_EQ(alerts->presented.size(), 1u);
    EXPECT_EQ(alerts->presented[0].messageText, "Open URL");
    ASSERT_EQ(waitForCommands(1), 1u);
    EXPECT_EQ(simctlCalls(), QStringList{open + "https://example.com"});
    auto recorded = commands->recentCommands().back();
    EXPECT_EQ(recorded.title, "https://example.com");
    EXPECT_EQ(recorded.selector, "openWithUrl:");
    EXPECT_EQ(recorded.loadTarget(), device(phone));
    EXPECT_EQ(recentURLs(), QStringList{"https://example.com"});
    EXPECT_EQ(workspace->requests.front().operation, "activate");

    // A text with a scheme goes as typed; simctl refuses it (no application
    // declares the scheme), the list stays, the command is recorded.
    tree.clearLog();
    openURL(*menu, "myapp:foo");
    ASSERT_EQ(waitForCommands(2), 2u);
    EXPECT_EQ(simctlCalls(), QStringList{open + "myapp:foo"});
    EXPECT_EQ(commands->recentCommands().back().title, "myapp:foo");
    EXPECT_EQ(recentURLs(), QStringList{"https://example.com"});

    // Pasted with blanks and a line break around it: opened all the same.
    tree.clearLog();
    openURL(*menu, "  example.org\n");
    ASSERT_EQ(waitForCommands(3), 3u);
    EXPECT_EQ(simctlCalls(), QStringList{open + "https://example.org"});
    EXPECT_EQ(recentURLs(), QStringList({"https://example.org", "https://example.com"}));

    // Cancelled, blank or with blanks inside: nothing runs, nothing is
    // recorded.
    tree.clearLog();
    openURL(*menu, "example.net", 1);
    openURL(*menu, "example.net", -1);
    openURL(*menu, " \t ");
    openURL(*menu, "exa mple.net");
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(simctlCalls().isEmpty());
    EXPECT_EQ(commands->recentCommands().size(), 3u);

    // Not running: no prompt at all.
    setRunning({});
    const size_t prompts = alerts->presented.size();
    menu->openURLItem()->sendAction();
    EXPECT_EQ(alerts->presented.size(), prompts);
}

TEST_F(DeviceMenuCaptureTest, ALongURLIsRecordedShortAndRepeatedWhole)
{
    const auto menu = makeMenu(phone);
    const QString url = "https://example.com/abcdefghijklmnopqrst";
    ASSERT_EQ(url.size(), 40);
    openURL(*menu, url);
    ASSERT_EQ(waitForCommands(1), 1u);
    const auto recorded = commands->recentCommands().back();
    EXPECT_EQ(recorded.title, url.left(15) + "…" + url.right(14));
    EXPECT_EQ(recorded.title.size(), 30);

    tree.clearLog();
    settings()->setRecentURLs(QList<QUrl>());
    CommandManager::repeat(recorded);
    ASSERT_TRUE(waitUntil([&] { return !recentURLs().isEmpty(); }));
    EXPECT_EQ(simctlCalls(), QStringList{"openurl " + phone + " " + url});
    EXPECT_EQ(recentURLs(), QStringList{url});
    EXPECT_EQ(commands->recentCommands().size(), 1u);
}

TEST_F(DeviceMenuCaptureTest, CaptureAndPasteboardRunOnARunningDeviceAndAreRecorded)
{
    const auto menu = makeMenu(phone);
    const std::vector<MenuItemPtr> items{menu->copyItem(), menu->pasteItem(),
                                         menu->screenshotItem(), menu->copyScreenshotItem(),
                                         menu->recordVideoItem()};

    setRunning({});
    for (const auto &item : items)
        item->sendAction();
    EXPECT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(simctlCalls().isEmpty());
    EXPECT_TRUE(commands->recentCommands().empty());

    setRunning({phone});
    menu->copyItem()->sendAction();
    ASSERT_EQ(waitForCommands(1), 1u);
    menu->pasteItem()->sendAction();
    ASSERT_EQ(waitForCommands(2), 2u);
    menu->screenshotItem()->sendAction();
    ASSERT_EQ(waitForCommands(3), 3u);
    menu->copyScreenshotItem()->sendAction();
    ASSERT_EQ(waitForCommands(4), 4u);

    const QStringList calls = simctlCalls();
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls[0], "pbsync " + phone + " host");
    EXPECT_EQ(calls[1], "pbsync host " + phone);
    EXPECT_TRUE(calls[2].startsWith("io " + phone + " screenshot ")) << calls[2].toStdString();
    EXPECT_TRUE(calls[3].startsWith("io " + phone + " screenshot ")) << calls[3].toStdString();
    const QStringList saved = savedFiles();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_TRUE(calls[2].endsWith(captures() + "/" + saved[0]));
    EXPECT_FALSE(QImage(captures() + "/" + saved[0]).isNull());

    QStringList recorded;
    for (const auto &command : commands->recentCommands()) {
        EXPECT_EQ(command.loadTarget(), device(phone));
        recorded << command.title + " " + command.selector;
    }
    EXPECT_EQ(recorded,
              QStringList({"Get Pasteboard from Device copy", "Send Pasteboard to Device paste",
                           "Save Screenshot screenshot", "Copy Screenshot copyScreenshot"}));

    // Copy Screenshot performed again from the history takes a new picture.
    int clears = 0;
    {
        std::lock_guard lock(pasteboard->mutex);
        ASSERT_FALSE(pasteboard->image.isNull());
        clears = pasteboard->clears;
        pasteboard->image = QImage();
    }
    tree.clearLog();
    CommandManager::repeat(commands->recentCommands().back());
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(pasteboard->mutex);
        return !pasteboard->image.isNull();
    }));
    EXPECT_EQ(pasteboard->clears, clears + 1);
    ASSERT_EQ(simctlCalls().size(), 1);
    EXPECT_TRUE(simctlCalls()[0].startsWith("io " + phone + " screenshot "));
    EXPECT_EQ(commands->recentCommands().size(), 4u);
}

TEST_F(DeviceMenuCaptureTest, ARecordingStartsOnceAndStopsWithAFinishedVideo)
{
    const auto menu = makeMenu(phone);
    const auto phoneDevice = device(phone);

    // No recording: Stop Recording does nothing.
    menu->stopRecordingItem()->sendAction();
    EXPECT_TRUE(waitForBackgroundWork());

    menu->recordVideoItem()->sendAction();
    ASSERT_EQ(waitForCommands(1), 1u);
    EXPECT_EQ(commands->recentCommands().back().title, "Capture Video");
    EXPECT_EQ(commands->recentCommands().back().selector, "startRecording");
    ASSERT_TRUE(waitUntil([&] { return catchesInterrupt(phoneDevice->recordingTask()); }));

    // Capture Video again while recording: nothing.
    menu->recordVideoItem()->sendAction();
    EXPECT_TRUE(waitForBackgroundWork());
    const QStringList calls = simctlCalls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_TRUE(calls[0].startsWith("io " + phone + " recordVideo ")) << calls[0].toStdString();
    EXPECT_EQ(commands->recentCommands().size(), 1u);

    // Stop Recording interrupts simctl, which finishes the file.
    menu->stopRecordingItem()->sendAction();
    ASSERT_TRUE(waitUntil([&] { return !phoneDevice->isRecording(); }));
    const QStringList saved = savedFiles();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_TRUE(calls[0].endsWith(captures() + "/" + saved[0]));
    const QByteArray video = readFile(captures() + "/" + saved[0]);
    EXPECT_EQ(video.mid(4, 4), "ftyp");
    EXPECT_GT(video.size(), 32);
    EXPECT_EQ(simctlCalls().size(), 1);
}

TEST_F(DeviceMenuCaptureTest, FrontBundleAndHighlightActions)
{
    const auto menu = makeMenu(phone);
    menu->bringToFront(nullptr);
    ASSERT_TRUE(waitForBackgroundWork());
    ASSERT_EQ(workspace->requests.size(), 1u);
    EXPECT_EQ(workspace->requests[0].operation, "activateSimulator");

    const auto bar = menu->items()[0];
    const auto foo = menu->items()[1];
    ASSERT_TRUE(bar->representedObject().is<Application>());
    menu->openBundle(bar);
    menu->openBundle(menu->installItem());
    menu->openBundle(nullptr);
    ASSERT_TRUE(waitForBackgroundWork());
    ASSERT_EQ(workspace->requests.size(), 2u);
    EXPECT_EQ(workspace->requests[1].operation, "revealFile");
    EXPECT_EQ(workspace->requests[1].argument,
              bar->representedObject().as<Application>()->url().toLocalFile());

    // Application rows with an on-state image: white under the highlight,
    // the accent colour once it moves on; other rows are left alone.
    const ImageRef on = ImageRef::resource("On");
    bar->setOnStateImage(on);
    foo->setOnStateImage(on);
    menu->installItem()->setOnStateImage(on);
    menu->willHighlight(bar);
    EXPECT_EQ(bar->onStateImage(), on.tinted(ImageRef::TintColor::White));
    menu->willHighlight(foo);
    EXPECT_EQ(bar->onStateImage(), on.tinted(ImageRef::TintColor::Accent));
    EXPECT_EQ(foo->onStateImage(), on.tinted(ImageRef::TintColor::White));
    menu->willHighlight(menu->installItem());
    EXPECT_EQ(foo->onStateImage(), on.tinted(ImageRef::TintColor::Accent));
    EXPECT_EQ(menu->installItem()->onStateImage(), on);
    menu->willHighlight(nullptr);
    EXPECT_EQ(foo->onStateImage(), on.tinted(ImageRef::TintColor::Accent));

    // A row without one is neither tinted nor remembered.
    foo->setOnStateImage({});
    menu->willHighlight(foo);
    EXPECT_TRUE(foo->onStateImage().isNull());
    menu->willHighlight(bar);
    EXPECT_TRUE(foo->onStateImage().isNull());
}

TEST(URLPromptingAlertTest, TextsNameTheDeviceAndItsRuntime)
{
    EXPECT_EQ(
        URLPromptingAlert::informativeText("iPhone 15", Runtime(Runtime::System::iOS, "17.2")),
        "Will be opened on iPhone 15 - 17.2 (iOS 17.2).");
    EXPECT_EQ(URLPromptingAlert::informativeText("Apple Watch Series 9 (45mm)",
                                                 Runtime(Runtime::System::watchOS, "10.2")),
              "Will be opened on Apple Watch Series 9 (45mm) - 10.2 (watchOS 10.2).");
    EXPECT_FALSE(URLPromptingAlert::acceptsText(""));
    EXPECT_FALSE(URLPromptingAlert::acceptsText(" \t\r\n "));
    EXPECT_TRUE(URLPromptingAlert::acceptsText("x"));
    EXPECT_TRUE(URLPromptingAlert::acceptsText(" example.com "));
}
