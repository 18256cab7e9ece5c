#include "XTestKeyboard.h"
#include "common/TestSupport.h"
#include "platform/DispatchQueue.h"
#include "platform/KeyCodes.h"
#include "platform/UserDefaults.h"
#include "platform/X11HotKeyCenter.h"
#include "shortcuts/ShortcutMonitor.h"
#include "shortcuts/ShortcutView.h"

#include <QAction>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace corvane;
using namespace std::chrono_literals;

// Typed on the keyboard, a combination is recorded by its key's position,
// even one the program holds as a global hot key: the grab, which would take
// the key before any window, is lifted while recording and is back after;
// and a window's own shortcut on the keys does not take them from it.
TEST(ShortcutViewX11Test, ATypedCombinationIsRecordedAndItsHotKeyComesBack)
{
    const auto display = X11Display::current();
    if (!display)
        GTEST_SKIP() << "not on an X11 display";
    test::XTestKeyboard keyboard;
    ASSERT_TRUE(keyboard.isConnected());
    const auto center = std::dynamic_pointer_cast<X11HotKeyCenter>(HotKeyCenter::shared());
    ASSERT_TRUE(center);
    const auto monitor = ShortcutMonitor::sharedMonitor();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto defaults = UserDefaults::withFile(dir.filePath("defaults.ini"));

    const Shortcut shortcut(40, Shortcut::Command | Shortcut::Option);
    int runs = 0;
    ASSERT_TRUE(monitor->registerShortcut(shortcut, [&] { ++runs; }));
    const auto typed = center->combinationFor(40, KeyCodes::cmdKey | KeyCodes::optionKey);
    ASSERT_TRUE(typed);

    QWidget window;
    auto *view = new ShortcutView;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(view);
    view->setAssociatedUserDefaultsKey("DeleteDerivedData", defaults);
    QAction action(&window);
    action.setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_K));
    window.addAction(&action);
    int triggered = 0;
    QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(test::waitUntil(
        [&] { return QGuiApplication::focusWindow() == window.windowHandle(); }, 5s));

    view->setRecording(true);
    const xcb_keycode_t shift = keyboard.keycodeFor(XKB_KEY_Shift_L);
    keyboard.press(shift);
    EXPECT_TRUE(
        test::waitUntil([&] { return view->shortcutPlaceholder() == QString::fromUtf8("⇧"); }, 5s));
    keyboard.release(shift);
    EXPECT_TRUE(test::waitUntil([&] { return view->shortcutPlaceholder().isEmpty(); }, 5s));

    keyboard.tap(typed->keycode, typed->modifiers);
    ASSERT_TRUE(test::waitUntil([&] { return !view->isRecording(); }, 5s));
    EXPECT_EQ(view->shortcutValue(), shortcut);
    EXPECT_EQ(Shortcut::fromStoredValue(defaults->object("DeleteDerivedData")), shortcut);
    test::pumpFor(150ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(triggered, 0);

    keyboard.tap(typed->keycode, typed->modifiers);
    EXPECT_TRUE(test::waitUntil([&] { return runs == 1; }, 5s));
    monitor->unregisterShortcut(shortcut);
    DispatchQueue::drainMain();
}
