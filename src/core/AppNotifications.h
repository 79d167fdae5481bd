#pragma once

#include <QObject>

namespace quillby {

// The process's own notifications, posted with no object:
// "ConfigurationDidUpdate" (the stored account changed; the shell reruns its account step)
// and "AppSettingsDidUpdate" (the app settings were saved; the status item presents again).
class AppNotifications : public QObject {
    Q_OBJECT
public:
    static inline const char *const kConfigurationDidUpdate = "ConfigurationDidUpdate";
    static inline const char *const kAppSettingsDidUpdate = "AppSettingsDidUpdate";

    static AppNotifications &shared();

    void postConfigurationDidUpdate(bool skipInitialRefresh = false) { emit configurationDidUpdate(skipInitialRefresh); }
    void postAppSettingsDidUpdate() { emit appSettingsDidUpdate(); }

signals:
    void configurationDidUpdate(bool skipInitialRefresh);
    void appSettingsDidUpdate();
};

} // namespace quillby
