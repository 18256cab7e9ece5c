#include "app/menus/ApplicationMenuItem.h"

#include "app/menus/DeviceTitle.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/queues/DispatchQueue.h"

#include <utility>

namespace corvane {

namespace {

bool sameApplication(const std::shared_ptr<Application> &a, const std::shared_ptr<Application> &b)
{
    if (!a || !b)
        return !a && !b;
    return *a == *b;
}

} // namespace

ApplicationMenuItem::ApplicationMenuItem(const QString &title, const QString &action,
                                         const QString &keyEquivalent)
    : MenuItem(title, action, keyEquivalent)
{
}

std::shared_ptr<ApplicationMenuItem>
ApplicationMenuItem::make(const QString &title, const QString &action, const QString &keyEquivalent)
{
    return std::make_shared<ApplicationMenuItem>(title, action, keyEquivalent);
}

ApplicationMenuItem::~ApplicationMenuItem()
{
    if (m_observer)
        m_observer->invalidate();
}

std::shared_ptr<Application> ApplicationMenuItem::application() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_application;
}

ApplicationMenuItem::IconConfig ApplicationMenuItem::iconConfig() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_iconConfig;
}

void ApplicationMenuItem::setIconConfig(const IconConfig &config)
{
    std::lock_guard lock(m_fieldsMutex);
    m_iconConfig = config;
}

bool ApplicationMenuItem::showDeviceInTitle() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_showDeviceInTitle;
}

void ApplicationMenuItem::setShowDeviceInTitle(bool show)
{
    std::lock_guard lock(m_fieldsMutex);
    m_showDeviceInTitle = show;
}

size_t ApplicationMenuItem::observationCount() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_observer && m_observer->isValid() ? 1 : 0;
}

void ApplicationMenuItem::setRepresentedObject(const RepresentedObject &object)
{
    MenuItem::setRepresentedObject(object);
    const auto next = object.as<Application>();
    std::shared_ptr<Application> previous;
    std::shared_ptr<NotificationObserver> dropped;
    bool same = false;
    {
        std::lock_guard lock(m_fieldsMutex);
        previous = m_application;
        same = sameApplication(previous, next);
        if (!same)
            dropped = std::exchange(m_observer, nullptr);
        m_application = next;
    }
    if (dropped)
        dropped->invalidate();
    if (!next)
        return;
    if (same) {
        // A reinstall: the observation of this application stays.
        if (previous->uuid() != next->uuid())
            refresh();
        return;
    }
    observeApplication();
    refresh();
}

void ApplicationMenuItem::observeApplication()
{
    auto token = observeNotification(
        Application::applicationDidUpdate, DispatchQueue::main(),
        [weak = weakAs<ApplicationMenuItem>()](const Notification &, const ObjectPtr &object) {
            if (auto item = weak.lock())
                item->applicationDidUpdate(object);
        });
    std::shared_ptr<NotificationObserver> replaced;
    {
        std::lock_guard lock(m_fieldsMutex);
        replaced = std::exchange(m_observer, std::move(token));
    }
    if (replaced)
        replaced->invalidate();
}

void ApplicationMenuItem::applicationDidUpdate(const ObjectPtr &object)
{
    const auto updated = std::dynamic_pointer_cast<Application>(object);
    const auto own = application();
    if (updated && own && *updated == *own)
        refresh();
}

ImageRef ApplicationMenuItem::iconImage(const std::shared_ptr<Application> &application,
                                        const IconConfig &config)
{
    // Masking an icon costs tens of microseconds: leave it to the first time
    // the row is shown. A reinstall (new bundle folder) is another picture.
    const QString key = QStringLiteral("app-icon:%1:%2:%3x%4")
                            .arg(application->url().toLocalFile())
                            .arg(application->uuid().toString())
                            .arg(config.size.width())
                            .arg(config.size.height());
    std::weak_ptr<Application> weak = application;
    const QSizeF size = config.size;
    const ImageRef icon = ImageRef::provided(key, [weak, size] {
        auto strong = weak.lock();
        return strong ? strong->displayIcon(size).value_or(QImage()) : QImage();
    });
    return icon.padded(config.insets);
}

void ApplicationMenuItem::refresh()
{
    std::shared_ptr<Application> application;
    std::shared_ptr<Application> titled;
    IconConfig config;
    bool showDevice = false;
    {
        std::lock_guard lock(m_fieldsMutex);
        application = m_application;
        titled = m_titledApplication;
        config = m_iconConfig;
        showDevice = m_showDeviceInTitle;
    }
    if (!application) {
        setImage({});
        setTwoLineTitle(std::nullopt);
        setTitle("??");
        std::lock_guard lock(m_fieldsMutex);
        m_titledApplication.reset();
        return;
    }

    setImage(iconImage(application, config));
    const QString title = application->title();
    setTitle(title);
    const auto device = application->device();
    if (showDevice && device) {
        setTwoLineTitle(TwoLineTitle{title, DeviceTitle::withRuntime(*device),
                                     TwoLineTitle::Role::DisabledText});
        std::lock_guard lock(m_fieldsMutex);
        m_titledApplication = application;
        return;
    }
    // An earlier second line stays only while it names this application.
    if (!sameApplication(titled, application)) {
        setTwoLineTitle(std::nullopt);
        std::lock_guard lock(m_fieldsMutex);
        m_titledApplication.reset();
    }
}

} // namespace corvane
