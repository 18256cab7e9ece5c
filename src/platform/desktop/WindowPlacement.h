#pragma once

#include <QMargins>
#include <QRect>

namespace corvane::WindowPlacement {

// Where a frame of that size lies wholly in `available`: no larger than it,
// centred in it.
QRect centredWithin(const QRect &available, const QSize &frameSize);

// Where a submenu's frame of `size` opens beside its parent menu's frame
// `parent`, its top at `top`: against the parent, over its edge by
// `overlap` (the frames' shared border), on the side the parent itself
// opened to (`leftward`), else on the other side when only that one has
// room, else on the side with more room, as far from the parent as
// `available` allows. Moved up, then down, to lie within `available`.
struct SubmenuSpot {
    QPoint topLeft;
    bool leftward = false;
    bool operator==(const SubmenuSpot &) const = default;
};
SubmenuSpot besideParent(const QRect &parent, int top, const QSize &size, int overlap,
                         const QRect &available, bool leftward);

// The free area of the screen that holds the pointer, else of the primary
// screen; empty without a screen.
QRect pointerScreenArea();

// Where a window's frame is not known before it shows (X11), room is left for
// the one the window manager will add.
inline constexpr QMargins unknownFrame{6, 32, 6, 8};

// Places a top-level widget that opens for the first time wholly on the
// screen that holds the pointer, centred there, made smaller when it does
// not fit. Call before showing it.
template <class Widget> void placeOnPointerScreen(Widget &window)
{
    const QRect area = pointerScreenArea();
    if (area.isEmpty())
        return;
    // The size it will show with, as showing would give it.
    if (!window.testAttribute(Qt::WA_Resized))
        window.adjustSize();
    // Platforms that know the frame before the window shows tell it now.
    window.winId();
    const QRect frame = window.frameGeometry();
    const QRect content = window.geometry();
    const QMargins known(content.left() - frame.left(), content.top() - frame.top(),
                         frame.right() - content.right(), frame.bottom() - content.bottom());
    const QMargins margins = known.isNull() ? unknownFrame : known;
    const QRect placed = centredWithin(area, content.size().grownBy(margins));
    const QSize size = placed.size().shrunkBy(margins);
    if (size != content.size())
        window.resize(size);
    // Once its frame is known a window is placed by its frame; until then,
    // by its content, inside the room left for the frame.
    window.move(known.isNull() ? placed.topLeft() + QPoint(margins.left(), margins.top())
                               : placed.topLeft());
}

} // namespace corvane::WindowPlacement
