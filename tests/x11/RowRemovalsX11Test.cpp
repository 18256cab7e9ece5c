#include "app/menus/root/RowRemovals.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace corvane;

// On a real display the status menu and a device's menu are windows of their
// own: a row that leaves or hides takes its widget along there too.
TEST(RowRemovalsX11Test, RemovedRowsLeaveNothingOnScreen)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "not on an X11 display";
    test::expectRemovedRowsLeaveNothing(QPoint(20, 20));
}
