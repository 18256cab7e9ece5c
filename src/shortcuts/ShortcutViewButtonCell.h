#pragma once

#include "shortcuts/ShortcutViewModel.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class QPainter;
class QWidget;

namespace corvane {

// Draws a shortcut recorder: a push-on-push-off button face whose bezel
// follows the recorder's style, and its titles.
class ShortcutViewButtonCell {
public:
    using Style = ShortcutViewModel::Style;

    ShortcutViewButtonCell();

    Style style() const { return m_style; }
    void setStyle(Style style) { m_style = style; }
    // The face of the widget at 11 points of the Mac's scale, where a point
    // is a logical pixel; 11 pixels here.
    QFont font() const { return m_font; }
    void setFont(const QFont &font);
    int fontSize() const;

    // A button's size for the font; the width is the caller's.
    QSize cellSize(const QWidget *widget) const;
    // The width a centred title needs to show whole.
    int widthForTitle(const QString &title) const;

    // No bezel for Style::None. On: pressed, as while recording.
    void drawBezel(QPainter &painter, const QRect &bounds, bool on, const QWidget *widget) const;
    // Vertically centred; right-aligned titles keep clear of rounded ends.
    void drawTitle(QPainter &painter, const QRect &rect, const QString &title, bool rightAligned,
                   const QWidget *widget) const;

private:
    Style m_style = Style::RoundRect;
    QFont m_font;
};

} // namespace corvane
