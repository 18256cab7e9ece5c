#pragma once

#include "platform/menus/Menu.h"

#include <QPoint>

class QMenu;
class QWidget;

#include <memory>
#include <vector>

namespace corvane {

// Pops a menu model up as a context menu; the chosen item's action is sent as
// with any other menu. The program installs the Qt one; until then nothing
// shows.
class ContextMenuPresenter {
public:
    virtual ~ContextMenuPresenter() = default;
    // At a global screen position; returns at once. Main thread.
    virtual void popUp(const MenuPtr &menu, const QPoint &globalPosition) = 0;
    // A QMenu that shows the model for as long as a window keeps it, such
    // as a toolbar button's menu; nullptr where nothing is drawn. It is a
    // child of `owner`, as the window's own menus are, and stays the
    // presenter's until released or the owner goes.
    virtual QMenu *attachedMenu(const MenuPtr &, QWidget *owner)
    {
        Q_UNUSED(owner);
        return nullptr;
    }
    virtual void releaseAttachedMenu(const MenuPtr &) {}

    static std::shared_ptr<ContextMenuPresenter> shared();
    static void setShared(std::shared_ptr<ContextMenuPresenter> presenter);
};

// Keeps every menu it is asked to show, for tests.
class RecordingContextMenuPresenter : public ContextMenuPresenter {
public:
    void popUp(const MenuPtr &menu, const QPoint &globalPosition) override
    {
        shown.push_back({menu, globalPosition});
    }

    struct Shown {
        MenuPtr menu;
        QPoint globalPosition;
    };
    std::vector<Shown> shown;
};

} // namespace corvane
