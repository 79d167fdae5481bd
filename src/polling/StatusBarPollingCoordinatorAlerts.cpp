// The alert step of the polling coordinator: one evaluation per new reading, and the snooze
// controls of the menu. The decisions themselves live in GlucoseAlertController.

#include "polling/StatusBarPollingCoordinator.h"

#include "core/ConfigurationManager.h"

namespace quillby {

void StatusBarPollingCoordinator::makeAlertController()
{
    ConfigurationManager *configurationManager = configurationManager_;
    alertController_ = std::make_shared<GlucoseAlertController>(
        alertDelivery_, clock_,
        [configurationManager] { return GlucoseAlertEvaluator::settings(configurationManager->configuration()); },
        defaults_, timeZone_);
    // The controller may still be finishing an evaluation after the coordinator is gone, so its
    // hooks hold the coordinator weakly and the logger by value.
    QPointer<StatusBarPollingCoordinator> self(this);
    alertController_->setSnoozeObserver([self](std::optional<Date> until) {
        if (self) {
            self->statusBar_->setAlertsSnoozedUntil(until);
            self->statusBar_->rebuildMenuIfBuilt();
        }
    });
    alertController_->setErrorLogger([logger = logger_](const std::string &line) { logger.warning(line); });
}

QCoro::Task<void> StatusBarPollingCoordinator::evaluateAlerts(GlucoseReading reading, GlucoseUnits units,
                                                              std::stop_token stop)
{
    // Keeps the controller alive for the whole evaluation.
    const std::shared_ptr<GlucoseAlertController> controller = alertController_;
    co_await controller->evaluateAlerts(std::move(reading), units, stop);
}

void StatusBarPollingCoordinator::snoozeAlerts(TimeInterval duration)
{
    alertController_->snoozeAlerts(duration);
}

void StatusBarPollingCoordinator::cancelAlertSnooze()
{
    alertController_->cancelAlertSnooze();
}

} // namespace quillby
