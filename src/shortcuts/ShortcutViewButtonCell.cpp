#include "shortcuts/ShortcutViewButtonCell.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QWidget>

namespace corvane {

namespace {

constexpr int kFontPixels = 11;
// Keeps titles off the bezel's edge.
constexpr int kTitleInset = 4;

QStyle *styleOf(const QWidget *widget)
{
    return widget ? widget->style() : QApplication::style();
}

} // namespace

ShortcutViewButtonCell::ShortcutViewButtonCell()
{
    QFont face = QApplication::font("QPushButton");
    face.setPixelSize(kFontPixels);
    m_font = face;
}

void ShortcutViewButtonCell::setFont(const QFont &font)
{
    m_font = font;
}

int ShortcutViewButtonCell::fontSize() const
{
    return m_font.pixelSize() > 0 ? m_font.pixelSize() : QFontMetrics(m_font).height();
}

QSize ShortcutViewButtonCell::cellSize(const QWidget *widget) const
{
    const QFontMetrics metrics(m_font);
    const QSize text(metrics.horizontalAdvance(QStringLiteral("Record Shortcut")),
                     metrics.height());
    if (m_style == Style::None)
        return text + QSize(0, 4);
    QStyleOptionButton option;
    if (widget)
        option.initFrom(widget);
    option.fontMetrics = metrics;
    return styleOf(widget)->sizeFromContents(QStyle::CT_PushButton, &option, text, widget);
}

int ShortcutViewButtonCell::widthForTitle(const QString &title) const
{
    return QFontMetrics(m_font).horizontalAdvance(title) + 2 * kTitleInset;
}

void ShortcutViewButtonCell::drawBezel(QPainter &painter, const QRect &bounds, bool on,
                                       const QWidget *widget) const
{
    if (m_style == Style::None)
        return;
    QStyle *style = styleOf(widget);
    QStyleOptionButton option;
    if (widget)
        option.initFrom(widget);
    option.rect = bounds;
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    option.state |= on ? (QStyle::State_On | QStyle::State_Sunken) : QStyle::State_Raised;
    switch (m_style) {
    case Style::RoundRect: {
        // A light field with a thin rounded frame; the frame lights up while
        // recording.
        QStyleOptionFrame frame;
        if (widget)
            frame.initFrom(widget);
        frame.rect = bounds;
        frame.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, widget);
        frame.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        if (on)
            frame.state |= QStyle::State_HasFocus;
        style->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, widget);
        break;
    }
    case Style::TexturedRounded:
        // A toolbar's darker face.
        option.palette.setColor(QPalette::Button,
                                option.palette.color(QPalette::Button).darker(115));
        style->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, widget);
        break;
    case Style::Rounded:
        style->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, widget);
        break;
    case Style::RegularSquare:
        style->drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, widget);
        break;
    case Style::None: break;
    }
}

void ShortcutViewButtonCell::drawTitle(QPainter &painter, const QRect &rect, const QString &title,
                                       bool rightAligned, const QWidget *widget) const
{
    QRect frame = rect;
    // The rounded bezels' right ends curve in: right-aligned marks keep off.
    if (rightAligned && m_style == Style::TexturedRounded)
        frame.adjust(7, 0, -7, 0);
    else if (rightAligned && m_style == Style::Rounded)
        frame.adjust(0, 0, -14, 0);
    else
        frame.adjust(kTitleInset, 0, -kTitleInset, 0);
    const QFontMetrics metrics(m_font);
    const QString shown = metrics.elidedText(title, Qt::ElideRight, std::max(0, frame.width()));
    const Qt::Alignment alignment =
        Qt::AlignVCenter | (rightAligned ? Qt::AlignRight : Qt::AlignHCenter);
    painter.save();
    painter.setFont(m_font);
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    const bool enabled = !widget || widget->isEnabled();
    styleOf(widget)->drawItemText(&painter, frame, int(alignment), palette, enabled, shown,
                                  QPalette::ButtonText);
    painter.restore();
}

} // namespace corvane
