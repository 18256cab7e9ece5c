#pragma once

#include "platform/ScopedObservation.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace corvane {

struct DistributedNotification {
    QString name;
    QString object; // empty: no object
    QVariantMap userInfo;

    bool operator==(const DistributedNotification &) const = default;
};

// Notifications between processes. The default center broadcasts on the D-Bus
// session bus; tests swap in a recorder.
class DistributedNotificationCenter
    : public std::enable_shared_from_this<DistributedNotificationCenter> {
public:
    using Handler = std::function<void(const DistributedNotification &)>;

    // Ends its observation when invalidated or released.
    using Observation = ScopedObservation<DistributedNotificationCenter>;
    using ObservationPtr = std::shared_ptr<Observation>;

    static constexpr const char *dbusPath = "/com/quendrith/corvane/DistributedNotifications";
    static constexpr const char *dbusInterface = "com.quendrith.corvane.DistributedNotifications";
    static constexpr const char *dbusMember = "Posted";

    virtual ~DistributedNotificationCenter() = default;

    static std::shared_ptr<DistributedNotificationCenter> defaultCenter();
    static void setDefaultCenter(std::shared_ptr<DistributedNotificationCenter> center);
    // A center on the session bus; without a bus, posting logs once and does nothing.
    static std::shared_ptr<DistributedNotificationCenter> makeDBusCenter();

    virtual void post(const QString &name, const QString &object, const QVariantMap &userInfo) = 0;

    // Notifications of that name from any process (this one included). The
    // D-Bus center calls handlers on the main thread.
    ObservationPtr observe(const QString &name, Handler handler);

protected:
    DistributedNotificationCenter() = default;
    // Hands a received notification to the observers of its name.
    void deliver(const DistributedNotification &notification);

    mutable std::mutex m_mutex;

private:
    friend class ScopedObservation<DistributedNotificationCenter>;
    void removeObservation(quint64 id);

    quint64 m_nextId = 0;
    std::map<quint64, std::pair<QString, std::shared_ptr<Handler>>> m_observers;
};

} // namespace corvane
