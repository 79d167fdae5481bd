// State, construction, teardown and the account-editing side effects of the settings model.

#include "settings/SettingsViewModel.h"
#include "core/async/RunDetached.h"

#include "core/ConfigurationManager.h"
#include "core/async/EventLoopTurn.h"
#include "core/async/AsyncEvent.h"
#include "polling/GlucoseAlertNotificationDelivering.h"
#include "providers/GlucoseProviderDescription.h"
#include "settings/LoginItemSettingsService.h"
#include "settings/SettingsCoordinating.h"
#include "settings/SettingsViewModelSupport.h"
#include "settings/UpdateChecking.h"

#include <QCoreApplication>

namespace quillby {

SettingsViewModel::SettingsViewModel(ConfigurationManager &configManager,
                                     std::shared_ptr<SettingsCoordinating> coordinator,
                                     std::shared_ptr<UpdateChecking> updateChecker,
                                     std::shared_ptr<LoginItemSettingsService> loginItemService,
                                     std::shared_ptr<GlucoseAlertNotificationDelivering> alertNotificationDelivery,
                                     Options options, QObject *parent)
    : QObject(parent)
    , configManager_(configManager)
    , coordinator_(std::move(coordinator))
    , updateChecker_(std::move(updateChecker))
    , loginItemService_(std::move(loginItemService))
    , alertNotificationDelivery_(std::move(alertNotificationDelivery))
    , sleeper_(std::move(options.sleeper))
    , clock_(std::move(options.clock))
    , calendar_(options.calendar ? std::move(*options.calendar) : LocalCalendar::current())
{
    Q_ASSERT(sleeper_ && clock_);
    measurementUnit_ = configManager_.measurementUnit();
    lastMeasurementUnitSymbol_ = measurementUnit_;
    if (updateChecker_) {
        automaticallyInstallUpdates_ = updateChecker_->automaticallyDownloadsUpdates();
    }
    refreshUpdateStatus();

    // The three start-up tasks hold the model weakly.
    refreshStartAtLogin();
    runDetached(runPermissionRefresh(QPointer<SettingsViewModel>(this)));
    configurationObservation_ =
        connect(&configManager_, &ConfigurationManager::configurationChanged, this,
                [this](const std::optional<AppConfiguration> &configuration) { apply(configuration); });
    runDetached(observeFirstConfiguration(QPointer<SettingsViewModel>(this)));

    isConfigurationValid_ = storedAccountIsComplete();

    if (options.flushOnQuit && QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                [this] { flushPendingAppSettings(); });
    }
}

SettingsViewModel::~SettingsViewModel()
{
    // Views may still be connected while the window goes; they learn nothing more.
    blockSignals(true);
    if (saveDebounceTask_) {
        saveDebounceTask_->request_stop();
    }
    if (currentAuthTask_) {
        currentAuthTask_->request_stop();
    }
    disconnect(configurationObservation_);
    if (loginItemSyncTask_) {
        loginItemSyncTask_->request_stop();
    }
    startPendingWriteOnRelease();
}

QCoro::Task<void> SettingsViewModel::observeFirstConfiguration(QPointer<SettingsViewModel> self)
{
    // The current value first, as the published stream gives it; later values come from the
    // configurationChanged connection.
    co_await nextEventLoopTurn();
    if (self) {
        self->apply(self->configManager_.configuration());
    }
}

bool SettingsViewModel::storedAccountIsComplete() const
{
    const auto &configuration = configManager_.configuration();
    return configuration && configuration->account.isComplete();
}

// --- Account being edited ---

void SettingsViewModel::setProvider(GlucoseProvider provider)
{
    if (!assign(provider_, provider, &SettingsViewModel::providerChanged)) {
        return;
    }
    invalidateAuthentication();
    assign(username_, std::string(), &SettingsViewModel::usernameChanged);
    assign(password_, std::string(), &SettingsViewModel::passwordChanged);
    assign(region_, describeProvider(provider).defaultRegion,
           &SettingsViewModel::regionChanged);
    setPatientName(std::nullopt);
    setStatusCategory(StatusMessageCategory::none());
}

void SettingsViewModel::setUsername(const std::string &username)
{
    if (assign(username_, username, &SettingsViewModel::usernameChanged)) {
        invalidateAuthentication();
    }
}

void SettingsViewModel::setPassword(const std::string &password)
{
    if (assign(password_, password, &SettingsViewModel::passwordChanged)) {
        invalidateAuthentication();
    }
}

void SettingsViewModel::setRegion(const std::string &region)
{
    if (assign(region_, region, &SettingsViewModel::regionChanged)) {
        invalidateAuthentication();
    }
}

void SettingsViewModel::setLibreConnections(const std::vector<LibreConnection> &connections)
{
    assign(libreConnections_, connections, &SettingsViewModel::libreConnectionsChanged);
}

void SettingsViewModel::setSelectedPatientID(const std::string &patientID)
{
    assign(selectedPatientID_, patientID, &SettingsViewModel::selectedPatientIDChanged);
}

void SettingsViewModel::setPatientName(const std::optional<std::string> &name)
{
    assign(patientName_, name, &SettingsViewModel::patientNameChanged);
}

void SettingsViewModel::renewAuthenticationAttempt()
{
    authenticationAttempt_ = QUuid::createUuid();
    emit authenticationAttemptChanged();
}

// --- Status ---

void SettingsViewModel::setIsLoading(bool loading)
{
    assign(isLoading_, loading, &SettingsViewModel::isLoadingChanged);
}

void SettingsViewModel::setIsShowingTerms(bool showing)
{
    assign(isShowingTerms_, showing, &SettingsViewModel::isShowingTermsChanged);
}

void SettingsViewModel::setStatusCategory(const StatusMessageCategory &category)
{
    assign(statusCategory_, category, &SettingsViewModel::statusCategoryChanged);
    assign(statusMessage_, statusText(category), &SettingsViewModel::statusMessageChanged);
}

void SettingsViewModel::setIsConfigurationValid(bool valid)
{
    assign(isConfigurationValid_, valid, &SettingsViewModel::isConfigurationValidChanged);
}

bool SettingsViewModel::canSignIn() const
{
    if (trimmedWhitespace(username_).empty() || password_.empty() || isLoading_ || isShowingTerms_ ||
        isConfigurationValid_) {
        return false;
    }
    if (libreConnections_.empty()) {
        return true;
    }
    for (const LibreConnection &connection : libreConnections_) {
        if (connection.id == selectedPatientID_) {
            return true;
        }
    }
    return false;
}

// --- App settings ---

void SettingsViewModel::setMeasurementUnit(const std::string &unit)
{
    assign(measurementUnit_, unit, &SettingsViewModel::measurementUnitChanged);
}
void SettingsViewModel::setLowGlucoseThreshold(double mgdL)
{
    assign(lowGlucoseThreshold_, mgdL, &SettingsViewModel::lowGlucoseThresholdChanged);
}
void SettingsViewModel::setHighGlucoseThreshold(double mgdL)
{
    assign(highGlucoseThreshold_, mgdL, &SettingsViewModel::highGlucoseThresholdChanged);
}
void SettingsViewModel::setGraphTimeWindowHours(int hours)
{
    assign(graphTimeWindowHours_, hours, &SettingsViewModel::graphTimeWindowHoursChanged);
}
void SettingsViewModel::setAlertsEnabled(bool enabled)
{
    assign(alertsEnabled_, enabled, &SettingsViewModel::alertsEnabledChanged);
}
void SettingsViewModel::setAlertOnLowThreshold(bool enabled)
{
    assign(alertOnLowThreshold_, enabled, &SettingsViewModel::alertOnLowThresholdChanged);
}
void SettingsViewModel::setAlertOnHighThreshold(bool enabled)
{
    assign(alertOnHighThreshold_, enabled, &SettingsViewModel::alertOnHighThresholdChanged);
}
void SettingsViewModel::setAlertOnRapidFall(bool enabled)
{
    assign(alertOnRapidFall_, enabled, &SettingsViewModel::alertOnRapidFallChanged);
}
void SettingsViewModel::setAlertOnRapidRise(bool enabled)
{
    assign(alertOnRapidRise_, enabled, &SettingsViewModel::alertOnRapidRiseChanged);
}
void SettingsViewModel::setQuietHoursEnabled(bool enabled)
{
    assign(quietHoursEnabled_, enabled, &SettingsViewModel::quietHoursEnabledChanged);
}
void SettingsViewModel::setQuietHoursStartMinutes(int minutes)
{
    assign(quietHoursStartMinutes_, minutes, &SettingsViewModel::quietHoursStartMinutesChanged);
}
void SettingsViewModel::setQuietHoursEndMinutes(int minutes)
{
    assign(quietHoursEndMinutes_, minutes, &SettingsViewModel::quietHoursEndMinutesChanged);
}
void SettingsViewModel::setAllowLowAlertsDuringQuietHours(bool allowed)
{
    assign(allowLowAlertsDuringQuietHours_, allowed, &SettingsViewModel::allowLowAlertsDuringQuietHoursChanged);
}
void SettingsViewModel::setLowAlertRepeatMinutes(int minutes)
{
    assign(lowAlertRepeatMinutes_, minutes, &SettingsViewModel::lowAlertRepeatMinutesChanged);
}
void SettingsViewModel::setSnoozeLowAlerts(bool enabled)
{
    assign(snoozeLowAlerts_, enabled, &SettingsViewModel::snoozeLowAlertsChanged);
}
void SettingsViewModel::setSnoozeHighAlerts(bool enabled)
{
    assign(snoozeHighAlerts_, enabled, &SettingsViewModel::snoozeHighAlertsChanged);
}
void SettingsViewModel::setSnoozeRapidChangeAlerts(bool enabled)
{
    assign(snoozeRapidChangeAlerts_, enabled, &SettingsViewModel::snoozeRapidChangeAlertsChanged);
}

// --- Save bookkeeping ---

void SettingsViewModel::setAppSettingsRevision(int revision)
{
    assign(appSettingsRevision_, revision, &SettingsViewModel::appSettingsRevisionChanged);
}

void SettingsViewModel::setSavedAppSettingsRevision(int revision)
{
    savedAppSettingsRevision_ = revision;
}

void SettingsViewModel::setAppSettingsNeedReload(bool needReload)
{
    assign(appSettingsNeedReload_, needReload, &SettingsViewModel::appSettingsNeedReloadChanged);
}

void SettingsViewModel::setLastMeasurementUnitSymbol(const std::string &unit)
{
    lastMeasurementUnitSymbol_ = unit;
}

// --- Loading ---

QCoro::Task<void> SettingsViewModel::loadConfiguration()
{
    QPointer<SettingsViewModel> self(this);
    if (!configManager_.configuration() || configManager_.configurationLoadFailed()) {
        co_await configManager_.loadConfiguration();
        if (!self) {
            co_return;
        }
    }
    self->apply(self->configManager_.configuration());
}

} // namespace quillby
