#pragma once

#include "platform/notifications/NotificationCenter.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// A registration that ends when invalidated.
class ObserverProtocol {
public:
    virtual ~ObserverProtocol() = default;
    virtual void invalidate() = 0;
    virtual QString debugDescription() const = 0;
};

using ObserverPtr = std::shared_ptr<ObserverProtocol>;

// The tokens an owner registered; dropping it ends every registration.
class ObserverCollection {
public:
    ObserverCollection() = default;
    ~ObserverCollection();
    ObserverCollection(const ObserverCollection &) = delete;
    ObserverCollection &operator=(const ObserverCollection &) = delete;

    template <class T> std::shared_ptr<T> append(std::shared_ptr<T> observer)
    {
        m_observers.push_back(observer);
        return observer;
    }

    // Removes (without invalidating) the first token equal to `observer`, when
    // every token in the collection is a T.
    template <class T> std::shared_ptr<T> remove(const std::shared_ptr<T> &observer)
    {
        std::vector<std::shared_ptr<T>> typed;
        typed.reserve(m_observers.size());
        for (const auto &token : m_observers) {
            auto cast = std::dynamic_pointer_cast<T>(token);
            if (!cast)
                return nullptr;
            typed.push_back(std::move(cast));
        }
        for (size_t i = 0; i < typed.size(); ++i) {
            if (*typed[i] == *observer) {
                m_observers.erase(m_observers.begin() + qsizetype(i));
                return typed[i];
            }
        }
        return nullptr;
    }

    void removeAll();
    const std::vector<ObserverPtr> &observers() const { return m_observers; }
    QString debugDescription() const;

private:
    std::vector<ObserverPtr> m_observers;
};

// Several registrations that end together, as one token (a derived
// property's observation of what it depends on).
class ObserverGroup : public ObserverProtocol {
public:
    explicit ObserverGroup(std::vector<ObserverPtr> members) : m_members(std::move(members)) {}
    ~ObserverGroup() override { invalidate(); }
    void invalidate() override;
    QString debugDescription() const override { return "<KeyValueObservation>"; }

private:
    std::vector<ObserverPtr> m_members;
};

// A notification-center registration.
class NotificationObserver : public ObserverProtocol {
public:
    NotificationObserver(NotificationCenter::Token mirror, QString name)
        : m_mirror(std::move(mirror)), m_name(std::move(name))
    {
    }
    // Releasing the last reference ends the registration, so that a handler
    // never outlives whoever dropped its token.
    ~NotificationObserver() override { invalidate(); }
    NotificationObserver(const NotificationObserver &) = delete;
    NotificationObserver &operator=(const NotificationObserver &) = delete;

    void invalidate() override;
    QString debugDescription() const override { return "<Observer: " + m_name + ">"; }
    QString name() const { return m_name; }
    bool isValid() const { return m_mirror != nullptr; }

    // Tokens equal only while both still hold the same registration.
    bool operator==(const NotificationObserver &other) const
    {
        return m_mirror && other.m_mirror && m_mirror == other.m_mirror;
    }

private:
    NotificationCenter::Token m_mirror;
    QString m_name;
};

namespace Notifications {
inline const QString shouldKillLauncher = "com.quendrith.corvane.shouldKillLauncher";
}

void postNotification(const QString &name, const ObjectPtr &object = {},
                      const QVariantMap &userInfo = {});

std::shared_ptr<NotificationObserver>
observeNotification(const QString &name, DispatchQueuePtr queue,
                    std::function<void(const Notification &, const ObjectPtr &)> handler);

// Only notifications whose object is a T (and, when given, that sender).
template <class T>
std::shared_ptr<NotificationObserver>
observeNotification(const QString &name, const std::shared_ptr<T> &sender, DispatchQueuePtr queue,
                    std::function<void(const Notification &, const std::shared_ptr<T> &)> handler)
{
    auto token = NotificationCenter::defaultCenter().addObserver(
        name, std::static_pointer_cast<Object>(sender), std::move(queue),
        [handler = std::move(handler)](const Notification &notification) {
            if (auto typed = std::dynamic_pointer_cast<T>(notification.object))
                handler(notification, typed);
        });
    return std::make_shared<NotificationObserver>(std::move(token), name);
}

} // namespace corvane
