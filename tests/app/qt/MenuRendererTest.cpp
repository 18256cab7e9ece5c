#include "app/qt/MenuRenderer.h"
#include "app/qt/StrayWidgets.h"
#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/KeyEquivalents.h"
#include "platform/menus/Menu.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStyle>
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
    auto twin = item("App");
    twin->setTwoLineTitle(twoLine->twoLineTitle());
    menu->setItems({plain, marked, twoLine, twin});
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

    // A two-line row shows its key equivalent as a plain row does: it
    // differs from its twin only by it (the menu's frame aside).
    const auto picture = [&](const MenuItemPtr &row) {
        const QRect rect = qmenu->actionGeometry(renderer.actionFor(row));
        return qmenu->grab(rect.adjusted(0, 2, -4, -2)).toImage();
    };
    ASSERT_EQ(picture(twoLine), picture(twin));
    twoLine->setKeyEquivalent("1");
    twoLine->setKeyEquivalentModifierMask(KeyModifier::Command | KeyModifier::Shift);
    renderer.flush();
    EXPECT_NE(picture(twoLine), picture(twin)) << "no key equivalent drawn";

    // Turning the two-line title off swaps the row for a plain one.
    twoLine->setTwoLineTitle(std::nullopt);
    renderer.flush();
    EXPECT_EQ(qobject_cast<QWidgetAction *>(renderer.actionFor(twoLine)), nullptr);
    EXPECT_EQ(qmenu->actions().size(), 4);
    qmenu->hide();
}

// A two-line row that hides, leaves, turns plain or gives way to another
// takes its widget along, in a top menu and in a submenu, whether the change
// came while the menu was open or closed; shown again, it paints on its row.
TEST(MenuRendererTest, ATwoLineRowThatGoesTakesItsWidgetAlong)
{
    const auto twoLine = [](const QString &title) {
        auto row = item(title);
        row->setTwoLineTitle(TwoLineTitle{title, "iPhone 15 (iOS 17.2)"});
        return row;
    };
    const struct {
        const char *name;
        std::function<void(std::vector<MenuItemPtr> &)> change;
    } changes[] = {
        {"hidden", [](auto &rows) { rows[1]->setHidden(true); }},
        {"removed", [](auto &rows) { rows.erase(rows.begin() + 1); }},
        {"made plain", [](auto &rows) { rows[1]->setTwoLineTitle(std::nullopt); }},
        {"replaced", [&](auto &rows) { rows[1] = twoLine("Other"); }},
    };
    for (const auto &change : changes)
        for (const bool inSubmenu : {false, true})
            for (const bool whileOpen : {false, true}) {
                SCOPED_TRACE(std::string(change.name) + (inSubmenu ? " in a submenu" : "") +
                             (whileOpen ? " while open" : " while closed"));
                std::vector<MenuItemPtr> rows{item("Top"), twoLine("App"), twoLine("Below"),
                                              item("Last")};
                auto menu = std::make_shared<RecordingMenu>();
                auto shown = std::static_pointer_cast<Menu>(menu);
                if (inSubmenu) {
                    shown = std::make_shared<Menu>("sub");
                    auto parent = item("Parent");
                    parent->setSubmenu(shown);
                    menu->setItems({parent});
                }
                shown->setItems(rows);
                MenuRenderer renderer;
                open(renderer.menuFor(menu));
                QMenu *qmenu = renderer.existingMenu(shown.get());
                open(qmenu);
                if (!whileOpen)
                    qmenu->hide();
                change.change(rows);
                shown->setItems(rows);
                if (whileOpen)
                    renderer.flush();
                else
                    open(qmenu);
                EXPECT_EQ(test::strayWidgets(qmenu), QStringList());
                rows[1]->setHidden(false);
                renderer.flush();
                EXPECT_EQ(test::strayWidgets(qmenu), QStringList()) << "shown again";
                renderer.menuFor(menu)->hide();
                qmenu->hide();
            }
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

// A press names a key equivalent by the key and the modifiers shown, or by
// the key that types its character unmodified (Shift+1 types "!").
TEST(MenuRendererTest, APressNamesTheKeyEquivalentShownForIt)
{
    const auto Cmd = KeyModifier::Command, Opt = KeyModifier::Option, Shift = KeyModifier::Shift,
               Ctl = KeyModifier::Control;
    const struct {
        QString key;
        KeyModifiers mask;
        QKeyCombination pressed;
        QString unshifted;
        bool matches;
    } cases[] = {
        {"q", Cmd, Qt::CTRL | Qt::Key_Q, "", true},
        {"q", Cmd, Qt::CTRL | Qt::SHIFT | Qt::Key_Q, "", false},
        {"q", Cmd, Qt::ALT | Qt::Key_Q, "", false},
        {"q", {}, QKeyCombination(Qt::Key_Q), "", true},
        {",", Cmd, Qt::CTRL | Qt::Key_Comma, "", true},
        {"K", Cmd, Qt::CTRL | Qt::SHIFT | Qt::Key_K, "", true},
        {"k", Cmd | Opt, Qt::CTRL | Qt::ALT | Qt::Key_K, "k", true},
        {"1", Cmd | Shift, Qt::CTRL | Qt::SHIFT | Qt::Key_Exclam, "1", true},
        {"1", Cmd | Shift, Qt::CTRL | Qt::SHIFT | Qt::Key_Exclam, "", false},
        {"1", Cmd, Qt::CTRL | Qt::SHIFT | Qt::Key_Exclam, "1", false},
        {"1", Cmd, QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1), "1", true},
        {"d", Ctl, Qt::META | Qt::Key_D, "d", true},
        {QString(QChar(0xF708)), {}, QKeyCombination(Qt::Key_F5), "", true},
        {QString(QChar(0xF708)), {}, QKeyCombination(Qt::Key_F6), "", false},
        {"\r", Cmd, QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Enter), "",
         true},
        {"\t", Opt | Shift, Qt::ALT | Qt::SHIFT | Qt::Key_Backtab, "", true},
        // A key that types no character is named only by itself.
        {" ", Opt, Qt::ALT | Qt::Key_Space, "", true},
        {"\r", Cmd, Qt::CTRL | Qt::Key_M, "\r", false},
        {"", Cmd, Qt::CTRL | Qt::Key_Q, "", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KeyEquivalents::matches(c.key, c.mask, c.pressed, c.unshifted), c.matches)
            << c.key.toStdString() << " " << QKeySequence(c.pressed).toString().toStdString();
}

namespace {

// A root menu with a row that opens three levels of submenus, each row wide
// enough that two menus side by side take a good part of the screen.
struct Cascade {
    std::shared_ptr<RecordingMenu> root = std::make_shared<RecordingMenu>();
    std::vector<MenuPtr> levels{root};
    std::vector<MenuItemPtr> rows;

    explicit Cascade(int width)
    {
        for (int level = 1; level < 4; ++level) {
            auto menu = std::make_shared<Menu>("level");
            auto row = MenuItem::make(QString(width, QChar('n')));
            row->setSubmenu(menu);
            levels.back()->setItems({MenuItem::make("above"), row});
            levels.push_back(menu);
            rows.push_back(row);
        }
        levels.back()->setItems({MenuItem::make(QString(width, QChar('n')))});
    }

    // Opens each submenu as the keyboard does, from its highlighted row.
    std::vector<QMenu *> open(MenuRenderer &renderer, const QPoint &at)
    {
        std::vector<QMenu *> menus{renderer.menuFor(root)};
        menus[0]->popup(at);
        for (size_t i = 0; i < rows.size(); ++i) {
            if (!test::waitUntil([&] { return menus[i]->isVisible(); }))
                return {};
            menus[i]->setActiveAction(renderer.actionFor(rows[i]));
            QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
            QApplication::sendEvent(menus[i], &right);
            menus.push_back(renderer.existingMenu(levels[i + 1].get()));
        }
        return test::waitUntil([&] { return menus.back()->isVisible(); }) ? menus
                                                                          : std::vector<QMenu *>();
    }
};

} // namespace

// Near either edge of the screen, each submenu opens beside the menu it
// comes from, on the side its parent went while there is room, else on the
// other; flush against its parent and level with its row, never over it.
TEST(MenuRendererTest, SubmenusCascadeBesideTheirParentsOnEveryLevel)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        const char *name;
        int width;
        QPoint at;
        std::vector<bool> leftward;
    } cases[] = {
        {"at the right edge", 12, area.topRight() + QPoint(-60, 10), {true, true, true}},
        {"at the left edge", 12, area.topLeft() + QPoint(0, 10), {false, false, false}},
        // Two menus side by side fill the screen: the second level has no
        // room on the right and goes left, the third no room on the left.
        {"wide, at the left edge", 40, area.topLeft() + QPoint(0, 10), {false, true, false}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Cascade cascade(c.width);
        MenuRenderer renderer;
        const std::vector<QMenu *> menus = cascade.open(renderer, c.at);
        ASSERT_EQ(menus.size(), 4u);
        if (c.width == 40)
            ASSERT_TRUE(3 * menus[0]->width() > area.width() &&
                        2 * menus[0]->width() <= area.width())
                << "the screen leaves room for other than two levels";
        for (size_t level = 1; level < menus.size(); ++level) {
            SCOPED_TRACE(level);
            const QRect parent = menus[level - 1]->geometry(), frame = menus[level]->geometry();
            EXPECT_TRUE(area.contains(frame));
            // Only the frames' shared border lies over the parent.
            const int overlap = -menus[level]->style()->pixelMetric(QStyle::PM_SubMenuOverlap);
            EXPECT_EQ(c.leftward[level - 1] ? frame.right() + 1 - overlap : frame.left() + overlap,
                      c.leftward[level - 1] ? parent.left() : parent.right() + 1);
            QMenu *parentMenu = menus[level - 1];
            const QRect row =
                parentMenu->actionGeometry(renderer.actionFor(cascade.rows[level - 1]));
            EXPECT_EQ(
                menus[level]
                    ->mapToGlobal(
                        menus[level]->actionGeometry(menus[level]->actions().front()).topLeft())
                    .y(),
                parentMenu->mapToGlobal(row.topLeft()).y());
        }
        // A submenu on the left that narrows while open keeps its edge
        // against its parent.
        if (c.leftward.front()) {
            const MenuItemPtr wide = MenuItem::make(QString(30, QChar('w')));
            cascade.levels[1]->setItems(
                {cascade.levels[1]->items().front(), cascade.rows[1], wide});
            ASSERT_TRUE(test::waitUntil([&] { return renderer.actionFor(wide) != nullptr; }));
            const int wider = menus[1]->width();
            wide->setHidden(true);
            ASSERT_TRUE(test::waitUntil([&] { return menus[1]->width() < wider; }));
            const int overlap = -menus[1]->style()->pixelMetric(QStyle::PM_SubMenuOverlap);
            EXPECT_EQ(menus[1]->geometry().right() + 1 - overlap, menus[0]->geometry().left());
        }
        menus[0]->hide();
    }
}

// The open menus answer the key equivalents they show, those of the menus a
// submenu comes from included: the row's action runs and the menus close.
// Keys the menu moves and finds rows with stay its own, and a key equivalent
// of a disabled row is taken without acting.
TEST(MenuRendererTest, AnOpenMenuActsOnTheKeyEquivalentsItShows)
{
    struct Row {
        const char *title;
        QString key;
        KeyModifiers mask;
        bool enabled = true, hidden = false;
    };
    const Row rootRows[] = {
        {"Settings…", ",", KeyModifier::Command},
        {"Quick Repeat", "k", KeyModifier::Command | KeyModifier::Option},
        {"Trash", "", {}},
        {"Disabled", "d", KeyModifier::Command, false},
        {"Hidden", "h", KeyModifier::Command, true, true},
        {"Plain", "z", {}},
        {"Cancel", QString(QChar(0x1B)), {}},
        {"Function", QString(QChar(0xF708)), {}},
        {"Quit", "q", KeyModifier::Command},
    };
    const struct {
        QKeyCombination pressed;
        int level;
        const char *acts;
        bool closes;
    } cases[] = {
        {Qt::CTRL | Qt::Key_Q, 0, "Quit", true},
        {Qt::CTRL | Qt::Key_Q, 3, "Quit", true},
        {Qt::CTRL | Qt::Key_Comma, 2, "Settings…", true},
        {Qt::CTRL | Qt::ALT | Qt::Key_K, 1, "Quick Repeat", true},
        {QKeyCombination(Qt::Key_F5), 3, "Function", true},
        {Qt::CTRL | Qt::Key_E, 3, "Deep", true},
        {Qt::CTRL | Qt::Key_D, 0, "", false},
        {Qt::CTRL | Qt::Key_H, 0, "", false},
        {Qt::CTRL | Qt::Key_X, 3, "", false},
        {QKeyCombination(Qt::Key_Z), 0, "", false},
        {QKeyCombination(Qt::Key_Escape), 0, "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QKeySequence(c.pressed).toString().toStdString() + " at level " +
                     std::to_string(c.level));
        Cascade cascade(12);
        std::vector<MenuItemPtr> items = cascade.root->items();
        for (const Row &row : rootRows) {
            auto item = MenuItem::make(row.title, "pick:", row.key);
            item->setKeyEquivalentModifierMask(row.mask);
            item->setEnabled(row.enabled);
            item->setHidden(row.hidden);
            item->setTarget(cascade.root);
            items.push_back(item);
        }
        cascade.root->setItems(items);
        auto deep = MenuItem::make("Deep", "pick:", "e");
        deep->setKeyEquivalentModifierMask(KeyModifier::Command);
        deep->setTarget(cascade.root);
        cascade.levels[3]->setItems({deep});
        MenuRenderer renderer;
        const std::vector<QMenu *> menus =
            cascade.open(renderer, QGuiApplication::primaryScreen()->availableGeometry().topLeft());
        ASSERT_EQ(menus.size(), 4u);
        for (int level = 3; level > c.level; --level)
            menus[level]->hide();

        // What a keyboard types with the key, as the menu's own search reads it.
        const Qt::KeyboardModifiers modifiers = c.pressed.keyboardModifiers();
        const QString text = modifiers || c.pressed.key() > 0x7e
                                 ? QString()
                                 : QString(QChar(c.pressed.key())).toLower();
        QKeyEvent press(QEvent::KeyPress, c.pressed.key(), modifiers, text);
        QApplication::sendEvent(menus[c.level], &press);
        test::pumpFor(20ms);
        if (*c.acts) {
            ASSERT_TRUE(test::waitUntil([&] { return cascade.root->senders.size() == 1; }));
            const auto item = std::dynamic_pointer_cast<MenuItem>(cascade.root->senders.front());
            ASSERT_TRUE(item);
            EXPECT_EQ(item->title(), c.acts);
        } else {
            EXPECT_TRUE(cascade.root->senders.empty());
        }
        EXPECT_EQ(!menus[0]->isVisible(), c.closes);
        menus[0]->hide();
    }
}
