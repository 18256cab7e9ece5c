#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace corvane {

// System-wide hot keys. A registration names a Carbon virtual key code and
// Carbon modifier bits (KeyCodes::CarbonModifier) under an identifier chosen
// by the caller; a press of the combination calls the press handler with the
// identifier of the newest registration of that combination. Registering an
// equal combination twice keeps one grab until both are unregistered.
// Main thread only.
class HotKeyCenter {
public:
    using PressHandler = std::function<void(quint32 id)>;

    virtual ~HotKeyCenter() = default;

    // The display's center: X11 key grabs under X11, else one that refuses
    // every registration (and says so once in the log).
    static std::shared_ptr<HotKeyCenter> shared();
    static std::shared_ptr<HotKeyCenter> makeForPlatform();

    // False when the key has no place on this platform or the display
    // refuses the combination (another client holds it).
    virtual bool registerHotKey(quint32 id, int carbonKeyCode, unsigned carbonModifiers) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;
    // Called inside event handling: queue real work elsewhere.
    virtual void setPressHandler(PressHandler handler) = 0;

    // Lifts every grab while suspended, so that the keys reach windows (the
    // shortcut recorder); registrations made meanwhile are grabbed on resume.
    virtual void setSuspended(bool suspended) = 0;
    virtual bool isSuspended() const = 0;

    // Whether another client of the display already holds the combination;
    // never true for a combination registered here.
    virtual bool isHeldElsewhere(int carbonKeyCode, unsigned carbonModifiers) = 0;
};

} // namespace corvane
