#include "common/CaptureFakes.h"
#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/Device.h"
#include "model/ScreenshotDateFormatter.h"
#include "model/StatusBarPreset.h"
#include "model/StatusBarPresetRepository.h"
#include "platform/processes/ChildProcess.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <mutex>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

using test::FakePasteboard;

class DeviceCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_tree.addRuntime("iOS", "17.5");
        SystemPaths::setCurrent(m_tree.paths());
        QDir().mkpath(m_tree.paths().temporaryDir);
        QDir().mkpath(savePath());
        CorvaneSettings::resetShared(
            UserDefaults::withFile(m_tree.root() + "/config/com.quendrith.corvane.conf"),
            std::make_shared<CloudKeyValueStore>(m_tree.root() + "/Sync/KeyValueStore.json"));
        settings()->registerCommonSettings();
        settings()->setSavePath(QUrl::fromLocalFile(savePath()));
        StatusBarPresetRepository::resetShared();
        test::writeFile(StatusBarPresetRepository::defaultFilePath(), "[]");

        m_pasteboard = std::make_shared<FakePasteboard>();
        Pasteboard::setGeneral(m_pasteboard);
        ScreenshotDateFormatter::setClock(
            [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); });
        m_recordingObserver = observeNotification(
            Device::recordingDidChange, nullptr, [this](const Notification &n, const ObjectPtr &) {
                std::lock_guard lock(m_mutex);
                m_recordingPosts.push_back(n.userInfo.value("isRecording").toBool());
            });
    }

    void TearDown() override
    {
        if (m_device && m_device->recordingTask()) {
            m_device->stopRecording();
            test::waitUntil([&] { return !m_device->isRecording(); });
        }
        m_recordingObserver->invalidate();
        ScreenshotDateFormatter::setClock(nullptr);
        Pasteboard::setGeneral(nullptr);
        StatusBarPresetRepository::resetShared();
        CorvaneSettings::resetShared();
        SystemPaths::resetToEnvironment();
    }

    static std::shared_ptr<CorvaneSettings> settings() { return CorvaneSettings::shared(); }
    QString savePath() const { return m_tree.root() + "/Captures"; }

    // A booted iPhone of a new Xcode of that version.
    DevicePtr makeDevice(const QString &version, const QString &title = "iPhone 15")
    {
        fixture::XcodeSpec spec;
        spec.name = "Xcode-" + version + "-" + QString::number(++m_xcodes) + ".app";
        spec.version = version;
        const QString bundle = m_tree.addXcode(spec);
        fixture::DeviceSpec device;
        device.name = title;
        device.deviceType = "iPhone 15";
        device.runtime = "iOS 17.5";
        device.booted = true;
        m_udid = m_tree.addDevice(device);
        m_toolset = Toolset::make(QUrl::fromLocalFile(bundle));
        EXPECT_TRUE(m_toolset);
        m_device = Device::initFromListLine(title + " (" + m_udid + ") (Booted)",
                                            Runtime(Runtime::System::iOS, "17.5"), m_toolset);
        EXPECT_TRUE(m_device);
        m_tree.clearLog();
        return m_device;
    }

    // The arguments of each simctl call since the device was made.
    QList<QStringList> calls() const
    {
        QList<QStringList> result;
        for (const auto &invocation : m_tree.invocations())
            if (invocation.tool == "simctl")
                result << invocation.arguments;
        return result;
    }

    int recordings() const
    {
        int count = 0;
        for (const auto &call : calls())
            count += call.contains("recordVideo") ? 1 : 0;
        return count;
    }

    QVariantMap statusBar() const { return m_tree.deviceExtras(m_udid).value("statusBar").toMap(); }

    StatusBarPresetPtr addPreset()
    {
        auto preset = StatusBarPreset::make("Clean");
        preset->setCarrierName("Car-rier");
        StatusBarPresetRepository::shared()->setPresets({preset});
        return preset;
    }

    std::vector<bool> recordingPosts()
    {
        std::lock_guard lock(m_mutex);
        return m_recordingPosts;
    }

    bool recordingRuns()
    {
        return test::waitUntil([&] { return test::catchesInterrupt(m_device->recordingTask()); });
    }

    fixture::FixtureTree m_tree;
    int m_xcodes = 0;
    QString m_udid;
    std::shared_ptr<Toolset> m_toolset;
    DevicePtr m_device;
    std::shared_ptr<FakePasteboard> m_pasteboard;
    std::shared_ptr<NotificationObserver> m_recordingObserver;
    std::mutex m_mutex;
    std::vector<bool> m_recordingPosts;
};

} // namespace

TEST_F(DeviceCaptureTest, OverrideArgumentsFollowTheXcode)
{
    auto preset = StatusBarPreset::make("P");
    makeDevice("15.3")->setStatusBarUsing(*preset);
    ASSERT_EQ(calls().size(), 1);
    EXPECT_EQ(calls().at(0),
              QStringList({"status_bar",  m_udid,           "override", "--time",
                           "09:41",       "--dataNetwork",  "hide",     "--wifiMode",
                           "active",      "--wifiBars",     "3",        "--cellularMode",
                           "active",      "--cellularBars", "4",        "--batteryState",
                           "discharging", "--batteryLevel", "100",      "--operatorName",
                           "Carrier"}));
    EXPECT_EQ(statusBar().value("dataNetwork"), "hide");
    EXPECT_EQ(statusBar().value("time"), "09:41");

    preset->setTime("12:05 PM");
    preset->setDataNetwork("lte +");
    makeDevice("16.0")->setStatusBarUsing(*preset);
    EXPECT_EQ(calls().at(0).mid(3, 4), QStringList({"--time", "12:05", "--dataNetwork", "lte+"}));
    preset->setDataNetwork("notSupported");
    preset->setTime("9:41");
    preset->setCarrierName("My-Carrier");
    makeDevice("16.0")->setStatusBarUsing(*preset);
    EXPECT_EQ(calls().at(0).mid(3, 4),
              QStringList({"--time", "9:41", "--dataNetwork", "notSupported"}));
    EXPECT_EQ(calls().at(0).mid(19), QStringList({"--operatorName", "My_Carrier"}));
    EXPECT_EQ(statusBar().value("operatorName"), "My_Carrier");
    EXPECT_EQ(statusBar().value("dataNetwork"), "notSupported");

    makeDevice("11.3")->setStatusBarUsing(*preset);
    EXPECT_FALSE(calls().at(0).contains("--operatorName"));
    EXPECT_EQ(calls().at(0).last(), "100");
    makeDevice("11.4")->setStatusBarUsing(*preset);
    EXPECT_EQ(calls().at(0).mid(calls().at(0).size() - 2),
              QStringList({"--operatorName", "My_Carrier"}));

    m_device->resetStatusBar();
    EXPECT_EQ(calls().last(), QStringList({"status_bar", m_udid, "clear"}));
    EXPECT_TRUE(statusBar().isEmpty());
    m_toolset.reset();
    m_device->resetStatusBar();
    m_device->setStatusBarUsing(*preset);
    EXPECT_EQ(calls().size(), 2);
}

TEST_F(DeviceCaptureTest, AutoAppliedPresetIsFoundIgnoringCase)
{
    auto preset = addPreset();
    auto device = makeDevice("15.0");
    device->applyAutoAppliedStatusBar();
    EXPECT_TRUE(calls().isEmpty());

    settings()->setAutoAppliedStatusBar("no-such-preset");
    device->screenshot();
    ASSERT_EQ(calls().size(), 1);
    EXPECT_EQ(calls().at(0).at(0), "io");

    settings()->setAutoAppliedStatusBar(preset->uniqueIdentifier().toLower());
    m_tree.clearLog();
    device->screenshot();
    ASSERT_EQ(calls().size(), 2);
    EXPECT_EQ(calls().at(0).mid(0, 3), QStringList({"status_bar", m_udid, "override"}));
    EXPECT_EQ(calls().at(1).at(2), "screenshot");
}

TEST_F(DeviceCaptureTest, ScreenshotArgumentsAndFileNames)
{
    settings()->setImageFormat("jpeg");
    settings()->setIncludeMaskInCaptures(false);
    makeDevice("15.0")->screenshot();
    const QString expected =
        savePath() + "/Simulator Screen Shot - iPhone 15 - 2024-03-05 14.07.09.jpg";
    ASSERT_EQ(calls().size(), 1);
    EXPECT_EQ(calls().at(0),
              QStringList({"io", m_udid, "screenshot", "--mask=ignored", "--type=jpeg", expected}));
    EXPECT_TRUE(QFile::exists(expected));

    makeDevice("11.3")->screenshot();
    EXPECT_EQ(calls().at(0), QStringList({"io", m_udid, "screenshot", expected}));

    settings()->setImageFormat("bmp");
    settings()->setIncludeMaskInCaptures(true);
    makeDevice("11.10", "A/B")->screenshot();
    const QString slashed = savePath() + "/Simulator Screen Shot - A-B - 2024-03-05 14.07.09.png";
    EXPECT_EQ(calls().at(0),
              QStringList({"io", m_udid, "screenshot", "--mask=black", "--type=png", slashed}));
    EXPECT_TRUE(QFile::exists(slashed));
    EXPECT_FALSE(QDir(savePath() + "/Simulator Screen Shot - A").exists());

    makeDevice("15.0");
    m_tree.shutdown(m_udid);
    m_device->screenshot();
    EXPECT_EQ(calls().size(), 1);
}

TEST_F(DeviceCaptureTest, CopyScreenshotFillsThePasteboardOnlyOnSuccess)
{
    auto device = makeDevice("15.0");
    device->copyScreenshot();
    ASSERT_EQ(calls().size(), 1);
    const QString target = calls().at(0).last();
    EXPECT_TRUE(target.startsWith(m_tree.root() + "/tmp/"));
    EXPECT_TRUE(target.endsWith(".png"));
    EXPECT_EQ(calls().at(0).mid(3, 2), QStringList({"--mask=ignored", "--type=png"}));
    const QSize size = m_pasteboard->image.size();
    EXPECT_FALSE(size.isEmpty());
    EXPECT_EQ(size, QImage(target).size());

    m_pasteboard->clears = 0;
    m_tree.shutdown(m_udid);
    device->copyScreenshot();
    EXPECT_EQ(calls().size(), 2);
    EXPECT_EQ(m_pasteboard->clears, 0);
    EXPECT_EQ(m_pasteboard->image.size(), size);
}

TEST_F(DeviceCaptureTest, RecordingStartsOnceAndEndsOnInterrupt)
{
    settings()->setVideoFormat("hevc");
    auto device = makeDevice("15.0");
    device->startRecording();
    device->startRecording();
    ASSERT_TRUE(test::waitUntil([&] { return recordings() == 1; }));
    device->startRecording();
    EXPECT_TRUE(device->isRecording());
    EXPECT_EQ(
        calls().at(0),
        QStringList(
            {"io", m_udid, "recordVideo", "--codec=hevc", "--display=internal", "--mask=ignored",
             savePath() + "/Simulator Screen Recording - iPhone 15 - 2024-03-05 14.07.09.mp4"}));
    ASSERT_TRUE(recordingRuns());
    EXPECT_EQ(recordings(), 1);
    EXPECT_EQ(recordingPosts(), std::vector<bool>{true});

    Log::Capture log;
    device->stopRecording();
    ASSERT_TRUE(test::waitUntil([&] { return recordingPosts().size() == 2; }));
    EXPECT_EQ(recordingPosts(), (std::vector<bool>{true, false}));
    EXPECT_FALSE(device->recordingTask());
    EXPECT_FALSE(log.contains("Error recording simulator"));
}

// A stop that came before the recording process had a pid was lost, and
// simctl recorded on with nobody to stop it. It is kept and sent once simctl
// records, so the video is finished (it ends with its index).
TEST_F(DeviceCaptureTest, AStopRightAfterTheStartEndsTheRecordingWithAFinishedVideo)
{
    auto device = makeDevice("15.0");
    const QString video =
        savePath() + "/Simulator Screen Recording - iPhone 15 - 2024-03-05 14.07.09.mp4";
    const auto stopBeforeItRuns = [&] {
        // The launch is held back until the stop has been made.
        auto release = std::make_shared<DispatchSemaphore>(0);
        Device::recordingQueue()->async([release] { release->wait(); });
        device->startRecording();
        device->stopRecording();
        release->signal();
    };
    const auto stopRightAfterItIsMade = [&] {
        device->startRecording();
        Device::recordingQueue()->async([device] { device->stopRecording(); });
    };
    for (const auto &startAndStop :
         {std::function<void()>(stopBeforeItRuns), std::function<void()>(stopRightAfterItIsMade)}) {
        const std::size_t posts = recordingPosts().size();
        startAndStop();
        ASSERT_TRUE(test::waitUntil([&] { return recordingPosts().size() == posts + 2; }));
        EXPECT_EQ(recordingPosts().back(), false);
        EXPECT_FALSE(device->isRecording());
        const QByteArray bytes = test::readFile(video);
        EXPECT_TRUE(bytes.endsWith(QByteArray("\0\0\0\x08moov", 8))) << bytes.size();
        ASSERT_TRUE(QFile::remove(video));
    }
    EXPECT_EQ(recordings(), 2);
}

TEST_F(DeviceCaptureTest, OldXcodeRecordingAndErrorText)
{
    auto device = makeDevice("11.3");
    fixture::Fault fault;
    fault.stderrText = "Error Domain=SimError Code=2";
    m_tree.setFault("io", fault);
    Log::Capture log;
    device->startRecording();
    ASSERT_TRUE(test::waitUntil([&] { return recordings() == 1; }));
    EXPECT_EQ(calls().at(0).mid(2, 2), QStringList({"recordVideo", "--display=internal"}));
    EXPECT_EQ(calls().at(0).size(), 5);
    ASSERT_TRUE(recordingRuns());
    device->stopRecording();
    ASSERT_TRUE(test::waitUntil([&] { return !device->isRecording(); }));
    EXPECT_TRUE(log.contains("Error recording simulator: Recording started\nWrote video to: "));
    EXPECT_TRUE(log.contains("Error Domain=SimError Code=2"));
}

TEST_F(DeviceCaptureTest, ARemovedSimctlEndsTheRecording)
{
    auto device = makeDevice("15.0");
    Log::Capture log;
    ASSERT_TRUE(QFile::remove(m_toolset->simctlPath().toLocalFile()));
    device->startRecording();
    ASSERT_TRUE(test::waitUntil([&] { return recordingPosts().size() == 2; }));
    EXPECT_EQ(recordingPosts(), (std::vector<bool>{true, false}));
    EXPECT_FALSE(device->isRecording());
    EXPECT_TRUE(log.contains("Error recording simulator"));

    m_toolset.reset();
    device->startRecording();
    test::pumpFor(30ms);
    EXPECT_EQ(recordingPosts().size(), 2u);
}
