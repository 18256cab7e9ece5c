#pragma once

#include "core/Observer.h"
#include "platform/BuildGenerations.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/ImageRef.h"
#include "platform/menus/LazyMenuItems.h"
#include "platform/menus/Menu.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class ActivityMonitor;
class Application;
class CommandManager;
class CorvaneSettings;
class Device;
class Toolset;

// "Open Recent": the URLs last opened on any device, newest first, each with
// the icon of the application that handles it, to open again on this
// device; and "Clear Menu". Follows the settings' recent URLs: the first
// build runs on the constructing thread, later ones on the shared
// open-URLs queue, and only the newest build's items are set, on main.
class OpenURLsMenu : public Menu {
public:
    static constexpr const char *queueLabel = "com.quendrith.corvane.openurlsmenu";
    static constexpr int titleWidth = 30;
    static constexpr qreal iconSize = 14;
    static constexpr qreal iconCornerRadius = 3.08;

    // What the menu works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<ActivityMonitor> activityMonitor;
        std::shared_ptr<CommandManager> commandManager;
        std::shared_ptr<CorvaneSettings> settings;
        // Called on the building thread once a build has read the list.
        std::function<void()> didReadList;
    };

    static std::shared_ptr<OpenURLsMenu> make(const std::shared_ptr<Device> &device,
                                              const std::shared_ptr<Toolset> &toolset,
                                              Environment environment = {});
    ~OpenURLsMenu() override;

    std::shared_ptr<Device> device() const { return m_device; }

    // The shared concurrent queue every open-URLs menu builds on.
    static DispatchQueuePtr queue();

    // A row's title: the absolute string, without the URL's scheme text and
    // "://" wherever they occur when the list has a single scheme, then
    // shortened to 30 characters.
    static QString rowTitle(const QUrl &url, bool severalSchemes);
    // Whether the list's URLs have two or more distinct schemes.
    static bool hasSeveralSchemes(const QList<QUrl> &urls);
    // The icon of the application that handles the URL: the first row of
    // the table that prefixes the absolute string decides, case-sensitively;
    // the schemes the device's applications declare come after the web and
    // settings rows, the first application in title order winning.
    static ImageRef icon(const QString &absoluteString,
                         const std::vector<std::shared_ptr<Application>> &applications);

    // The whole item array from the list and the device's applications, in
    // any order. Runs on the caller's thread.
    std::vector<MenuItemPtr>
    buildItems(const std::optional<QList<QUrl>> &urls,
               const std::vector<std::shared_ptr<Application>> &applications);

    // Enables the URL rows exactly when the toolset can open URLs.
    void update() override;
    void openRecentURL(const ObjectPtr &sender);
    void clearMenu(const ObjectPtr &sender);

    MenuItemPtr clearMenuItem();
    MenuItemPtr noRecentItem();

private:
    OpenURLsMenu(const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
                 Environment environment);
    void setUp();
    // On the thread that changed the list: builds on the open-URLs queue.
    void recentURLsDidChange();
    // Reads the list and the device's applications, and builds; the items
    // are set unless a newer build's were set first.
    struct Build {
        BuildGenerations::Number number;
        std::vector<MenuItemPtr> items;
    };
    Build build();

    const std::shared_ptr<Device> m_device;
    const std::weak_ptr<Toolset> m_toolset;
    Environment m_environment;
    ObserverPtr m_recentObserver;
    BuildGenerations m_builds;
    LazyMenuItems m_fields{2};
};

} // namespace corvane
