#include "key_repeat.h"

#include <QGuiApplication>

// The XKB header names a field "explicit", a keyword of C++.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>

// Qt's X11 event reader runs on a thread of its own and queues the input as it comes, ahead
// of anything posted after it.
bool PostedEventsPassInput() {
    return false;
}

bool ReleasesMayBeRepeats() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    // A release that the paired press follows too late (a busy machine delays the event
    // reader) would otherwise read as the key's real release: a stop and a new start in the
    // middle of a held movement. With presses alone, every release is real.
    constexpr uint32_t kDetectable = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    xcb_connection_t* connection = x11->connection();
    const xcb_xkb_per_client_flags_cookie_t cookie = xcb_xkb_per_client_flags(
        connection, XCB_XKB_ID_USE_CORE_KBD, kDetectable, kDetectable, 0, 0, 0);
    xcb_xkb_per_client_flags_reply_t* reply =
        xcb_xkb_per_client_flags_reply(connection, cookie, nullptr);
    const bool detectable = reply && (reply->value & kDetectable) != 0;
    std::free(reply);
    return !detectable;
}
