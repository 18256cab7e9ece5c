// Shows the about box or the crash report window with a sample log, for
// screenshots under Xvfb:
//
//   diagnostics_demo about|crash-both-rows|crash-no-rows [--grab OUTPUT.png]
//
// With --grab it saves what the X server shows of the window and quits.
// Settings go to a temporary file; nothing is sent.
#include "platform/defaults/UserDefaults.h"
#include "preferences/AboutViewController.h"
#include "preferences/AboutWindowController.h"
#include "preferences/CrashReportWindowController.h"

#include <QApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

const char *const kSampleLog = R"(Process:               Corvane [4817]
Path:                  /Applications/Corvane.app/Contents/MacOS/Corvane
Identifier:            com.quendrith.corvane
Version:               0.1.0 (1)
Code Type:             ARM-64 (Native)
Parent Process:        launchd [1]

Date/Time:             2024-05-14 09:41:27.312 +0200
OS Version:            macOS 14.4.1 (23E224)

Exception Type:        EXC_BAD_ACCESS (SIGSEGV)
Exception Codes:       KERN_INVALID_ADDRESS at 0x0000000000000010
Termination Reason:    Namespace SIGNAL, Code 11 Segmentation fault: 11

Thread 0 Crashed:: Dispatch queue: com.apple.main-thread
0   Corvane          0x0000000102a4c3f0 corvane::RootMenu::update() + 112
1   Corvane          0x0000000102a4b9d4 corvane::RootMenu::menuWillOpen() + 64
2   AppKit           0x000000018c2f1e40 -[NSMenu _sendMenuOpeningNotification] + 96
3   AppKit           0x000000018c2f1b6c -[NSMenu _menuWillOpen] + 40
4   CoreFoundation   0x0000000189a5f3b8 __CFRunLoopDoObservers + 548

Thread 1:: com.quendrith.corvane.directorymonitor
0   libsystem_kernel.dylib 0x0000000189b2a9ec __workq_kernreturn + 8
)";

class DemoSender : public corvane::SendsCrashLog {
public:
    void sendCrashLog(const std::optional<QString> &, const QString &) override {}
};

// Saves the window as the screen shows it once it has settled, then quits.
void grabLater(QWidget *window, const QString &output)
{
    QTimer::singleShot(1000, window, [window, output] {
        const QPixmap shot = window->screen()->grabWindow(window->winId());
        QApplication::exit(shot.save(output) ? 0 : 1);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    const QStringList arguments = QApplication::arguments();
    const QString mode = arguments.value(1, "about");
    const qsizetype grab = arguments.indexOf("--grab");
    const QString output = grab > 0 ? arguments.value(grab + 1) : QString();

    if (mode == "about") {
        corvane::AboutWindowController about;
        about.showWindow();
        about.raise();
        if (!output.isEmpty())
            grabLater(about.contentViewController(), output);
        return app.exec();
    }
    if (mode != "crash-both-rows" && mode != "crash-no-rows") {
        std::fprintf(
            stderr,
            "usage: diagnostics_demo about|crash-both-rows|crash-no-rows [--grab OUTPUT.png]\n");
        return 2;
    }

    QTemporaryDir dir;
    auto defaults = corvane::UserDefaults::withFile(dir.filePath("demo.conf"));
    defaults->set("CRR_emailAddress", "dev@example.com");
    const bool rows = mode == "crash-both-rows";
    auto sender = std::make_shared<DemoSender>();
    corvane::CrashReportContent content;
    content.crashLogText = QString::fromUtf8(kSampleLog);
    content.crashLogSender = sender;
    content.privacyPolicyURL = QUrl("https://quendrith.com/corvane/privacy/");
    content.collectEmailSetting = {rows, defaults, "CRR_emailAddress"};
    content.sendReportsAutomaticallySetting = {rows, defaults, "CRR_sendCrashLogsAutomatically"};
    corvane::CrashReportWindowController window(content);
    window.setOnWindowWillClose([](QWidget *) { QApplication::quit(); });
    window.showWindow();
    if (!output.isEmpty())
        grabLater(&window, output);
    return app.exec();
}
