#pragma once

#include <QObject>

namespace quillby {

// The application's own notifications: "ConfigurationDidUpdate" (the stored account changed;
// the shell reruns its account step) and "AppSettingsDidUpdate" (the app settings were saved;
// the status item presents again). The composition root makes one and hands it to whoever
// posts or listens; it outlives them all.
class AppNotifications : public QObject {
    Q_OBJECT
public:
    static inline const char *const kConfigurationDidUpdate = "ConfigurationDidUpdate";
    static inline const char *const kAppSettingsDidUpdate = "AppSettingsDidUpdate";

    void postConfigurationDidUpdate(bool skipInitialRefresh = false) { emit configurationDidUpdate(skipInitialRefresh); }
    void postAppSettingsDidUpdate() { emit appSettingsDidUpdate(); }

signals:
    void configurationDidUpdate(bool skipInitialRefresh);
    void appSettingsDidUpdate();
};

} // namespace quillby
