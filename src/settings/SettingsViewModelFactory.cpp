#include "settings/SettingsViewModelFactory.h"

#include "core/AppNotifications.h"
#include "platform/DesktopNotifications.h"
#include "platform/LoginItemManager.h"
#include "polling/UserNotificationGlucoseAlertDelivery.h"
#include "settings/LoginItemSettingsService.h"

namespace quillby {

std::unique_ptr<SettingsViewModel> makeSettingsViewModel(const SettingsEnvironment &environment)
{
    auto coordinator = std::make_shared<SettingsCoordinator>(
        *environment.configurationManager, environment.makeAPIClient, environment.historyCoordinator,
        *environment.notifications);
    std::shared_ptr<LoginItemManaging> manager =
        environment.loginItemManager ? environment.loginItemManager : std::make_shared<LoginItemManager>();
    auto loginItemService = std::make_shared<LoginItemSettingsService>(std::move(manager));
    auto notificationCenter =
        environment.notificationCenter ? environment.notificationCenter : std::make_shared<DesktopNotifications>();
    auto delivery = std::make_shared<UserNotificationGlucoseAlertDelivery>(std::move(notificationCenter));
    return std::make_unique<SettingsViewModel>(*environment.configurationManager, std::move(coordinator),
                                               environment.updateChecker, std::move(loginItemService),
                                               std::move(delivery), environment.options);
}

} // namespace quillby
