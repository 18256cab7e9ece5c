#pragma once

#include "platform/desktop/WindowController.h"

#include <QWidget>

#include <functional>

namespace corvane {

// A top-level window that tells its controller when the user closes it. The
// controller may drop itself from that call, so it disposes of the window
// with dispose(), which defers the deletion while the window is closing.
class ClosableWindow : public QWidget {
public:
    explicit ClosableWindow(QWidget *parent = nullptr) : QWidget(parent) {}

    void setCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }
    static void dispose(ClosableWindow *window);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::function<void()> m_closeHandler;
    bool m_closing = false;
};

// Presents a ClosableWindow it owns; it opens on the screen that holds the
// pointer.
class ClosableWindowController : public WindowController {
public:
    explicit ClosableWindowController(ClosableWindow *window) : m_window(window) {}
    ~ClosableWindowController() override { ClosableWindow::dispose(m_window); }
    ClosableWindowController(const ClosableWindowController &) = delete;
    ClosableWindowController &operator=(const ClosableWindowController &) = delete;

    void showWindow() override;
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool staysOnTop) override;
    void raise() override;
    void focusContent() override;

private:
    ClosableWindow *m_window;
    bool m_placed = false;
};

} // namespace corvane
