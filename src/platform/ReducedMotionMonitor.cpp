#include "platform/ReducedMotionMonitor.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QMap>

namespace quillby {

namespace {

using SettingsByNamespace = QMap<QString, QVariantMap>;

void registerTypes()
{
    static const bool registered = [] {
        // QtDBus matches the SettingChanged slot by its parameter types: QDBusVariant must be
        // known before the first connection, or the slot is not found and no change arrives.
        qRegisterMetaType<QDBusVariant>();
        qDBusRegisterMetaType<SettingsByNamespace>();
        return true;
    }();
    (void)registered;
}

// A value of a{sv} may still be wrapped (some portals wrap each value once more).
QVariant unwrapped(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

} // namespace

ReducedMotionMonitor::ReducedMotionMonitor(QDBusConnection bus, QString service, QObject *parent)
    : QObject(parent), bus_(std::move(bus)), service_(std::move(service))
{
    registerTypes();
    if (!bus_.isConnected()) {
        answered_ = true;
        return;
    }
    bus_.connect(service_, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"), this,
                 SLOT(onSettingChanged(QString, QString, QDBusVariant)));

    QDBusMessage read = QDBusMessage::createMethodCall(service_, kPortalPath, kSettingsInterface, QStringLiteral("ReadAll"));
    read << QStringList{kAppearanceNamespace, kGnomeInterfaceNamespace};
    auto *pending = new QDBusPendingCallWatcher(bus_.asyncCall(read), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const bool before = reduceMotion();
        const QDBusMessage reply = call->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const auto settings = qdbus_cast<SettingsByNamespace>(reply.arguments().constFirst());
            for (auto space = settings.constBegin(); space != settings.constEnd(); ++space) {
                for (auto entry = space.value().constBegin(); entry != space.value().constEnd(); ++entry) {
                    // A SettingChanged that came in meanwhile is newer than this answer.
                    const bool appearance = space.key() == kAppearanceNamespace;
                    if ((appearance && appearanceReduce_) || (!appearance && gnomeReduce_)) {
                        continue;
                    }
                    apply(space.key(), entry.key(), entry.value());
                }
            }
        }
        answered_ = true;
        if (reduceMotion() != before) {
            emit reduceMotionChanged(reduceMotion());
        }
        emit answered();
    });
}

bool ReducedMotionMonitor::reduceMotion() const
{
    if (appearanceReduce_) {
        return *appearanceReduce_;
    }
    return gnomeReduce_.value_or(false);
}

void ReducedMotionMonitor::apply(const QString &nameSpace, const QString &key, const QVariant &raw)
{
    const QVariant value = unwrapped(raw);
    if (nameSpace == kAppearanceNamespace && key == kReducedMotionKey) {
        bool ok = false;
        const uint preference = value.toUInt(&ok);
        if (ok) {
            appearanceReduce_ = preference == 1;
        }
    } else if (nameSpace == kGnomeInterfaceNamespace && key == kEnableAnimationsKey) {
        if (value.metaType().id() == QMetaType::Bool) {
            gnomeReduce_ = !value.toBool();
        }
    }
}

void ReducedMotionMonitor::onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value)
{
    const bool before = reduceMotion();
    apply(nameSpace, key, value.variant());
    if (reduceMotion() != before) {
        emit reduceMotionChanged(reduceMotion());
    }
}

} // namespace quillby
