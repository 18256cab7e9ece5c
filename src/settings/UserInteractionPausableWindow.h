#pragma once

#include <QEvent>
#include <QMainWindow>

namespace corvane {

// A main window whose user input can be paused: while interaction is off,
// mouse, key, wheel, tablet, touch and gesture events never reach it or its
// children. Its toolbar cannot be hidden by the user.
class UserInteractionPausableWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit UserInteractionPausableWindow(QWidget *parent = nullptr);

    bool isUserInteractionEnabled() const { return m_userInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { m_userInteractionEnabled = enabled; }

    // The kinds of event dropped while interaction is off.
    static bool isPausedEventType(QEvent::Type type);

    // No menu of toolbars to hide.
    QMenu *createPopupMenu() override { return nullptr; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchWindowHandle();

    bool m_userInteractionEnabled = true;
};

} // namespace corvane
