#pragma once

#include "core/Observer.h"
#include "platform/menus/MenuItem.h"

#include <QMarginsF>
#include <QSizeF>

#include <memory>
#include <mutex>

namespace corvane {

class Application;

// The row of one installed application: its name, its icon and, where
// asked, a second line naming its device. The application is set through the
// represented object; the row follows the application's updates.
class ApplicationMenuItem : public MenuItem {
public:
    struct IconConfig {
        QSizeF size{24, 24};
        // Top, left, bottom, right as QMarginsF's fields.
        QMarginsF insets;
        bool operator==(const IconConfig &) const = default;
    };

    explicit ApplicationMenuItem(const QString &title = {}, const QString &action = {},
                                 const QString &keyEquivalent = {});
    static std::shared_ptr<ApplicationMenuItem>
    make(const QString &title = {}, const QString &action = {}, const QString &keyEquivalent = {});
    ~ApplicationMenuItem() override;

    // Another application (or none) drops the observation of the old one and,
    // for an application, observes it and refreshes; the same application
    // reinstalled elsewhere only refreshes.
    void setRepresentedObject(const RepresentedObject &object) override;
    std::shared_ptr<Application> application() const;

    // Callers refresh after changing these.
    IconConfig iconConfig() const;
    void setIconConfig(const IconConfig &config);
    bool showDeviceInTitle() const;
    void setShowDeviceInTitle(bool show);

    void refresh();
    // On the main queue: refreshes when the object is this row's application.
    void applicationDidUpdate(const ObjectPtr &object);

    // The notification registrations held: none or one.
    size_t observationCount() const;

    // The image of an application at a size, padded by insets; none when the
    // application has no icon to show.
    static ImageRef iconImage(const std::shared_ptr<Application> &application,
                              const IconConfig &config);

private:
    void observeApplication();

    mutable std::mutex m_fieldsMutex;
    // At most one: the observation of the current application.
    std::shared_ptr<NotificationObserver> m_observer;
    bool m_showDeviceInTitle = false;
    IconConfig m_iconConfig;
    std::shared_ptr<Application> m_application;
    // The application the two-line title was built for.
    std::shared_ptr<Application> m_titledApplication;
};

} // namespace corvane
