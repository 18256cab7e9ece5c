#pragma once

#include "platform/menus/Menu.h"
#include "platform/hotkeys/OptionKeyPoller.h"
#include "platform/defaults/UserDefaults.h"

#include <memory>

namespace corvane {

// The status item's menu while the root menu is being built: the items that
// need no device list. Opening it unbinds the global hot keys and watches
// the Option key, which shows "Export Debug Logs…"; closing undoes both.
class RootPlaceholderMenu : public Menu {
public:
    // Without the loading row it stands in for the root menu itself.
    static std::shared_ptr<RootPlaceholderMenu>
    make(const QString &title, bool showsLoadingItem = true,
         std::shared_ptr<ModifierSource> modifiers = nullptr);

    void update() override;
    void willOpen() override;
    void didClose() override;

    MenuItemPtr loadingItem() const { return m_loadingItem; }
    MenuItemPtr gpsItem() const { return m_gpsItem; }
    MenuItemPtr activityItem() const { return m_activityItem; }
    MenuItemPtr trashPreviewsItem() const { return m_trashPreviewsItem; }
    MenuItemPtr deleteDDItem() const { return m_deleteDDItem; }
    MenuItemPtr aboutItem() const { return m_aboutItem; }
    MenuItemPtr preferencesItem() const { return m_preferencesItem; }
    MenuItemPtr helpItem() const { return m_helpItem; }
    MenuItemPtr diagnosticsItem() const { return m_diagnosticsItem; }
    MenuItemPtr quitItem() const { return m_quitItem; }

    bool isPollingOptionKey() const { return m_poller.isRunning(); }

private:
    RootPlaceholderMenu(const QString &title, std::shared_ptr<ModifierSource> modifiers);
    void setUp(bool showsLoadingItem);

    std::shared_ptr<ModifierSource> m_modifiers;
    UserDefaults::ObservationPtr m_keyEquivalentObservation;
    MenuItemPtr m_loadingItem;
    MenuItemPtr m_activityItem;
    MenuItemPtr m_trashPreviewsItem;
    MenuItemPtr m_gpsItem;
    MenuItemPtr m_deleteDDItem;
    MenuItemPtr m_aboutItem;
    MenuItemPtr m_helpItem;
    MenuItemPtr m_preferencesItem;
    MenuItemPtr m_quitItem;
    MenuItemPtr m_diagnosticsItem;
    OptionKeyPoller m_poller;
};

} // namespace corvane
