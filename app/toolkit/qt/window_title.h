// The window's title as the window manager reads it.
#pragma once

#include <QWidget>

namespace toolkit::qt {

// Writes an empty title into both X properties a window manager shows (WM_NAME and
// _NET_WM_NAME): for an empty title Qt writes the application's name instead. Does nothing on
// platforms other than X11. The widget gets its native window here if it had none.
void ClearWindowManagerTitle(QWidget& window);

}  // namespace toolkit::qt
