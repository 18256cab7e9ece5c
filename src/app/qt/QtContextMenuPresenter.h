#pragma once

#include "app/qt/MenuRenderer.h"
#include "platform/menus/ContextMenuPresenter.h"

namespace corvane {

// Shows context menus through the renderer the status menu uses, so they look
// and behave alike; the menu shown last is kept until the next one.
class QtContextMenuPresenter : public ContextMenuPresenter {
public:
    ~QtContextMenuPresenter() override;
    void popUp(const MenuPtr &menu, const QPoint &globalPosition) override;
    QMenu *attachedMenu(const MenuPtr &menu, QWidget *owner) override;
    void releaseAttachedMenu(const MenuPtr &menu) override;

private:
    MenuRenderer m_renderer;
    MenuPtr m_menu;
};

} // namespace corvane
