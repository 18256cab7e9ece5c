#include "app/menus/root/StatusMenuActions.h"

#include "app/menus/MenuHost.h"
#include "app/menus/root/StatusMenuItems.h"
#include "platform/desktop/Workspace.h"
#include "settings/Settings.h"

#include <QCoreApplication>

namespace corvane::StatusMenuActions {

void activity()
{
    if (auto host = MenuHost::current())
        host->showTaskWindow();
}

void deleteDerivedData()
{
    if (auto host = MenuHost::current())
        host->deleteDerivedData();
}

void about()
{
    if (auto host = MenuHost::current())
        host->showAboutWindow();
}

void help()
{
    const QUrl url = StatusMenuItems::helpUrl();
    if (url.isValid())
        Workspace::shared()->openUrl(url);
}

void preferences()
{
    if (auto host = MenuHost::current())
        host->showPreferencesPane(std::nullopt);
}

void quit()
{
    QCoreApplication::quit();
}

void manage()
{
    if (auto host = MenuHost::current())
        host->showPreferencesPane(Settings::PaneIdentifier{"general"});
}

void logs()
{
    if (auto host = MenuHost::current())
        host->exportDebugLogs();
}

} // namespace corvane::StatusMenuActions
