#include "platform/notifications/DistributedNotificationRecorder.h"

namespace corvane {

std::shared_ptr<DistributedNotificationRecorder> DistributedNotificationRecorder::make()
{
    return std::shared_ptr<DistributedNotificationRecorder>(new DistributedNotificationRecorder);
}

void DistributedNotificationRecorder::post(const QString &name, const QString &object,
                                           const QVariantMap &userInfo)
{
    const DistributedNotification notification{name, object, userInfo};
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(notification);
    }
    deliver(notification);
}

std::vector<DistributedNotification> DistributedNotificationRecorder::posted() const
{
    std::lock_guard lock(m_mutex);
    return m_posted;
}

void DistributedNotificationRecorder::clear()
{
    std::lock_guard lock(m_mutex);
    m_posted.clear();
}

} // namespace corvane
