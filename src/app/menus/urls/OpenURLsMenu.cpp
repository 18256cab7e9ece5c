#include "app/menus/urls/OpenURLsMenu.h"

#include "app/menus/CommandManager.h"
#include "app/menus/DeviceActionSupport.h"
#include "app/menus/SubmenuFactories.h"
#include "app/menus/urls/OpenURLActions.h"
#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/Loc.h"

#include <QSet>

#include <algorithm>

namespace corvane {

namespace {

enum Field { clearMenuField, noRecentField };

struct IconRow {
    std::initializer_list<const char *> prefixes;
    const char *image;
};

// Tested in this order; the installed applications' schemes come between
// the second row and the third.
const IconRow kLeadingRows[] = {
    {{"https:", "http:", "x-web-search"}, "App Icon - Safari"},
    {{"App-prefs:", "prefs:"}, "App Icon - Settings"},
};
const IconRow kTrailingRows[] = {
    {{"shortcuts:", "workflow:"}, "App Icon - Shortcuts"},
    {{"mobilenotes:"}, "App Icon - Notes"},
    {{"x-apple-reminder:"}, "App Icon - Reminders"},
    {{"map:", "maps:", "mapitem:"}, "App Icon - Maps"},
    {{"message:", "mailto:"}, "App Icon - Mail"},
    {{"tel:", "telprompt:"}, "App Icon - Phone"},
    {{"photos-redirect:"}, "App Icon - Photos"},
    {{"sms:"}, "App Icon - Messages"},
    {{"applenews:", "applenewss:"}, "App Icon - News"},
    {{"itms-apps:"}, "App Icon - AppStore"},
    {{"music:", "musics:", "audio-player-event:"}, "App Icon - Music"},
    {{"calshow:", "x-apple-calevent:", "webcal:"}, "App Icon - Calendar"},
    {{"contacts:"}, "App Icon - Contacts"},
    {{"facetime-audio", "facetime-audio-prompt:", "facetime-prompt:", "facetime:"},
     "App Icon - FaceTime"},
    {{"shoebox:"}, "App Icon - Wallet"},
    {{"findmyfriends:", "fmf1:", "grenada:"}, "App Icon - Find My"},
    {{"voicememos:"}, "App Icon - Voice Memos"},
    {{"itms-watch:", "itms-watchs:"}, "App Icon - Watch"},
};
const char *const kOtherwise = "App Icon - iOS";

// Schemes are compared without regard to case: stored URLs come back with the
// scheme in lower case, whatever case the table or an application gives it.
const IconRow *matchingRow(const QString &absolute, const IconRow *begin, const IconRow *end)
{
    return std::find_if(begin, end, [&](const IconRow &row) {
        return std::any_of(row.prefixes.begin(), row.prefixes.end(), [&](const char *prefix) {
            return absolute.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
        });
    });
}

ImageRef rowIcon(const ImageRef &image)
{
    const qreal size = OpenURLsMenu::iconSize;
    return image.thumbnail(QSizeF(size, size)).roundedClip(OpenURLsMenu::iconCornerRadius);
}

// Read by the renderer when the row is first shown, never while building.
ImageRef applicationIcon(const std::shared_ptr<Application> &application)
{
    const QString key = QStringLiteral("open-url-icon:%1:%2")
                            .arg(application->url().toLocalFile(), application->uuid().toString());
    std::weak_ptr<Application> weak = application;
    return rowIcon(ImageRef::provided(key, [weak] {
        const auto strong = weak.lock();
        return strong ? strong->icon() : QImage();
    }));
}

std::vector<std::shared_ptr<Application>> listed(const Device::ApplicationTable &table)
{
    std::vector<std::shared_ptr<Application>> applications;
    applications.reserve(table.size());
    for (const auto &[identifier, application] : table)
        applications.push_back(application);
    return applications;
}

} // namespace

std::shared_ptr<OpenURLsMenu> OpenURLsMenu::make(const std::shared_ptr<Device> &device,
                                                 const std::shared_ptr<Toolset> &toolset,
                                                 Environment environment)
{
    if (!device)
        return nullptr;
    std::shared_ptr<OpenURLsMenu> menu(new OpenURLsMenu(device, toolset, std::move(environment)));
    menu->setUp();
    return menu;
}

OpenURLsMenu::OpenURLsMenu(const std::shared_ptr<Device> &device,
                           const std::shared_ptr<Toolset> &toolset, Environment environment)
    : Menu(QStringLiteral("Recent URLs")), m_device(device), m_toolset(toolset),
      m_environment(std::move(environment))
{
    if (!m_environment.activityMonitor)
        m_environment.activityMonitor = ActivityMonitor::shared();
    if (!m_environment.commandManager)
        m_environment.commandManager = CommandManager::shared();
    if (!m_environment.settings)
        m_environment.settings = CorvaneSettings::shared();
    addAction("openRecentURL:", [this](const ObjectPtr &sender) { openRecentURL(sender); });
    addAction("clearMenu:", [this](const ObjectPtr &sender) { clearMenu(sender); });
}

OpenURLsMenu::~OpenURLsMenu() = default;

DispatchQueuePtr OpenURLsMenu::queue()
{
    static const DispatchQueuePtr shared = DispatchQueue::makeConcurrent(queueLabel);
    return shared;
}

void OpenURLsMenu::setUp()
{
    // Observed before the first reading, so a change made meanwhile builds
    // again afterwards and wins.
    m_recentObserver = m_environment.settings->observe(QStringLiteral("recentURLs"),
                                                       [weak = weakAs<OpenURLsMenu>()] {
                                                           if (const auto menu = weak.lock()) {
                                                               menu->recentURLsDidChange();
                                                               releaseOnMain(menu);
                                                           }
                                                       });
    // update() asks the toolset on the main thread; the first answer runs
    // simctl, so it is had here.
    if (const auto toolset = m_toolset.lock())
        toolset->supportedCommands();
    Build first = build();
    m_builds.applyIfNewest(first.number, [&] { setItems(std::move(first.items)); });
}

void OpenURLsMenu::recentURLsDidChange()
{
    queue()->async([weak = weakAs<OpenURLsMenu>()] {
        const auto menu = weak.lock();
        if (!menu)
            return;
        Build built = menu->build();
        releaseOnMain(menu);
        DispatchQueue::main()->async([weak, built = std::move(built)]() mutable {
            if (const auto menu = weak.lock())
                menu->m_builds.applyIfNewest(built.number,
                                             [&] { menu->setItems(std::move(built.items)); });
        });
    });
}

OpenURLsMenu::Build OpenURLsMenu::build()
{
    Build result;
    result.number = m_builds.begin();
    const auto urls = m_environment.settings->recentURLs();
    const auto applications = listed(m_device->applicationTable());
    if (m_environment.didReadList)
        m_environment.didReadList();
    result.items = buildItems(urls, applications);
    return result;
}

QString OpenURLsMenu::rowTitle(const QUrl &url, bool severalSchemes)
{
    QString text = OpenURLActions::absoluteString(url);
    if (!severalSchemes) {
        if (const QString scheme = url.scheme(); !scheme.isEmpty())
            text.remove(scheme);
        text.remove(QStringLiteral("://"));
    }
    return OpenURLActions::shortened(text);
}

bool OpenURLsMenu::hasSeveralSchemes(const QList<QUrl> &urls)
{
    QSet<QString> schemes;
    for (const QUrl &url : urls)
        if (const QString scheme = url.scheme(); !scheme.isEmpty())
            schemes.insert(scheme);
    return schemes.size() >= 2;
}

ImageRef OpenURLsMenu::icon(const QString &absolute,
                            const std::vector<std::shared_ptr<Application>> &applications)
{
    const IconRow *leading =
        matchingRow(absolute, std::begin(kLeadingRows), std::end(kLeadingRows));
    if (leading != std::end(kLeadingRows))
        return rowIcon(ImageRef::resource(leading->image));
    // The first in title order of those declaring a scheme that prefixes
    // the string; titles are compared only between such applications.
    std::shared_ptr<Application> handler;
    for (const auto &application : applications) {
        if (handler && !(*application < *handler))
            continue;
        const QStringList schemes = application->schemes();
        // An empty scheme would prefix every address.
        if (std::any_of(schemes.begin(), schemes.end(), [&](const QString &scheme) {
                return !scheme.isEmpty() && absolute.startsWith(scheme, Qt::CaseInsensitive);
            }))
            handler = application;
    }
    if (handler)
        return applicationIcon(handler);
    const IconRow *trailing =
        matchingRow(absolute, std::begin(kTrailingRows), std::end(kTrailingRows));
    return rowIcon(
        ImageRef::resource(trailing != std::end(kTrailingRows) ? trailing->image : kOtherwise));
}

std::vector<MenuItemPtr>
OpenURLsMenu::buildItems(const std::optional<QList<QUrl>> &urls,
                         const std::vector<std::shared_ptr<Application>> &applications)
{
    const QList<QUrl> list = urls.value_or(QList<QUrl>());
    std::vector<MenuItemPtr> items;
    items.reserve(size_t(list.size()) + 3);
    if (list.isEmpty())
        items.push_back(noRecentItem());
    const bool severalSchemes = hasSeveralSchemes(list);
    const auto target = weakAs<OpenURLsMenu>();
    for (const QUrl &url : list) {
        const QString absolute = OpenURLActions::absoluteString(url);
        auto item = MenuItem::make(rowTitle(url, severalSchemes), QStringLiteral("openRecentURL:"));
        item->setTarget(target);
        item->setImage(icon(absolute, applications));
        item->setToolTip(absolute);
        item->setRepresentedObject(url);
        items.push_back(std::move(item));
    }
    items.push_back(MenuItem::separator());
    items.push_back(clearMenuItem());
    return items;
}

MenuItemPtr OpenURLsMenu::clearMenuItem()
{
    return m_fields.get(clearMenuField, [this] {
        auto item = MenuItem::make(loc("Clear Menu", "CLEAR_MENU_URL_ITEM_TITLE"),
                                   QStringLiteral("clearMenu:"));
        item->setTarget(weakAs<OpenURLsMenu>());
        return item;
    });
}

MenuItemPtr OpenURLsMenu::noRecentItem()
{
    return m_fields.get(noRecentField, [] {
        auto item = MenuItem::make(loc("No Recent URLs", "NO_RECENT_URLS_DEVICE_ITEM_TITLE"));
        item->setEnabled(false);
        return item;
    });
}

void OpenURLsMenu::update()
{
    Menu::update();
    const auto toolset = m_toolset.lock();
    const bool opens = toolset && toolset->supports(Toolset::Command::openURLs);
    for (const auto &item : items())
        if (!item->representedObject().isEmpty())
            item->setEnabled(opens);
}

void OpenURLsMenu::openRecentURL(const ObjectPtr &sender)
{
    using namespace DeviceActionSupport;
    if (!simulatorRunsInSnapshot(*m_environment.activityMonitor, *m_device))
        return;
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    const auto url = item ? item->representedObject().as<QUrl>() : std::nullopt;
    if (!url)
        return;
    activateIfNeeded();
    inBackground([device = m_device, commands = m_environment.commandManager, url = *url] {
        OpenURLActions::openAndRecord(*commands, device, url);
    });
}

void OpenURLsMenu::clearMenu(const ObjectPtr &)
{
    // The store writes its file at once: not on the main thread.
    DeviceActionSupport::inBackground(
        [settings = m_environment.settings] { settings->setRecentURLs(QList<QUrl>()); });
}

MenuPtr makeOpenURLsMenu(const std::shared_ptr<Device> &device,
                         const std::shared_ptr<Toolset> &toolset)
{
    return OpenURLsMenu::make(device, toolset);
}

} // namespace corvane
