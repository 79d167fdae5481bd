// Applying the stored configuration, the app settings record in and out of the model's fields
// (applyAppSettings, makeAppSettings: a setting is copied both ways here), the unit change,
// launch at login and the update texts.

#include "settings/SettingsViewModel.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "core/GlucoseThresholdSetting.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/UpdateChecking.h"

#include "core/DateText.h"

#include <QTimeZone>

#include <cmath>
#include <memory>

namespace quillby {

namespace {

// The updater's last check in the program's one date-and-time form (medium date, short time),
// in the computer's locale and current time zone, as the tray writes its dates.
std::string formatCheckDate(Date date)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(date * 1000.0)),
                                                          QTimeZone::systemTimeZone());
    return mediumDateShortTime(when, QLocale::system()).toStdString();
}

} // namespace

void SettingsViewModel::apply(const std::optional<AppConfiguration> &configuration)
{
    if (!configuration) {
        setIsConfigurationValid(storedAccountIsComplete());
        refreshStartAtLogin();
        return;
    }
    const bool storeMissingOrFailed = !configManager_.configuration() || configManager_.configurationLoadFailed();
    if (storeMissingOrFailed) {
        setAppSettingsNeedReload(true);
    }

    const GlucoseAccountConfiguration &account = configuration->account;
    if (!isLoading_ && (!hasLoadedInitialConfiguration_ || account.isComplete())) {
        // The same stored account published again (after an app-settings save, for example)
        // must not reset what is being typed in the account fields.
        if (!lastAppliedAccount_ || *lastAppliedAccount_ != account) {
            applyAccount(account);
        }
        lastAppliedAccount_ = account;
        assign(hasLoadedInitialConfiguration_, true, &SettingsViewModel::hasLoadedInitialConfigurationChanged);
    }
    setIsConfigurationValid(storedAccountIsComplete());

    if (appSettingsRevision_ != savedAppSettingsRevision_) {
        return;   // unsaved edits keep the user's values
    }
    setAppSettingsNeedReload(storeMissingOrFailed);
    applyAppSettings(configuration->app);
    setIsConfigurationValid(storedAccountIsComplete());
    refreshStartAtLogin();
    runDetached(runPermissionRefresh(QPointer<SettingsViewModel>(this)));
}

void SettingsViewModel::applyAccount(const GlucoseAccountConfiguration &account)
{
    setProvider(account.provider);
    setUsername(account.username);
    setPassword(account.password);
    setRegion(account.region);
    setSelectedPatientID(account.patientID.value_or(std::string()));
    setPatientName(account.patientName);
}

void SettingsViewModel::applyAppSettings(const AppSettings &settings)
{
    setMeasurementUnit(settings.measurementUnit);
    setLastMeasurementUnitSymbol(settings.measurementUnit);

    double low = settings.lowGlucoseThreshold;
    double high = settings.highGlucoseThreshold;
    GlucoseThresholds::migrateUnits(low, high);
    setLowGlucoseThreshold(low);
    setHighGlucoseThreshold(high);
    setGraphTimeWindowHours(settings.graphTimeWindowHours.value_or(GraphTimeWindowSetting::defaultHours));
    updateStartAtLogin(settings.startAtLogin);
    setAlertsEnabled(settings.alertsEnabled);
    setAlertOnLowThreshold(settings.alertOnLowThreshold);
    setAlertOnHighThreshold(settings.alertOnHighThreshold);
    setAlertOnRapidFall(settings.alertOnRapidFall);
    setAlertOnRapidRise(settings.alertOnRapidRise);
    setQuietHoursEnabled(settings.quietHoursEnabled);
    setQuietHoursStartMinutes(settings.quietHoursStartMinutes);
    setQuietHoursEndMinutes(settings.quietHoursEndMinutes);
    setAllowLowAlertsDuringQuietHours(settings.allowLowAlertsDuringQuietHours);
    setLowAlertRepeatMinutes(settings.lowAlertRepeatMinutes);
    setSnoozeLowAlerts(settings.snoozeLowAlerts);
    setSnoozeHighAlerts(settings.snoozeHighAlerts);
    setSnoozeRapidChangeAlerts(settings.snoozeRapidChangeAlerts);
    lastKnownStartAtLogin_ = settings.startAtLogin;
    normalizeThresholds();
}

AppSettings SettingsViewModel::makeAppSettings()
{
    // The fields are held to what their owners allow, as the stored record is on every save.
    setMeasurementUnit(MeasurementUnitSetting::snapped(measurementUnit_));
    setGraphTimeWindowHours(GraphTimeWindowSetting::snapped(graphTimeWindowHours_));
    setLowAlertRepeatMinutes(LowAlertRepeatSetting::snapped(lowAlertRepeatMinutes_));
    normalizeThresholds();

    AppSettings settings;
    settings.measurementUnit = measurementUnit_;
    settings.lowGlucoseThreshold = lowGlucoseThreshold_;
    settings.highGlucoseThreshold = highGlucoseThreshold_;
    settings.graphTimeWindowHours = graphTimeWindowHours_;
    settings.startAtLogin = startAtLogin_;
    settings.alertsEnabled = alertsEnabled_;
    settings.alertOnLowThreshold = alertOnLowThreshold_;
    settings.alertOnHighThreshold = alertOnHighThreshold_;
    settings.alertOnRapidFall = alertOnRapidFall_;
    settings.alertOnRapidRise = alertOnRapidRise_;
    settings.quietHoursEnabled = quietHoursEnabled_;
    settings.quietHoursStartMinutes = quietHoursStartMinutes_;
    settings.quietHoursEndMinutes = quietHoursEndMinutes_;
    settings.allowLowAlertsDuringQuietHours = allowLowAlertsDuringQuietHours_;
    settings.lowAlertRepeatMinutes = lowAlertRepeatMinutes_;
    settings.snoozeLowAlerts = snoozeLowAlerts_;
    settings.snoozeHighAlerts = snoozeHighAlerts_;
    settings.snoozeRapidChangeAlerts = snoozeRapidChangeAlerts_;
    return settings;
}

void SettingsViewModel::normalizeThresholds()
{
    // A value that is not finite keeps the last valid one (at first the first-run value).
    lastValidLowThreshold_ = GlucoseThresholds::low.snapped(lowGlucoseThreshold_, lastValidLowThreshold_);
    lastValidHighThreshold_ = GlucoseThresholds::high.snapped(highGlucoseThreshold_, lastValidHighThreshold_);
    setLowGlucoseThreshold(lastValidLowThreshold_);
    setHighGlucoseThreshold(lastValidHighThreshold_);
}

// --- Unit ---

void SettingsViewModel::measurementUnitDidChange()
{
    const GlucoseUnits previous = units::fromMeasurementUnit(lastMeasurementUnitSymbol_);
    const GlucoseUnits current = units::fromMeasurementUnit(measurementUnit_);
    if (previous != current) {
        setLowGlucoseThreshold(thresholdValidator_.nearestOption(GlucoseThresholdKind::low, current, lowGlucoseThreshold_));
        setHighGlucoseThreshold(
            thresholdValidator_.nearestOption(GlucoseThresholdKind::high, current, highGlucoseThreshold_));
    }
    setLastMeasurementUnitSymbol(measurementUnit_);
    normalizeThresholds();
    recordAppSettingsEdit();
}

// --- Launch at login ---

void SettingsViewModel::updateStartAtLogin(bool enabled)
{
    if (enabled == startAtLogin_) {
        return;
    }
    isAdjustingStartAtLogin_ = true;
    startAtLogin_ = enabled;
    emit startAtLoginChanged();
    isAdjustingStartAtLogin_ = false;
}

void SettingsViewModel::setStartAtLogin(bool enabled)
{
    const bool adjusting = isAdjustingStartAtLogin_;
    updateStartAtLogin(enabled);
    if (!adjusting) {
        runDetached(runStartAtLoginSync(QPointer<SettingsViewModel>(this), enabled));
    }
}

QCoro::Task<void> SettingsViewModel::applyStartAtLogin(bool enabled)
{
    co_await runStartAtLoginSync(QPointer<SettingsViewModel>(this), enabled);
}

QCoro::Task<void> SettingsViewModel::runStartAtLoginSync(QPointer<SettingsViewModel> self, bool enabled)
{
    if (!self || !self->loginItemService_) {
        co_return;
    }
    // A status read still queued ahead of this change would report the state it replaces.
    if (self->loginItemSyncTask_) {
        self->loginItemSyncTask_->request_stop();
    }
    const std::uint64_t change = ++self->loginItemChanges_;
    const bool previous = self->lastKnownStartAtLogin_;
    const std::shared_ptr<LoginItemSettingsService> service = self->loginItemService_;
    const LoginItemChangeResult result = co_await service->setEnabled(enabled);
    if (!self) {
        co_return;
    }
    // Changes run in call order; while a later one is on its way, it decides what the toggle shows.
    const bool latest = change == self->loginItemChanges_;
    if (!result.succeeded()) {
        if (!latest) {
            co_return;
        }
        // Back to what the system keeps: the state the last change to take effect left, which
        // may be an earlier toggle of this same burst.
        self->updateStartAtLogin(self->lastKnownStartAtLogin_);
        self->setStatusCategory(StatusMessageCategory::loginItemError(result.failureMessage));
        if (self->lastKnownStartAtLogin_ != previous) {
            co_await self->commitAppSettingsChange();
        }
        co_return;
    }
    self->lastKnownStartAtLogin_ = *result.state;
    if (latest && self->statusCategory_.kind == StatusMessageCategory::Kind::loginItemError) {
        self->setStatusCategory(StatusMessageCategory::none());
    }
    co_await self->commitAppSettingsChange();
}

void SettingsViewModel::refreshStartAtLogin()
{
    if (loginItemSyncTask_) {
        loginItemSyncTask_->request_stop();
    }
    loginItemSyncTask_.emplace();
    if (loginItemService_) {
        runDetached(runStartAtLoginRead(QPointer<SettingsViewModel>(this), loginItemService_, loginItemSyncTask_->get_token()));
    }
}

QCoro::Task<void> SettingsViewModel::runStartAtLoginRead(QPointer<SettingsViewModel> self,
                                                         std::shared_ptr<LoginItemSettingsService> service,
                                                         std::stop_token stop)
{
    const LoginItemStatus status = co_await service->status();
    if (!self || stop.stop_requested()) {
        co_return;
    }
    const bool on = countsAsOn(status);
    self->lastKnownStartAtLogin_ = on;
    self->updateStartAtLogin(on);
}

// --- Updates ---

void SettingsViewModel::setAutomaticallyInstallUpdates(bool enabled)
{
    if (!updateChecker_) {
        return;
    }
    updateChecker_->setAutomaticallyDownloadsUpdates(enabled);
    updateChecker_->republishUpdateAvailability();
    assign(automaticallyInstallUpdates_, updateChecker_->automaticallyDownloadsUpdates(),
           &SettingsViewModel::automaticallyInstallUpdatesChanged);
}

void SettingsViewModel::refreshUpdateStatus()
{
    const std::string version = updateChecker_ ? updateChecker_->installedVersion().toStdString() : std::string();
    assign(installedVersion_, version.empty() ? std::string("Unknown") : version,
           &SettingsViewModel::installedVersionChanged);
    const std::optional<Date> lastCheck = updateChecker_ ? updateChecker_->lastUpdateCheckDate() : std::nullopt;
    assign(lastCheckedForUpdates_,
           lastCheck && std::isfinite(*lastCheck) ? formatCheckDate(*lastCheck) : std::string("Never"),
           &SettingsViewModel::lastCheckedForUpdatesChanged);
}

} // namespace quillby
