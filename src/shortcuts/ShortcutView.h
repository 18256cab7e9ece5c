#pragma once

#include "platform/defaults/UserDefaults.h"
#include "shortcuts/ShortcutViewButtonCell.h"
#include "shortcuts/ShortcutViewModel.h"

#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;

namespace corvane {

class ShortcutValidator;

// How a shortcut is kept under a user-defaults key. Without a reverse
// transformation nothing is written.
struct ShortcutValueTransformer {
    std::function<std::optional<Shortcut>(const std::optional<QVariant> &stored)> transformedValue;
    // Nothing: the key is removed.
    std::function<std::optional<QVariant>(const std::optional<Shortcut> &shortcut)>
        reverseTransformedValue;

    // The program's own form: a keyed archive, no shortcut no key.
    static ShortcutValueTransformer keyedArchive();
    // {"keyCode", "modifierFlags"}; no shortcut is an empty dictionary.
    static ShortcutValueTransformer dictionary();
};

// A button-like control in which the user records a keyboard shortcut: a
// click starts recording, the next combination typed anywhere in the
// program is checked and becomes the value, usually stored straight under a
// user-defaults key. At most one recorder records at a time; while one does,
// the program's global hot keys are lifted so that their combinations reach
// it. Main thread.
class ShortcutView : public QWidget {
    Q_OBJECT

public:
    using Style = ShortcutViewModel::Style;
    using ValueChange = std::function<void(ShortcutView *view)>;

    explicit ShortcutView(QWidget *parent = nullptr);
    ~ShortcutView() override;

    ShortcutViewButtonCell &shortcutCell() { return m_cell; }
    const ShortcutViewButtonCell &shortcutCell() const { return m_cell; }

    bool isRecording() const { return m_model.recording; }
    // Starting stops any other recorder; a disabled view does not start.
    void setRecording(bool recording);
    bool isHinting() const { return m_model.hinting; }
    void setHinting(bool hinting);
    bool showsDeleteButton() const { return m_model.showsDeleteButton; }
    void setShowsDeleteButton(bool shows);

    std::optional<Shortcut> shortcutValue() const { return m_model.value; }
    // Stores the value under the associated key, then calls the change
    // callback.
    void setShortcutValue(const std::optional<Shortcut> &value);
    std::shared_ptr<ShortcutValidator> shortcutValidator() const { return m_model.validator; }
    // nullptr: every combination with a key name is accepted.
    void setShortcutValidator(std::shared_ptr<ShortcutValidator> validator);
    // Called after every change of the value.
    void setShortcutValueChange(ValueChange change) { m_valueChange = std::move(change); }

    // QWidget owns style() and setStyle(QStyle *).
    Style shortcutStyle() const { return m_cell.style(); }
    void setShortcutStyle(Style style);
    QString shortcutPlaceholder() const { return m_model.placeholder; }
    // Shown while recording in place of the prompt.
    void setShortcutPlaceholder(const QString &placeholder);

    // Off by default: the view takes no keyboard focus.
    bool acceptsFirstResponder() const { return m_acceptsFirstResponder; }
    void setAcceptsFirstResponder(bool accepts);

    // Shows the shortcut stored under the key, follows its changes and
    // stores each new value there. An empty key ends the association.
    // nullptr defaults: the standard ones.
    void setAssociatedUserDefaultsKey(const QString &key,
                                      std::shared_ptr<UserDefaults> defaults = nullptr);
    void setAssociatedUserDefaultsKey(const QString &key, ShortcutValueTransformer transformer,
                                      std::shared_ptr<UserDefaults> defaults = nullptr);
    QString associatedUserDefaultsKey() const { return m_binding ? m_binding->key : QString(); }

    QRect shortcutRect() const;
    QRect hintRect() const;
    QString toolTipAt(const QPoint &point) const;
    QString accessibleLabel() const { return m_model.accessibleName(); }
    // Starts recording; false, doing nothing, while recording.
    bool accessibilityPerformPress();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The recorder now recording, if any.
    static ShortcutView *recordingView();
    // Replaces the system beep that refuses a combination (tests).
    static void setBeepHandler(std::function<void()> beep);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;

private:
    friend class ShortcutKeyMonitor;

    struct Binding {
        QString key;
        std::shared_ptr<UserDefaults> defaults;
        ShortcutValueTransformer transformer;
        UserDefaults::ObservationPtr observation;
    };

    // A key event while recording; true when it is used up here.
    bool handleKey(QKeyEvent *event);
    void showTakenAlert(const ShortcutViewModel::KeyVerdict &verdict);
    ShortcutViewModel::Region regionAt(const QPoint &point) const;
    int hintWidth() const;
    void valueChanged();
    void readBoundValue();
    void writeBoundValue();
    void resetToolTips();

    ShortcutViewButtonCell m_cell;
    ShortcutViewModel m_model;
    ValueChange m_valueChange;
    bool m_acceptsFirstResponder = false;
    std::optional<Binding> m_binding;
};

} // namespace corvane
