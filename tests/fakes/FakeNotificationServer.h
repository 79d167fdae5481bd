#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quillby::test {

// An in-process org.freedesktop.Notifications server for tests. It connects to the bus on a
// connection of its own (so calls to it go through the bus daemon, as to a real server) and
// owns a unique service name, which the client under test is given instead of the real one.
// It records every call and can refuse notifications or emit the server's signals.
class FakeNotificationServer {
public:
    struct Notification {
        quint32 id = 0;
        QString appName;
        quint32 replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        qint32 expireTimeout = 0;
    };

    // `bus` is the address of a private bus; empty: the session bus. `service` is the name to
    // own; empty: a unique one.
    explicit FakeNotificationServer(const QString &busAddress = {}, const QString &service = {})
        : connectionName_(QStringLiteral("quillby-fake-notifications-%1").arg(nextNumber())),
          service_(!service.isEmpty() ? service
                                      : QStringLiteral("org.quillby.test.Notifications.p%1.n%2")
                                            .arg(QCoreApplication::applicationPid())
                                            .arg(nextNumber())),
          connection_(busAddress.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_)
                                           : QDBusConnection::connectToBus(busAddress, connectionName_)),
          object_(std::make_unique<Object>(*this))
    {
        if (connection_.isConnected()) {
            connection_.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), object_.get());
            registered_ = connection_.registerService(service_);
        }
    }

    ~FakeNotificationServer()
    {
        connection_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        connection_.unregisterService(service_);
        QDBusConnection::disconnectFromBus(connectionName_);
    }

    FakeNotificationServer(const FakeNotificationServer &) = delete;
    FakeNotificationServer &operator=(const FakeNotificationServer &) = delete;

    bool isRegistered() const { return registered_; }
    const QString &service() const { return service_; }

    // The server goes away (as if its process ended): its name is released.
    void stop()
    {
        connection_.unregisterService(service_);
        registered_ = false;
    }

    void emitActionInvoked(quint32 id, const QString &actionKey)
    {
        emitSignal(QStringLiteral("ActionInvoked"), {QVariant::fromValue(id), actionKey});
    }
    void emitNotificationClosed(quint32 id, quint32 reason)
    {
        emitSignal(QStringLiteral("NotificationClosed"), {QVariant::fromValue(id), QVariant::fromValue(reason)});
    }

    // Configuration: a D-Bus error name makes Notify fail with it.
    QString notifyErrorName;
    // Called after a notification was shown and its id sent back.
    std::function<void(const Notification &)> onNotify;

    // Records.
    std::vector<Notification> notifications;
    std::vector<quint32> closeRequests;
    int serverInformationCalls = 0;

private:
    class Object final : public QDBusVirtualObject {
    public:
        explicit Object(FakeNotificationServer &server) : server_(server) {}
        QString introspect(const QString &) const override { return {}; }
        bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
        {
            return server_.handle(message, connection);
        }

    private:
        FakeNotificationServer &server_;
    };

    static int nextNumber()
    {
        static std::atomic<int> counter{0};
        return ++counter;
    }

    bool handle(const QDBusMessage &message, const QDBusConnection &connection)
    {
        if (message.type() != QDBusMessage::MethodCallMessage) {
            return false;
        }
        const QString member = message.member();
        const QVariantList args = message.arguments();
        QDBusMessage reply;
        if (member == QLatin1String("GetServerInformation")) {
            ++serverInformationCalls;
            reply = message.createReply(QVariantList{QStringLiteral("fake-notifications"), QStringLiteral("Quillby tests"),
                                                     QStringLiteral("1.0"), QStringLiteral("1.2")});
        } else if (member == QLatin1String("GetCapabilities")) {
            reply = message.createReply(QVariantList{QStringList{QStringLiteral("body"), QStringLiteral("actions"),
                                                                 QStringLiteral("sound")}});
        } else if (member == QLatin1String("Notify") && args.size() == 8) {
            if (!notifyErrorName.isEmpty()) {
                reply = message.createErrorReply(notifyErrorName, QStringLiteral("refused by the fake server"));
            } else {
                Notification n;
                n.id = ++lastId_;
                n.appName = args[0].toString();
                n.replacesId = args[1].toUInt();
                n.appIcon = args[2].toString();
                n.summary = args[3].toString();
                n.body = args[4].toString();
                n.actions = args[5].toStringList();
                n.hints = qdbus_cast<QVariantMap>(args[6]);
                n.expireTimeout = args[7].toInt();
                notifications.push_back(n);
                reply = message.createReply(QVariantList{QVariant::fromValue(n.id)});
                connection.send(reply);
                if (onNotify) {
                    onNotify(n);
                }
                return true;
            }
        } else if (member == QLatin1String("CloseNotification") && args.size() == 1) {
            const quint32 id = args[0].toUInt();
            closeRequests.push_back(id);
            reply = message.createReply();
            connection.send(reply);
            emitNotificationClosed(id, 3);
            return true;
        } else {
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member);
        }
        connection.send(reply);
        return true;
    }

    void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"), name);
        signal.setArguments(arguments);
        connection_.send(signal);
    }

    QString connectionName_;
    QString service_;
    QDBusConnection connection_;
    std::unique_ptr<Object> object_;
    bool registered_ = false;
    quint32 lastId_ = 0;
};

} // namespace quillby::test
