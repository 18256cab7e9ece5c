#include "platform/menus/StatusItem.h"

namespace corvane {

void RecordingStatusItem::popUpMenu()
{
    ++popUps;
    if (!m_menu)
        return;
    m_menu->populateIfNeeded();
    m_menu->willOpen();
    m_menu->update();
    m_menu->didClose();
}

} // namespace corvane
