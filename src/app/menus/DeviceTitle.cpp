#include "app/menus/DeviceTitle.h"

#include "model/Device.h"

namespace corvane::DeviceTitle {

namespace {
const QString kAppleWatch = QStringLiteral("Apple Watch");
}

QString menuTitle(const QString &title, const Runtime &runtime)
{
    if (runtime.system() != Runtime::System::watchOS || !title.startsWith(kAppleWatch))
        return title;
    QString shortened = title;
    return shortened.remove(kAppleWatch).trimmed();
}

QString menuTitle(const Device &device)
{
    return menuTitle(device.title(), device.runtime());
}

QString withRuntime(const Device &device)
{
    return menuTitle(device) + " (" + device.runtime().description() + ")";
}

} // namespace corvane::DeviceTitle
