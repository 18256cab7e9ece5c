#include "platform/notifications/DistributedNotificationCenter.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <vector>

namespace corvane {

namespace {

std::mutex g_defaultMutex;
std::shared_ptr<DistributedNotificationCenter> g_default;

QVariant fromDBus(const QVariant &value, int depth = 0);

QVariant fromDBusArgument(const QDBusArgument &argument, int depth)
{
    switch (argument.currentType()) {
    case QDBusArgument::MapType: {
        QVariantMap map;
        argument.beginMap();
        while (!argument.atEnd()) {
            QVariant key;
            QDBusVariant value;
            argument.beginMapEntry();
            key = argument.asVariant();
            argument >> value;
            argument.endMapEntry();
            map.insert(fromDBus(key, depth + 1).toString(), fromDBus(value.variant(), depth + 1));
        }
        argument.endMap();
        return map;
    }
    case QDBusArgument::ArrayType: {
        QVariantList list;
        argument.beginArray();
        while (!argument.atEnd())
            list.append(fromDBus(argument.asVariant(), depth + 1));
        argument.endArray();
        return list;
    }
    case QDBusArgument::StructureType: {
        QVariantList list;
        argument.beginStructure();
        while (!argument.atEnd())
            list.append(fromDBus(argument.asVariant(), depth + 1));
        argument.endStructure();
        return list;
    }
    default: return argument.asVariant();
    }
}

// Nested containers arrive as QDBusArgument or QDBusVariant; callers get
// plain QVariant maps and lists.
QVariant fromDBus(const QVariant &value, int depth)
{
    if (depth > 64)
        return {};
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        return fromDBus(value.value<QDBusVariant>().variant(), depth + 1);
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        return fromDBusArgument(value.value<QDBusArgument>(), depth + 1);
    if (value.typeId() == QMetaType::QVariantMap) {
        QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            it.value() = fromDBus(it.value(), depth + 1);
        return map;
    }
    return value;
}

} // namespace

// Receives the broadcast signal on the main thread.
class DBusNotificationReceiver : public QObject {
    Q_OBJECT
public:
    std::function<void(const DistributedNotification &)> onPosted;

public slots:
    void posted(const QDBusMessage &message)
    {
        const QVariantList arguments = message.arguments();
        if (arguments.size() != 3 || !onPosted)
            return;
        DistributedNotification notification;
        notification.name = arguments[0].toString();
        notification.object = arguments[1].toString();
        notification.userInfo = fromDBus(arguments[2]).toMap();
        onPosted(notification);
    }
};

namespace {

class DBusDistributedNotificationCenter : public DistributedNotificationCenter {
public:
    ~DBusDistributedNotificationCenter() override
    {
        if (!m_receiver)
            return;
        if (QCoreApplication::instance())
            QDBusConnection::sessionBus().disconnect(QString(), dbusPath, dbusInterface, dbusMember,
                                                     m_receiver.data(), SLOT(posted(QDBusMessage)));
        if (!QCoreApplication::instance() || m_receiver->thread() == QThread::currentThread())
            delete m_receiver.data();
        else
            m_receiver->deleteLater();
    }

    // Separate from the constructor: the receiver holds a weak reference.
    void start()
    {
        if (!QCoreApplication::instance())
            return;
        auto bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        m_connected = true;
        auto *receiver = new DBusNotificationReceiver;
        std::weak_ptr<DistributedNotificationCenter> weak = weak_from_this();
        receiver->onPosted = [weak](const DistributedNotification &notification) {
            if (auto center = weak.lock())
                static_cast<DBusDistributedNotificationCenter *>(center.get())
                    ->deliverReceived(notification);
        };
        receiver->moveToThread(QCoreApplication::instance()->thread());
        m_receiver = receiver;
        bus.connect(QString(), dbusPath, dbusInterface, dbusMember, receiver,
                    SLOT(posted(QDBusMessage)));
    }

    void deliverReceived(const DistributedNotification &notification) { deliver(notification); }

    void post(const QString &name, const QString &object, const QVariantMap &userInfo) override
    {
        if (!m_connected) {
            if (!m_loggedMissingBus.exchange(true))
                Log::general().notice("No D-Bus session bus; distributed notification "
                                      "%{public}@ is not delivered",
                                      name);
            return;
        }
        QDBusMessage signal = QDBusMessage::createSignal(dbusPath, dbusInterface, dbusMember);
        signal << name << object << userInfo;
        if (!QDBusConnection::sessionBus().send(signal))
            Log::general().error("Cannot post distributed notification %{public}@", name);
    }

private:
    bool m_connected = false;
    std::atomic<bool> m_loggedMissingBus{false};
    QPointer<DBusNotificationReceiver> m_receiver;
};

} // namespace

std::shared_ptr<DistributedNotificationCenter> DistributedNotificationCenter::makeDBusCenter()
{
    auto center = std::make_shared<DBusDistributedNotificationCenter>();
    center->start();
    return center;
}

std::shared_ptr<DistributedNotificationCenter> DistributedNotificationCenter::defaultCenter()
{
    std::lock_guard lock(g_defaultMutex);
    if (!g_default)
        g_default = makeDBusCenter();
    return g_default;
}

void DistributedNotificationCenter::setDefaultCenter(
    std::shared_ptr<DistributedNotificationCenter> center)
{
    std::lock_guard lock(g_defaultMutex);
    g_default = std::move(center);
}

DistributedNotificationCenter::ObservationPtr
DistributedNotificationCenter::observe(const QString &name, Handler handler)
{
    std::lock_guard lock(m_mutex);
    const quint64 id = ++m_nextId;
    m_observers.emplace(id, std::make_pair(name, std::make_shared<Handler>(std::move(handler))));
    return std::make_shared<Observation>(weak_from_this(), id);
}

void DistributedNotificationCenter::removeObservation(quint64 id)
{
    std::lock_guard lock(m_mutex);
    m_observers.erase(id);
}

void DistributedNotificationCenter::deliver(const DistributedNotification &notification)
{
    std::vector<std::shared_ptr<Handler>> handlers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, entry] : m_observers)
            if (entry.first == notification.name)
                handlers.push_back(entry.second);
    }
    for (const auto &handler : handlers)
        (*handler)(notification);
}

} // namespace corvane

#include "DistributedNotificationCenter.moc"
