#include "location/GPSSplitView.h"

#include "location/GPSViewController.h"

#include <QMouseEvent>
#include <QSplitterHandle>

namespace corvane {

namespace {

// A divider that takes no drag.
class FixedHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void mousePressEvent(QMouseEvent *event) override { event->ignore(); }
    void mouseMoveEvent(QMouseEvent *event) override { event->ignore(); }
    void mouseReleaseEvent(QMouseEvent *event) override { event->ignore(); }
};

} // namespace

GPSSplitView::GPSSplitView(GPSViewController *pane, QWidget *sidebar, bool sidebarCollapsed,
                           QWidget *parent)
    : QSplitter(Qt::Horizontal, parent), m_pane(pane), m_sidebar(sidebar ? sidebar : new QWidget)
{
    setChildrenCollapsible(false);
    setHandleWidth(1);
    if (m_pane)
        addWidget(m_pane);
    addWidget(m_sidebar);
    setStretchFactor(0, 1);
    setSidebarCollapsed(sidebarCollapsed);
}

void GPSSplitView::setSidebarCollapsed(bool collapsed)
{
    m_collapsed = collapsed;
    if (m_sidebar)
        m_sidebar->setVisible(!collapsed);
}

QSplitterHandle *GPSSplitView::createHandle()
{
    auto *handle = new FixedHandle(orientation(), this);
    handle->setCursor(Qt::ArrowCursor);
    return handle;
}

} // namespace corvane
