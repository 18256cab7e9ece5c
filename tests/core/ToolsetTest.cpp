#include "common/TestSupport.h"
#include "core/DeviceWatching.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "platform/processes/ChildProcess.h"
#include "platform/formats/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <unordered_set>

using namespace corvane;
using Command = Toolset::Command;

namespace {

class ToolsetTest : public ::testing::Test {
protected:
    // Lays out an Xcode bundle; a null version or build leaves its plist out.
    QUrl makeXcode(const QString &name, const char *version = "15.2", const char *build = "15C500b",
                   const QString &simctlBody = "echo")
    {
        const QString bundle = m_dir.path() + "/" + name;
        QDir().mkpath(bundle + "/Contents/Developer/usr/bin");
        if (version)
            PropertyList::writeFile(bundle + "/Contents/Info.plist",
                                    QVariantMap{{"CFBundleShortVersionString", version}});
        if (build)
            PropertyList::writeFile(bundle + "/Contents/version.plist",
                                    QVariantMap{{"ProductBuildVersion", build}});
        if (!simctlBody.isNull())
            test::writeScript(bundle + "/Contents/Developer/usr/bin/simctl", simctlBody);
        return QUrl::fromLocalFile(bundle);
    }

    std::vector<Command> commandsFor(const QString &usageFile)
    {
        const QString body = "cat '" + test::realWorldPath("simctl-help/" + usageFile) + "'";
        auto toolset = Toolset::make(makeXcode(usageFile + ".app", "15.0", "A", body));
        EXPECT_TRUE(toolset);
        return toolset ? toolset->supportedCommands() : std::vector<Command>{};
    }

    static int count(const std::vector<Command> &commands, Command command)
    {
        return int(std::count(commands.begin(), commands.end(), command));
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ToolsetTest, ReadsVersionBuildAndPaths)
{
    const QString bundle = makeXcode("Xcode.app").toLocalFile();
    QFile::remove(bundle + "/Contents/version.plist");
    QFile::copy(test::realWorldPath("plists/buck2-test__xcode14.1.2-version.plist"),
                bundle + "/Contents/version.plist");
    auto toolset = Toolset::make(QUrl::fromLocalFile(bundle + "/"));
    ASSERT_TRUE(toolset);
    EXPECT_EQ(toolset->build(), "14B47b");
    EXPECT_EQ(toolset->version(), "15.2");
    EXPECT_EQ(toolset->simctlPath().toLocalFile(), bundle + "/Contents/Developer/usr/bin/simctl");
    EXPECT_EQ(toolset->description(), "Xcode 15.2 (14B47b)");
    EXPECT_EQ(xcodeBuildVersion(QUrl::fromLocalFile(bundle)), "14B47b");
    EXPECT_FALSE(toolset->deviceWatcher());

    auto bare = Toolset::make(makeXcode("Bare.app", nullptr, nullptr));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->description(), "Xcode Unknown (Unknown)");

    // A number is no version text; a broken version.plist no build.
    const QString odd = makeXcode("Odd.app", nullptr, nullptr).toLocalFile();
    PropertyList::writeFile(odd + "/Contents/Info.plist",
                            QVariantMap{{"CFBundleShortVersionString", qint64(15)}});
    test::writeFile(odd + "/Contents/version.plist", "<?xml version=\"1.0\"?><plist><dict>");
    EXPECT_EQ(Toolset::make(QUrl::fromLocalFile(odd))->description(), "Xcode Unknown (Unknown)");
}

TEST_F(ToolsetTest, NeedsTheBundleAndItsSimctl)
{
    EXPECT_FALSE(Toolset::make(QUrl()));
    EXPECT_FALSE(Toolset::make(QUrl::fromLocalFile(m_dir.path() + "/Missing.app")));
    EXPECT_FALSE(Toolset::make(makeXcode("NoTool.app", "15.0", "A", QString())));
    EXPECT_FALSE(xcodeBuildVersion(QUrl::fromLocalFile(m_dir.path() + "/Missing.app")));
}

TEST_F(ToolsetTest, OrdersNewestFirstAndComparesByPathAndBuild)
{
    auto a = Toolset::make(makeXcode("A.app", "15.9", "1"));
    auto b = Toolset::make(makeXcode("B.app", "15.10", "2"));
    auto c = Toolset::make(makeXcode("C.app", "15.9", "3"));
    auto d = Toolset::make(makeXcode("D.app", "16.0", "4"));
    auto e = Toolset::make(makeXcode("E.app", "15.4", "5"));
    std::vector<std::shared_ptr<Toolset>> list{a, b, c, d, e};
    Toolset::sortNewestFirst(list);
    EXPECT_EQ(list, (std::vector<std::shared_ptr<Toolset>>{d, b, a, c, e}));
    EXPECT_TRUE(*b < *a);
    EXPECT_TRUE(*a > *b);
    EXPECT_FALSE(*a < *c);
    EXPECT_FALSE(*c < *a);
    EXPECT_TRUE(*a <= *c && *a >= *c);
    EXPECT_FALSE(*a == *c);

    auto again = Toolset::make(QUrl::fromLocalFile(m_dir.path() + "/A.app"));
    EXPECT_TRUE(*a == *again);
    EXPECT_EQ(std::hash<Toolset>()(*a), std::hash<Toolset>()(*again));
    std::unordered_set<std::size_t> hashes{a->hash(), again->hash(), b->hash()};
    EXPECT_EQ(hashes.size(), 2u);
}

TEST_F(ToolsetTest, EnumerationsAndTheirRawValues)
{
    ASSERT_EQ(Toolset::allCommands().size(), 24u);
    EXPECT_EQ(Toolset::commandFromRawValue(23), Command::quit);
    EXPECT_EQ(Toolset::commandFromRawValue(1), Command::delete_);
    EXPECT_FALSE(Toolset::commandFromRawValue(24));
    EXPECT_FALSE(Toolset::commandFromRawValue(-1));
    EXPECT_EQ(Toolset::subcommand(Command::appearance), "ui");
    EXPECT_EQ(Toolset::subcommand(Command::quit), "terminate");
    EXPECT_EQ(Toolset::imageFormatFromRawValue("jpeg"), Toolset::ImageFormats::jpeg);
    EXPECT_FALSE(Toolset::imageFormatFromRawValue("JPEG"));
    EXPECT_EQ(Toolset::rawValue(Toolset::VideoFormats::hevc), "hevc");
    EXPECT_EQ(Toolset::videoFormatFromRawValue("h264"), Toolset::VideoFormats::h264);
    EXPECT_EQ(Toolset::allVideoFormats().size(), 2u);
}

TEST_F(ToolsetTest, ParsesUsageLines)
{
    EXPECT_EQ(Toolset::parseSupportedCommands("usage: simctl\nSubcommands:\n"
                                              "    boot   Boot a device.\n"
                                              "    io     Set up a device IO operation."),
              (std::vector<Command>{Command::boot, Command::touch, Command::screenshots,
                                    Command::recording, Command::gps}));
    EXPECT_EQ(Toolset::parseSupportedCommands("no heading\nboot"),
              std::vector<Command>{Command::gps});
    EXPECT_EQ(Toolset::parseSupportedCommands("Subcommands:\n\nSubcommands:\n -gps- x"),
              (std::vector<Command>{Command::touch, Command::gps, Command::gpsFull}));
    // Blank lines name no subcommand: a heading followed by nothing else
    // offers no touch settings, and no command is listed twice.
    EXPECT_EQ(Toolset::parseSupportedCommands("Subcommands:" + QString(1000, '\n')),
              std::vector<Command>{Command::gps});
    EXPECT_EQ(Toolset::parseSupportedCommands("Subcommands:" + QString(1000, '\n') +
                                              "  install\n  install_app_data\n"),
              (std::vector<Command>{Command::touch, Command::install, Command::gps}));
}

TEST_F(ToolsetTest, DetectsCommandsFromRealUsageTexts)
{
    const auto old = commandsFor("dump__simctl-usage-xcode9-10.txt");
    for (Command missing : {Command::appearance, Command::statusBar, Command::keychain,
                            Command::push, Command::privacy, Command::gpsFull})
        EXPECT_EQ(count(old, missing), 0) << Toolset::rawValue(missing);
    EXPECT_EQ(count(old, Command::touch), 1);
    EXPECT_EQ(count(old, Command::screenshots), 1);
    EXPECT_EQ(count(old, Command::gps), 1);

    const auto newer = commandsFor("blog2020__xcode11.4-subcommands-block.txt");
    for (Command command : Toolset::allCommands())
        EXPECT_EQ(count(newer, command), command != Command::gpsFull ? 1 : 0)
            << Toolset::rawValue(command);

    EXPECT_EQ(commandsFor("blog2020__xcode11.4-help-push.txt"), std::vector<Command>{Command::gps});
}

TEST_F(ToolsetTest, DetectsOnceAndAFailedRunOffersNothing)
{
    const QString counter = m_dir.path() + "/runs";
    auto toolset = Toolset::make(
        makeXcode("Failing.app", "15.0", "A",
                  "echo run >> '" + counter + "'; echo 'Subcommands:'; echo broken >&2"));
    ASSERT_TRUE(toolset);
    EXPECT_TRUE(toolset->supportedCommands().empty());
    EXPECT_FALSE(toolset->supports(Command::gps));
    EXPECT_TRUE(toolset->supportedCommands().empty());
    EXPECT_EQ(test::readFile(counter), "run\n");
}

TEST_F(ToolsetTest, RunGuardPostsWhenSimctlIsGone)
{
    auto toolset = Toolset::make(makeXcode("Xcode.app", "15.2", "B", "echo \"$@\""));
    ASSERT_TRUE(toolset);
    EXPECT_EQ(toolset->run({"list", "-j"}), "list -j");

    std::atomic<int> posts{0};
    auto observer = observeNotification<Toolset>(
        Toolset::didBecomeInvalid, toolset, nullptr,
        [&](const Notification &, const std::shared_ptr<Toolset> &) { ++posts; });
    auto process = toolset->process({"list"});
    EXPECT_EQ(posts.load(), 0);
    EXPECT_EQ(process->arguments(), QStringList{"list"});

    ASSERT_TRUE(QFile::remove(toolset->simctlPath().toLocalFile()));
    EXPECT_EQ(toolset->run({"list"}), std::nullopt);
    EXPECT_EQ(toolset->run({"list"}), std::nullopt);
    EXPECT_EQ(posts.load(), 2);
    process = toolset->process({"boot", "X"});
    EXPECT_EQ(posts.load(), 3);
    ASSERT_TRUE(process);
    EXPECT_FALSE(process->isLaunched());
    EXPECT_EQ(process->executablePath(), toolset->simctlPath().toLocalFile());
    EXPECT_THROW(process->launch(), LaunchError);
}

TEST_F(ToolsetTest, HoldsADeviceWatcher)
{
    struct Watcher : DeviceWatching {};
    auto toolset = Toolset::make(makeXcode("Xcode.app"));
    auto watcher = std::make_shared<Watcher>();
    toolset->setDeviceWatcher(watcher);
    EXPECT_EQ(toolset->deviceWatcher(), watcher);
    toolset->setDeviceWatcher(nullptr);
    EXPECT_FALSE(toolset->deviceWatcher());
}

TEST_F(ToolsetTest, FindsItsRunningSimulator)
{
    const QUrl xcode = makeXcode("Xcode.app");
    auto toolset = Toolset::make(xcode);
    EXPECT_FALSE(toolset->simulatorApplication());

    const QString macos =
        xcode.toLocalFile() + "/Contents/Developer/Applications/Simulator.app/Contents/MacOS";
    QDir().mkpath(macos);
    QFile::copy("/bin/sleep", macos + "/Simulator");
    ChildProcess simulator;
    simulator.setExecutablePath(macos + "/Simulator");
    simulator.setArguments({"30"});
    simulator.launch();
    EXPECT_EQ(toolset->simulatorApplication(), RunningApplication(macos + "/Simulator"));
    simulator.interrupt();
    EXPECT_TRUE(simulator.waitUntilExit(std::chrono::seconds(5)));
}
