#include "app/menus/urls/OpenURLActions.h"

#include "app/menus/CommandManager.h"
#include "core/StringHelpers.h"
#include "model/Device.h"

#include <algorithm>

namespace corvane::OpenURLActions {

namespace {

constexpr int kTitleWidth = 30;

std::optional<QUrl> strictUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

QString absoluteString(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded);
}

QString shortened(const QString &text)
{
    return truncateString(kTitleWidth, TruncationPosition::middle, QStringLiteral("…"), text);
}

std::optional<QUrl> urlFromTypedText(const QString &text)
{
    // A pasted address often brings a line break along; one with blanks
    // inside is no address at all.
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() ||
        std::any_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isSpace(); }))
        return std::nullopt;
    if (const auto url = strictUrl(trimmed); url && !url->scheme().isEmpty())
        return url;
    return strictUrl(QStringLiteral("https://") + trimmed);
}

void openAndRecord(CommandManager &commands, const std::shared_ptr<Device> &device, const QUrl &url)
{
    device->openWithUrl(url);
    CommandManager::Command command;
    command.title = shortened(absoluteString(url));
    command.target = device;
    command.selector = QStringLiteral("openWithUrl:");
    command.object = url;
    command.invoker = [](const ObjectPtr &target,
                         const std::optional<CommandManager::Argument> &argument) {
        const auto device = std::dynamic_pointer_cast<Device>(target);
        const QUrl *url = argument ? std::get_if<QUrl>(&*argument) : nullptr;
        if (device && url)
            device->openWithUrl(*url);
    };
    commands.recordCommand(std::move(command));
}

} // namespace corvane::OpenURLActions
