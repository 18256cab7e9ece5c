#include "settings/SettingsTabViewController.h"

#include "settings/SegmentedControlStyleViewController.h"
#include "settings/SettingsPane.h"
#include "settings/ToolbarItemStyleViewController.h"

#include <QAction>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMainWindow>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QToolBar>
#include <QVariantAnimation>

namespace corvane {

SettingsTabViewController::SettingsTabViewController(QWidget *parent) : QWidget(parent)
{
}

SettingsTabViewController::~SettingsTabViewController()
{
    // The animation would otherwise outlive this widget's own members.
    delete m_transition.data();
    if (m_styleController)
        m_styleController->setDelegate(nullptr);
}

void SettingsTabViewController::configure(const QList<SettingsPane *> &panes, Settings::Style style)
{
    m_panes = panes;
    m_style = style;
    for (SettingsPane *pane : panes) {
        pane->setParent(this);
        pane->hide();
    }

    QMainWindow *window = mainWindow();
    m_toolbar = new QToolBar(window ? static_cast<QWidget *>(window) : this);
    m_toolbar->setObjectName(Settings::toolbarIdentifier);
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // Neither a context menu nor the toggle action may hide the toolbar.
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolbar->toggleViewAction()->setEnabled(false);
    m_toolbar->toggleViewAction()->setVisible(false);

    if (style == Settings::Style::toolbarItems)
        m_styleController = new ToolbarItemStyleViewController(m_toolbar, panes, this);
    else
        m_styleController = new SegmentedControlStyleViewController(panes, this);
    m_styleController->setDelegate(this);

    const auto addFlexibleSpace = [this] {
        auto *space = new QWidget(m_toolbar);
        space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        m_toolbar->addWidget(space);
    };
    // Toolbar items sit in the middle, as in the settings windows of the
    // newest systems; the segmented style brings its own gaps.
    const bool centresItems = style == Settings::Style::toolbarItems;
    if (centresItems)
        addFlexibleSpace();
    for (const QString &identifier : m_styleController->toolbarItemIdentifiers()) {
        if (identifier == QLatin1String(Settings::flexibleSpaceItemIdentifier))
            addFlexibleSpace();
        else if (QAction *item = m_styleController->toolbarItem(identifier))
            m_toolbar->addAction(item);
    }
    if (centresItems)
        addFlexibleSpace();
    if (window)
        window->addToolBar(Qt::TopToolBarArea, m_toolbar);
}

SettingsPane *SettingsTabViewController::activePane() const
{
    return m_activeTab ? m_panes.value(*m_activeTab) : nullptr;
}

void SettingsTabViewController::activateTab(int index, bool animated)
{
    if (index < 0 || index >= m_panes.size())
        return;
    const std::optional<int> previous = m_activeTab;
    m_activeTab = index;
    if (!previous)
        showPaneImmediately(index);
    else if (*previous != index)
        transition(*previous, index, animated);

    if (m_styleController)
        m_styleController->selectTab(index);
    window()->setWindowTitle(Settings::windowTitle(m_panes.size(), m_panes[index]->paneTitle()));
}

void SettingsTabViewController::showPaneImmediately(int index)
{
    SettingsPane *pane = m_panes[index];
    pane->willAppear();
    pin(pane);
    resizeWindowToActivePane();
}

void SettingsTabViewController::transition(int from, int to, bool animated)
{
    finishTransition();
    SettingsPane *old = m_panes[from];
    SettingsPane *next = m_panes[to];
    next->willAppear();
    const bool keepsCentered = m_styleController && m_styleController->keepsWindowCentered();
    QMainWindow *window = mainWindow();
    const QRect start = window ? window->geometry() : QRect();
    const QRect target = Settings::resizedWindowFrame(start, windowSizeFor(next), keepsCentered);

    if (!animated || !m_isAnimated || !window) {
        old->hide();
        pin(next);
        setWindowFrame(target);
        emit windowFrameSettled();
        return;
    }

    // The cross-fade: a picture of the old pane fades out above the new one.
    m_fadingSnapshot = new QLabel(this);
    m_fadingSnapshot->setPixmap(old->grab());
    m_fadingSnapshot->setGeometry(old->geometry());
    auto *opacity = new QGraphicsOpacityEffect(m_fadingSnapshot);
    m_fadingSnapshot->setGraphicsEffect(opacity);
    old->hide();
    pin(next);
    m_fadingSnapshot->show();
    m_fadingSnapshot->raise();

    auto *group = new QParallelAnimationGroup(this);
    auto *resize = new QVariantAnimation(group);
    resize->setStartValue(start);
    resize->setEndValue(target);
    connect(resize, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &frame) { setWindowFrame(frame.toRect()); });
    auto *fade = new QPropertyAnimation(opacity, "opacity", group);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    for (QVariantAnimation *animation :
         {static_cast<QVariantAnimation *>(resize), static_cast<QVariantAnimation *>(fade)}) {
        animation->setDuration(animationDuration);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        group->addAnimation(animation);
    }
    m_transition = group;
    m_transitionTarget = target;
    connect(group, &QAbstractAnimation::finished, this,
            &SettingsTabViewController::finishTransition);
    group->start();
}

void SettingsTabViewController::finishTransition()
{
    if (!m_transition)
        return;
    QAbstractAnimation *transition = m_transition;
    m_transition = nullptr;
    transition->disconnect(this);
    transition->stop();
    transition->deleteLater();
    delete m_fadingSnapshot;
    m_fadingSnapshot = nullptr;
    setWindowFrame(m_transitionTarget);
    emit windowFrameSettled();
}

void SettingsTabViewController::reappear()
{
    finishTransition();
    if (SettingsPane *pane = activePane()) {
        pane->willAppear();
        resizeWindowToActivePane();
    }
}

void SettingsTabViewController::resizeWindowToActivePane()
{
    finishTransition();
    SettingsPane *pane = activePane();
    QMainWindow *window = mainWindow();
    if (!pane || !window)
        return;
    const bool keepsCentered = m_styleController && m_styleController->keepsWindowCentered();
    setWindowFrame(
        Settings::resizedWindowFrame(window->geometry(), windowSizeFor(pane), keepsCentered));
    emit windowFrameSettled();
}

QSize SettingsTabViewController::windowSizeFor(SettingsPane *pane) const
{
    pane->ensurePolished();
    const QSize content = pane->sizeHint()
                              .expandedTo(pane->minimumSizeHint())
                              .expandedTo(pane->minimumSize())
                              .boundedTo(pane->maximumSize())
                              .expandedTo(QSize(0, 0));
    QMainWindow *window = mainWindow();
    const bool toolbarShown = m_toolbar && window && m_toolbar->isVisibleTo(window);
    return content + QSize(0, toolbarShown ? m_toolbar->sizeHint().height() : 0);
}

void SettingsTabViewController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (SettingsPane *pane = activePane())
        pane->setGeometry(rect());
}

QMainWindow *SettingsTabViewController::mainWindow() const
{
    return qobject_cast<QMainWindow *>(window());
}

void SettingsTabViewController::pin(SettingsPane *pane)
{
    pane->setGeometry(rect());
    pane->show();
}

void SettingsTabViewController::setWindowFrame(const QRect &frame)
{
    QMainWindow *window = mainWindow();
    if (!window || !frame.isValid())
        return;
    // The user does not resize the window: its size follows the pane.
    window->setFixedSize(frame.size());
    window->setGeometry(frame);
}

} // namespace corvane
