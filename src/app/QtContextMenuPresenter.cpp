#include "app/QtContextMenuPresenter.h"

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

QMenu *QtContextMenuPresenter::attachedMenu(const MenuPtr &menu)
{
    return menu ? m_renderer.menuFor(menu) : nullptr;
}

void QtContextMenuPresenter::releaseAttachedMenu(const MenuPtr &menu)
{
    if (menu && menu != m_menu)
        m_renderer.release(menu);
}

} // namespace corvane
