#include "platform/gui/Activation.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace varnel {

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The startup notification protocol's "remove" message for `startupId`,
// sent to the root window in pieces of 20 bytes, as launchers listen for it.
void EndStartupNotice(const QWidget* window, const QByteArray& startupId) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || startupId.isEmpty())
        return;
    xcb_connection_t* connection = x11->connection();
    QByteArray message = "remove: ID=";
    for (const char c : startupId) {
        if (c == ' ' || c == '"' || c == '\\')
            message += '\\';
        message += c;
    }
    message += '\0';
    const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    for (qsizetype at = 0; at < message.size(); at += 20) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = xcb_window_t(window->winId());
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, message.constData() + at,
                    std::min<qsizetype>(20, message.size() - at));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(connection);
}

} // namespace

void BringForward(QWidget* window, const ShowRequest& request) {
    // Before its opening sequence has ended the window is not shown yet; the
    // box that sequence holds open is.
    if (!window->isHidden())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    QWidget* front = QApplication::activeModalWidget();
    if (!front)
        front = window;
    // The toolkit hands this token to the compositor with the activation.
    if (!request.activationToken.isEmpty() && QGuiApplication::platformName() == "wayland")
        qputenv("XDG_ACTIVATION_TOKEN", request.activationToken);
    front->raise();
    front->activateWindow();
    EndStartupNotice(front, request.startupId);
}

} // namespace varnel
