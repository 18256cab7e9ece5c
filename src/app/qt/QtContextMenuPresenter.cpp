#include "app/qt/QtContextMenuPresenter.h"

#include <QMenu>

namespace corvane {

QtContextMenuPresenter::~QtContextMenuPresenter()
{
    if (m_menu)
        m_renderer.release(m_menu);
}

void QtContextMenuPresenter::popUp(const MenuPtr &menu, const QPoint &globalPosition)
{
    if (m_menu)
        m_renderer.release(m_menu);
    m_menu = menu;
    if (QMenu *qmenu = menu ? m_renderer.menuFor(menu) : nullptr)
        qmenu->popup(globalPosition);
}

QMenu *QtContextMenuPresenter::attachedMenu(const MenuPtr &menu, QWidget *owner)
{
    QMenu *qmenu = menu ? m_renderer.menuFor(menu) : nullptr;
    // A popup of its window, like the window's other menus: the same
    // transient parent, screen and stacking.
    if (qmenu && owner && qmenu->parentWidget() != owner)
        qmenu->setParent(owner, qmenu->windowFlags());
    return qmenu;
}

void QtContextMenuPresenter::releaseAttachedMenu(const MenuPtr &menu)
{
    if (menu && menu != m_menu)
        m_renderer.release(menu);
}

} // namespace corvane
