#include "app/menus/root/RootPlaceholderMenu.h"

#include "app/menus/MenuHost.h"
#include "app/menus/root/StatusMenuActions.h"
#include "app/menus/root/StatusMenuItems.h"
#include "platform/queues/DispatchQueue.h"

namespace corvane {

namespace {
const QString kDeleteDerivedDataKey = "DeleteDerivedData";
}

std::shared_ptr<RootPlaceholderMenu>
RootPlaceholderMenu::make(const QString &title, bool showsLoadingItem,
                          std::shared_ptr<ModifierSource> modifiers)
{
    std::shared_ptr<RootPlaceholderMenu> menu(new RootPlaceholderMenu(
        title, modifiers ? std::move(modifiers) : ModifierSource::system()));
    menu->setUp(showsLoadingItem);
    return menu;
}

RootPlaceholderMenu::RootPlaceholderMenu(const QString &title,
                                         std::shared_ptr<ModifierSource> modifiers)
    : Menu(title), m_modifiers(modifiers), m_poller(modifiers)
{
    addAction("activity:", [](const ObjectPtr &) { StatusMenuActions::activity(); });
    addAction("deleteDD:", [](const ObjectPtr &) { StatusMenuActions::deleteDerivedData(); });
    addAction("about:", [](const ObjectPtr &) { StatusMenuActions::about(); });
    addAction("help:", [](const ObjectPtr &) { StatusMenuActions::help(); });
    addAction("preferences:", [](const ObjectPtr &) { StatusMenuActions::preferences(); });
    addAction("quit:", [](const ObjectPtr &) { StatusMenuActions::quit(); });
    addAction("manage:", [](const ObjectPtr &) { StatusMenuActions::manage(); });
    addAction("logs:", [](const ObjectPtr &) { StatusMenuActions::logs(); });
}

void RootPlaceholderMenu::setUp(bool showsLoadingItem)
{
    const auto self = weakAs<RootPlaceholderMenu>();

    m_loadingItem = MenuItem::make("Loading…");
    m_loadingItem->setEnabled(false);
    m_gpsItem = StatusMenuItems::gpsItem();
    m_gpsItem->setAction({});
    m_gpsItem->setEnabled(false);
    m_activityItem = StatusMenuItems::activityItem();
    m_trashPreviewsItem = StatusMenuItems::trashPreviewsItem();
    m_trashPreviewsItem->setAction({});
    m_trashPreviewsItem->setEnabled(false);
    m_deleteDDItem = StatusMenuItems::deleteDerivedDataItem();
    m_aboutItem = StatusMenuItems::aboutItem();
    m_preferencesItem = StatusMenuItems::preferencesItem();
    m_helpItem = StatusMenuItems::helpItem();
    m_diagnosticsItem = StatusMenuItems::diagnosticsItem();
    m_diagnosticsItem->setHidden(true);
    m_quitItem = StatusMenuItems::quitItem();
    for (const auto &item : {m_activityItem, m_deleteDDItem, m_aboutItem, m_preferencesItem,
                             m_helpItem, m_diagnosticsItem, m_quitItem})
        item->setTarget(self);

    std::vector<MenuItemPtr> items;
    if (showsLoadingItem)
        items.insert(items.end(), {m_loadingItem, MenuItem::separator()});
    items.insert(items.end(),
                 {m_gpsItem, m_activityItem, MenuItem::separator(), m_trashPreviewsItem,
                  m_deleteDDItem, MenuItem::separator(), m_aboutItem, m_preferencesItem, m_helpItem,
                  m_diagnosticsItem, m_quitItem});
    setItems(std::move(items));

    StatusMenuItems::applyHotKeyEquivalent(*m_deleteDDItem, kDeleteDerivedDataKey);
    m_keyEquivalentObservation = UserDefaults::standard()->observe(
        kDeleteDerivedDataKey, [self](const std::optional<QVariant> &) {
            DispatchQueue::main()->async([self] {
                if (auto menu = self.lock())
                    StatusMenuItems::applyHotKeyEquivalent(*menu->m_deleteDDItem,
                                                           kDeleteDerivedDataKey);
            });
        });
}

void RootPlaceholderMenu::update()
{
    m_diagnosticsItem->setHidden(!m_modifiers->isOptionHeld());
}

void RootPlaceholderMenu::willOpen()
{
    if (auto host = MenuHost::current())
        host->unbindHotKeys();
    m_poller.start([self = weakAs<RootPlaceholderMenu>()](bool) {
        DispatchQueue::main()->async([self] {
            if (auto menu = self.lock())
                menu->update();
        });
    });
}

void RootPlaceholderMenu::didClose()
{
    if (auto host = MenuHost::current())
        host->bindHotKeys();
    m_poller.stop();
}

} // namespace corvane
