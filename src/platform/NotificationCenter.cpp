#include "platform/NotificationCenter.h"

#include <algorithm>

namespace corvane {

NotificationCenter &NotificationCenter::defaultCenter()
{
    static auto *center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString &name,
                                                          const ObjectPtr &sender,
                                                          DispatchQueuePtr queue, Handler handler)
{
    auto token = std::make_shared<Registration>();
    token->m_name = name;
    token->m_sender = sender;
    token->m_senderIdentity = sender.get();
    token->m_queue = std::move(queue);
    token->m_handler = std::move(handler);
    std::lock_guard lock(m_mutex);
    m_registrations.push_back(token);
    return token;
}

void NotificationCenter::removeObserver(const Token &token)
{
    if (!token)
        return;
    token->m_active.store(false);
    std::lock_guard lock(m_mutex);
    std::erase(m_registrations, token);
}

void NotificationCenter::post(const QString &name, const ObjectPtr &object,
                              const QVariantMap &userInfo)
{
    std::vector<Token> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &registration : m_registrations) {
            if (registration->m_name != name)
                continue;
            if (registration->m_senderIdentity && (registration->m_senderIdentity != object.get() ||
                                                   registration->m_sender.expired()))
                continue;
            matching.push_back(registration);
        }
    }
    const Notification notification{name, object, userInfo};
    for (const auto &registration : matching) {
        if (!registration->m_queue) {
            if (registration->isActive())
                registration->m_handler(notification);
            continue;
        }
        registration->m_queue->async([registration, notification] {
            if (registration->isActive())
                registration->m_handler(notification);
        });
    }
}

int NotificationCenter::observerCount(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_registrations.begin(), m_registrations.end(),
                             [&](const Token &token) { return token->m_name == name; }));
}

} // namespace corvane
