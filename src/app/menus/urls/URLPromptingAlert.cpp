#include "app/menus/urls/URLPromptingAlert.h"

#include "model/Runtime.h"
#include "platform/desktop/Workspace.h"

#include <QUrl>

namespace corvane::URLPromptingAlert {

QString informativeText(const QString &deviceTitle, const Runtime &runtime)
{
    return QStringLiteral("Will be opened on %1 - %2 (%3 %2).")
        .arg(deviceTitle, runtime.version(), Runtime::systemDescription(runtime.system()));
}

bool acceptsText(const QString &text)
{
    return !text.trimmed().isEmpty();
}

void showHelp()
{
    const QUrl address(QString::fromLatin1(faqDeepLinksAddress));
    if (address.isValid())
        Workspace::shared()->openUrl(address);
}

AlertSpec make(const QString &deviceTitle, const Runtime &runtime)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Informational;
    spec.messageText = QStringLiteral("Open URL");
    spec.informativeText = informativeText(deviceTitle, runtime);
    spec.help = showHelp;
    // "Open" is the default button: Return opens once there is a text.
    spec.buttons = {{QStringLiteral("Open"), AlertSpec::KeyEquivalent::Return, false},
                    {QStringLiteral("Cancel"), AlertSpec::KeyEquivalent::None}};
    AlertSpec::TextAccessory field;
    field.placeholder = QStringLiteral("https://");
    field.size = QSize(300, 24);
    field.validator = acceptsText;
    spec.accessory = field;
    return spec;
}

} // namespace corvane::URLPromptingAlert
