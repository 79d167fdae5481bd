#pragma once

#include <QAbstractNativeEventFilter>
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QDBusServiceWatcher;

namespace quillby {

// Tells whether a tray host runs, and when that changes, without asking again and again:
// - a StatusNotifierItem host: the bus name org.kde.StatusNotifierWatcher, followed with a
//   QDBusServiceWatcher (one asynchronous question at start, then the bus's own notices);
// - on X11, an XEmbed system tray: the owner of the _NET_SYSTEM_TRAY_S<screen> selection, which
//   announces itself with a MANAGER message to the root window and is followed until its window
//   is destroyed.
// Main thread only.
class TrayHostMonitor : public QObject, private QAbstractNativeEventFilter {
    Q_OBJECT
public:
    static inline const QString kStatusNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

    // `watchXEmbed`: also follow an XEmbed tray (only on the xcb platform; elsewhere ignored).
    explicit TrayHostMonitor(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QString watcherService = kStatusNotifierWatcher, bool watchXEmbed = true,
                             QObject *parent = nullptr);
    ~TrayHostMonitor() override;

    bool isAvailable() const { return statusNotifierHost_ || xembedTrayWindow_ != 0; }
    bool hasStatusNotifierHost() const { return statusNotifierHost_; }
    bool hasXEmbedTray() const { return xembedTrayWindow_ != 0; }

signals:
    void availabilityChanged(bool available);

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void setStatusNotifierHost(bool present);
    void startXEmbed();
    // Looks up the selection's owner now and follows its window; 0 when there is none.
    void followXEmbedOwner(std::uint32_t window);
    void notifyIfChanged(bool wasAvailable);

    QDBusConnection bus_;
    QString watcherService_;
    QDBusServiceWatcher *serviceWatcher_ = nullptr;
    bool statusNotifierHost_ = false;
    bool initialAnswerPending_ = true;

    // X11 (xcb) state; unused elsewhere.
    void *xcbConnection_ = nullptr;
    std::uint32_t trayAtom_ = 0;
    std::uint32_t managerAtom_ = 0;
    std::uint32_t xembedTrayWindow_ = 0;
};

} // namespace quillby
