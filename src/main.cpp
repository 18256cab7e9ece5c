#include "app/qt/QtAlertPresenter.h"
#include "app/qt/QtContextMenuPresenter.h"
#include "app/qt/QtFilePanels.h"
#include "app/qt/QtStatusItem.h"
#include "app/shell/AppDelegate.h"
#include "model/DeviceWatcher.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/files/ProgramLock.h"
#include "platform/files/SystemPaths.h"
#include "tasks/TaskManager.h"
#include "tasks/UnsplashWindowController.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so that quitting runs the same
// clean-up as the menu's "Quit".
void quitOnSignals(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] auto got = ::read(g_signalPipe[0], &byte, 1);
        app.quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything is written or the display is opened: a second start
    // leaves the running program, its settings and its log alone.
    corvane::ProgramLock lock;
    const auto locked = lock.tryLock();
    if (locked == corvane::ProgramLock::Outcome::HeldElsewhere) {
        if (lock.holder() > 0)
            std::fprintf(stderr, "Corvane is already running (process %lld).\n",
                         static_cast<long long>(lock.holder()));
        else
            std::fprintf(stderr, "Corvane is already running.\n");
        return corvane::ProgramLock::refusedExitStatus;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    QApplication::setOrganizationDomain("quendrith.com");
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    const auto paths = corvane::SystemPaths::current();
    corvane::Log::setFile(paths.programSupportDir() + "/Logs/Corvane.log");
    corvane::Log::general().info("Corvane starting");
    if (locked == corvane::ProgramLock::Outcome::Unavailable)
        corvane::Log::general().notice(
            "Cannot take the program lock %{public}@; a second start is not kept out",
            lock.filePath().isEmpty() ? QStringLiteral("(no private runtime folder)")
                                      : lock.filePath());
    corvane::DeviceWatcher::installAsToolsetWatcherFactory();
    corvane::TaskManager::installAsTaskService();
    corvane::UnsplashResultsWindows::setShared(corvane::UnsplashWindowRegistry::make());

    corvane::AlertPresenter::setShared(std::make_shared<corvane::QtAlertPresenter>());
    corvane::OpenPanel::setShared(std::make_shared<corvane::QtOpenPanel>());
    corvane::SavePanel::setShared(std::make_shared<corvane::QtSavePanel>());
    corvane::ContextMenuPresenter::setShared(std::make_shared<corvane::QtContextMenuPresenter>());

    auto statusItem = std::make_shared<corvane::QtStatusItem>();
    if (!statusItem->usesTray())
        corvane::Log::general().notice("No system tray is available; showing a status button");
    corvane::AppDelegate::Environment environment;
    environment.statusItem = statusItem;
    auto delegate = corvane::AppDelegate::make(environment);

    delegate->applicationWillFinishLaunching();
    QTimer::singleShot(0, &app, [delegate] { delegate->applicationDidFinishLaunching(); });
    // Held weakly, so that the delegate and its windows go before the
    // application object, not while it is being torn down.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [weak = std::weak_ptr(delegate)] {
        if (auto delegate = weak.lock())
            delegate->applicationWillTerminate();
    });

    const int code = app.exec();
    corvane::Log::general().info("Corvane quitting");
    // The stores' saves have been waited for when the delegate learnt of the
    // quit. Background work still running (a listing, a rescan) finishes
    // before the statics it uses go away. Work stuck on a tool that does not
    // answer (an xcode-select that hangs during start-up) does not hold the
    // quit: the process then ends without tearing its statics down.
    if (!corvane::DispatchQueue::waitUntilIdle(std::chrono::milliseconds(300))) {
        corvane::Log::general().notice("Quitting with background work still running");
        lock.release();
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
