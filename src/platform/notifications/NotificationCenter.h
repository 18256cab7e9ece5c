#pragma once

#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QHash>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

struct Notification {
    QString name;
    ObjectPtr object;
    QVariantMap userInfo;
};

// An in-process notification center: observers by name and optionally by
// sender, delivered on the posting thread or on a given queue.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification &)>;

    // Stands for one registration; compared by identity.
    class Registration {
    public:
        bool isActive() const { return m_active.load(); }

    private:
        friend class NotificationCenter;
        QString m_name;
        std::weak_ptr<Object> m_sender;
        const Object *m_senderIdentity = nullptr;
        DispatchQueuePtr m_queue;
        Handler m_handler;
        quint64 m_sequence = 0;
        std::atomic<bool> m_active{true};
    };
    using Token = std::shared_ptr<Registration>;

    static NotificationCenter &defaultCenter();

    Token addObserver(const QString &name, const ObjectPtr &sender, DispatchQueuePtr queue,
                      Handler handler);
    void removeObserver(const Token &token);
    void post(const QString &name, const ObjectPtr &object = {}, const QVariantMap &userInfo = {});

    int observerCount(const QString &name) const;

private:
    mutable std::mutex m_mutex;
    // By name, then in registration order: menus register thousands of
    // observers of one name and drop them together, so removal must not scan.
    QHash<QString, std::map<quint64, Token>> m_registrations;
    quint64 m_nextSequence = 0;
};

} // namespace corvane
