#include "app/qt/TwoLineRow.h"

#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionMenuItem>

namespace corvane {

TwoLineRow::TwoLineRow(QWidgetAction *action, QWidget *parent) : QWidget(parent), m_action(action)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setMouseTracking(false);
}

void TwoLineRow::setContent(const RowContent &content)
{
    m_content = content;
    updateGeometry();
    update();
}

QSize TwoLineRow::sizeHint() const
{
    const QFontMetrics primary(font());
    const QFontMetrics secondary(secondaryFont());
    const int shortcut =
        m_content.shortcut.isEmpty() ? 0 : primary.horizontalAdvance(m_content.shortcut) + 24;
    const int text = qMax(primary.horizontalAdvance(m_content.primary) + shortcut,
                          secondary.horizontalAdvance(m_content.secondary));
    const int height = qMax(primary.height() + secondary.height() + 6,
                            int(m_content.icon.deviceIndependentSize().height()) + 4);
    return QSize(leftMargin() + text + 36, height);
}

void TwoLineRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    auto *menu = qobject_cast<QMenu *>(parentWidget());
    const bool enabled = m_action->isEnabled();
    const bool selected = enabled && menu && menu->activeAction() == m_action;
    if (selected) {
        QStyleOptionMenuItem option;
        option.initFrom(this);
        option.rect = rect();
        option.menuItemType = QStyleOptionMenuItem::Normal;
        option.state |= QStyle::State_Selected | QStyle::State_Enabled;
        style()->drawControl(QStyle::CE_MenuItem, &option, &painter, menu);
    }
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    const QColor primaryColor =
        palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor secondaryColor = primaryColor;
    if (!selected && m_content.secondaryDisabled)
        secondaryColor = palette().color(QPalette::Disabled, QPalette::Text);

    if (!m_content.icon.isNull()) {
        const QSizeF size = m_content.icon.deviceIndependentSize();
        painter.drawImage(QPointF(4, (height() - size.height()) / 2), m_content.icon);
    }
    const QFontMetrics primaryMetrics(font());
    const int x = leftMargin();
    const int top =
        (height() - primaryMetrics.height() - QFontMetrics(secondaryFont()).height()) / 2;
    painter.setPen(primaryColor);
    painter.drawText(QRect(x, top, width() - x, primaryMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, m_content.primary);
    if (!m_content.shortcut.isEmpty())
        painter.drawText(QRect(x, top, width() - x - 24, primaryMetrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, m_content.shortcut);
    painter.setFont(secondaryFont());
    painter.setPen(secondaryColor);
    painter.drawText(QRect(x, top + primaryMetrics.height(), width() - x,
                           QFontMetrics(secondaryFont()).height()),
                     Qt::AlignLeft | Qt::AlignVCenter, m_content.secondary);
    if (m_content.hasSubmenu) {
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = QRect(width() - 18, (height() - 12) / 2, 12, 12);
        if (selected)
            arrow.palette.setColor(QPalette::ButtonText, primaryColor);
        style()->drawPrimitive(QStyle::PE_IndicatorArrowRight, &arrow, &painter, this);
    }
}

QFont TwoLineRow::secondaryFont() const
{
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() > 0 ? small.pointSizeF() * 0.85 : 8);
    return small;
}

void TwoLineAction::setContent(const RowContent &content)
{
    m_content = content;
    for (QWidget *widget : createdWidgets())
        static_cast<TwoLineRow *>(widget)->setContent(content);
}

void TwoLineAction::repaintRows()
{
    for (QWidget *widget : createdWidgets())
        widget->update();
}

bool TwoLineAction::event(QEvent *event)
{
    // A menu places only the widgets of its visible rows: a hidden row's
    // widget would stay where the row was and paint over what moved there.
    if (event->type() == QEvent::ActionChanged && !isVisible()) {
        for (QWidget *widget : createdWidgets())
            widget->hide();
    }
    return QWidgetAction::event(event);
}

QWidget *TwoLineAction::createWidget(QWidget *parent)
{
    auto *row = new TwoLineRow(this, parent);
    row->setContent(m_content);
    return row;
}

} // namespace corvane
