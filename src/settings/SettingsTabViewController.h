#pragma once

#include "settings/Settings.h"
#include "settings/SettingsStyleController.h"

#include <QAbstractAnimation>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QMainWindow;
class QToolBar;

namespace corvane {

class SettingsPane;

// The window's content: holds the panes, shows one of them filling it, builds
// the toolbar through the style controller, and resizes the window to each
// pane it switches to. The window must be a QMainWindow with this widget as
// its central widget before configure() runs.
class SettingsTabViewController : public QWidget, public SettingsStyleControllerDelegate {
    Q_OBJECT
public:
    static constexpr int animationDuration = 250;

    explicit SettingsTabViewController(QWidget *parent = nullptr);
    ~SettingsTabViewController() override;

    // Called once: takes ownership of the panes, builds the toolbar and the
    // style controller. No pane is shown until the first activateTab().
    void configure(const QList<SettingsPane *> &panes, Settings::Style style);

    std::optional<int> activeTab() const { return m_activeTab; }
    const QList<SettingsPane *> &panes() const { return m_panes; }
    SettingsPane *activePane() const;
    std::optional<Settings::Style> style() const { return m_style; }
    SettingsStyleController *settingsStyleController() const { return m_styleController; }
    QToolBar *toolbar() const { return m_toolbar; }

    bool isAnimated() const { return m_isAnimated; }
    void setAnimated(bool animated) { m_isAnimated = animated; }

    // Shows pane `index`: at once the first time, else through a transition,
    // animated when both `animated` and isAnimated() hold; then marks it in
    // the toolbar and titles the window after it, also when it was shown
    // already.
    void activateTab(int index, bool animated) override;

    // Whether an animated pane change is running.
    bool isTransitioning() const { return m_transition != nullptr; }
    // Ends a running pane change at once in its final state.
    void finishTransition();

    // Refreshes the shown pane and fits the window to it again, at once: for
    // a window about to open again on the pane it showed.
    void reappear();
    // Fits the window to the shown pane at once.
    void resizeWindowToActivePane();

    // The window's new size for showing `pane`: the pane's preferred size
    // plus the toolbar, when it is shown.
    QSize windowSizeFor(SettingsPane *pane) const;

signals:
    // The window took its final frame after a pane change or a refit.
    void windowFrameSettled();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QMainWindow *mainWindow() const;
    void showPaneImmediately(int index);
    void transition(int from, int to, bool animated);
    void pin(SettingsPane *pane);
    void setWindowFrame(const QRect &frame);

    std::optional<int> m_activeTab;
    QList<SettingsPane *> m_panes;
    std::optional<Settings::Style> m_style;
    SettingsStyleController *m_styleController = nullptr;
    bool m_isAnimated = true;
    QToolBar *m_toolbar = nullptr;

    QPointer<QAbstractAnimation> m_transition;
    QLabel *m_fadingSnapshot = nullptr;
    QRect m_transitionTarget;
};

} // namespace corvane
