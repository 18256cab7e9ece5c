#include "XTestKeyboard.h"
#include "app/MenuRenderer.h"
#include "app/StatusMenuItems.h"
#include "common/TestSupport.h"
#include "platform/MenuItem.h"
#include "platform/UserDefaults.h"
#include "platform/X11HotKeyCenter.h"
#include "shortcuts/Shortcut.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>

#include <optional>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

constexpr uint64_t kShift = 0x20000;
constexpr uint64_t kControl = 0x40000;
constexpr uint64_t kOption = 0x80000;
constexpr uint64_t kCommand = 0x100000;

// Keeps the last key Qt reports, modifier keys aside.
class KeyWindow : public QWindow {
public:
    std::optional<QKeyCombination> lastKey;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Control:
        case Qt::Key_Shift:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R: return;
        default: lastKey = event->keyCombination();
        }
    }
};

} // namespace

// The menus show a stored shortcut as a Qt key sequence; the hot key grabs an
// X keycode and modifiers. Typed into a window, the grabbed combination must
// be the very key sequence the menu shows. (F13 to F20 are left out: X's
// keymaps give those keys media names such as Tools, while the menus name
// them as printed on the key.)
TEST(MenuConsistencyX11Test, TheMenuShowsTheCombinationTheHotKeyGrabs)
{
    const auto display = X11Display::current();
    if (!display)
        GTEST_SKIP() << "not on an X11 display";
    test::XTestKeyboard keyboard;
    ASSERT_TRUE(keyboard.isConnected());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto previousDefaults = UserDefaults::standard();
    UserDefaults::setStandard(UserDefaults::withFile(dir.filePath("defaults.ini")));
    X11HotKeyCenter center(*display);

    KeyWindow window;
    window.resize(200, 100);
    window.show();
    window.requestActivate();
    ASSERT_TRUE(test::waitUntil([&] { return QGuiApplication::focusWindow() == &window; }, 5s));

    const Shortcut shortcuts[] = {
        Shortcut(40, kCommand | kOption),
        Shortcut(96, kControl | kShift),
        Shortcut(36, kCommand),
        Shortcut(49, kOption),
        Shortcut(123, kCommand | kControl),
        Shortcut(43, kCommand),
        Shortcut(2, kCommand | kShift),
        Shortcut(122, 0),
        Shortcut(53, kOption | kShift),
        Shortcut(114, kCommand),
    };
    for (const Shortcut &shortcut : shortcuts) {
        SCOPED_TRACE(shortcut.description().toStdString());
        UserDefaults::standard()->set("DeleteDerivedData", shortcut.archived());
        MenuItem item("Trash Derived Data", "deleteDerivedData:");
        StatusMenuItems::applyHotKeyEquivalent(item, "DeleteDerivedData");
        const QKeySequence shown =
            MenuRenderer::keySequence(item.keyEquivalent(), item.keyEquivalentModifierMask());
        ASSERT_EQ(shown.count(), 1);

        const auto grabbed =
            center.combinationFor(int(shortcut.carbonKeyCode()), shortcut.carbonFlags());
        ASSERT_TRUE(grabbed);
        window.lastKey.reset();
        keyboard.tap(grabbed->keycode, grabbed->modifiers);
        ASSERT_TRUE(test::waitUntil([&] { return window.lastKey.has_value(); }, 5s));
        EXPECT_EQ(*window.lastKey, shown[0])
            << QKeySequence(*window.lastKey).toString().toStdString() << " typed, "
            << shown.toString().toStdString() << " shown";
    }
    UserDefaults::setStandard(previousDefaults);
}
