#include "platform/desktop/WindowPlacement.h"
#include "tasks/ClosableWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <gtest/gtest.h>

namespace corvane {
namespace {

// A new window opens wholly on the screen, centred; one too large is made to fit.
TEST(WindowPlacementTest, ANewWindowOpensCentredAndWhollyOnTheScreen)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QSize size : {QSize(300, 200), QSize(3000, 2000), QSize(200, 3000)}) {
        auto *window = new ClosableWindow;
        window->resize(size);
        ClosableWindowController controller(window);
        controller.showWindow();
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(available.contains(frame)) << size.width() << "x" << size.height();
        EXPECT_LE((frame.center() - available.center()).manhattanLength(), 2);
    }
}

// A submenu opens against its parent on the side the parent went, else on
// the side with room, else on the side with more; it is kept on the screen.
TEST(WindowPlacementTest, ASubmenuOpensBesideItsParentOnTheSideWithRoom)
{
    // Room for 301 pixels on the left of the first parent and 501 on its
    // right; 601 and 201 beside the second.
    const QRect screen(0, 0, 1000, 600), middle(300, 100, 200, 300), right(600, 100, 200, 300);
    const struct {
        QRect parent;
        QSize size;
        int top;
        bool leftward;
        WindowPlacement::SubmenuSpot spot;
    } cases[] = {
        {middle, {150, 100}, 120, false, {{499, 120}, false}},
        {middle, {150, 100}, 120, true, {{151, 120}, true}},
        {middle, {320, 100}, 120, true, {{499, 120}, false}},
        {middle, {510, 100}, 120, true, {{490, 120}, false}},
        {right, {300, 100}, 120, false, {{301, 120}, true}},
        {right, {650, 100}, 120, false, {{0, 120}, true}},
        {middle, {150, 100}, 550, false, {{499, 500}, false}},
        {middle, {150, 700}, 120, false, {{499, 0}, false}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WindowPlacement::besideParent(c.parent, c.top, c.size, 1, screen, c.leftward),
                  c.spot)
            << c.parent.x() << " " << c.size.width() << "x" << c.size.height()
            << (c.leftward ? " leftward" : "");
}

} // namespace
} // namespace corvane
