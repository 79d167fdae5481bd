#pragma once

#include "settings/SettingsCoordinator.h"
#include "settings/SettingsViewModel.h"

#include <functional>
#include <memory>

namespace quillby {

class AppNotifications;
class ConfigurationManager;
class DesktopNotifications;
class GlucoseAlertNotificationDelivering;
class HistoryCoordinator;
class LoginItemManaging;
class UpdateChecking;

// The long-lived services every settings model is built over; the composition root fills it
// once.
struct SettingsEnvironment {
    ConfigurationManager *configurationManager = nullptr;
    HistoryCoordinator *historyCoordinator = nullptr;        // optional
    AppNotifications *notifications = nullptr;
    std::shared_ptr<UpdateChecking> updateChecker;
    // The system's login item (default: the XDG autostart entry of the running program).
    std::shared_ptr<LoginItemManaging> loginItemManager;
    // The desktop notification service the test alert goes through.
    std::shared_ptr<DesktopNotifications> notificationCenter;
    // The provider clients sign-in proves credentials with (default: the real ones).
    GlucoseAPIFactory makeAPIClient;
    SettingsViewModel::Options options;
};

// A new settings model over the shared services: a new account service, a new launch-at-login
// service and a new alert delivery (not yet having asked for permission) on the shared desktop
// notification service. Cannot fail.
std::unique_ptr<SettingsViewModel> makeSettingsViewModel(const SettingsEnvironment &environment);

} // namespace quillby
