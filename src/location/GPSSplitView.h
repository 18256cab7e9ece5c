#pragma once

#include <QPointer>
#include <QSplitter>

namespace corvane {

class GPSViewController;

// The GPS window's content: the map pane and, beside it, the sidebar with the
// playback options. The divider stays where the layout puts it.
class GPSSplitView : public QSplitter {
    Q_OBJECT
public:
    // Without a sidebar, an empty one holds its place.
    GPSSplitView(GPSViewController *pane, QWidget *sidebar, bool sidebarCollapsed,
                 QWidget *parent = nullptr);

    GPSViewController *mapPane() const { return m_pane; }
    QWidget *sidebar() const { return m_sidebar; }
    bool isSidebarCollapsed() const { return m_collapsed; }
    void setSidebarCollapsed(bool collapsed);

protected:
    QSplitterHandle *createHandle() override;

private:
    QPointer<GPSViewController> m_pane;
    QPointer<QWidget> m_sidebar;
    bool m_collapsed = false;
};

} // namespace corvane
