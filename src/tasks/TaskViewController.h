#pragma once

#include "core/Observer.h"
#include "tasks/ClosableWindow.h"
#include "tasks/Task.h"

#include <QtGlobal>

#include <memory>
#include <vector>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace corvane {

class TaskManager;
class TaskRowView;

// How tall the task window is for a number of rows: it grows with the list up
// to five rows, then scrolls.
struct TaskWindowFit {
    static constexpr int maximumVisibleRows = 5;

    int visibleRows = 1;
    int height = 0;
    bool showsScrollBar = false;

    // `top`: the distance of the list from the top of the client area.
    static TaskWindowFit forRows(qsizetype rows, int rowHeight, int top = 0);
};

// The task window's content, and the window itself: every task of the
// manager, newest first, or a label while there are none.
class TaskViewController : public ClosableWindow {
public:
    explicit TaskViewController(std::shared_ptr<TaskManager> manager);
    ~TaskViewController() override;

    // Rows in the order shown.
    std::vector<TaskRowView *> rows() const;
    TaskRowView *rowFor(const TaskPtr &task) const;
    QLabel *emptyLabel() const { return m_emptyLabel; }
    QScrollArea *scrollView() const { return m_scrollView; }

    void reload();

private:
    void fitWindow(qsizetype rows);

    const std::shared_ptr<TaskManager> m_manager;
    QScrollArea *m_scrollView;
    QWidget *m_list;
    QVBoxLayout *m_listLayout;
    QLabel *m_emptyLabel;
    ObserverCollection m_observers;
};

} // namespace corvane
