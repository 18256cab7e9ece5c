#include "shortcuts/ShortcutView.h"

#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/hotkeys/HotKeyCenter.h"
#include "shortcuts/ShortcutDictionaryTransformer.h"
#include "shortcuts/ShortcutValidator.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <QWindow>

#include <mutex>

namespace corvane {

class ShortcutKeyMonitor;

namespace {

// What all recorders share: the one recording, the one key monitor and the
// one watch on the window losing focus.
struct Recorders {
    QPointer<ShortcutView> recording;
    QPointer<ShortcutKeyMonitor> monitor;
    bool monitorOn = false;
    QMetaObject::Connection watch;
    bool watchOn = false;
    // The watch acts once the recorder's window has had the focus: a click
    // in a window not yet focused, or the return from an alert, arrives
    // before the window gets it back.
    bool watchArmed = false;
    bool hotKeysSuspended = false;
    std::function<void()> beep;
};

Recorders &recorders()
{
    static Recorders shared;
    return shared;
}

// The bit a modifier key sets (0 for locks and level shifts); nothing for
// other keys.
std::optional<uint64_t> modifierKeyBit(int key)
{
    switch (key) {
    case Qt::Key_Shift: return Shortcut::Shift;
    case Qt::Key_Control: return Shortcut::Command;
    case Qt::Key_Alt: return Shortcut::Option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return Shortcut::Control;
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R: return 0;
    default: return std::nullopt;
    }
}

// Qt has no event for a change of the held modifiers alone: the press or
// release of a modifier key stands for it, with that key's bit set or
// cleared whatever the platform reports.
Shortcut typedShortcut(const QKeyEvent &event)
{
    const Shortcut typed = Shortcut::fromKeyEvent(event);
    const auto bit = modifierKeyBit(event.key());
    if (!bit)
        return typed;
    uint64_t flags = typed.modifierFlags();
    if (event.type() == QEvent::KeyRelease)
        flags &= ~*bit;
    else
        flags |= *bit;
    return Shortcut(Shortcut::NotFound, flags);
}

void syncHotKeys()
{
    Recorders &shared = recorders();
    const bool suspend = !shared.recording.isNull();
    if (suspend == shared.hotKeysSuspended)
        return;
    shared.hotKeysSuspended = suspend;
    HotKeyCenter::shared()->setSuspended(suspend);
}

void focusWindowChanged(QWindow *focus)
{
    Recorders &shared = recorders();
    ShortcutView *view = shared.recording;
    if (!view)
        return;
    if (focus && focus == view->window()->windowHandle()) {
        shared.watchArmed = true;
        return;
    }
    if (shared.watchArmed)
        view->setRecording(false);
}

void setWatchOn(bool on)
{
    Recorders &shared = recorders();
    if (on == shared.watchOn)
        return;
    shared.watchOn = on;
    if (!on) {
        QObject::disconnect(shared.watch);
        return;
    }
    ShortcutView *view = shared.recording;
    shared.watchArmed = view && QGuiApplication::focusWindow() &&
                        QGuiApplication::focusWindow() == view->window()->windowHandle();
    shared.watch = QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, qGuiApp,
                                    &focusWindowChanged);
}

class ShortcutViewAccessible : public QAccessibleWidget {
public:
    explicit ShortcutViewAccessible(ShortcutView *view)
        : QAccessibleWidget(view, QAccessible::Button)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name: return view()->accessibleLabel();
        case QAccessible::Description:
        case QAccessible::Help: return ShortcutViewModel::accessibleHelp();
        default: return QAccessibleWidget::text(kind);
        }
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction())
            view()->accessibilityPerformPress();
    }

private:
    ShortcutView *view() const { return static_cast<ShortcutView *>(widget()); }
};

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(ShortcutView::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new ShortcutViewAccessible(static_cast<ShortcutView *>(object));
    return nullptr;
}

} // namespace

// Sees every key event of the program while a recorder records.
class ShortcutKeyMonitor : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
        case QEvent::KeyRelease: break;
        default: return false;
        }
        // A window hands its key events on to a widget: take them there,
        // once.
        if (!watched->isWidgetType())
            return false;
        ShortcutView *view = recorders().recording;
        return view && view->handleKey(static_cast<QKeyEvent *>(event));
    }
};

namespace {

void setMonitorOn(bool on)
{
    Recorders &shared = recorders();
    if (on == shared.monitorOn)
        return;
    shared.monitorOn = on;
    if (!shared.monitor)
        shared.monitor = new ShortcutKeyMonitor(qApp);
    if (on)
        qApp->installEventFilter(shared.monitor);
    else
        qApp->removeEventFilter(shared.monitor);
}

} // namespace

ShortcutValueTransformer ShortcutValueTransformer::keyedArchive()
{
    return {[](const std::optional<QVariant> &stored) { return Shortcut::fromStoredValue(stored); },
            [](const std::optional<Shortcut> &shortcut) -> std::optional<QVariant> {
                if (!shortcut)
                    return std::nullopt;
                return QVariant(shortcut->archived());
            }};
}

ShortcutValueTransformer ShortcutValueTransformer::dictionary()
{
    return {[](const std::optional<QVariant> &stored) -> std::optional<Shortcut> {
                if (!stored)
                    return std::nullopt;
                return ShortcutDictionaryTransformer::transformedValue(*stored);
            },
            [](const std::optional<Shortcut> &shortcut) -> std::optional<QVariant> {
                return QVariant(ShortcutDictionaryTransformer::reverseTransformedValue(shortcut));
            }};
}

ShortcutView::ShortcutView(QWidget *parent) : QWidget(parent)
{
    static std::once_flag accessibility;
    std::call_once(accessibility, [] { QAccessible::installFactory(accessibleFactory); });
    m_model.validator = ShortcutValidator::sharedValidator();
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

ShortcutView::~ShortcutView()
{
    Recorders &shared = recorders();
    if (shared.recording == this) {
        shared.recording = nullptr;
        setMonitorOn(false);
        setWatchOn(false);
        syncHotKeys();
    }
}

void ShortcutView::setRecording(bool recording)
{
    Recorders &shared = recorders();
    if (recording && shared.recording != this) {
        QPointer<ShortcutView> previous = shared.recording;
        shared.recording = isEnabled() ? this : nullptr;
        if (previous)
            previous->setRecording(false);
        syncHotKeys();
    }
    if (recording && !isEnabled())
        return;
    if (recording == m_model.recording)
        return;
    m_model.recording = recording;
    m_model.placeholder.clear();
    if (!recording && shared.recording == this)
        shared.recording = nullptr;
    resetToolTips();
    setMonitorOn(recording);
    setWatchOn(recording);
    syncHotKeys();
    update();
}

void ShortcutView::setHinting(bool hinting)
{
    if (hinting == m_model.hinting)
        return;
    m_model.hinting = hinting;
    update();
}

void ShortcutView::setShowsDeleteButton(bool shows)
{
    if (shows == m_model.showsDeleteButton)
        return;
    m_model.showsDeleteButton = shows;
    update();
}

void ShortcutView::setShortcutValue(const std::optional<Shortcut> &value)
{
    m_model.value = value;
    writeBoundValue();
    valueChanged();
}

void ShortcutView::setShortcutValidator(std::shared_ptr<ShortcutValidator> validator)
{
    m_model.validator = std::move(validator);
}

void ShortcutView::setShortcutStyle(Style style)
{
    if (style == m_cell.style())
        return;
    m_cell.setStyle(style);
    updateGeometry();
    update();
}

void ShortcutView::setShortcutPlaceholder(const QString &placeholder)
{
    if (placeholder == m_model.placeholder)
        return;
    m_model.placeholder = placeholder;
    update();
}

void ShortcutView::setAcceptsFirstResponder(bool accepts)
{
    m_acceptsFirstResponder = accepts;
    setFocusPolicy(accepts ? Qt::StrongFocus : Qt::NoFocus);
}

void ShortcutView::setAssociatedUserDefaultsKey(const QString &key,
                                                std::shared_ptr<UserDefaults> defaults)
{
    setAssociatedUserDefaultsKey(key, ShortcutValueTransformer::keyedArchive(),
                                 std::move(defaults));
}

void ShortcutView::setAssociatedUserDefaultsKey(const QString &key,
                                                ShortcutValueTransformer transformer,
                                                std::shared_ptr<UserDefaults> defaults)
{
    m_binding.reset();
    m_model.defaultsKey = key;
    if (key.isEmpty())
        return;
    m_binding = Binding{key, defaults ? std::move(defaults) : UserDefaults::standard(),
                        std::move(transformer), nullptr};
    // Another thread may write the key; the newest value is read here.
    QPointer<ShortcutView> self(this);
    m_binding->observation =
        m_binding->defaults->observe(key, [self](const std::optional<QVariant> &) {
            auto apply = [self] {
                if (self)
                    self->readBoundValue();
            };
            if (DispatchQueue::isMainThread())
                apply();
            else
                DispatchQueue::main()->async(apply);
        });
    readBoundValue();
}

void ShortcutView::readBoundValue()
{
    if (!m_binding || !m_binding->transformer.transformedValue)
        return;
    const auto value =
        m_binding->transformer.transformedValue(m_binding->defaults->object(m_binding->key));
    if (value == m_model.value)
        return;
    m_model.value = value;
    valueChanged();
}

void ShortcutView::writeBoundValue()
{
    if (!m_binding || !m_binding->transformer.reverseTransformedValue)
        return;
    const auto stored = m_binding->transformer.reverseTransformedValue(m_model.value);
    if (stored)
        m_binding->defaults->set(m_binding->key, *stored);
    else
        m_binding->defaults->remove(m_binding->key);
}

void ShortcutView::valueChanged()
{
    resetToolTips();
    update();
    if (m_valueChange)
        m_valueChange(this);
}

void ShortcutView::resetToolTips()
{
    // Tool tips are looked up by region when asked; one showing may be stale.
    if (QToolTip::isVisible() && underMouse())
        QToolTip::hideText();
}

int ShortcutView::hintWidth() const
{
    return ShortcutViewModel::hintWidth(m_cell.style(), m_cell.fontSize());
}

QRect ShortcutView::shortcutRect() const
{
    return ShortcutViewModel::shortcutRect(rect(), hintWidth());
}

QRect ShortcutView::hintRect() const
{
    return ShortcutViewModel::hintRect(rect(), hintWidth());
}

ShortcutViewModel::Region ShortcutView::regionAt(const QPoint &point) const
{
    return hintRect().contains(point) ? ShortcutViewModel::Region::Hint
                                      : ShortcutViewModel::Region::Shortcut;
}

QString ShortcutView::toolTipAt(const QPoint &point) const
{
    return m_model.toolTip(regionAt(point));
}

bool ShortcutView::accessibilityPerformPress()
{
    if (m_model.recording)
        return false;
    setRecording(true);
    return true;
}

QSize ShortcutView::sizeHint() const
{
    // 120 as on the Mac, unless a wider face would cut the prompts short.
    int width = 120;
    for (const char *prompt :
         {"Record Shortcut", "Type Shortcut", "Type New Shortcut", "Use Old Shortcut", "Cancel"})
        width = std::max(width, m_cell.widthForTitle(shortcutText(prompt)) + hintWidth());
    return QSize(width, m_cell.cellSize(this).height());
}

QSize ShortcutView::minimumSizeHint() const
{
    return QSize(hintWidth() * 2, m_cell.cellSize(this).height());
}

ShortcutView *ShortcutView::recordingView()
{
    return recorders().recording;
}

void ShortcutView::setBeepHandler(std::function<void()> beep)
{
    recorders().beep = std::move(beep);
}

bool ShortcutView::handleKey(QKeyEvent *event)
{
    using Action = ShortcutViewModel::KeyVerdict::Action;
    // Only a modifier key's release changes what is held.
    if (event->type() == QEvent::KeyRelease && !modifierKeyBit(event->key()))
        return false;
    const Shortcut typed = typedShortcut(*event);
    // Asked before a menu shortcut may take the key: claim every key kept
    // here, and act at once on those passed on, whose press may never come.
    if (event->type() == QEvent::ShortcutOverride && !ShortcutViewModel::passesOn(typed)) {
        event->accept();
        return true;
    }
    const auto verdict = m_model.verdictOnKey(typed);
    switch (verdict.action) {
    case Action::PassOn: break;
    case Action::ClearAndStop:
        setShortcutValue(std::nullopt);
        setRecording(false);
        break;
    case Action::Stop:
    case Action::StopAndPassOn: setRecording(false); break;
    case Action::Beep:
        if (recorders().beep)
            recorders().beep();
        else
            QApplication::beep();
        break;
    case Action::ShowTaken: showTakenAlert(verdict); break;
    case Action::Accept:
        setShortcutValue(typed);
        setRecording(false);
        break;
    case Action::ShowModifiers: setShortcutPlaceholder(verdict.placeholder); break;
    }
    return verdict.consumed;
}

void ShortcutView::showTakenAlert(const ShortcutViewModel::KeyVerdict &verdict)
{
    setMonitorOn(false);
    setWatchOn(false);
    AlertSpec spec;
    spec.style = AlertSpec::Style::Critical;
    spec.messageText = verdict.message;
    spec.informativeText = verdict.explanation;
    // Return dismisses it, as any one-button alert.
    spec.buttons = {{shortcutText("OK"), AlertSpec::KeyEquivalent::Return}};
    spec.parentWindow = window()->windowHandle();
    QPointer<ShortcutView> self(this);
    AlertPresenter::shared()->run(spec);
    if (!self)
        return;
    setShortcutPlaceholder(QString());
    if (m_model.recording && recorders().recording == this) {
        setMonitorOn(true);
        setWatchOn(true);
    }
}

void ShortcutView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect bounds = rect();
    m_cell.drawBezel(painter, bounds, m_model.recording, this);
    const int offset = ShortcutViewModel::titleOffset(m_cell.style());
    for (const auto &title : m_model.titles()) {
        using Placement = ShortcutViewModel::Placement;
        QRect frame = title.placement == Placement::CentredInShortcut ? shortcutRect() : bounds;
        frame.translate(0, offset);
        m_cell.drawTitle(painter, frame, title.text, title.placement == Placement::RightInBounds,
                         this);
    }
    if (m_acceptsFirstResponder && hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = bounds;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void ShortcutView::mousePressEvent(QMouseEvent *event)
{
    const auto click = event->button() == Qt::LeftButton
                           ? m_model.click(regionAt(event->position().toPoint()))
                           : ShortcutViewModel::Click::Ignore;
    switch (click) {
    case ShortcutViewModel::Click::Ignore: QWidget::mousePressEvent(event); return;
    case ShortcutViewModel::Click::StartRecording: setRecording(true); break;
    case ShortcutViewModel::Click::ClearValue: setShortcutValue(std::nullopt); break;
    case ShortcutViewModel::Click::StopRecording: setRecording(false); break;
    case ShortcutViewModel::Click::Nothing: break;
    }
    event->accept();
}

void ShortcutView::mouseMoveEvent(QMouseEvent *event)
{
    setHinting(hintRect().contains(event->position().toPoint()));
    QWidget::mouseMoveEvent(event);
}

void ShortcutView::enterEvent(QEnterEvent *event)
{
    setHinting(hintRect().contains(event->position().toPoint()));
    QWidget::enterEvent(event);
}

void ShortcutView::leaveEvent(QEvent *event)
{
    setHinting(false);
    QWidget::leaveEvent(event);
}

void ShortcutView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        m_model.enabled = isEnabled();
        if (!m_model.enabled) {
            setRecording(false);
            setHinting(false);
        }
        resetToolTips();
        update();
    }
    QWidget::changeEvent(event);
}

void ShortcutView::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void ShortcutView::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}

bool ShortcutView::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const auto region = regionAt(help->pos());
        const QString text = m_model.toolTip(region);
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this,
                               region == ShortcutViewModel::Region::Hint ? hintRect()
                                                                         : shortcutRect());
        }
        return true;
    }
    return QWidget::event(event);
}

} // namespace corvane
