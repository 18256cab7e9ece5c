#pragma once

#include "app/qt/MenuRenderer.h"
#include "platform/menus/MenuObserver.h"

#include <QImage>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <unordered_map>
#include <vector>

class QAction;
class QKeyEvent;

namespace corvane {

// One rendered model menu: its QMenu, and one QAction per item.
class MenuBinding : public QObject,
                    public MenuObserver,
                    public std::enable_shared_from_this<MenuBinding> {
public:
    MenuBinding(MenuRenderer *renderer, MenuPtr model, MenuBinding *parent);
    ~MenuBinding() override;
    void attach();

    QMenu *qmenu() const { return m_qmenu; }
    const MenuPtr &model() const { return m_model; }
    bool isFilled() const { return m_filled; }
    QAction *actionFor(const MenuItem *item) const;
    void flush();

    void menuItemsDidChange(Menu &menu) override;
    void menuItemDidChange(Menu &menu, const MenuItemPtr &item) override;
    void menuTitleDidChange(Menu &menu) override;
    void menuCancelTracking(Menu &menu) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry {
        MenuItemPtr item;
        QAction *action = nullptr;
        bool twoLine = false;
        std::shared_ptr<MenuBinding> submenu;
        QString iconKey;
        QImage icon;
    };

    void aboutToShow();
    void aboutToHide();
    void hovered(QAction *action);
    void changed();
    void scheduleFlush();
    void sync();
    void syncActions();
    void keepOnScreen();
    void placeBesideParent();
    bool performKeyEquivalent(const QKeyEvent &event);
    Entry makeEntry(const MenuItemPtr &item);
    void dropEntry(Entry &entry);
    void apply(Entry &entry, int iconWidth, int stateColumn);
    // Leaves `key` equal to `previousKey` and composes nothing when the
    // row's picture is unchanged.
    QImage composeIcon(const MenuItem &item, int iconWidth, int stateColumn,
                       const QString &previousKey, QString &key) const;
    bool sendsOwnAction(QAction *action) const;
    void dispatch(const MenuItemPtr &item);
    void closeAll();
    MenuBinding *root();

    MenuRenderer *m_renderer;
    MenuPtr m_model;
    MenuBinding *m_parent;
    QPointer<QMenu> m_qmenu;
    std::unordered_map<const MenuItem *, Entry> m_entries;
    std::unordered_map<QAction *, const MenuItem *> m_itemOfAction;
    std::vector<QAction *> m_order;
    bool m_filled = false;
    bool m_flushQueued = false;
    bool m_dirty = false;
    bool m_syncing = false;
    bool m_swallowedChange = false;
    int m_hookDepth = 0;
    int m_iconWidth = -1;
    // The side this menu last opened on, beside its parent: its own
    // submenus open on the same side while they have room there.
    bool m_opensLeftward = false;
};

} // namespace corvane
