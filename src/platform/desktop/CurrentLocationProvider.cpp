#include "platform/desktop/CurrentLocationProvider.h"

#include "platform/queues/DispatchQueue.h"

#include <QGeoPositionInfoSource>

#include <mutex>

namespace corvane {

namespace {

QString describe(QGeoPositionInfoSource::Error error)
{
    switch (error) {
    case QGeoPositionInfoSource::AccessError:
        return QStringLiteral("Access to the position source was denied.");
    case QGeoPositionInfoSource::ClosedError:
        return QStringLiteral("The position source was closed.");
    case QGeoPositionInfoSource::UpdateTimeoutError:
        return QStringLiteral("No position arrived in time.");
    case QGeoPositionInfoSource::NoError:
    case QGeoPositionInfoSource::UnknownSourceError: break;
    }
    return QStringLiteral("The position source failed.");
}

// Qt Positioning's default source (a positioning service of the desktop).
// Without one, location services count as disabled. Qt 6.4 has no
// permission interface, so the authorization is always usable.
class SystemLocationProvider : public CurrentLocationProvider {
public:
    explicit SystemLocationProvider(std::chrono::milliseconds timeout)
        : m_source(QGeoPositionInfoSource::createDefaultSource(nullptr)), m_timeout(timeout)
    {
        if (!m_source)
            return;
        QObject::connect(m_source.get(), &QGeoPositionInfoSource::positionUpdated, m_source.get(),
                         [this](const QGeoPositionInfo &info) { didUpdateLocations({info}); });
        QObject::connect(m_source.get(), &QGeoPositionInfoSource::errorOccurred, m_source.get(),
                         [this](QGeoPositionInfoSource::Error error) {
                             if (error != QGeoPositionInfoSource::NoError)
                                 didFail(describe(error));
                         });
    }

    bool locationServicesEnabled() const override { return m_source != nullptr; }
    Authorization authorization() const override { return Authorization::usable; }

    void requestAuthorization() override
    {
        // Nothing to ask: the answer is the same status, on the next turn.
        std::weak_ptr<bool> alive = m_alive;
        DispatchQueue::main()->async([this, alive] {
            if (alive.lock())
                authorizationDidChange();
        });
    }

    void requestLocation() override
    {
        if (m_source)
            m_source->requestUpdate(int(m_timeout.count()));
        else
            didFail(describe(QGeoPositionInfoSource::UnknownSourceError));
    }

    void stopUpdatingLocation() override
    {
        if (m_source)
            m_source->stopUpdates();
    }

private:
    std::unique_ptr<QGeoPositionInfoSource> m_source;
    const std::chrono::milliseconds m_timeout;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

std::mutex g_factoryMutex;
std::function<std::shared_ptr<CurrentLocationProvider>()> g_factory;

} // namespace

std::shared_ptr<CurrentLocationProvider> CurrentLocationProvider::make()
{
    std::function<std::shared_ptr<CurrentLocationProvider>()> factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory)
        return factory();
    return makeSystem();
}

std::shared_ptr<CurrentLocationProvider>
CurrentLocationProvider::makeSystem(std::chrono::milliseconds timeout)
{
    return std::make_shared<SystemLocationProvider>(timeout);
}

void CurrentLocationProvider::setFactory(
    std::function<std::shared_ptr<CurrentLocationProvider>()> factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

void CurrentLocationProvider::authorizationDidChange() const
{
    if (m_callbacks.authorizationDidChange)
        m_callbacks.authorizationDidChange();
}

void CurrentLocationProvider::didUpdateLocations(
    const std::vector<QGeoPositionInfo> &positions) const
{
    if (m_callbacks.didUpdateLocations)
        m_callbacks.didUpdateLocations(positions);
}

void CurrentLocationProvider::didFail(const QString &description) const
{
    if (m_callbacks.didFail)
        m_callbacks.didFail(description);
}

void ScriptedLocationProvider::answerAuthorization(Authorization answer)
{
    status = answer;
    authorizationDidChange();
}

void ScriptedLocationProvider::deliver(const std::vector<QGeoPositionInfo> &positions) const
{
    didUpdateLocations(positions);
}

void ScriptedLocationProvider::fail(const QString &description) const
{
    didFail(description);
}

} // namespace corvane
