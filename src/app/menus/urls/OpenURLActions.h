#pragma once

#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace corvane {

class CommandManager;
class Device;

// Opening a URL on a device from a menu, and the command that repeats it.
namespace OpenURLActions {

// The text a URL is opened with and stored under.
QString absoluteString(const QUrl &url);
// Titles of URLs: at most 30 characters, shortened in the middle.
QString shortened(const QString &text);

// What a typed text opens: the text trimmed of blanks and line breaks; as it
// stands when it is a URL with a scheme, else with "https://" before it.
// Nothing when it is blank, holds blanks inside, or forms no URL either way.
std::optional<QUrl> urlFromTypedText(const QString &text);

// Opens the URL on the device, then records a command that opens it there
// again, under its shortened absolute string, whether or not it opened.
void openAndRecord(CommandManager &commands, const std::shared_ptr<Device> &device,
                   const QUrl &url);

} // namespace OpenURLActions

} // namespace corvane
