#include "settings/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

namespace corvane::Settings {

ApplicationNames ApplicationNames::current()
{
    ApplicationNames names;
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        names.displayName = QGuiApplication::applicationDisplayName();
    names.name = QCoreApplication::applicationName();
    names.executableName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return names;
}

QString applicationName(const ApplicationNames &names)
{
    for (const QString *name : {&names.displayName, &names.name, &names.executableName}) {
        if (!name->isEmpty())
            return *name;
    }
    return QStringLiteral("<Unknown App Name>");
}

QString windowTitle(qsizetype paneCount, const QString &paneTitle, const ApplicationNames &names)
{
    if (paneCount > 1)
        return paneTitle;
    return applicationName(names) + QLatin1Char(' ') +
           QCoreApplication::translate("Settings", "Settings");
}

QRect resizedWindowFrame(const QRect &frame, const QSize &size, bool keepsCentered)
{
    int x = frame.x();
    if (keepsCentered)
        x += (frame.width() - size.width()) / 2;
    return QRect(QPoint(x, frame.y()), size);
}

} // namespace corvane::Settings
