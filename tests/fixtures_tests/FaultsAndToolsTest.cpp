#include "FixtureTestSupport.h"

#include "common/TestSupport.h"
#include "platform/formats/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::fixture::checks;

TEST(FakeXcodeFaults, InjectedOutputAndErrorsReachTheCaller)
{
    SmallTree small;
    Fault fault;
    fault.stderrText = "CoreSimulator is attempting to unload a stale job";
    fault.metalLine = true;
    small.tree.setFault("list", fault);
    const RunResult noisy = small.simctl({"list", "devices"});
    EXPECT_TRUE(noisy.out.startsWith("== Devices =="));
    const QStringList errors = QString::fromUtf8(noisy.err).trimmed().split('\n');
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors.at(0).contains("Metal API Validation"));
    EXPECT_EQ(errors.at(1), fault.stderrText);
    // Other subcommands stay clean.
    EXPECT_TRUE(small.simctl({"help"}).err.isEmpty());

    small.tree.setFault("list", {.nonUtf8 = true});
    EXPECT_FALSE(QString::fromUtf8(small.simctl({"list"}).out).toUtf8() ==
                 small.simctl({"list"}).out);
    small.tree.setFault("list", {.outputBytes = 200000});
    EXPECT_EQ(small.simctl({"list"}).out.size(), 200000);
    const QString real =
        test::realWorldPath("simctl-list-text/fastlane__DeviceManagerSimctlOutputXcode15.txt");
    small.tree.setFault("*", {.stdoutFile = real});
    small.tree.setFault("list", {});
    EXPECT_EQ(small.simctl({"list"}).out, test::readFile(real));
    EXPECT_EQ(small.simctl({"help"}).out, test::readFile(real));

    small.tree.clearFaults();
    qputenv("FAKE_SIMCTL_STDERR", "from the environment");
    qputenv("FAKE_SIMCTL_ONLY", "boot");
    const RunResult boot = small.simctl({"boot", small.udid});
    const RunResult list = small.simctl({"list"});
    qunsetenv("FAKE_SIMCTL_STDERR");
    qunsetenv("FAKE_SIMCTL_ONLY");
    EXPECT_EQ(boot.err, "from the environment\n");
    EXPECT_TRUE(list.err.isEmpty());
    EXPECT_EQ(small.tree.device(small.udid)->state, DeviceState::Booted);
}

TEST(FakeXcodeFaults, DelayWaitsAndHangHoldsStdoutUntilTheTreeEnds)
{
    pid_t hung = 0;
    {
        SmallTree small;
        small.tree.setFault("list", {.delaySeconds = 0.3});
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(small.simctl({"list"}).exitCode, 0);
        EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));

        small.tree.setFault("list", {.hang = true});
        const RunResult result = FixtureTree::run(small.tree.simctlPath(), {"list"}, {}, 300);
        EXPECT_TRUE(result.timedOut);

        // A hung call left running by its caller still belongs to the tree.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        const QByteArray path = small.tree.simctlPath().toLocal8Bit();
        char list[] = "list";
        char *argv[] = {const_cast<char *>(path.constData()), list, nullptr};
        ASSERT_EQ(posix_spawn(&hung, path.constData(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_TRUE(test::waitUntil([&] { return !small.tree.processes().isEmpty(); }));
    }
    int status = 0;
    EXPECT_EQ(waitpid(hung, &status, 0), hung);
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(FakeXcodeLog, RecordsExactArgumentsAndWorkingDirectory)
{
    SmallTree small;
    small.tree.clearLog();
    const QString folder = small.tree.root() + "/tmp/Some Folder";
    QDir().mkpath(folder);
    const RunResult open =
        FixtureTree::run(small.tree.toolPath("open"), {"-R", "Sample App"}, folder);
    EXPECT_EQ(open.exitCode, 0);
    EXPECT_TRUE(open.out.isEmpty() && open.err.isEmpty());
    small.simctl({"privacy", small.udid, "grant", "photos", "com.example.a b"});

    const QList<Invocation> calls = small.tree.invocations();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls.at(0).tool, "open");
    EXPECT_EQ(calls.at(0).arguments, (QStringList{"-R", "Sample App"}));
    EXPECT_EQ(calls.at(0).cwd, folder);
    EXPECT_EQ(calls.at(0).path, small.tree.toolPath("open"));
    EXPECT_EQ(calls.at(1).tool, "simctl");
    EXPECT_EQ(calls.at(1).arguments,
              (QStringList{"privacy", small.udid, "grant", "photos", "com.example.a b"}));
}

TEST(FakeXcodeHostTools, XcodeSelectAndDefaultsWorkOnTheTree)
{
    SmallTree small;
    const QString select = small.tree.toolPath("xcode-select");
    EXPECT_EQ(FixtureTree::run(select, {"-p"}).out, small.xcode.toUtf8() + "/Contents/Developer\n");
    EXPECT_EQ(FixtureTree::run(select, {"--version"}).out, "xcode-select version 2396.\n");
    const QString beta = small.tree.addXcode({"Xcode-beta.app", "16.0", "16A5171c", {}, {}});
    EXPECT_EQ(FixtureTree::run(select, {"-s", beta}).exitCode, 0);
    EXPECT_EQ(QFileInfo(small.tree.paths().xcodeSelectLink()).symLinkTarget(),
              beta + "/Contents/Developer");
    EXPECT_EQ(small.tree.simctlPath(), FixtureTree::simctlPath(beta));
    EXPECT_NE(FixtureTree::run(select, {"-s", "/nowhere/Xcode.app"}).exitCode, 0);

    const QString defaults = small.tree.toolPath("defaults");
    const QString domain = "com.apple.iphonesimulator";
    EXPECT_EQ(FixtureTree::run(defaults, {"write", domain, "ShowSingleTouches", "1"}).exitCode, 0);
    EXPECT_EQ(FixtureTree::run(defaults, {"write", domain, "ShowPinches", "-bool", "YES"}).exitCode,
              0);
    const auto stored = PropertyList::readDictionary(small.tree.home() + "/Library/Preferences/" +
                                                     domain + ".plist");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->value("ShowSingleTouches"), QVariant("1"));
    EXPECT_EQ(stored->value("ShowPinches"), QVariant(true));
    EXPECT_EQ(FixtureTree::run(defaults, {"read", domain, "ShowSingleTouches"}).out, "1\n");
    const RunResult missing = FixtureTree::run(defaults, {"read", domain, "Nothing"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_TRUE(missing.err.contains("does not exist"));
    EXPECT_EQ(FixtureTree::run(defaults, {"delete", domain, "ShowPinches"}).exitCode, 0);
    EXPECT_NE(FixtureTree::run(defaults, {"read", domain, "ShowPinches"}).exitCode, 0);
}

TEST(FakeSimctlActions, DeviceSettingsAndPayloadsAreCheckedAndKept)
{
    SmallTree small(true);
    const AppSpec spec = sampleApp();
    small.tree.installApp(small.udid, spec);
    const auto run = [&](const QStringList &arguments) { return small.simctl(arguments); };

    EXPECT_EQ(run({"ui", small.udid, "appearance"}).out, "light\n");
    EXPECT_EQ(run({"ui", small.udid, "appearance", "dark"}).exitCode, 0);
    EXPECT_EQ(run({"ui", small.udid, "appearance"}).out, "dark\n");
    EXPECT_NE(run({"ui", small.udid, "appearance", "purple"}).exitCode, 0);
    EXPECT_EQ(run({"ui", small.udid, "content_size", "accessibility-large"}).exitCode, 0);
    EXPECT_EQ(run({"ui", small.udid, "content_size"}).out, "accessibility-large\n");

    EXPECT_EQ(run({"openurl", small.udid, "https://example.com/a"}).exitCode, 0);
    EXPECT_EQ(run({"openurl", small.udid, "sample://open"}).exitCode, 0);
    EXPECT_NE(run({"openurl", small.udid, "unknown://open"}).exitCode, 0);
    EXPECT_EQ(small.tree.deviceExtras(small.udid).value("openedURLs").toStringList(),
              (QStringList{"https://example.com/a", "sample://open"}));

    EXPECT_EQ(run({"privacy", small.udid, "grant", "contacts-limited", spec.identifier}).exitCode,
              0);
    EXPECT_NE(run({"privacy", small.udid, "grant", "Contacts", spec.identifier}).exitCode, 0);
    EXPECT_NE(run({"privacy", small.udid, "grant", "photos"}).exitCode, 0);
    EXPECT_EQ(run({"privacy", small.udid, "reset", "all"}).exitCode, 0);

    const QString payload = small.tree.root() + "/tmp/payload.apns";
    test::writeFile(payload, R"({"aps":{"alert":"Hi"}})");
    const RunResult sent = run({"push", small.udid, spec.identifier, payload});
    EXPECT_EQ(sent.out, "Notification sent to 'com.example.sample'\n");
    test::writeFile(payload, R"({"alert":"Hi"})");
    EXPECT_NE(run({"push", small.udid, spec.identifier, payload}).exitCode, 0);
    test::writeFile(payload, R"({"aps":{"alert":")" + QByteArray(4100, 'x') + "\"}}");
    EXPECT_TRUE(run({"push", small.udid, spec.identifier, payload}).err.contains("4096"));

    EXPECT_EQ(run({"status_bar", small.udid, "override", "--time", "09:41", "--dataNetwork",
                   "notSupported", "--wifiBars", "3", "--batteryLevel", "100", "--operatorName",
                   "Carrier_X"})
                  .exitCode,
              0);
    EXPECT_NE(run({"status_bar", small.udid, "override", "--wifiBars", "4"}).exitCode, 0);
    EXPECT_NE(run({"status_bar", small.udid, "override", "--bogus", "1"}).exitCode, 0);
    EXPECT_TRUE(run({"status_bar", small.udid, "list"}).out.contains("dataNetwork: notSupported"));
    EXPECT_EQ(run({"status_bar", small.udid, "clear"}).exitCode, 0);
    EXPECT_FALSE(run({"status_bar", small.udid, "list"}).out.contains("time"));

    EXPECT_EQ(run({"keychain", small.udid, "reset"}).exitCode, 0);
    EXPECT_EQ(run({"pbsync", small.udid, "host"}).exitCode, 0);
    EXPECT_EQ(run({"pbsync", "host", small.udid}).exitCode, 0);
    EXPECT_EQ(small.tree.deviceExtras(small.udid).value("pasteboardSyncs").toList().size(), 2);

    const QString photo = small.tree.root() + "/tmp/photo.png";
    QImage(8, 8, QImage::Format_RGB32).save(photo);
    EXPECT_EQ(run({"addmedia", small.udid, photo}).exitCode, 0);
    EXPECT_NE(run({"addmedia", small.udid, small.tree.root() + "/tmp/none.png"}).exitCode, 0);

    // Newer-than-15.3 gate: an older Xcode refuses "notSupported".
    const QString old = small.tree.addXcode({"Xcode-15.3.app", "15.3", "15E204a", {}, {}});
    EXPECT_NE(FixtureTree::run(FixtureTree::simctlPath(old), {"status_bar", small.udid, "override",
                                                              "--dataNetwork", "notSupported"})
                  .exitCode,
              0);
    EXPECT_EQ(FixtureTree::run(FixtureTree::simctlPath(old),
                               {"status_bar", small.udid, "override", "--dataNetwork", "hide"})
                  .exitCode,
              0);
}

TEST(FakeSimctlCapture, ScreenshotsAreRealImagesAndRecordingEndsCleanlyOnInterrupt)
{
    SmallTree small(true);
    const QString folder = small.tree.root() + "/tmp";
    EXPECT_EQ(small
                  .simctl({"io", small.udid, "screenshot", "--mask=ignored", "--type=jpeg",
                           folder + "/shot.jpg"})
                  .exitCode,
              0);
    EXPECT_EQ(QImageReader(folder + "/shot.jpg").format(), "jpeg");
    EXPECT_EQ(small.simctl({"io", small.udid, "screenshot", folder + "/shot.png"}).exitCode, 0);
    EXPECT_FALSE(QImage(folder + "/shot.png").isNull());
    EXPECT_NE(
        small.simctl({"io", small.udid, "screenshot", "--mask=odd", folder + "/x.png"}).exitCode,
        0);

    int errPipe[2];
    ASSERT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    const QByteArray path = small.tree.simctlPath().toLocal8Bit();
    const QByteArray video = (folder + "/movie.mp4").toLocal8Bit();
    const QByteArray udid = small.udid.toLocal8Bit();
    std::vector<const char *> argv{path.constData(),  "io",           udid.constData(),
                                   "recordVideo",     "--codec=hevc", "--display=internal",
                                   video.constData(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, path.constData(), &actions, nullptr,
                          const_cast<char *const *>(argv.data()), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(errPipe[1]);

    QByteArray err;
    char buffer[256];
    while (!err.contains('\n')) {
        const ssize_t count = read(errPipe[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        err.append(buffer, count);
    }
    EXPECT_EQ(err, "Recording started\n");
    kill(pid, SIGINT);
    ssize_t count = 0;
    while ((count = read(errPipe[0], buffer, sizeof buffer)) > 0)
        err.append(buffer, count);
    close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(err.contains("Error"));
    EXPECT_EQ(test::readFile(folder + "/movie.mp4").mid(4, 4), "ftyp");
}
