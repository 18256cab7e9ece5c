#include "app/qt/MenuBinding.h"

#include "app/qt/ImageCache.h"
#include "app/qt/TwoLineRow.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/KeyEquivalents.h"
#include "platform/hotkeys/KeyboardLayout.h"
#include "platform/menus/MenuItem.h"
#include "platform/desktop/WindowPlacement.h"

#include <QAction>
#include <QActionEvent>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleOptionMenuItem>

#include <unordered_set>

namespace corvane {

namespace {

const char *const kIconWidthProperty = "corvaneIconWidth";

// Widens the icon column of our menus to the widest composed row icon
// (indentation, state mark and image), so that every row's picture starts
// at the same place and no icon is scaled down.
class MenuStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option,
                    const QWidget *widget) const override
    {
        if (metric == PM_SmallIconSize && widget) {
            const int width = widget->property(kIconWidthProperty).toInt();
            if (width > 0)
                return width;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    // A checked row's mark is part of its composed icon; the style's own
    // check would frame the icon instead.
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (element == CE_MenuItem) {
            if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
                item && !item->icon.isNull() &&
                item->checkType != QStyleOptionMenuItem::NotCheckable) {
                QStyleOptionMenuItem plain = *item;
                plain.checkType = QStyleOptionMenuItem::NotCheckable;
                plain.checked = false;
                QProxyStyle::drawControl(element, &plain, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

MenuStyle *menuStyle()
{
    static QPointer<MenuStyle> style;
    if (!style) {
        style = new MenuStyle;
        style->setParent(qApp);
    }
    return style;
}

// Keys an open menu moves, chooses and finds rows with: pressed without
// Ctrl, Alt or Super they stay the menu's, whatever key equivalent names them.
bool isMenuKey(const QKeyEvent &event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (event.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Space:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return true;
    default: return event.text().size() == 1 && event.text().at(0).isPrint();
    }
}

QString escapeMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

MenuBinding::MenuBinding(MenuRenderer *renderer, MenuPtr model, MenuBinding *parent)
    : m_renderer(renderer), m_model(std::move(model)), m_parent(parent)
{
    m_qmenu = new QMenu(m_model->title());
    m_qmenu->setStyle(menuStyle());
    m_qmenu->setToolTipsVisible(true);
    m_qmenu->setSeparatorsCollapsible(false);
    m_qmenu->installEventFilter(this);
    connect(m_qmenu, &QMenu::aboutToShow, this, [this] { aboutToShow(); });
    connect(m_qmenu, &QMenu::aboutToHide, this, [this] { aboutToHide(); });
    connect(m_qmenu, &QMenu::hovered, this, [this](QAction *action) { hovered(action); });
    m_renderer->registerBinding(m_model.get(), this);
}

void MenuBinding::attach()
{
    m_model->setObserver(std::static_pointer_cast<MenuObserver>(shared_from_this()));
}

MenuBinding::~MenuBinding()
{
    m_renderer->unregisterBinding(m_model.get(), this);
    for (auto &[item, entry] : m_entries) {
        if (entry.submenu)
            entry.submenu.reset();
    }
    if (m_qmenu) {
        m_qmenu->removeEventFilter(this);
        m_qmenu->hide();
        // Our own signal handlers may be on the stack of this menu.
        m_qmenu->deleteLater();
    }
}

QAction *MenuBinding::actionFor(const MenuItem *item) const
{
    auto found = m_entries.find(item);
    return found == m_entries.end() ? nullptr : found->second.action;
}

void MenuBinding::aboutToShow()
{
    m_model->populateIfNeeded();
    ++m_hookDepth;
    m_model->willOpen();
    m_model->update();
    --m_hookDepth;
    sync();
    m_filled = true;
}

void MenuBinding::aboutToHide()
{
    ++m_hookDepth;
    m_model->didClose();
    --m_hookDepth;
}

void MenuBinding::hovered(QAction *action)
{
    auto found = m_itemOfAction.find(action);
    MenuItemPtr item;
    if (found != m_itemOfAction.end())
        item = m_entries.at(found->second).item;
    ++m_hookDepth;
    m_model->willHighlight(item);
    --m_hookDepth;
    for (auto &[key, entry] : m_entries) {
        if (entry.twoLine)
            static_cast<TwoLineAction *>(entry.action)->repaintRows();
    }
    if (m_dirty)
        flush();
}

void MenuBinding::changed()
{
    if (!m_filled)
        return;
    m_dirty = true;
    // A closed menu catches up when it is next about to show.
    if (m_hookDepth == 0 && m_qmenu && m_qmenu->isVisible())
        scheduleFlush();
}

void MenuBinding::scheduleFlush()
{
    if (m_flushQueued)
        return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_flushQueued = false;
            flush();
        },
        Qt::QueuedConnection);
}

void MenuBinding::flush()
{
    if (m_dirty && m_filled)
        sync();
}

void MenuBinding::menuItemsDidChange(Menu &)
{
    changed();
}

void MenuBinding::menuItemDidChange(Menu &, const MenuItemPtr &)
{
    changed();
}

void MenuBinding::menuTitleDidChange(Menu &)
{
    if (m_qmenu)
        m_qmenu->setTitle(m_model->title());
}

void MenuBinding::menuCancelTracking(Menu &)
{
    if (m_qmenu && m_qmenu->isVisible())
        closeAll();
}

MenuBinding::Entry MenuBinding::makeEntry(const MenuItemPtr &item)
{
    Entry entry;
    entry.item = item;
    entry.twoLine = item->twoLineTitle().has_value() && !item->isSeparator();
    if (entry.twoLine)
        entry.action = new TwoLineAction(m_qmenu);
    else
        entry.action = new QAction(m_qmenu);
    entry.action->setSeparator(item->isSeparator());
    entry.action->setShortcutContext(Qt::WidgetShortcut);
    std::weak_ptr<MenuItem> weak = item;
    connect(entry.action, &QAction::triggered, this, [this, weak] {
        if (auto item = weak.lock())
            dispatch(item);
    });
    m_itemOfAction[entry.action] = item.get();
    return entry;
}

void MenuBinding::dropEntry(Entry &entry)
{
    m_itemOfAction.erase(entry.action);
    if (m_qmenu)
        m_qmenu->removeAction(entry.action);
    entry.action->disconnect(this);
    entry.action->deleteLater();
    entry.action = nullptr;
    entry.submenu.reset();
}

QImage MenuBinding::composeIcon(const MenuItem &item, int iconWidth, int stateColumn,
                                const QString &previousKey, QString &key) const
{
    const ControlState state = item.state();
    const ImageRef onImage = item.onStateImage();
    const ImageRef offImage = item.offStateImage();
    ImageRef mark;
    if (!onImage.isNull() || !offImage.isNull())
        mark = state == ControlState::On ? onImage
                                         : (state == ControlState::Off ? offImage : ImageRef());
    const ImageRef image = item.image();
    const int indent = item.indentationLevel() * MenuRenderer::indentationWidth;
    if (onImage.isNull() && offImage.isNull() && state == ControlState::On)
        mark = ImageRef::resource(QStringLiteral("Checkmark")).tinted(ImageCache::textColor());

    const QColor accent = ImageCache::accentColor();
    key = QStringLiteral("%1/%2/%3/%4/%5")
              .arg(iconWidth)
              .arg(stateColumn)
              .arg(indent)
              .arg(mark.cacheKey(accent), image.cacheKey(accent));
    if ((mark.isNull() && image.isNull()) || iconWidth <= 0 || key == previousKey)
        return {};

    ImageCache &cache = ImageCache::shared();
    const QImage markImage = cache.resolve(mark);
    const QImage picture = cache.resolve(image);
    if (markImage.isNull() && picture.isNull() && indent == 0)
        return {};
    const QSizeF markSize = markImage.isNull() ? QSizeF() : markImage.deviceIndependentSize();
    const QSizeF pictureSize = picture.isNull() ? QSizeF() : picture.deviceIndependentSize();
    const qreal height = qMax<qreal>(16, qMax(markSize.height(), pictureSize.height()));
    const qreal ratio = 2;
    QImage canvas((QSizeF(iconWidth, height) * ratio).toSize(),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    canvas.setDevicePixelRatio(ratio);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!markImage.isNull()) {
        const qreal slot = qMax<qreal>(stateColumn, markSize.width());
        painter.drawImage(
            QPointF(indent + (slot - markSize.width()) / 2, (height - markSize.height()) / 2),
            markImage);
    }
    if (!picture.isNull())
        painter.drawImage(QPointF(indent + stateColumn, (height - pictureSize.height()) / 2),
                          picture);
    return canvas;
}

void MenuBinding::apply(Entry &entry, int iconWidth, int stateColumn)
{
    const MenuItem &item = *entry.item;
    QAction *action = entry.action;
    action->setVisible(!item.isHidden());
    if (item.isSeparator())
        return;
    action->setEnabled(item.isEnabled());
    action->setToolTip(item.toolTip());
    action->setShortcut(
        MenuRenderer::keySequence(item.keyEquivalent(), item.keyEquivalentModifierMask()));
    const bool hasStateImages = !item.onStateImage().isNull() || !item.offStateImage().isNull();
    const ControlState state = item.state();
    const bool checkable = !hasStateImages && state != ControlState::Off;
    action->setCheckable(checkable);
    action->setChecked(checkable && state == ControlState::On);

    // Hidden rows keep their icon until they show again.
    if (!item.isHidden()) {
        QString key;
        QImage icon = composeIcon(item, iconWidth, stateColumn, entry.iconKey, key);
        if (key != entry.iconKey) {
            entry.iconKey = key;
            entry.icon = icon;
            action->setIcon(icon.isNull() ? QIcon() : QIcon(QPixmap::fromImage(icon)));
        }
    }

    // Before the row's content, which draws the submenu's arrow.
    const MenuPtr submenu = item.submenu();
    if (!submenu) {
        if (entry.submenu) {
            action->setMenu(nullptr);
            entry.submenu.reset();
        }
    } else if (!entry.submenu || entry.submenu->model() != submenu) {
        entry.submenu = std::make_shared<MenuBinding>(m_renderer, submenu, this);
        entry.submenu->attach();
        action->setMenu(entry.submenu->qmenu());
    }

    const auto twoLine = item.twoLineTitle();
    if (entry.twoLine && twoLine) {
        action->setText(escapeMnemonic(item.displayTitle()));
        RowContent content;
        content.primary = twoLine->primary;
        content.secondary = twoLine->secondary;
        content.secondaryDisabled = twoLine->secondaryRole == TwoLineTitle::Role::DisabledText;
        content.shortcut = action->shortcut().toString(QKeySequence::NativeText);
        content.icon = entry.icon;
        content.iconWidth = iconWidth;
        content.hasSubmenu = entry.submenu != nullptr;
        static_cast<TwoLineAction *>(action)->setContent(content);
    } else {
        action->setText(escapeMnemonic(item.displayTitle()));
    }
}

void MenuBinding::sync()
{
    m_dirty = false;
    if (!m_qmenu)
        return;
    m_syncing = true;
    m_swallowedChange = false;
    syncActions();
    m_syncing = false;
    if (m_swallowedChange && !m_order.empty()) {
        QActionEvent relayout(QEvent::ActionChanged, m_order.front());
        QCoreApplication::sendEvent(m_qmenu, &relayout);
    }
    if (m_parent)
        placeBesideParent();
    else
        keepOnScreen();
}

void MenuBinding::keepOnScreen()
{
    // An open menu grows in place (Option shows wider and more rows) and
    // would run off the edge of its screen.
    if (!m_qmenu || !m_qmenu->isVisible() || !m_qmenu->screen())
        return;
    const QRect area = m_qmenu->screen()->availableGeometry();
    QRect frame = m_qmenu->geometry();
    if (frame.right() > area.right())
        frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
        frame.moveBottom(area.bottom());
    if (frame.left() < area.left())
        frame.moveLeft(area.left());
    if (frame.top() < area.top())
        frame.moveTop(area.top());
    if (frame.topLeft() != m_qmenu->pos())
        m_qmenu->move(frame.topLeft());
}

void MenuBinding::syncActions()
{
    const std::vector<MenuItemPtr> items = m_model->items();

    // The icon column: wide enough for every visible row's indentation,
    // state mark and image.
    bool anyState = false;
    for (const auto &item : items) {
        if (item->isSeparator() || item->isHidden())
            continue;
        const bool stateImages = !item->onStateImage().isNull() || !item->offStateImage().isNull();
        const bool drawnCheck = item->state() == ControlState::On;
        anyState = anyState || stateImages || drawnCheck;
    }
    const int stateColumn = anyState ? MenuRenderer::stateColumnWidth : 0;
    int iconWidth = 0;
    ImageCache &cache = ImageCache::shared();
    for (const auto &item : items) {
        if (item->isSeparator() || item->isHidden())
            continue;
        const QImage picture = cache.resolve(item->image());
        const int width = item->indentationLevel() * MenuRenderer::indentationWidth + stateColumn +
                          qCeil(picture.isNull() ? 0 : picture.deviceIndependentSize().width());
        iconWidth = qMax(iconWidth, width);
    }
    if (iconWidth != m_iconWidth) {
        m_iconWidth = iconWidth;
        m_qmenu->setProperty(kIconWidthProperty, iconWidth);
    }

    std::unordered_set<const MenuItem *> present;
    std::vector<QAction *> desired;
    desired.reserve(items.size());
    for (const auto &item : items) {
        if (!present.insert(item.get()).second)
            continue;
        auto found = m_entries.find(item.get());
        const bool twoLine = item->twoLineTitle().has_value() && !item->isSeparator();
        if (found != m_entries.end() &&
            (found->second.twoLine != twoLine ||
             found->second.action->isSeparator() != item->isSeparator())) {
            dropEntry(found->second);
            m_entries.erase(found);
            found = m_entries.end();
        }
        if (found == m_entries.end())
            found = m_entries.emplace(item.get(), makeEntry(item)).first;
        apply(found->second, iconWidth, stateColumn);
        desired.push_back(found->second.action);
    }
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        dropEntry(it->second);
        it = m_entries.erase(it);
    }
    std::erase_if(m_order, [this](QAction *action) { return !m_itemOfAction.count(action); });

    // Move only what is out of place, so an unchanged order costs nothing.
    for (size_t i = 0; i < desired.size(); ++i) {
        if (i < m_order.size() && m_order[i] == desired[i])
            continue;
        QAction *before = i < m_order.size() ? m_order[i] : nullptr;
        std::erase(m_order, desired[i]);
        m_qmenu->insertAction(before, desired[i]);
        m_order.insert(m_order.begin() + qsizetype(i), desired[i]);
    }
}

bool MenuBinding::sendsOwnAction(QAction *action) const
{
    auto found = m_itemOfAction.find(action);
    if (found == m_itemOfAction.end())
        return false;
    const Entry &entry = m_entries.at(found->second);
    return entry.submenu && action->isEnabled() && !entry.item->action().isEmpty();
}

bool MenuBinding::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_qmenu)
        return false;
    // While syncing, every changed action would make the menu lay itself
    // out again; one relayout at the end is enough.
    if (m_syncing && event->type() == QEvent::ActionChanged) {
        m_swallowedChange = true;
        return true;
    }
    // A row with both a submenu and an action opens the submenu on hover and
    // sends its action on click or Return.
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        QAction *action = m_qmenu->actionAt(mouse->position().toPoint());
        if (action && sendsOwnAction(action)) {
            dispatch(m_entries.at(m_itemOfAction.at(action)).item);
            closeAll();
            return true;
        }
    } else if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
               static_cast<QKeyEvent *>(event)->key() == Qt::Key_Alt) {
        // Alt is Option: the open menus show or hide their Option rows in
        // place, where the style would have the menu close.
        return true;
    } else if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (performKeyEquivalent(*key))
            return true;
        QAction *action = m_qmenu->activeAction();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && action &&
            sendsOwnAction(action)) {
            dispatch(m_entries.at(m_itemOfAction.at(action)).item);
            closeAll();
            return true;
        }
    } else if (event->type() == QEvent::Show ||
               (event->type() == QEvent::Resize && m_qmenu->isVisible())) {
        // A submenu that opened on the left and then grows or shrinks in
        // place keeps its edge against its parent.
        placeBesideParent();
    } else if (event->type() == QEvent::Leave) {
        if (!m_qmenu->activeAction()) {
            ++m_hookDepth;
            m_model->willHighlight(nullptr);
            --m_hookDepth;
            if (m_dirty)
                flush();
        }
    }
    return false;
}

// A popup keeps the keyboard, and Qt gives the shortcuts of its rows only
// to a menu bar's menus; so the open menus answer their key equivalents
// here: the one the key reached first, then those it was opened from. A key
// equivalent of a disabled row is taken and does nothing.
bool MenuBinding::performKeyEquivalent(const QKeyEvent &event)
{
    if (isMenuKey(event))
        return false;
    const QString unshifted = KeyboardLayout::unshiftedCharacter(event);
    for (MenuBinding *binding = this; binding; binding = binding->m_parent) {
        if (!binding->m_qmenu || !binding->m_qmenu->isVisible())
            continue;
        for (QAction *action : binding->m_order) {
            const Entry &entry = binding->m_entries.at(binding->m_itemOfAction.at(action));
            const MenuItem &item = *entry.item;
            if (!action->isVisible() || item.isSeparator() ||
                !KeyEquivalents::matches(item.keyEquivalent(), item.keyEquivalentModifierMask(),
                                         event.keyCombination(), unshifted))
                continue;
            if (action->isEnabled()) {
                binding->dispatch(entry.item);
                closeAll();
            }
            return true;
        }
    }
    return false;
}

// Qt opens a submenu on the right unless it would leave the screen, and
// then may lay it over the menus it came from; the menus cascade instead,
// each on the side its parent went while there is room.
void MenuBinding::placeBesideParent()
{
    QMenu *parentMenu = m_parent ? m_parent->m_qmenu.data() : nullptr;
    if (!parentMenu || !parentMenu->isVisible() || !m_qmenu)
        return;
    QAction *row = nullptr;
    for (const auto &[item, entry] : m_parent->m_entries)
        if (entry.submenu.get() == this)
            row = entry.action;
    QScreen *screen = parentMenu->screen();
    if (!row || !screen)
        return;
    int top = parentMenu->mapToGlobal(parentMenu->actionGeometry(row).topLeft()).y();
    // The first row beside the row it opens from.
    for (QAction *action : m_qmenu->actions())
        if (action->isVisible()) {
            top -= m_qmenu->actionGeometry(action).top();
            break;
        }
    // The style's overlap, as Qt places a submenu: the frames share a border.
    const int overlap = -m_qmenu->style()->pixelMetric(QStyle::PM_SubMenuOverlap, nullptr, m_qmenu);
    const auto spot =
        WindowPlacement::besideParent(parentMenu->geometry(), top, m_qmenu->size(), overlap,
                                      screen->availableGeometry(), m_parent->m_opensLeftward);
    m_opensLeftward = spot.leftward;
    if (spot.topLeft != m_qmenu->pos())
        m_qmenu->move(spot.topLeft);
}

void MenuBinding::dispatch(const MenuItemPtr &item)
{
    // Actions run once the menu has closed, as a click's action would, so
    // an action may show a modal alert.
    DispatchQueue::main()->async([weak = std::weak_ptr<MenuItem>(item)] {
        if (auto item = weak.lock())
            item->sendAction();
    });
}

MenuBinding *MenuBinding::root()
{
    MenuBinding *binding = this;
    while (binding->m_parent)
        binding = binding->m_parent;
    return binding;
}

void MenuBinding::closeAll()
{
    for (MenuBinding *binding = this; binding; binding = binding->m_parent) {
        if (binding->m_qmenu && binding->m_qmenu->isVisible())
            binding->m_qmenu->hide();
    }
    MenuBinding *top = root();
    if (top->m_qmenu && top->m_qmenu->isVisible())
        top->m_qmenu->hide();
}

} // namespace corvane
