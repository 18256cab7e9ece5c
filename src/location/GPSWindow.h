#pragma once

#include <QMainWindow>

#include <memory>

namespace corvane {

class GPSWindowController;

// The GPS window. It tells its controller when it closes, hands it the
// keys nothing inside took, and offers no menu for hiding its toolbar.
class GPSWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit GPSWindow(std::weak_ptr<GPSWindowController> controller);

    // True while its close is being handled; the controller, which may go
    // away then, must not delete the window from under that handler.
    bool isClosing() const { return m_closing; }

    QMenu *createPopupMenu() override { return nullptr; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    std::weak_ptr<GPSWindowController> m_controller;
    bool m_closing = false;
};

} // namespace corvane
