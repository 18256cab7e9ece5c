#include "core/Observer.h"

namespace corvane {

ObserverCollection::~ObserverCollection()
{
    for (const auto &observer : m_observers)
        observer->invalidate();
}

void ObserverCollection::removeAll()
{
    for (const auto &observer : m_observers)
        observer->invalidate();
    m_observers.clear();
}

QString ObserverCollection::debugDescription() const
{
    QStringList parts;
    for (const auto &observer : m_observers)
        parts << observer->debugDescription();
    return QStringLiteral("<Observer.Collection (%1 observer(s)): [%2]>")
        .arg(m_observers.size())
        .arg(parts.join(", "));
}

void ObserverGroup::invalidate()
{
    for (const auto &member : m_members)
        member->invalidate();
    m_members.clear();
}

void NotificationObserver::invalidate()
{
    if (!m_mirror)
        return;
    NotificationCenter::defaultCenter().removeObserver(m_mirror);
    m_mirror.reset();
}

void postNotification(const QString &name, const ObjectPtr &object, const QVariantMap &userInfo)
{
    NotificationCenter::defaultCenter().post(name, object, userInfo);
}

std::shared_ptr<NotificationObserver>
observeNotification(const QString &name, DispatchQueuePtr queue,
                    std::function<void(const Notification &, const ObjectPtr &)> handler)
{
    auto token = NotificationCenter::defaultCenter().addObserver(
        name, nullptr, std::move(queue),
        [handler = std::move(handler)](const Notification &notification) {
            handler(notification, notification.object);
        });
    return std::make_shared<NotificationObserver>(std::move(token), name);
}

} // namespace corvane
