#include "settings/SettingsPane.h"

namespace corvane {

SettingsPane::SettingsPane(Settings::PaneIdentifier identifier, QString title, QIcon icon,
                           QWidget *parent)
    : QWidget(parent), m_identifier(std::move(identifier)), m_title(std::move(title)),
      m_icon(std::move(icon))
{
}

} // namespace corvane
