#include "settings/WidgetPane.h"

#include <QVBoxLayout>

namespace corvane {

WidgetPane::WidgetPane(Settings::PaneIdentifier identifier, QString title, QIcon icon,
                       QWidget *content, QWidget *parent)
    : SettingsPane(std::move(identifier), std::move(title), std::move(icon), parent),
      m_content(content)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (m_content)
        layout->addWidget(m_content);
}

void WidgetPane::willAppear()
{
    if (m_willAppear)
        m_willAppear();
}

namespace Settings {

Pane::Pane(PaneIdentifier identifier, QString title, QIcon toolbarIcon,
           std::function<QWidget *()> content)
    : identifier(std::move(identifier)), title(std::move(title)),
      toolbarIcon(std::move(toolbarIcon)), content(std::move(content))
{
}

SettingsPane *Pane::asSettingsPane() const
{
    return new WidgetPane(identifier, title, toolbarIcon, content ? content() : nullptr);
}

} // namespace Settings

} // namespace corvane
