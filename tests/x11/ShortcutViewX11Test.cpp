#include "XTestKeyboard.h"
#include "common/TestSupport.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/hotkeys/KeyCodes.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/hotkeys/X11HotKeyCenter.h"
#include "shortcuts/ShortcutBinder.h"
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

namespace {

// A recorder typed into through XTest, under the X11 hot-key centre, with
// defaults of its own.
class ShortcutViewX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!X11Display::current())
            GTEST_SKIP() << "not on an X11 display";
        ASSERT_TRUE(keyboard.isConnected());
        center = std::dynamic_pointer_cast<X11HotKeyCenter>(HotKeyCenter::shared());
        ASSERT_TRUE(center);
        ASSERT_TRUE(dir.isValid());
        defaults = UserDefaults::withFile(dir.filePath("defaults.ini"));
    }

    test::XTestKeyboard keyboard;
    std::shared_ptr<X11HotKeyCenter> center;
    QTemporaryDir dir;
    std::shared_ptr<UserDefaults> defaults;
};

} // namespace

// Typed on the keyboard, a combination is recorded by its key's position,
// even one the program holds as a global hot key: the grab, which would take
// the key before any window, is lifted while recording and is back after;
// and a window's own shortcut on the keys does not take them from it.
TEST_F(ShortcutViewX11Test, ATypedCombinationIsRecordedAndItsHotKeyComesBack)
{
    const auto monitor = ShortcutMonitor::sharedMonitor();

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
    ASSERT_TRUE(
        test::waitUntil([&] { return QGuiApplication::focusWindow() == window.windowHandle(); }));

    view->setRecording(true);
    const xcb_keycode_t shift = keyboard.keycodeFor(XKB_KEY_Shift_L);
    keyboard.press(shift);
    EXPECT_TRUE(
        test::waitUntil([&] { return view->shortcutPlaceholder() == QString::fromUtf8("⇧"); }));
    keyboard.release(shift);
    EXPECT_TRUE(test::waitUntil([&] { return view->shortcutPlaceholder().isEmpty(); }));

    keyboard.tap(typed->keycode, typed->modifiers);
    ASSERT_TRUE(test::waitUntil([&] { return !view->isRecording(); }));
    EXPECT_EQ(view->shortcutValue(), shortcut);
    EXPECT_EQ(Shortcut::fromStoredValue(defaults->object("DeleteDerivedData")), shortcut);
    test::pumpFor(150ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(triggered, 0);

    keyboard.tap(typed->keycode, typed->modifiers);
    EXPECT_TRUE(test::waitUntil([&] { return runs == 1; }));
    monitor->unregisterShortcut(shortcut);
    DispatchQueue::drainMain();
}

// Ctrl+C typed into a recorder is the desktop's Copy: refused with the
// system's reason, stored nowhere, and never grabbed from other programs.
TEST_F(ShortcutViewX11Test, CopyIsRefusedAndNothingIsGrabbed)
{
    const auto binder =
        std::make_shared<ShortcutBinder>(ShortcutMonitor::sharedMonitor(), defaults);
    binder->bindShortcutWithDefaultsKey("GlobalRedo", [] {});
    const auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);

    QWidget window;
    auto *view = new ShortcutView;
    (new QVBoxLayout(&window))->addWidget(view);
    view->setAssociatedUserDefaultsKey("GlobalRedo", defaults);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(
        test::waitUntil([&] { return QGuiApplication::focusWindow() == window.windowHandle(); }));

    const auto copy = center->combinationFor(8, KeyCodes::cmdKey);
    ASSERT_TRUE(copy);
    view->setRecording(true);
    keyboard.tap(copy->keycode, copy->modifiers);
    ASSERT_TRUE(test::waitUntil([&] { return !alerts->presented.empty(); }));
    EXPECT_EQ(alerts->presented[0].messageText,
              QString::fromUtf8("The key combination ⌘C cannot be used"));
    EXPECT_TRUE(alerts->presented[0].informativeText.contains("system-wide keyboard shortcut"));
    EXPECT_TRUE(view->isRecording());
    view->setRecording(false);
    EXPECT_FALSE(view->shortcutValue());
    EXPECT_FALSE(defaults->object("GlobalRedo"));
    EXPECT_FALSE(binder->shortcutForKey("GlobalRedo"));
    // Another client may still take the combination: nobody holds it.
    EXPECT_TRUE(keyboard.grab(copy->keycode, copy->modifiers));
    keyboard.ungrab(copy->keycode, copy->modifiers);

    binder->breakBindingWithDefaultsKey("GlobalRedo");
    AlertPresenter::setShared(nullptr);
}
