#include "XTestKeyboard.h"
#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/hotkeys/KeyCodes.h"
#include "platform/hotkeys/X11HotKeyCenter.h"
#include "shortcuts/ShortcutMonitor.h"
#include "shortcuts/ShortcutValidator.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

constexpr unsigned kCmdOpt = KeyCodes::cmdKey | KeyCodes::optionKey;
constexpr int kK = 40;
constexpr int kJ = 38;
constexpr int kL = 37;

// Counts the key presses the display sends this program, repeats included.
class PressCounter : public QAbstractNativeEventFilter {
public:
    explicit PressCounter(xcb_keycode_t keycode) : m_keycode(keycode)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~PressCounter() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        const auto *event = static_cast<const xcb_key_press_event_t *>(message);
        if ((event->response_type & 0x7F) == XCB_KEY_PRESS && event->detail == m_keycode)
            ++presses;
        return false;
    }
    int presses = 0;

private:
    xcb_keycode_t m_keycode;
};

class X11HotKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto display = X11Display::current();
        if (!display)
            GTEST_SKIP() << "not on an X11 display";
        ASSERT_TRUE(keyboard.isConnected());
        center = std::make_shared<X11HotKeyCenter>(*display);
        monitor = ShortcutMonitor::make(center);
    }
    void TearDown() override
    {
        monitor.reset();
        center.reset();
        DispatchQueue::drainMain();
    }

    X11HotKeyCenter::Combination combination(int carbonKey, unsigned carbonModifiers) const
    {
        return *center->combinationFor(carbonKey, carbonModifiers);
    }
    void tap(int carbonKey, unsigned carbonModifiers)
    {
        const auto c = combination(carbonKey, carbonModifiers);
        keyboard.tap(c.keycode, c.modifiers);
    }
    // Waits for the count to reach the value, then a while longer to see
    // that it stays there.
    void expectCount(const int &count, int expected)
    {
        test::waitUntil([&] { return count >= expected; });
        test::pumpFor(150ms);
        EXPECT_EQ(count, expected);
    }
    void toggleLock(xcb_keysym_t keysym)
    {
        const xcb_keycode_t key = keyboard.keycodeFor(keysym);
        keyboard.press(key);
        keyboard.release(key);
    }

    test::XTestKeyboard keyboard;
    std::shared_ptr<X11HotKeyCenter> center;
    std::shared_ptr<ShortcutMonitor> monitor;
};

} // namespace

TEST_F(X11HotKeyTest, OnePressRunsTheActionOnceWhateverTheLocks)
{
    int runs = 0;
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option),
                                          [&] { ++runs; }));
    const auto c = combination(kK, kCmdOpt);
    EXPECT_EQ(c.keycode, 45);
    tap(kK, kCmdOpt);
    expectCount(runs, 1);

    ASSERT_NE(center->numLockMask(), 0);
    toggleLock(XKB_KEY_Num_Lock);
    ASSERT_TRUE(keyboard.lockedModifiers() & center->numLockMask());
    tap(kK, kCmdOpt);
    expectCount(runs, 2);
    toggleLock(XKB_KEY_Caps_Lock);
    tap(kK, kCmdOpt);
    expectCount(runs, 3);
    toggleLock(XKB_KEY_Num_Lock);
    toggleLock(XKB_KEY_Caps_Lock);
    EXPECT_EQ(keyboard.lockedModifiers() & (XCB_MOD_MASK_LOCK | center->numLockMask()), 0);

    // The same key without Option is no hot key.
    tap(kK, KeyCodes::cmdKey);
    expectCount(runs, 3);
}

TEST_F(X11HotKeyTest, AHeldKeyRunsTheActionOnceThroughAutoRepeat)
{
    int runs = 0;
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option),
                                          [&] { ++runs; }));
    const auto c = combination(kK, kCmdOpt);
    PressCounter counter(c.keycode);
    const auto modifiers = keyboard.modifierKeys(c.modifiers);
    for (xcb_keycode_t key : modifiers)
        keyboard.press(key);
    keyboard.press(c.keycode);
    test::waitUntil([&] { return counter.presses >= 3; });
    keyboard.release(c.keycode);
    for (xcb_keycode_t key : modifiers)
        keyboard.release(key);
    EXPECT_GE(counter.presses, 3) << "the server did not repeat the held key";
    expectCount(runs, 1);

    // Released, the next press counts again.
    tap(kK, kCmdOpt);
    expectCount(runs, 2);
}

TEST_F(X11HotKeyTest, ACombinationAnotherClientGrabbedIsRefused)
{
    const auto j = combination(kJ, kCmdOpt);
    ASSERT_TRUE(keyboard.grab(j.keycode, j.modifiers));
    EXPECT_FALSE(
        monitor->registerShortcut(Shortcut(kJ, Shortcut::Command | Shortcut::Option), [] {}));
    // The refused registration let go of the lock variants it had got.
    EXPECT_TRUE(keyboard.grab(j.keycode, j.modifiers | XCB_MOD_MASK_LOCK));
    keyboard.ungrab(j.keycode, j.modifiers | XCB_MOD_MASK_LOCK);

    ShortcutValidator validator(center);
    EXPECT_TRUE(validator.isShortcutAlreadyTakenBySystem(
        Shortcut(kJ, Shortcut::Command | Shortcut::Option)));
    keyboard.ungrab(j.keycode, j.modifiers);
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(
        Shortcut(kJ, Shortcut::Command | Shortcut::Option)));
    // The probe left the combination free.
    EXPECT_TRUE(keyboard.grab(j.keycode, j.modifiers));
    keyboard.ungrab(j.keycode, j.modifiers);

    // A combination of our own is not "elsewhere", and asking keeps its grab.
    int runs = 0;
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option),
                                          [&] { ++runs; }));
    EXPECT_FALSE(validator.isShortcutAlreadyTakenBySystem(
        Shortcut(kK, Shortcut::Command | Shortcut::Option)));
    tap(kK, kCmdOpt);
    expectCount(runs, 1);
}

TEST_F(X11HotKeyTest, AnEqualShortcutTwiceKeepsTheGrabForTheNewerAction)
{
    int older = 0;
    int newer = 0;
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option),
                                          [&] { ++older; }));
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option),
                                          [&] { ++newer; }));
    tap(kK, kCmdOpt);
    expectCount(newer, 1);
    EXPECT_EQ(older, 0);

    monitor->unregisterShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option));
    const auto c = combination(kK, kCmdOpt);
    EXPECT_TRUE(keyboard.grab(c.keycode, c.modifiers));
    keyboard.ungrab(c.keycode, c.modifiers);
}

TEST_F(X11HotKeyTest, SuspendingLiftsEveryGrabAndResumingRestoresThem)
{
    int k = 0;
    int l = 0;
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kK, Shortcut::Command | Shortcut::Option),
                                          [&] { ++k; }));
    center->setSuspended(true);
    ASSERT_TRUE(monitor->registerShortcut(Shortcut(kL, Shortcut::Command | Shortcut::Option),
                                          [&] { ++l; }));
    const auto c = combination(kK, kCmdOpt);
    EXPECT_TRUE(keyboard.grab(c.keycode, c.modifiers));
    keyboard.ungrab(c.keycode, c.modifiers);
    tap(kK, kCmdOpt);
    tap(kL, kCmdOpt);
    test::pumpFor(200ms);
    EXPECT_EQ(k + l, 0);

    center->setSuspended(false);
    tap(kK, kCmdOpt);
    tap(kL, kCmdOpt);
    expectCount(k, 1);
    expectCount(l, 1);
}

TEST_F(X11HotKeyTest, KeyNamesComeFromTheDisplaysKeymap)
{
    EXPECT_EQ(Shortcut(kK, Shortcut::Command).keyCodeString(), "K");
    EXPECT_EQ(Shortcut(43, Shortcut::Command).keyCodeString(), ",");
    EXPECT_EQ(Shortcut(kK, Shortcut::Command).keyCodeStringForKeyEquivalent(), "k");

    const auto c = combination(kK, 0);
    keyboard.remap(c.keycode, XKB_KEY_odiaeresis);
    EXPECT_EQ(Shortcut(kK, Shortcut::Command).keyCodeString(), QString::fromUtf8("Ö"));
    keyboard.remap(c.keycode, XKB_KEY_dead_acute);
    EXPECT_EQ(Shortcut(kK, Shortcut::Command).keyCodeString(), QString());
    keyboard.remap(c.keycode, XKB_KEY_k);
    EXPECT_EQ(Shortcut(kK, Shortcut::Command).keyCodeString(), "K");
}
