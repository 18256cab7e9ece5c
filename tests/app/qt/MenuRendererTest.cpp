#include "app/qt/MenuRenderer.h"
#include "common/TestSupport.h"
#include "platform/DispatchQueue.h"
#include "platform/Menu.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QMenu>
#include <QMouseEvent>
#include <QWidgetAction>
#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Records the hooks in order and answers the actions it is sent.
class RecordingMenu : public Menu {
public:
    RecordingMenu()
    {
        addAction(QStringLiteral("pick:"),
                  [this](const ObjectPtr &sender) { senders.push_back(sender); });
    }
    void willOpen() override { hooks.push_back("willOpen"); }
    void update() override
    {
        hooks.push_back("update");
        if (onUpdate)
            onUpdate();
    }
    void didClose() override { hooks.push_back("didClose"); }
    void willHighlight(const MenuItemPtr &item) override
    {
        hooks.push_back("willHighlight");
        highlighted = item;
    }

    std::vector<std::string> hooks;
    std::vector<ObjectPtr> senders;
    MenuItemPtr highlighted;
    std::function<void()> onUpdate;
};

MenuItemPtr item(const QString &title)
{
    return MenuItem::make(title);
}

QStringList visibleTitles(QMenu *menu)
{
    QStringList titles;
    for (QAction *action : menu->actions()) {
        if (action->isVisible())
            titles += action->isSeparator() ? QStringLiteral("-") : action->text();
    }
    return titles;
}

void open(QMenu *menu)
{
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(test::waitUntil([menu] { return menu->isVisible(); }));
}

} // namespace

TEST(MenuRendererTest, SetItemsOnOpenMenuKeepsReusedActionsAndOrder)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto a = item("A"), b = item("B"), c = item("C");
    menu->setItems({a, MenuItem::separator(), b, c});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    EXPECT_TRUE(qmenu->actions().isEmpty()) << "filled only when shown";
    open(qmenu);
    EXPECT_EQ(visibleTitles(qmenu), QStringList({"A", "-", "B", "C"}));
    QAction *actionA = renderer.actionFor(a);
    QAction *actionC = renderer.actionFor(c);
    ASSERT_TRUE(actionA && actionC);

    auto d = item("D");
    menu->setItems({c, d, a});
    renderer.flush();
    EXPECT_EQ(visibleTitles(qmenu), QStringList({"C", "D", "A"}));
    EXPECT_EQ(renderer.actionFor(a), actionA);
    EXPECT_EQ(renderer.actionFor(c), actionC);
    EXPECT_EQ(qmenu->actions().size(), 3);
    EXPECT_EQ(renderer.actionFor(b), nullptr);

    // Flag changes show while the menu stays open, without a flush call.
    c->setHidden(true);
    d->setEnabled(false);
    a->setTitle("A & Co");
    ASSERT_TRUE(test::waitUntil([&] { return !renderer.actionFor(c)->isVisible(); }));
    EXPECT_FALSE(renderer.actionFor(d)->isEnabled());
    EXPECT_EQ(actionA->text(), "A && Co");
    qmenu->hide();
}

TEST(MenuRendererTest, ChangesWhileClosedAppearOnNextOpen)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto a = item("A");
    menu->setItems({a});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    open(qmenu);
    qmenu->hide();
    a->setTitle("Renamed");
    menu->setItems({a, item("B")});
    open(qmenu);
    EXPECT_EQ(visibleTitles(qmenu), QStringList({"Renamed", "B"}));
    qmenu->hide();
}

TEST(MenuRendererTest, ThreeLevelsBuiltOnWorkerRenderOneLevelAtATime)
{
    std::atomic<int> populations{0};
    auto worker = DispatchQueue::makeSerial("test.menu.builder");
    MenuPtr top = worker->sync([&populations] {
        auto third = std::make_shared<Menu>("third");
        third->setItems({MenuItem::make("leaf")});
        auto second = std::make_shared<Menu>("second");
        second->setDeferredPopulation([third, &populations](Menu &menu) {
            ++populations;
            auto row = MenuItem::make("deeper");
            row->setSubmenu(third);
            menu.setItems({row});
        });
        auto row = MenuItem::make("row");
        row->setSubmenu(second);
        auto root = std::make_shared<Menu>("top");
        root->setItems({row});
        return MenuPtr(root);
    });

    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(top);
    open(qmenu);
    EXPECT_TRUE(renderer.isFilled(top.get()));
    const MenuPtr second = top->items().front()->submenu();
    QMenu *secondMenu = renderer.existingMenu(second.get());
    ASSERT_NE(secondMenu, nullptr);
    EXPECT_FALSE(renderer.isFilled(second.get()));
    EXPECT_TRUE(secondMenu->actions().isEmpty());
    EXPECT_EQ(populations.load(), 0);

    for (int i = 0; i < 2; ++i) {
        secondMenu->popup(QPoint(40, 40));
        ASSERT_TRUE(test::waitUntil([&] { return secondMenu->isVisible(); }));
        secondMenu->hide();
    }
    EXPECT_EQ(populations.load(), 1);
    EXPECT_EQ(visibleTitles(secondMenu), QStringList({"deeper"}));
    const MenuPtr third = second->items().front()->submenu();
    EXPECT_FALSE(renderer.isFilled(third.get()));
    qmenu->hide();
}

TEST(MenuRendererTest, HooksRunInOrderAndHighlightNamesTheModelItem)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto a = item("A");
    auto b = item("B");
    menu->setItems({a, b});
    // The update sees what opening prepared.
    bool sawOpen = false;
    menu->onUpdate = [&] { sawOpen = !menu->hooks.empty() && menu->hooks.front() == "willOpen"; };
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    open(qmenu);
    EXPECT_TRUE(sawOpen);
    ASSERT_GE(menu->hooks.size(), 2u);
    EXPECT_EQ(menu->hooks[0], "willOpen");
    EXPECT_EQ(menu->hooks[1], "update");

    qmenu->setActiveAction(renderer.actionFor(b));
    EXPECT_EQ(menu->highlighted, b);

    // Highlight work that changes rows is shown at once.
    b->setState(ControlState::On);
    qmenu->hide();
    EXPECT_EQ(menu->hooks.back(), "didClose");
}

TEST(MenuRendererTest, SubmenuRowSendsItsActionOnClickAndReturn)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto row = MenuItem::make("Device", "pick:");
    row->setTarget(menu);
    auto sub = std::make_shared<Menu>("sub");
    sub->setItems({MenuItem::make("inside")});
    row->setSubmenu(sub);
    menu->setItems({row});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    open(qmenu);
    QAction *action = renderer.actionFor(row);
    ASSERT_NE(action->menu(), nullptr);

    const QPoint centre = qmenu->actionGeometry(action).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, qmenu->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, qmenu->mapToGlobal(centre),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(qmenu, &press);
    QApplication::sendEvent(qmenu, &release);
    ASSERT_TRUE(test::waitUntil([&] { return menu->senders.size() == 1; }));
    EXPECT_EQ(menu->senders.front(), row);
    EXPECT_FALSE(qmenu->isVisible());

    open(qmenu);
    qmenu->setActiveAction(action);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(qmenu, &enter);
    ASSERT_TRUE(test::waitUntil([&] { return menu->senders.size() == 2; }));
    qmenu->hide();
}

TEST(MenuRendererTest, ActionOfDeadTargetDoesNothing)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto row = MenuItem::make("Gone", "pick:");
    {
        auto target = std::make_shared<RecordingMenu>();
        row->setTarget(target);
    }
    menu->setItems({row});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    open(qmenu);
    renderer.actionFor(row)->trigger();
    test::pumpFor(20ms);
    EXPECT_FALSE(row->sendAction());
    EXPECT_TRUE(menu->senders.empty());
    qmenu->hide();
}

TEST(MenuRendererTest, StateImagesIndentationAndTwoLineRows)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto plain = item("Plain");
    plain->setState(ControlState::On);
    auto marked = item("Marked");
    marked->setOnStateImage(ImageRef::resource("On").tinted(ImageRef::TintColor::Accent));
    marked->setOffStateImage(ImageRef::resource("Off"));
    marked->setState(ControlState::On);
    marked->setIndentationLevel(1);
    auto twoLine = item("App");
    twoLine->setTwoLineTitle(TwoLineTitle{"App", "iPhone 15 (iOS 17.2)"});
    menu->setItems({plain, marked, twoLine});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    open(qmenu);

    EXPECT_TRUE(renderer.actionFor(plain)->isCheckable());
    EXPECT_TRUE(renderer.actionFor(plain)->isChecked());
    EXPECT_FALSE(renderer.actionFor(marked)->isCheckable());
    const QIcon icon = renderer.actionFor(marked)->icon();
    ASSERT_FALSE(icon.isNull());
    // The composed icon starts with the indentation, then the state column.
    EXPECT_EQ(icon.availableSizes().front().width(),
              2 * (MenuRenderer::indentationWidth + MenuRenderer::stateColumnWidth));
    EXPECT_NE(qobject_cast<QWidgetAction *>(renderer.actionFor(twoLine)), nullptr);
    EXPECT_EQ(renderer.actionFor(twoLine)->text(), QString("App — iPhone 15 (iOS 17.2)"));

    // Turning the two-line title off swaps the row for a plain one.
    twoLine->setTwoLineTitle(std::nullopt);
    renderer.flush();
    EXPECT_EQ(qobject_cast<QWidgetAction *>(renderer.actionFor(twoLine)), nullptr);
    EXPECT_EQ(qmenu->actions().size(), 3);
    qmenu->hide();
}

// As the recent builds are: the arrow shows from the first opening on.
TEST(MenuRendererTest, ATwoLineRowWithASubmenuShowsItsArrowAtOnce)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto row = item("App");
    row->setTwoLineTitle(TwoLineTitle{"App", "iPhone 15 (iOS 17.2)"});
    auto submenu = std::make_shared<Menu>("App");
    submenu->setItems({item("Launch")});
    row->setSubmenu(submenu);
    menu->setItems({row});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    auto picture = [&] {
        return qmenu->grab(qmenu->actionGeometry(renderer.actionFor(row))).toImage();
    };
    open(qmenu);
    const QImage first = picture();
    qmenu->hide();
    open(qmenu);
    EXPECT_EQ(picture(), first);
    row->setSubmenu(nullptr);
    renderer.flush();
    EXPECT_NE(picture(), first) << "no arrow was drawn";
    qmenu->hide();
}

// Rows shown while the menu is open (Option held) widen it in place; it
// stays wholly on its screen.
TEST(MenuRendererTest, AnOpenMenuThatGrowsStaysOnItsScreen)
{
    auto menu = std::make_shared<RecordingMenu>();
    auto wide = item(QString(50, QChar('W')));
    wide->setHidden(true);
    menu->setItems({item("A"), wide});
    MenuRenderer renderer;
    QMenu *qmenu = renderer.menuFor(menu);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    qmenu->popup(area.topRight() + QPoint(-80, 10));
    ASSERT_TRUE(test::waitUntil([qmenu] { return qmenu->isVisible(); }));
    const int narrow = qmenu->width();
    wide->setHidden(false);
    ASSERT_TRUE(test::waitUntil([&] { return renderer.actionFor(wide)->isVisible(); }));
    EXPECT_GT(qmenu->width(), narrow);
    EXPECT_TRUE(area.contains(qmenu->geometry()));
    qmenu->hide();
}

TEST(MenuRendererTest, KeyEquivalentsMapToWidgetShortcuts)
{
    EXPECT_EQ(MenuRenderer::keySequence("q", KeyModifier::Command), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(MenuRenderer::keySequence(",", KeyModifier::Command), QKeySequence("Ctrl+,"));
    EXPECT_EQ(MenuRenderer::keySequence("R", KeyModifier::Command | KeyModifier::Option),
              QKeySequence("Ctrl+Alt+Shift+R"));
    EXPECT_EQ(MenuRenderer::keySequence("d", KeyModifier::Control), QKeySequence("Meta+D"));
    EXPECT_TRUE(MenuRenderer::keySequence("", KeyModifier::Command).isEmpty());
    // Keys without a character of their own come as control or function-key
    // characters.
    EXPECT_EQ(MenuRenderer::keySequence(QString(QChar(0xF708)), KeyModifier::Option),
              QKeySequence("Alt+F5"));
    EXPECT_EQ(MenuRenderer::keySequence("\r", KeyModifier::Command), QKeySequence("Ctrl+Return"));
    EXPECT_EQ(MenuRenderer::keySequence(" ", KeyModifier::Option), QKeySequence("Alt+Space"));
    EXPECT_EQ(MenuRenderer::keySequence(QString(QChar(0xF702)), KeyModifier::Control),
              QKeySequence("Meta+Left"));
}
