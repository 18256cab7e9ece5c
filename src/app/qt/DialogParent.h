#pragma once

class QWidget;
class QWindow;

namespace corvane {

// The window a dialog opened from `window` belongs to, so that it comes up in
// front of it: that window, else the program's active window; never a menu
// or the status button. None when no such window is shown.
QWidget *dialogParent(QWindow *window);

} // namespace corvane
