#include "XTestKeyboard.h"
#include "app/menus/root/StatusMenuItems.h"
#include "app/qt/MenuRenderer.h"
#include "common/TestSupport.h"
#include "platform/menus/MenuItem.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/hotkeys/X11HotKeyCenter.h"
#include "shortcuts/Shortcut.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>

#include <optional>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

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
    ASSERT_TRUE(test::waitUntil([&] { return QGuiApplication::focusWindow() == &window; }));

    const Shortcut shortcuts[] = {
        Shortcut(40, Shortcut::Command | Shortcut::Option),
        Shortcut(96, Shortcut::Control | Shortcut::Shift),
        Shortcut(36, Shortcut::Command),
        Shortcut(49, Shortcut::Option),
        Shortcut(123, Shortcut::Command | Shortcut::Control),
        Shortcut(43, Shortcut::Command),
        Shortcut(2, Shortcut::Command | Shortcut::Shift),
        Shortcut(122, 0),
        Shortcut(53, Shortcut::Option | Shortcut::Shift),
        Shortcut(114, Shortcut::Command),
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
        ASSERT_TRUE(test::waitUntil([&] { return window.lastKey.has_value(); }));
        EXPECT_EQ(*window.lastKey, shown[0])
            << QKeySequence(*window.lastKey).toString().toStdString() << " typed, "
            << shown.toString().toStdString() << " shown";
    }
    UserDefaults::setStandard(previousDefaults);
}

// Typed on the keyboard while the status menu holds it, each key equivalent
// the menu shows acts: Quit's, and a hot key's shown beside its row, Shift
// and a digit included.
TEST(MenuConsistencyX11Test, AnOpenMenuActsOnTheKeysItShows)
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

    class PickMenu : public Menu {
    public:
        PickMenu()
        {
            addAction("pick:", [this](const ObjectPtr &sender) {
                picked = std::dynamic_pointer_cast<MenuItem>(sender);
            });
        }
        MenuItemPtr picked;
    };
    const struct {
        Shortcut shortcut;
        bool shownAsHotKey;
    } cases[] = {
        {Shortcut(12, Shortcut::Command), false},
        {Shortcut(18, Shortcut::Command | Shortcut::Shift), true},
        {Shortcut(40, Shortcut::Command | Shortcut::Option), true},
        {Shortcut(96, 0), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shortcut.description().toStdString());
        auto menu = std::make_shared<PickMenu>();
        auto other = MenuItem::make("Other", "pick:", "o");
        other->setKeyEquivalentModifierMask(KeyModifier::Command);
        auto item = MenuItem::make("Chosen", "pick:");
        if (c.shownAsHotKey) {
            UserDefaults::standard()->set("GlobalRedo", c.shortcut.archived());
            StatusMenuItems::applyHotKeyEquivalent(*item, "GlobalRedo");
        } else {
            item->setKeyEquivalent(c.shortcut.keyCodeStringForKeyEquivalent());
            item->setKeyEquivalentModifierMask(c.shortcut.keyEquivalentModifierMask());
        }
        for (const auto &row : {other, item})
            row->setTarget(menu);
        menu->setItems({other, item});
        MenuRenderer renderer;
        QMenu *qmenu = renderer.menuFor(menu);
        qmenu->popup(QPoint(20, 20));
        ASSERT_TRUE(test::waitUntil([&] { return qmenu->isVisible(); }));
        // The popup has the keyboard once the server says so.
        test::pumpFor(200ms);
        const auto typed =
            center.combinationFor(int(c.shortcut.carbonKeyCode()), c.shortcut.carbonFlags());
        ASSERT_TRUE(typed);
        keyboard.tap(typed->keycode, typed->modifiers);
        ASSERT_TRUE(test::waitUntil([&] { return menu->picked != nullptr; }));
        EXPECT_EQ(menu->picked, item);
        EXPECT_FALSE(qmenu->isVisible());
    }
    // What the typing left on its way from the server would otherwise reach
    // a later test's first popup and close it.
    test::pumpFor(500ms);
    UserDefaults::setStandard(previousDefaults);
}
