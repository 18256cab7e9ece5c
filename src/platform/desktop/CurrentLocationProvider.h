#pragma once

#include <QGeoPositionInfo>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace corvane {

// The machine's own position, asked for one fix at a time. Used on the main
// thread, and it calls back there.
class CurrentLocationProvider {
public:
    enum class Authorization { notDetermined, denied, usable };

    struct Callbacks {
        std::function<void()> authorizationDidChange;
        std::function<void(const std::vector<QGeoPositionInfo> &positions)> didUpdateLocations;
        std::function<void(const QString &description)> didFail;
    };

    virtual ~CurrentLocationProvider() = default;

    virtual bool locationServicesEnabled() const = 0;
    virtual Authorization authorization() const = 0;
    // Asks the user; the answer arrives as authorizationDidChange.
    virtual void requestAuthorization() = 0;
    // One fix, as didUpdateLocations or didFail.
    virtual void requestLocation() = 0;
    virtual void stopUpdatingLocation() = 0;

    void setCallbacks(Callbacks callbacks) { m_callbacks = std::move(callbacks); }

    // The system's provider, or what a test installed with setFactory.
    static std::shared_ptr<CurrentLocationProvider> make();
    // Qt Positioning's default source. A desktop positioning service that
    // is missing or stays silent answers nothing, so a request that brings
    // no position within `timeout` fails.
    static std::shared_ptr<CurrentLocationProvider>
    makeSystem(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Tests: what make() gives from now on; an empty factory restores the
    // system's.
    static void setFactory(std::function<std::shared_ptr<CurrentLocationProvider>()> factory);

protected:
    void authorizationDidChange() const;
    void didUpdateLocations(const std::vector<QGeoPositionInfo> &positions) const;
    void didFail(const QString &description) const;

private:
    Callbacks m_callbacks;
};

// A provider that a test drives: it records the requests and answers only
// when told to.
class ScriptedLocationProvider : public CurrentLocationProvider {
public:
    bool locationServicesEnabled() const override { return servicesEnabled; }
    Authorization authorization() const override { return status; }
    void requestAuthorization() override { ++authorizationRequests; }
    void requestLocation() override { ++locationRequests; }
    void stopUpdatingLocation() override { ++stopRequests; }

    // The user's answer to the authorization request.
    void answerAuthorization(Authorization answer);
    void deliver(const std::vector<QGeoPositionInfo> &positions) const;
    void fail(const QString &description) const;

    bool servicesEnabled = true;
    Authorization status = Authorization::usable;
    int authorizationRequests = 0;
    int locationRequests = 0;
    int stopRequests = 0;
};

} // namespace corvane
