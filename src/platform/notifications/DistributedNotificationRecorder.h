#pragma once

#include "platform/notifications/DistributedNotificationCenter.h"

#include <vector>

namespace corvane {

// An in-memory center for tests: keeps every post and delivers it at once to
// this center's observers, on the posting thread.
class DistributedNotificationRecorder : public DistributedNotificationCenter {
public:
    static std::shared_ptr<DistributedNotificationRecorder> make();

    void post(const QString &name, const QString &object, const QVariantMap &userInfo) override;

    std::vector<DistributedNotification> posted() const;
    void clear();

private:
    DistributedNotificationRecorder() = default;

    std::vector<DistributedNotification> m_posted;
};

} // namespace corvane
