#include "app/QtAlertPresenter.h"
#include "app/QtFilePanels.h"
#include "app/QtStatusItem.h"
#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "model/DeviceWatcher.h"
#include "platform/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/Menu.h"
#include "platform/SystemPaths.h"

#include <QApplication>
#include <QSocketNotifier>

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

class ShellMenu : public corvane::Menu {
public:
    explicit ShellMenu(QApplication &app)
    {
        addAction(QStringLiteral("quit:"), [&app](const corvane::ObjectPtr &) { app.quit(); });
    }
};

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
    corvane::DeviceWatcher::installAsToolsetWatcherFactory();
    corvane::DispatchQueue::userInitiated()->async([] {
        const auto toolset = corvane::ToolsetManager::shared()->current();
        const auto watcher =
            toolset ? std::dynamic_pointer_cast<corvane::DeviceWatcher>(toolset->deviceWatcher())
                    : nullptr;
        corvane::Log::device().info("%{PUBLIC}@ devices listed",
                                    watcher ? int(watcher->all()->size()) : 0);
    });

    corvane::AlertPresenter::setShared(std::make_shared<corvane::QtAlertPresenter>());
    corvane::OpenPanel::setShared(std::make_shared<corvane::QtOpenPanel>());
    corvane::SavePanel::setShared(std::make_shared<corvane::QtSavePanel>());

    auto menu = std::make_shared<ShellMenu>(app);
    auto quit = corvane::MenuItem::make(corvane::loc("Quit", "QUIT_ITEM_TITLE"),
                                        QStringLiteral("quit:"), QStringLiteral("q"));
    quit->setTarget(menu);
    menu->setItems({quit});

    corvane::QtStatusItem statusItem;
    statusItem.setIcon(corvane::ImageRef::resource(QStringLiteral("statusIcon")));
    statusItem.setMenu(menu);
    if (!statusItem.usesTray())
        corvane::Log::general().notice("No system tray is available; showing a status button");

    const int code = app.exec();
    corvane::Log::general().info("Corvane quitting");
    return code;
}
