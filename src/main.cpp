#include "core/CorvaneSettings.h"
#include "core/ToolsetManager.h"
#include "platform/DispatchQueue.h"
#include "platform/Log.h"
#include "platform/SystemPaths.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>

#include <csignal>
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
    QApplication app(argc, argv);
    corvane::CorvaneSettings::shared()->registerCommonSettings();
    QApplication::setApplicationName("Corvane");
    QApplication::setOrganizationDomain("quendrith.com");
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    const auto paths = corvane::SystemPaths::current();
    corvane::Log::setFile(paths.programSupportDir() + "/Logs/Corvane.log");
    corvane::Log::general().info("Corvane starting");
    // Finding and choosing the Xcode runs where the root menu will be built.
    corvane::DispatchQueue::userInitiated()->async([] { corvane::ToolsetManager::shared(); });

    QMenu menu;
    QObject::connect(menu.addAction(QObject::tr("Quit")), &QAction::triggered, &app,
                     &QApplication::quit);
    QSystemTrayIcon tray(QIcon(":/images/statusIcon.svg"));
    tray.setContextMenu(&menu);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &menu,
                     [&menu] { menu.popup(QCursor::pos()); });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray.show();
    else
        corvane::Log::general().notice("No system tray is available; the status item is hidden");

    const int code = app.exec();
    corvane::Log::general().info("Corvane quitting");
    return code;
}
