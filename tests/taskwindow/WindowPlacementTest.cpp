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

} // namespace
} // namespace corvane
