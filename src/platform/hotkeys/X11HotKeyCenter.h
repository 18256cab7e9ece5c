#pragma once

#include "platform/hotkeys/HotKeyCenter.h"
#include "platform/hotkeys/X11Display.h"

#include <QAbstractNativeEventFilter>

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace corvane {

// Hot keys as passive key grabs on the root window, over the Qt
// application's own X connection; presses arrive through a native event
// filter. Each combination is grabbed once per lock state (none, Caps Lock,
// Num Lock, both), so the locks do not disable the hot keys.
class X11HotKeyCenter : public HotKeyCenter, private QAbstractNativeEventFilter {
public:
    struct Combination {
        quint8 keycode = 0;
        quint16 modifiers = 0;
        auto operator<=>(const Combination &) const = default;
    };

    explicit X11HotKeyCenter(const X11Display &display);
    ~X11HotKeyCenter() override;

    bool registerHotKey(quint32 id, int carbonKeyCode, unsigned carbonModifiers) override;
    void unregisterHotKey(quint32 id) override;
    void setPressHandler(PressHandler handler) override;
    void setSuspended(bool suspended) override;
    bool isSuspended() const override { return m_suspended; }
    bool isHeldElsewhere(int carbonKeyCode, unsigned carbonModifiers) override;

    // The X keycode and modifier mask a registration grabs: Command on
    // Control, Control on the Super key's modifier, Option on Alt's.
    std::optional<Combination> combinationFor(int carbonKeyCode, unsigned carbonModifiers) const;
    // The modifier that Num Lock sets, or 0 when the keyboard has none.
    quint16 numLockMask() const { return m_masks.numLock; }

private:
    struct Masks {
        quint16 alt = 0;
        quint16 super = 0;
        quint16 numLock = 0;
    };
    struct Registration {
        quint32 id;
        Combination combination;
    };
    struct GrabState {
        int count = 0;
        // The lock variants currently grabbed; empty while not grabbed.
        std::vector<quint16> variants;
    };

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    bool handleKeyPress(quint8 keycode, quint16 state, quint32 time);
    void handleKeyRelease(quint8 keycode, quint32 time);

    void readModifierMapping();
    std::vector<quint16> lockVariants() const;
    // Grabs every lock variant, checked; on any refusal undoes the rest.
    bool grab(const Combination &combination, std::vector<quint16> &grabbed);
    void ungrab(const Combination &combination, std::vector<quint16> &grabbed);
    bool isDisplayAlive() const;

    X11Display m_display;
    Masks m_masks;
    PressHandler m_pressHandler;
    bool m_suspended = false;
    std::vector<Registration> m_registrations;
    std::map<Combination, GrabState> m_grabs;
    // Keys of hot keys held down, so that auto-repeat runs nothing.
    std::set<quint8> m_held;
    std::map<quint8, quint32> m_releaseTimes;
};

} // namespace corvane
