#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace quillby {

// The desktop's "reduce motion" wish, read from the XDG desktop portal's settings
// (org.freedesktop.portal.Settings) and followed while it changes:
// - "org.freedesktop.appearance" "reduced-motion" (1: reduce, 0: no preference), where the
//   portal offers it;
// - otherwise GNOME's "org.gnome.desktop.interface" "enable-animations" (false: reduce).
// Read asynchronously; without a portal (or either key) motion is not reduced.
// Main thread only.
class ReducedMotionMonitor : public QObject {
    Q_OBJECT
public:
    static inline const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
    static inline const QString kAppearanceNamespace = QStringLiteral("org.freedesktop.appearance");
    static inline const QString kReducedMotionKey = QStringLiteral("reduced-motion");
    static inline const QString kGnomeInterfaceNamespace = QStringLiteral("org.gnome.desktop.interface");
    static inline const QString kEnableAnimationsKey = QStringLiteral("enable-animations");

    explicit ReducedMotionMonitor(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QString service = kPortalService, QObject *parent = nullptr);

    bool reduceMotion() const;
    // True once the portal's first answer (or its absence) is known.
    bool hasAnswered() const { return answered_; }

signals:
    void reduceMotionChanged(bool reduce);
    // The first answer is in (whatever it said).
    void answered();

private slots:
    void onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void apply(const QString &nameSpace, const QString &key, const QVariant &value);

    QDBusConnection bus_;
    QString service_;
    std::optional<bool> appearanceReduce_;   // from org.freedesktop.appearance
    std::optional<bool> gnomeReduce_;        // from org.gnome.desktop.interface
    bool answered_ = false;
};

} // namespace quillby
