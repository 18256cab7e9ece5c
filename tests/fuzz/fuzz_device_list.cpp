#include "FuzzSupport.h"
#include "common/ReferencePatterns.h"
#include "model/DeviceWatcher.h"
#include "model/Runtime.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QTemporaryDir>

using namespace corvane;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Devices read their device.plist from here: an empty home.
    static QTemporaryDir home;
    SystemPaths paths = SystemPaths::current();
    paths.home = home.path();
    SystemPaths::setCurrent(paths);
    return 0;
}

// Any `simctl list` text parses without a stall, and each line's device
// match is what the pattern finds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = fuzz::text(data, size);
    for (const QString &line : fuzz::lines(text)) {
        const QString trimmed = line.trimmed();
        const auto match = Device::deviceLineExpression().match(trimmed);
        if (trimmed.size() <= fuzz::kReferenceLineLength) {
            const auto expected = reference::deviceLinePattern().match(trimmed);
            fuzz::check(match.has_value() == expected.hasMatch());
            if (match)
                fuzz::check(match->name == expected.capturedView(1) &&
                            match->udid == expected.capturedView(2) &&
                            match->state == expected.capturedView(3));
        }
        DeviceWatcher::parseDeviceStatus(trimmed);
        Runtime::fromString(trimmed);
    }
    const auto first = DeviceWatcher::parseDeviceListText(text, nullptr, {});
    // A listing again with the devices of the first keeps their objects.
    const auto again = DeviceWatcher::parseDeviceListText(text, nullptr, first);
    fuzz::check(again.size() == first.size());
    for (const auto &[udid, device] : again)
        fuzz::check(first.at(udid) == device);
    return 0;
}
