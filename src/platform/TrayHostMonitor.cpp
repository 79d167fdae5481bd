#include "platform/TrayHostMonitor.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QPointer>

#include <xcb/xcb.h>

#include <cstdlib>

namespace quillby {

namespace {

std::uint32_t internAtom(xcb_connection_t *connection, const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.constData()), nullptr);
    if (!reply) {
        return 0;
    }
    const std::uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

// Adds structure notices (window destroyed, and the MANAGER messages sent to the root window)
// to what this connection already receives for `window`, keeping what Qt asked for.
void addStructureNotify(xcb_connection_t *connection, xcb_window_t window)
{
    xcb_get_window_attributes_reply_t *attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    if (!attributes) {
        return;   // the window is already gone
    }
    const std::uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    std::free(attributes);
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
}

} // namespace

TrayHostMonitor::TrayHostMonitor(QDBusConnection bus, QString watcherService, bool watchXEmbed, QObject *parent)
    : QObject(parent), bus_(std::move(bus)), watcherService_(std::move(watcherService))
{
    if (bus_.isConnected()) {
        serviceWatcher_ = new QDBusServiceWatcher(watcherService_, bus_,
                                                  QDBusServiceWatcher::WatchForRegistration |
                                                      QDBusServiceWatcher::WatchForUnregistration,
                                                  this);
        connect(serviceWatcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
            initialAnswerPending_ = false;
            setStatusNotifierHost(true);
        });
        connect(serviceWatcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            initialAnswerPending_ = false;
            setStatusNotifierHost(false);
        });
        // Whether the host runs already: asked once, without waiting for the answer.
        QDBusMessage question = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        question << watcherService_;
        auto *pending = new QDBusPendingCallWatcher(bus_.asyncCall(question), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
            call->deleteLater();
            const QDBusPendingReply<bool> reply = *call;
            // A notice that came in meanwhile is newer than this answer.
            if (initialAnswerPending_ && !reply.isError()) {
                initialAnswerPending_ = false;
                setStatusNotifierHost(reply.value());
            }
        });
    }
    if (watchXEmbed) {
        startXEmbed();
    }
}

TrayHostMonitor::~TrayHostMonitor()
{
    if (QCoreApplication *application = QCoreApplication::instance(); application && xcbConnection_) {
        application->removeNativeEventFilter(this);
    }
}

void TrayHostMonitor::setStatusNotifierHost(bool present)
{
    const bool wasAvailable = isAvailable();
    statusNotifierHost_ = present;
    notifyIfChanged(wasAvailable);
}

void TrayHostMonitor::notifyIfChanged(bool wasAvailable)
{
    if (isAvailable() != wasAvailable) {
        emit availabilityChanged(isAvailable());
    }
}

void TrayHostMonitor::startXEmbed()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) {
        return;
    }
    auto *connection = x11->connection();
    const xcb_setup_t *setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (screens.rem == 0) {
        return;
    }
    // The tray of the default screen, as Qt's own tray icon uses it.
    trayAtom_ = internAtom(connection, QByteArrayLiteral("_NET_SYSTEM_TRAY_S0"));
    managerAtom_ = internAtom(connection, QByteArrayLiteral("MANAGER"));
    if (trayAtom_ == 0 || managerAtom_ == 0) {
        return;
    }
    xcbConnection_ = connection;
    QCoreApplication::instance()->installNativeEventFilter(this);
    addStructureNotify(connection, screens.data->root);

    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, trayAtom_), nullptr);
    const xcb_window_t window = owner ? owner->owner : XCB_NONE;
    std::free(owner);
    followXEmbedOwner(window);
}

void TrayHostMonitor::followXEmbedOwner(std::uint32_t window)
{
    const bool wasAvailable = isAvailable();
    xembedTrayWindow_ = window;
    if (window != XCB_NONE) {
        addStructureNotify(static_cast<xcb_connection_t *>(xcbConnection_), window);
    }
    notifyIfChanged(wasAvailable);
}

bool TrayHostMonitor::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!xcbConnection_ || eventType != "xcb_generic_event_t") {
        return false;
    }
    auto *event = static_cast<xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_CLIENT_MESSAGE: {
        auto *client = reinterpret_cast<xcb_client_message_event_t *>(event);
        // A tray manager took the selection: data is (time, selection, owner window, ...).
        if (client->type == managerAtom_ && client->format == 32 && client->data.data32[1] == trayAtom_) {
            followXEmbedOwner(client->data.data32[2]);
        }
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        auto *destroyed = reinterpret_cast<xcb_destroy_notify_event_t *>(event);
        if (xembedTrayWindow_ != 0 && destroyed->window == xembedTrayWindow_) {
            // Another tray may have taken over already; its MANAGER message follows otherwise.
            auto *connection = static_cast<xcb_connection_t *>(xcbConnection_);
            xcb_get_selection_owner_reply_t *owner =
                xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, trayAtom_), nullptr);
            const xcb_window_t window = owner && owner->owner != destroyed->window ? owner->owner : XCB_NONE;
            std::free(owner);
            followXEmbedOwner(window);
        }
        break;
    }
    default:
        break;
    }
    return false;   // Qt's own tray handling sees every event too
}

} // namespace quillby
