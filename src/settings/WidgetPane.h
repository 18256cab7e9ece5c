#pragma once

#include "settings/SettingsPane.h"

#include <functional>

namespace corvane {

// Makes any widget a settings pane: the widget fills the pane, and the pane's
// size is the widget's.
class WidgetPane : public SettingsPane {
    Q_OBJECT
public:
    // Takes ownership of `content`.
    WidgetPane(Settings::PaneIdentifier identifier, QString title, QIcon icon, QWidget *content,
               QWidget *parent = nullptr);

    QWidget *content() const { return m_content; }

    // Runs each time the pane is about to be shown.
    void setWillAppearHandler(std::function<void()> handler) { m_willAppear = std::move(handler); }
    void willAppear() override;

private:
    QWidget *m_content;
    std::function<void()> m_willAppear;
};

namespace Settings {

// A pane described by its identifier, title, icon and a maker of its content;
// each conversion hosts new content in a WidgetPane.
struct Pane : SettingsPaneConvertible {
    PaneIdentifier identifier;
    QString title;
    QIcon toolbarIcon;
    std::function<QWidget *()> content;

    Pane(PaneIdentifier identifier, QString title, QIcon toolbarIcon,
         std::function<QWidget *()> content);

    SettingsPane *asSettingsPane() const override;
};

} // namespace Settings

} // namespace corvane
