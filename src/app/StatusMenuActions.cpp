#include "app/StatusMenuActions.h"

#include "app/AppDelegate.h"
#include "app/StatusMenuItems.h"
#include "platform/Workspace.h"
#include "settings/Settings.h"

#include <QCoreApplication>

namespace corvane::StatusMenuActions {

void activity()
{
    if (auto delegate = AppDelegate::current())
        delegate->showTaskWindow();
}

void deleteDerivedData()
{
    if (auto delegate = AppDelegate::current())
        delegate->deleteDerivedData();
}

void about()
{
    if (auto delegate = AppDelegate::current())
        delegate->showAboutWindow();
}

void help()
{
    const QUrl url = StatusMenuItems::helpUrl();
    if (url.isValid())
        Workspace::shared()->openUrl(url);
}

void preferences()
{
    if (auto delegate = AppDelegate::current())
        delegate->showPreferencesPane(std::nullopt);
}

void quit()
{
    QCoreApplication::quit();
}

void manage()
{
    if (auto delegate = AppDelegate::current())
        delegate->showPreferencesPane(Settings::PaneIdentifier{"general"});
}

void logs()
{
    if (auto delegate = AppDelegate::current())
        delegate->exportDebugLogs();
}

} // namespace corvane::StatusMenuActions
