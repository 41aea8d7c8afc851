#include "app/toolkit/qt/window_title.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>

namespace toolkit::qt {
namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name),
        nullptr);
    if (reply == nullptr) return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

void ClearWindowManagerTitle(QWidget& window) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return;
    xcb_connection_t* connection = x11->connection();
    const auto id = xcb_window_t(window.winId());
    const xcb_atom_t netWmName = Atom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = Atom(connection, "UTF8_STRING");
    if (netWmName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, netWmName, utf8, 8, 0, "");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        0, "");
    xcb_flush(connection);
}

}  // namespace toolkit::qt
