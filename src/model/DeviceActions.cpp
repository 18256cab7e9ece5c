#include "model/Device.h"

#include "core/CorvaneSettings.h"
#include "core/TaskService.h"
#include "core/Toolset.h"
#include "model/Application.h"
#include "platform/Log.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QList>

#include <exception>
#include <mutex>

namespace corvane {

namespace {

struct SimctlRun {
    bool ran = false;
    bool failed = false;
    std::optional<QString> output;
};

// The device's simctl call, skipped when its toolset has gone. Errors are
// dropped: the runner has logged them.
SimctlRun runSimctl(const Device &device, const QStringList &arguments)
{
    const auto toolset = device.toolset();
    if (!toolset)
        return {};
    try {
        return {true, false, toolset->run(arguments)};
    } catch (const std::exception &) {
        return {true, true, std::nullopt};
    }
}

// The lower-cased output of a read, or nothing when it failed.
std::optional<QString> readSetting(const Device &device, const QStringList &arguments)
{
    const SimctlRun run = runSimctl(device, arguments);
    if (!run.output)
        return std::nullopt;
    return run.output->trimmed().toLower();
}

// Concurrent openWithUrl calls must not lose each other's URLs.
std::mutex g_recentURLsMutex;

} // namespace

QString Device::text(Appearance appearance)
{
    return appearance == Appearance::dark ? QStringLiteral("dark") : QStringLiteral("light");
}

void Device::launch()
{
    runSimctl(*this, {"boot", m_udid});
    bringToFront();
}

void Device::shutdown()
{
    runSimctl(*this, {"shutdown", m_udid});
}

void Device::erase()
{
    runSimctl(*this, {"erase", m_udid});
}

void Device::delete_()
{
    for (const auto &application : applications())
        application->uninstall();
    shutdown();
    runSimctl(*this, {"delete", m_udid});
}

void Device::resetKeychain()
{
    runSimctl(*this, {"keychain", m_udid, "reset"});
}

void Device::copy()
{
    runSimctl(*this, {"pbsync", m_udid, "host"});
}

void Device::paste()
{
    runSimctl(*this, {"pbsync", "host", m_udid});
}

void Device::installFrom(const QUrl &url)
{
    runSimctl(*this, {"install", m_udid, url.toLocalFile()});
}

void Device::addMediaFrom(const QUrl &url)
{
    runSimctl(*this, {"addmedia", m_udid, url.toLocalFile()});
}

Device::Appearance Device::appearance() const
{
    if (const auto output = readSetting(*this, {"ui", m_udid, "appearance"}))
        for (Appearance appearance : allAppearances())
            if (text(appearance) == *output)
                return appearance;
    return Appearance::light;
}

void Device::setAppearance(Appearance appearance)
{
    runSimctl(*this, {"ui", m_udid, "appearance", text(appearance)});
}

void Device::toggleAppearance()
{
    setAppearance(appearance() == Appearance::light ? Appearance::dark : Appearance::light);
}

Device::ContentSize Device::contentSize() const
{
    if (const auto output = readSetting(*this, {"ui", m_udid, "content_size"}))
        for (ContentSize size : allContentSizes())
            if (text(size) == *output)
                return size;
    return ContentSize::medium;
}

void Device::setContentSize(ContentSize size)
{
    runSimctl(*this, {"ui", m_udid, "content_size", text(size)});
}

void Device::openWithUrl(const QUrl &url)
{
    const QString absolute = url.toString(QUrl::FullyEncoded);
    if (runSimctl(*this, {"openurl", m_udid, absolute}).failed)
        return;

    const auto settings = CorvaneSettings::shared();
    std::lock_guard lock(g_recentURLsMutex);
    QList<QUrl> urls = settings->recentURLs().value_or(QList<QUrl>());
    urls.removeIf(
        [&](const QUrl &recent) { return recent.toString(QUrl::FullyEncoded) == absolute; });
    urls.prepend(url);
    while (urls.size() > recentURLLimit)
        urls.removeLast();
    settings->setRecentURLs(urls);
}

void Device::showContents() const
{
    Workspace::shared()->showFolder(QDir::cleanPath(m_url.toLocalFile() + "/data"));
}

void Device::bringToFront() const
{
    if (const auto error = Workspace::shared()->activateSimulator())
        Log::device().error("Error bringing sim to front: %{PUBLIC}@", *error);
}

void Device::unsplashFor(const QString &searchString)
{
    TaskService::shared()->startUnsplashTask(searchString, sharedAs<Device>());
}

} // namespace corvane
