#include "common/StubTaskService.h"
#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Container.h"
#include "model/Device.h"
#include "model/ScreenshotDateFormatter.h"
#include "platform/files/FileManager.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <filesystem>

using namespace corvane;
using namespace corvane::fixture;

namespace {

// Refuses every removal below one folder.
class RefusingFileManager : public FileManager {
public:
    explicit RefusingFileManager(QString folder) : m_folder(std::move(folder)) {}
    void removeItem(const std::filesystem::path &path) override
    {
        if (QString::fromStdString(path).startsWith(m_folder + "/"))
            throw std::filesystem::filesystem_error(
                "Refused", std::make_error_code(std::errc::permission_denied));
        FileManager::removeItem(path);
    }

private:
    QString m_folder;
};

class ApplicationActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths::setCurrent(m_tree.paths());
        QDir().mkpath(m_tree.paths().temporaryDir);
        m_tree.addRuntime("iOS", "17.5");
        m_udid = m_tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5", .booted = true});
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_tree.addXcode()));
        ASSERT_TRUE(m_toolset);
        m_toolset->supportedCommands();
        m_device = Device::initFromListLine("iPhone 15 (" + m_udid + ") (Booted)",
                                            {Runtime::System::iOS, "17.5"}, m_toolset);
        ASSERT_TRUE(m_device);
        m_workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(m_workspace);
        m_tasks = std::make_shared<StubTaskService>();
        TaskService::setShared(m_tasks);
    }
    void TearDown() override
    {
        TaskService::setShared(nullptr);
        Workspace::setShared(nullptr);
        SystemPaths::resetToEnvironment();
    }

    ApplicationPtr install(const AppSpec &spec, const std::shared_ptr<Toolset> &toolset = {})
    {
        m_install = m_tree.installApp(m_udid, spec);
        auto application = Application::make(QUrl::fromLocalFile(m_install.bundlePath + "/"),
                                             m_device, toolset ? toolset : m_toolset);
        m_tree.clearLog();
        return application;
    }
    ApplicationPtr demo(const QStringList &groups = {})
    {
        return install({.identifier = "com.example.demo", .name = "Demo", .groups = groups});
    }

    QList<QStringList> calls(const QString &tool = "simctl") const
    {
        QList<QStringList> list;
        for (const Invocation &invocation : m_tree.invocations())
            if (invocation.tool == tool)
                list.append(invocation.arguments);
        return list;
    }
    int listings() const
    {
        int count = 0;
        for (const QStringList &call : calls())
            count += call.value(0) == "get_app_container";
        return count;
    }
    // Replaces the listing's output with these bytes.
    void printListing(const QByteArray &output)
    {
        const QString file = m_tree.root() + "/listing.out";
        ASSERT_TRUE(test::writeFile(file, output));
        m_tree.setFault("get_app_container", {.stdoutFile = file});
    }

    FixtureTree m_tree;
    QString m_udid;
    std::shared_ptr<Toolset> m_toolset;
    DevicePtr m_device;
    AppInstall m_install;
    std::shared_ptr<RecordingWorkspace> m_workspace;
    std::shared_ptr<StubTaskService> m_tasks;
};

} // namespace

TEST_F(ApplicationActionsTest, ListsTheDataAndGroupContainers)
{
    auto application = demo({"group.com.example.shared"});
    const auto data = application->dataContainer();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->identifier(), "AppData");
    EXPECT_EQ(data->bundle(), "com.example.demo");
    EXPECT_EQ(data->url().toLocalFile(), m_install.dataContainer);
    const auto groups = application->groupContainers();
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->identifier(), "group.com.example.shared");
    EXPECT_EQ(groups[0]->bundle(), "group.com.example.shared");
    EXPECT_EQ(groups[0]->url().toLocalFile(),
              m_install.groupContainers.value("group.com.example.shared"));
    EXPECT_EQ(calls(), (QList<QStringList>{
                           {"get_app_container", m_udid, "com.example.demo", "data"},
                           {"get_app_container", m_udid, "com.example.demo", "groups"},
                       }));

    // Both are kept while the data folder exists.
    application->dataContainer();
    application->groupContainers();
    EXPECT_EQ(listings(), 2);
}

TEST_F(ApplicationActionsTest, FrameworksAndOlderXcodesListNothing)
{
    auto framework = install({.identifier = "com.example.kit",
                              .name = "Kit",
                              .extraInfo = {{"CFBundlePackageType", "FMWK"}}});
    EXPECT_FALSE(framework->dataContainer());
    EXPECT_TRUE(framework->groupContainers().empty());
    EXPECT_FALSE(framework->cachedGroupContainers());

    QStringList subcommands{"list", "boot", "shutdown", "install", "uninstall", "launch"};
    auto old = Toolset::make(QUrl::fromLocalFile(
        m_tree.addXcode({.name = "Xcode-10.app", .version = "10.3", .subcommands = subcommands})));
    ASSERT_TRUE(old);
    old->supportedCommands();
    auto application = install({.identifier = "com.example.old", .name = "Old"}, old);
    EXPECT_FALSE(application->dataContainer());
    EXPECT_TRUE(application->groupContainers().empty());
    EXPECT_EQ(listings(), 0);
}

TEST_F(ApplicationActionsTest, AGoneDataFolderIsListedAgain)
{
    auto application = demo();
    const auto first = application->dataContainer();
    ASSERT_TRUE(first);

    // Reinstalled: the container lies in a new folder.
    const QString moved = QFileInfo(m_install.dataContainer).absolutePath() + "/" + newUuidString();
    ASSERT_TRUE(QDir().rename(m_install.dataContainer, moved));
    const auto second = application->dataContainer();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->url().toLocalFile(), moved);
    EXPECT_EQ(listings(), 2);

    // Gone for good: the failing rerun keeps the stale container.
    ASSERT_TRUE(QDir(moved).removeRecursively());
    EXPECT_EQ(application->dataContainer(), second);
    EXPECT_EQ(listings(), 3);
}

TEST_F(ApplicationActionsTest, OnlyAnAbsoluteDataPathMakesAContainer)
{
    auto application = demo();
    const auto fresh = [&] {
        return Application::make(QUrl::fromLocalFile(m_install.bundlePath + "/"), m_device,
                                 m_toolset);
    };
    printListing("\n");
    EXPECT_FALSE(application->dataContainer());
    printListing("Library/x\n");
    EXPECT_FALSE(fresh()->dataContainer());

    printListing((m_tree.root() + "/moved/./a b/\n").toUtf8());
    const auto container = fresh()->dataContainer();
    ASSERT_TRUE(container);
    EXPECT_EQ(container->url().toLocalFile(), m_tree.root() + "/moved/a b");
    EXPECT_EQ(listings(), 3);
}

TEST_F(ApplicationActionsTest, GroupLinesAreReadWhole)
{
    auto application = demo();
    m_tree.setFault("get_app_container", {.stderrText = "failed"});
    EXPECT_TRUE(application->groupContainers().empty());
    EXPECT_FALSE(application->cachedGroupContainers());

    printListing("group.one\n"
                 "group.two  /a b/c \r\n"
                 "group.three\trelative/path\n"
                 "\xe2\x80\xa8group.four\xc2\xa0/d\n\n");
    const auto groups = application->groupContainers();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0]->identifier(), "group.two");
    EXPECT_EQ(groups[0]->url().toLocalFile(), "/a b/c");
    EXPECT_EQ(groups[1]->identifier(), "group.four");
    EXPECT_EQ(groups[1]->url().toLocalFile(), "/d");
    EXPECT_EQ(listings(), 2);

    auto other = install({.identifier = "com.example.other", .name = "Other"});
    printListing("nothing usable\n");
    EXPECT_TRUE(other->groupContainers().empty());
    EXPECT_TRUE(other->cachedGroupContainers());
    other->groupContainers();
    EXPECT_EQ(listings(), 1);
}

TEST_F(ApplicationActionsTest, SimctlCommandsOfTheActions)
{
    auto application = demo();
    const QString id = "com.example.demo";
    application->launch();
    application->terminate();
    application->resetPermissionTo("contacts-limited");
    application->grantPermissionTo("photos-add");
    application->revokePermissionTo("Contacts");
    application->setPermission(Application::Permission::revoke,
                               Application::PermissionScope::locationalways);
    EXPECT_EQ(calls(), (QList<QStringList>{
                           {"launch", m_udid, id},
                           {"terminate", m_udid, id},
                           {"privacy", m_udid, "reset", "contacts-limited", id},
                           {"privacy", m_udid, "grant", "photos-add", id},
                           {"privacy", m_udid, "revoke", "location-always", id},
                       }));

    EXPECT_EQ(Application::allPermissionScopes().size(), 13u);
    for (auto scope : Application::allPermissionScopes())
        EXPECT_EQ(Application::permissionScopeFromRawValue(Application::rawValue(scope)), scope);
    EXPECT_EQ(Application::rawValue(Application::PermissionScope::medialibrary), "media-library");
    EXPECT_FALSE(Application::permissionFromRawValue("Grant"));
}

TEST_F(ApplicationActionsTest, PushWritesANewPayloadFileEachTime)
{
    auto application = demo();
    const QString payload = R"({"aps":{"alert":"Hé"}})";
    application->sendPushWithPayload(payload);
    application->sendPushWithPayload(payload);
    const QList<QStringList> pushes = calls();
    ASSERT_EQ(pushes.size(), 2);
    const QString file = pushes[0].value(3);
    EXPECT_EQ(pushes[0].mid(0, 3), (QStringList{"push", m_udid, "com.example.demo"}));
    EXPECT_EQ(QFileInfo(file).absolutePath(), m_tree.paths().temporaryDir);
    EXPECT_TRUE(file.endsWith(".apns"));
    EXPECT_EQ(QFileInfo(file).completeBaseName().size(), 36);
    EXPECT_EQ(test::readFile(file), payload.toUtf8());
    EXPECT_NE(pushes[1].value(3), file);
}

TEST_F(ApplicationActionsTest, AGoneDeviceRunsNothing)
{
    auto application = demo();
    m_device.reset();
    ASSERT_TRUE(test::waitUntil([&] { return !application->device(); }));
    application->launch();
    application->terminate();
    application->uninstall();
    application->sendPushWithPayload("{}");
    application->grantPermissionTo("photos");
    EXPECT_TRUE(calls().isEmpty());
    EXPECT_TRUE(QDir(m_tree.paths().temporaryDir).entryList({"*.apns"}).isEmpty());
}

TEST_F(ApplicationActionsTest, UninstallQuitsARunningApplicationOnce)
{
    auto application = demo();
    // Two processes of the application's bundle folder.
    const QString line =
        "  %1 ??  0:00.10 " + QFileInfo(m_install.bundlePath).absoluteFilePath() + "/Demo";
    SystemPaths paths = m_tree.paths();
    paths.ps = m_tree.root() + "/ps";
    SystemPaths::setCurrent(paths);
    ASSERT_TRUE(
        test::writeScript(paths.ps, "echo '" + line.arg(101) + "'\necho '" + line.arg(102) + "'"));
    ActivityMonitor::shared()->markOutOfDate();

    application->uninstall();
    EXPECT_EQ(calls(), (QList<QStringList>{{"terminate", m_udid, "com.example.demo"},
                                           {"uninstall", m_udid, "com.example.demo"}}));
}

TEST_F(ApplicationActionsTest, ResetEmptiesDataThenGroupsAndStopsAtAFailure)
{
    auto application = demo({"group.a", "group.b"});
    const QString data = m_install.dataContainer;
    const QString groupA = m_install.groupContainers.value("group.a");
    const QString groupB = m_install.groupContainers.value("group.b");
    for (const QString &folder : {data + "/Documents", groupA + "/Shared", groupB + "/Shared"})
        ASSERT_TRUE(test::writeFile(folder + "/f.txt", "x")) << folder.toStdString();

    RefusingFileManager refusing(groupA);
    EXPECT_THROW(application->resetContainers(refusing), std::filesystem::filesystem_error);
    EXPECT_FALSE(QFileInfo::exists(data + "/Documents"));
    EXPECT_TRUE(QFileInfo::exists(groupA + "/Shared/f.txt"));
    EXPECT_TRUE(QFileInfo::exists(groupB + "/Shared/f.txt"));

    application->resetContainers(FileManager::defaultManager());
    EXPECT_FALSE(QFileInfo::exists(groupA + "/Shared"));
    EXPECT_FALSE(QFileInfo::exists(groupB + "/Shared"));

    ASSERT_TRUE(test::writeFile(data + "/Documents/g.txt", "x"));
    ASSERT_TRUE(test::writeFile(groupA + "/Shared/g.txt", "x"));
    application->eraseSandbox(FileManager::defaultManager());
    EXPECT_FALSE(QFileInfo::exists(data + "/Documents"));
    EXPECT_TRUE(QFileInfo::exists(groupA + "/Shared/g.txt"));
}

TEST_F(ApplicationActionsTest, SavedStateAndLaunchStoryboard)
{
    auto application = demo();
    const QString library = m_install.dataContainer + "/Library/";
    ASSERT_TRUE(test::writeFile(library + "Saved Application State/s", "x"));
    ASSERT_TRUE(test::writeFile(library + "SplashBoard/a", "x"));
    ASSERT_TRUE(test::writeFile(library + "Springboard/b", "x"));
    application->eraseSavedState();
    EXPECT_FALSE(QFileInfo::exists(library + "Saved Application State"));
    EXPECT_FALSE(QFileInfo::exists(library + "SplashBoard"));
    EXPECT_TRUE(QFileInfo::exists(library + "Springboard/b"));

    ASSERT_TRUE(test::writeFile(library + "SplashBoard/a", "x"));
    application->eraseSavedState();
    EXPECT_FALSE(QFileInfo::exists(library + "SplashBoard"));
    application->eraseLaunchStoryboard();
    EXPECT_FALSE(QFileInfo::exists(library + "Springboard"));
}

TEST_F(ApplicationActionsTest, ExportAndImportGoToTheTaskService)
{
    auto application = demo();
    ScreenshotDateFormatter::setClock(
        [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::LocalTime); });
    application->repeatExportDataWithPrevious(QUrl::fromLocalFile("/x/Exports/Old.xcappdata/"));
    application->setTitle("A/B");
    application->repeatExportDataWithPrevious(QUrl::fromLocalFile("/x/Exports/Old.xcappdata"));
    application->importDataFrom(QUrl::fromLocalFile("/x/In.xcappdata"));

    const auto tasks = m_tasks->calls();
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].operation, StubTaskService::Operation::exportData);
    EXPECT_EQ(tasks[0].application.lock(), application);
    EXPECT_EQ(tasks[0].url.toLocalFile(), "/x/Exports/Demo 2024-03-05 14.07.09.xcappdata");
    EXPECT_EQ(tasks[1].url.toLocalFile(), "/x/Exports/A-B 2024-03-05 14.07.09.xcappdata");
    EXPECT_EQ(tasks[2].operation, StubTaskService::Operation::importData);
    EXPECT_EQ(tasks[2].url.toLocalFile(), "/x/In.xcappdata");
}

// An executable name such as "../../x" named a file outside the bundle.
TEST_F(ApplicationActionsTest, OpenNeverRevealsAnExecutableOutsideTheBundle)
{
    auto application = demo();
    const QString bundle = QDir::cleanPath(m_install.bundlePath);
    ASSERT_TRUE(test::writeFile(QFileInfo(bundle).absolutePath() + "/outside", "x"));
    QVariantMap info = application->infoDictionary();
    info["CFBundleExecutable"] = "../outside";
    application->applyInfoDictionary(info);
    application->open();
    ASSERT_TRUE(test::waitUntil([&] { return !calls("open").isEmpty(); }));
    EXPECT_FALSE(calls("open").last().join(' ').contains("outside"));
    EXPECT_EQ(m_tree.invocations().last().cwd, bundle);
}

TEST_F(ApplicationActionsTest, OpenRevealsTheExecutableOrWhatTheBundleHolds)
{
    auto application = demo();
    const QString bundle = QDir::cleanPath(m_install.bundlePath);
    application->open();
    ASSERT_TRUE(test::waitUntil([&] { return !calls("open").isEmpty(); }));
    auto invocations = m_tree.invocations();
    EXPECT_EQ(invocations.last().arguments, (QStringList{"-R", "./Demo"}));
    EXPECT_EQ(invocations.last().cwd, bundle);

    // Without the executable the first entry of the bundle is shown.
    QDir(bundle).removeRecursively();
    QDir().mkpath(bundle);
    ASSERT_TRUE(test::writeFile(bundle + "/Only.txt", "x"));
    m_tree.clearLog();
    application->open();
    ASSERT_TRUE(test::waitUntil([&] { return !calls("open").isEmpty(); }));
    EXPECT_EQ(calls("open").last(), (QStringList{"-R", "./Only.txt"}));

    // A name read from the bundle is never taken as an option of open.
    QFile::remove(bundle + "/Only.txt");
    ASSERT_TRUE(test::writeFile(bundle + "/-x.app", "x"));
    m_tree.clearLog();
    application->open();
    ASSERT_TRUE(test::waitUntil([&] { return !calls("open").isEmpty(); }));
    EXPECT_EQ(calls("open").last(), (QStringList{"-R", "./-x.app"}));

    QFile::remove(bundle + "/-x.app");
    m_tree.clearLog();
    application->open();
    ASSERT_TRUE(test::waitUntil([&] { return !calls("open").isEmpty(); }));
    invocations = m_tree.invocations();
    EXPECT_EQ(invocations.last().arguments, (QStringList{"-R", "./Demo.app"}));
    EXPECT_EQ(invocations.last().cwd, QFileInfo(bundle).absolutePath());

    // Without an open tool the workspace shows the same item.
    SystemPaths paths = m_tree.paths();
    paths.open = m_tree.root() + "/no-open";
    SystemPaths::setCurrent(paths);
    application->open();
    application->reveal();
    const std::vector<RecordingWorkspace::Request> expected{{"revealFile", bundle},
                                                            {"revealFile", bundle}};
    EXPECT_EQ(m_workspace->requests, expected);
}
