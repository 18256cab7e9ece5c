#include "platform/notifications/NotificationCenter.h"

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
    token->m_sequence = m_nextSequence++;
    m_registrations[name].emplace(token->m_sequence, token);
    return token;
}

void NotificationCenter::removeObserver(const Token &token)
{
    if (!token)
        return;
    token->m_active.store(false);
    std::lock_guard lock(m_mutex);
    auto bucket = m_registrations.find(token->m_name);
    if (bucket == m_registrations.end())
        return;
    auto it = bucket->find(token->m_sequence);
    if (it != bucket->end() && it->second == token)
        bucket->erase(it);
    if (bucket->empty())
        m_registrations.erase(bucket);
}

void NotificationCenter::post(const QString &name, const ObjectPtr &object,
                              const QVariantMap &userInfo)
{
    std::vector<Token> matching;
    {
        std::lock_guard lock(m_mutex);
        const auto bucket = m_registrations.constFind(name);
        if (bucket == m_registrations.constEnd())
            return;
        for (const auto &[sequence, registration] : *bucket) {
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
    const auto bucket = m_registrations.constFind(name);
    return bucket == m_registrations.constEnd() ? 0 : int(bucket->size());
}

} // namespace corvane
