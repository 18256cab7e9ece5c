#include "model/DeviceCapture.h"

#include "core/CorvaneSettings.h"
#include "core/FileNames.h"
#include "core/ProcessRunner.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "model/Device.h"
#include "model/DeviceStatusBar.h"
#include "model/ScreenshotDateFormatter.h"
#include "platform/processes/ChildProcess.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/files/SystemPaths.h"

#include <QImage>

namespace corvane {

namespace {

bool capturesHaveOptions(const std::optional<QString> &xcodeVersion)
{
    return xcodeVersion && xcodeIsAtLeast(*xcodeVersion, "11.4");
}

QString maskOption(bool includeMask)
{
    return includeMask ? "--mask=black" : "--mask=ignored";
}

std::optional<QString> versionOf(const std::shared_ptr<Toolset> &toolset)
{
    return toolset ? std::optional<QString>(toolset->version()) : std::nullopt;
}

QString inFolder(const QString &folder, const QString &name)
{
    QString path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path + '/' + name;
}

QString inSaveFolder(const QString &name)
{
    return inFolder(CorvaneSettings::shared()->savePath().toLocalFile(), name);
}

// How long an interrupt waits for simctl to say it records: one sent before
// it has set itself up would end it without finishing the video.
constexpr auto kRecordingReadiness = std::chrono::seconds(5);

} // namespace

QString imageFileExtension(const QString &imageFormat)
{
    return imageFormat == "jpeg" ? "jpg" : "png";
}

QString screenshotFileName(const QString &title, const QString &dateText,
                           const QString &imageFormat)
{
    return safeFileName("Simulator Screen Shot - " + title + " - " + dateText + "." +
                        imageFileExtension(imageFormat));
}

QString recordingFileName(const QString &title, const QString &dateText)
{
    return safeFileName("Simulator Screen Recording - " + title + " - " + dateText + ".mp4");
}

QStringList screenshotArguments(const QString &udid, const QString &targetPath,
                                const std::optional<QString> &xcodeVersion,
                                const QString &imageFormat, bool includeMask)
{
    QStringList arguments{"io", udid, "screenshot"};
    if (capturesHaveOptions(xcodeVersion))
        arguments << maskOption(includeMask)
                  << (imageFormat == "jpeg" ? "--type=jpeg" : "--type=png");
    return arguments << targetPath;
}

QStringList recordingArguments(const QString &udid, const QString &targetPath,
                               const std::optional<QString> &xcodeVersion,
                               const QString &videoFormat, bool includeMask)
{
    QStringList arguments{"io", udid, "recordVideo"};
    const bool options = capturesHaveOptions(xcodeVersion);
    if (options)
        arguments << (videoFormat == "hevc" ? "--codec=hevc" : "--codec=h264");
    arguments << "--display=internal";
    if (options)
        arguments << maskOption(includeMask);
    return arguments << targetPath;
}

void Device::screenshot()
{
    applyAutoAppliedStatusBar();
    const auto settings = CorvaneSettings::shared();
    const QString dateText = ScreenshotDateFormatter::currentDateText();
    const QString imageFormat = settings->imageFormat();
    auto toolset = this->toolset();
    const QStringList arguments = screenshotArguments(
        udid(), inSaveFolder(screenshotFileName(title(), dateText, imageFormat)),
        versionOf(toolset), imageFormat, settings->includeMaskInCaptures());
    if (!toolset)
        return;
    try {
        toolset->run(arguments);
    } catch (const std::exception &) {
        // The runner has logged it; there is simply no file.
    }
}

void Device::copyScreenshot()
{
    applyAutoAppliedStatusBar();
    const auto settings = CorvaneSettings::shared();
    const QString imageFormat = settings->imageFormat();
    const QString target = inFolder(SystemPaths::current().temporaryDir,
                                    newUuidString() + '.' + imageFileExtension(imageFormat));
    auto toolset = this->toolset();
    const QStringList arguments = screenshotArguments(
        udid(), target, versionOf(toolset), imageFormat, settings->includeMaskInCaptures());
    if (toolset) {
        try {
            toolset->run(arguments);
        } catch (const std::exception &) {
            return;
        }
    }
    const auto pasteboard = Pasteboard::general();
    pasteboard->clearContents();
    const QImage image(target);
    if (!image.isNull())
        pasteboard->writeImage(image);
}

std::shared_ptr<ChildProcess> Device::recordingTask() const
{
    std::lock_guard lock(m_mutex);
    return m_recordingTask;
}

void Device::postRecordingDidChange()
{
    postNotification(recordingDidChange, shared_from_this(), {{"isRecording", isRecording()}});
}

const DispatchQueuePtr &Device::recordingQueue()
{
    static const DispatchQueuePtr queue =
        DispatchQueue::makeSerial("com.quendrith.corvane.recording");
    return queue;
}

void Device::startRecording()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_recordingTask || m_recordingStarting)
            return;
        m_recordingStarting = true;
        m_recordingStopRequested = false;
    }
    applyAutoAppliedStatusBar();
    std::weak_ptr<Device> weak = sharedAs<Device>();
    recordingQueue()->async([weak] {
        if (auto device = weak.lock())
            device->beginRecording();
    });
}

void Device::beginRecording()
{
    const auto settings = CorvaneSettings::shared();
    const QString dateText = ScreenshotDateFormatter::currentDateText();
    auto toolset = this->toolset();
    const QStringList arguments = recordingArguments(
        udid(), inSaveFolder(recordingFileName(title(), dateText)), versionOf(toolset),
        settings->videoFormat(), settings->includeMaskInCaptures());
    if (!toolset) {
        std::lock_guard lock(m_mutex);
        m_recordingStarting = false;
        m_recordingStopRequested = false;
        return;
    }

    auto process = toolset->process(arguments);
    process->setStandardError(ChildProcess::Channel::Pipe);
    std::weak_ptr<Device> weak = sharedAs<Device>();
    process->setTerminationHandler([weak, process](const ChildProcess::Termination &) {
        recordingDidTerminate(weak, process);
    });
    {
        std::lock_guard lock(m_mutex);
        m_recordingTask = process;
        m_recordingStarting = false;
        m_recordingLaunched = false;
    }
    postRecordingDidChange();

    DispatchQueue::userInitiated()->async([weak, process] {
        try {
            process->launch();
        } catch (const LaunchError &error) {
            // No termination will be reported; end the recording here.
            process->setTerminationHandler(nullptr);
            Log::device().error("Error recording simulator: %{PUBLIC}@", error.description());
            recordingDidTerminate(weak, process);
            return;
        }
        if (auto device = weak.lock())
            device->recordingDidLaunch(process);
    });
}

void Device::recordingDidLaunch(const std::shared_ptr<ChildProcess> &process)
{
    bool stop = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_recordingTask != process)
            return;
        m_recordingLaunched = true;
        stop = std::exchange(m_recordingStopRequested, false);
    }
    if (stop)
        interruptWhenReady(process, true);
}

void Device::stopRecording()
{
    std::shared_ptr<ChildProcess> task;
    {
        std::lock_guard lock(m_mutex);
        if (m_recordingStarting || (m_recordingTask && !m_recordingLaunched)) {
            m_recordingStopRequested = true;
            return;
        }
        task = m_recordingTask;
    }
    if (task)
        interruptWhenReady(task, false);
}

// simctl says on its error output when it records. An interrupt before that
// waits for it (up to a bound), on this thread or, when `wait` is false, on
// another one, so that a stop never blocks its caller.
void Device::interruptWhenReady(const std::shared_ptr<ChildProcess> &process, bool wait)
{
    if (process->waitForStandardError(ChildProcess::Clock::now())) {
        process->interrupt();
        return;
    }
    const auto interrupt = [process] {
        process->waitForStandardError(ChildProcess::Clock::now() + kRecordingReadiness);
        process->interrupt();
    };
    if (wait)
        interrupt();
    else
        DispatchQueue::userInitiated()->async(interrupt);
}

void Device::recordingDidTerminate(const std::weak_ptr<Device> &weak,
                                   const std::shared_ptr<ChildProcess> &process)
{
    const auto text = trimmedUtf8(process->readAllStandardError());
    if (text && text->contains("Error"))
        Log::device().error("Error recording simulator: %{PUBLIC}@", *text);
    auto device = weak.lock();
    if (!device)
        return;
    {
        std::lock_guard lock(device->m_mutex);
        if (device->m_recordingTask != process)
            return;
        device->m_recordingTask.reset();
        device->m_recordingLaunched = false;
        device->m_recordingStopRequested = false;
    }
    device->postRecordingDidChange();
}

} // namespace corvane
