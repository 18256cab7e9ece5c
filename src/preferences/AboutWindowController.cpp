#include "preferences/AboutWindowController.h"

#include "platform/desktop/WindowPlacement.h"
#include "preferences/AboutViewController.h"

namespace corvane {

AboutWindowController::AboutWindowController(const BundleInfo &bundle)
    : m_content(std::make_unique<AboutViewController>(bundle))
{
}

AboutWindowController::~AboutWindowController() = default;

std::shared_ptr<WindowController> AboutWindowController::make()
{
    return std::make_shared<AboutWindowController>();
}

void AboutWindowController::showWindow()
{
    if (!m_placed) {
        WindowPlacement::placeOnPointerScreen(*m_content);
        m_placed = true;
    }
    m_content->show();
}

void AboutWindowController::setStaysOnTop(bool staysOnTop)
{
    if (m_content->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == staysOnTop)
        return;
    // Changing a window's flags hides it; show it again as it was.
    const bool shown = m_content->isVisible();
    m_content->setWindowFlag(Qt::WindowStaysOnTopHint, staysOnTop);
    if (shown)
        m_content->show();
}

void AboutWindowController::raise()
{
    m_content->raise();
    m_content->activateWindow();
}

void AboutWindowController::focusContent()
{
    m_content->setFocus();
}

} // namespace corvane
