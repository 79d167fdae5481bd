#pragma once

#include "core/AppConfiguration.h"
#include "core/Clock.h"
#include "core/GlucoseThresholdSetting.h"
#include "core/async/Sleeper.h"
#include "insights/LocalCalendar.h"
#include "settings/StatusMessageCategory.h"
#include "settings/ThresholdValidator.h"

#include <QObject>
#include <QPointer>
#include <QUuid>

#include <QCoroTask>

#include <cstdint>

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace quillby {

class ConfigurationManager;
class GlucoseAlertNotificationDelivering;
class LoginItemSettingsService;
class SettingsCoordinating;
class UpdateChecking;

// Collaborators and timing of a settings model that tests replace.
struct SettingsViewModelOptions {
    std::shared_ptr<Sleeper> sleeper;        // the save debounce; required
    std::shared_ptr<Clock> clock;            // "now" of the quiet-hours clock times; required
    std::optional<LocalCalendar> calendar;   // default: the computer's time zone
    bool flushOnQuit = true;                 // write pending edits when the application quits
};

// The model behind the Settings window and onboarding: the account being edited, the status
// line, every app setting as an editable value, launch at login, the update texts and the test
// alert. One model per window; several may exist at once and meet only in the stored
// configuration. Main thread only.
//
// Every property has a getter, a setter and a change signal. A setter stores a value equal to
// the current one without a signal. Setters of provider, username, password and region have the
// side effects of editing the account (invalidateAuthentication(), and for the provider the
// cleared fields); the other setters are plain. A view that edits an app setting on the user's
// behalf goes through editAppSetting(), which sets it and records the edit (one more revision
// and the debounced save), as the design's bindings do; the alerts switch calls alertsEnabledDidChange() and the
// unit picker measurementUnitDidChange() instead.
//
// Texts that come from servers or the user (person names, error messages) are handed on as
// they came; views show them as plain text.
class SettingsViewModel : public QObject {
    Q_OBJECT
public:
    using Options = SettingsViewModelOptions;

    static constexpr double kSaveDebounceSeconds = 0.35;
    static inline const std::string kSaveReloadFailedMessage =
        "Your saved settings could not be loaded. Reopen Settings and try again.";
    static inline const std::string kSaveReloadedMessage =
        "Your saved settings have been reloaded. Please reapply your changes.";
    static inline const std::string kSignOutFailedMessage = "Could not sign out. Please try again.";
    static inline const std::string kTestAlertTitle = "Quillby test alert";
    static inline const std::string kTestAlertBody = "Notifications are configured correctly.";

    SettingsViewModel(ConfigurationManager &configManager, std::shared_ptr<SettingsCoordinating> coordinator,
                      std::shared_ptr<UpdateChecking> updateChecker,
                      std::shared_ptr<LoginItemSettingsService> loginItemService,
                      std::shared_ptr<GlucoseAlertNotificationDelivering> alertNotificationDelivery,
                      Options options = {}, QObject *parent = nullptr);
    // Cancels the debounce, the account task, the observation and the status read; a running
    // save finishes on its own; edits not yet written are written (see flushPendingAppSettings).
    ~SettingsViewModel() override;

    // --- Account being edited ---
    GlucoseProvider provider() const { return provider_; }
    void setProvider(GlucoseProvider provider);
    const std::string &username() const { return username_; }
    void setUsername(const std::string &username);
    const std::string &password() const { return password_; }
    void setPassword(const std::string &password);
    const std::string &region() const { return region_; }
    void setRegion(const std::string &region);
    const std::vector<LibreConnection> &libreConnections() const { return libreConnections_; }
    void setLibreConnections(const std::vector<LibreConnection> &connections);
    const std::string &selectedPatientID() const { return selectedPatientID_; }
    void setSelectedPatientID(const std::string &patientID);
    const std::optional<std::string> &patientName() const { return patientName_; }
    void setPatientName(const std::optional<std::string> &name);
    QUuid authenticationAttempt() const { return authenticationAttempt_; }

    // --- Status ---
    bool isLoading() const { return isLoading_; }
    void setIsLoading(bool loading);
    bool isShowingTerms() const { return isShowingTerms_; }
    void setIsShowingTerms(bool showing);
    const std::string &statusMessage() const { return statusMessage_; }
    const StatusMessageCategory &statusCategory() const { return statusCategory_; }
    // Also sets statusMessage to the category's status line.
    void setStatusCategory(const StatusMessageCategory &category);
    bool isConfigurationValid() const { return isConfigurationValid_; }
    void setIsConfigurationValid(bool valid);
    bool hasLoadedInitialConfiguration() const { return hasLoadedInitialConfiguration_; }
    // True when a sign-in may start: user name (trimmed) and password not empty, nothing
    // running, no terms sheet, not signed in, and no person list or a listed person chosen.
    bool canSignIn() const;

    // --- App settings (thresholds in mg/dL) ---
    const std::string &measurementUnit() const { return measurementUnit_; }
    void setMeasurementUnit(const std::string &unit);
    double lowGlucoseThreshold() const { return lowGlucoseThreshold_; }
    void setLowGlucoseThreshold(double mgdL);
    double highGlucoseThreshold() const { return highGlucoseThreshold_; }
    void setHighGlucoseThreshold(double mgdL);
    int graphTimeWindowHours() const { return graphTimeWindowHours_; }
    void setGraphTimeWindowHours(int hours);
    bool startAtLogin() const { return startAtLogin_; }
    bool alertsEnabled() const { return alertsEnabled_; }
    void setAlertsEnabled(bool enabled);
    bool alertOnLowThreshold() const { return alertOnLowThreshold_; }
    void setAlertOnLowThreshold(bool enabled);
    bool alertOnHighThreshold() const { return alertOnHighThreshold_; }
    void setAlertOnHighThreshold(bool enabled);
    bool alertOnRapidFall() const { return alertOnRapidFall_; }
    void setAlertOnRapidFall(bool enabled);
    bool alertOnRapidRise() const { return alertOnRapidRise_; }
    void setAlertOnRapidRise(bool enabled);
    bool quietHoursEnabled() const { return quietHoursEnabled_; }
    void setQuietHoursEnabled(bool enabled);
    int quietHoursStartMinutes() const { return quietHoursStartMinutes_; }
    void setQuietHoursStartMinutes(int minutes);
    int quietHoursEndMinutes() const { return quietHoursEndMinutes_; }
    void setQuietHoursEndMinutes(int minutes);
    bool allowLowAlertsDuringQuietHours() const { return allowLowAlertsDuringQuietHours_; }
    void setAllowLowAlertsDuringQuietHours(bool allowed);
    int lowAlertRepeatMinutes() const { return lowAlertRepeatMinutes_; }
    void setLowAlertRepeatMinutes(int minutes);
    bool snoozeLowAlerts() const { return snoozeLowAlerts_; }
    void setSnoozeLowAlerts(bool enabled);
    bool snoozeHighAlerts() const { return snoozeHighAlerts_; }
    void setSnoozeHighAlerts(bool enabled);
    bool snoozeRapidChangeAlerts() const { return snoozeRapidChangeAlerts_; }
    void setSnoozeRapidChangeAlerts(bool enabled);
    // Quiet hours as clock times of today. Setting one stores its minutes and always counts an
    // edit and schedules the save, even when the minutes are unchanged.
    Date quietHoursStartDate() const;
    void setQuietHoursStartDate(Date date);
    Date quietHoursEndDate() const;
    void setQuietHoursEndDate(Date date);

    // --- Updates ---
    bool automaticallyInstallUpdates() const { return automaticallyInstallUpdates_; }
    const std::string &installedVersion() const { return installedVersion_; }
    const std::string &lastCheckedForUpdates() const { return lastCheckedForUpdates_; }

    // --- Alerts and test alert ---
    bool notificationPermissionDenied() const { return notificationPermissionDenied_; }
    bool isSendingTestAlert() const { return isSendingTestAlert_; }
    const std::string &testAlertStatusMessage() const { return testAlertStatusMessage_; }

    // --- Save bookkeeping ---
    int appSettingsRevision() const { return appSettingsRevision_; }
    void setAppSettingsRevision(int revision);
    int savedAppSettingsRevision() const { return savedAppSettingsRevision_; }
    bool appSettingsNeedReload() const { return appSettingsNeedReload_; }
    const std::string &lastMeasurementUnitSymbol() const { return lastMeasurementUnitSymbol_; }
    bool isAdjustingStartAtLogin() const { return isAdjustingStartAtLogin_; }
    bool lastKnownStartAtLogin() const { return lastKnownStartAtLogin_; }
    bool isSaving() const;

    // --- Operations ---
    // Makes sure the stored configuration is loaded, then applies it.
    QCoro::Task<void> loadConfiguration();
    // Copies a published configuration (or none) into the fields, sparing a running account
    // operation, unsaved app-setting edits and account fields being typed.
    void apply(const std::optional<AppConfiguration> &configuration);

    // Account operations (Settings buttons and the onboarding sign-in step).
    void signIn();
    void reconnect();
    void signOut();
    void acceptTerms();
    void invalidateAuthentication();

    // Saving.
    // The user's edit of an app setting: stores `value` through `setter` and records the edit.
    template <typename Arg, typename Value>
    void editAppSetting(void (SettingsViewModel::*setter)(Arg), Value value)
    {
        (this->*setter)(value);
        recordAppSettingsEdit();
    }
    void recordAppSettingsEdit();   // one more revision, then scheduleAppSettingsSave()
    void scheduleAppSettingsSave();
    void resumePendingAppSettingsSave();
    QCoro::Task<bool> saveAppSettings();
    QCoro::Task<void> commitAppSettingsChange();
    QCoro::Task<bool> settlePendingAppSettings();
    QCoro::Task<bool> reloadAfterExternalChange();
    AppSettings makeAppSettings();
    void normalizeThresholds();
    // Writes edits not yet written at once, without the debounce, and waits (at most
    // `timeoutMs`) for the write. Runs when the application is about to quit.
    void flushPendingAppSettings(int timeoutMs = 10000);

    // Unit, launch at login, updates.
    void measurementUnitDidChange();
    void setStartAtLogin(bool enabled);      // the toggle: shows the value and carries it out
    void updateStartAtLogin(bool enabled);   // shows a known state without carrying it out
    QCoro::Task<void> applyStartAtLogin(bool enabled);
    void refreshStartAtLogin();
    void setAutomaticallyInstallUpdates(bool enabled);
    void refreshUpdateStatus();

    // Alerts.
    void alertsEnabledDidChange();
    QCoro::Task<void> refreshNotificationPermission();
    QCoro::Task<void> requestNotificationPermission();
    QCoro::Task<void> sendTestAlert();
    Date date(int fromMinutesOfDay) const;
    int minutesOfDay(Date from) const;

signals:
    void providerChanged();
    void usernameChanged();
    void passwordChanged();
    void regionChanged();
    void libreConnectionsChanged();
    void selectedPatientIDChanged();
    void patientNameChanged();
    void authenticationAttemptChanged();
    void measurementUnitChanged();
    void isLoadingChanged();
    void isShowingTermsChanged();
    void statusMessageChanged();
    void statusCategoryChanged();
    void lowGlucoseThresholdChanged();
    void highGlucoseThresholdChanged();
    void graphTimeWindowHoursChanged();
    void startAtLoginChanged();
    void automaticallyInstallUpdatesChanged();
    void installedVersionChanged();
    void lastCheckedForUpdatesChanged();
    void alertsEnabledChanged();
    void alertOnLowThresholdChanged();
    void alertOnHighThresholdChanged();
    void alertOnRapidFallChanged();
    void alertOnRapidRiseChanged();
    void quietHoursEnabledChanged();
    void quietHoursStartMinutesChanged();
    void quietHoursEndMinutesChanged();
    void allowLowAlertsDuringQuietHoursChanged();
    void lowAlertRepeatMinutesChanged();
    void snoozeLowAlertsChanged();
    void snoozeHighAlertsChanged();
    void snoozeRapidChangeAlertsChanged();
    void notificationPermissionDeniedChanged();
    void isSendingTestAlertChanged();
    void testAlertStatusMessageChanged();
    void isConfigurationValidChanged();
    void hasLoadedInitialConfigurationChanged();
    void appSettingsRevisionChanged();
    void appSettingsNeedReloadChanged();
    // A save (debounced or direct) has finished; `succeeded` as saveAppSettings() returned.
    void appSettingsSaveFinished(bool succeeded);

private:
    struct SaveRun;

    // Stores a different value and emits its change signal; an equal value changes nothing.
    template <typename T>
    bool assign(T &field, const T &value, void (SettingsViewModel::*changed)())
    {
        if (field == value) {
            return false;
        }
        field = value;
        emit(this->*changed)();
        return true;
    }

    bool storedAccountIsComplete() const;
    void renewAuthenticationAttempt();
    void setSavedAppSettingsRevision(int revision);
    void setAppSettingsNeedReload(bool needReload);
    void setLastMeasurementUnitSymbol(const std::string &unit);
    void applyAccount(const GlucoseAccountConfiguration &account);
    void applyAppSettings(const AppSettings &settings);
    void startAuthTask(QCoro::Task<void> (*perform)(QPointer<SettingsViewModel>, std::stop_token));
    void startPendingWriteOnRelease();

    static QCoro::Task<void> observeFirstConfiguration(QPointer<SettingsViewModel> self);
    static QCoro::Task<void> runDebouncedSave(QPointer<SettingsViewModel> self, std::shared_ptr<Sleeper> sleeper,
                                              std::stop_token stop);
    static QCoro::Task<void> performAppSettingsSave(QPointer<SettingsViewModel> self, std::shared_ptr<SaveRun> run);
    static QCoro::Task<void> runStartAtLoginSync(QPointer<SettingsViewModel> self, bool enabled);
    static QCoro::Task<void> runStartAtLoginRead(QPointer<SettingsViewModel> self,
                                                 std::shared_ptr<LoginItemSettingsService> service,
                                                 std::stop_token stop);
    static QCoro::Task<void> runPermissionRefresh(QPointer<SettingsViewModel> self);
    static QCoro::Task<void> runPermissionRequest(QPointer<SettingsViewModel> self);
    static QCoro::Task<void> performSignIn(QPointer<SettingsViewModel> self, std::stop_token stop);
    static QCoro::Task<void> performReconnect(QPointer<SettingsViewModel> self, std::stop_token stop);
    static QCoro::Task<void> performSignOut(QPointer<SettingsViewModel> self, std::stop_token stop);
    static QCoro::Task<std::optional<GlucoseAccountConfiguration>> resolveSignInAccount(
        QPointer<SettingsViewModel> self, GlucoseAccountConfiguration account, QUuid attempt, std::stop_token stop);
    void finishAuthentication(const QUuid &attempt);
    void finishSignOut();

    // Tracked state, in the design's order.
    GlucoseProvider provider_ = GlucoseProvider::dexcom;
    std::string username_;
    std::string password_;
    std::string region_ = "ous";
    std::vector<LibreConnection> libreConnections_;
    std::string selectedPatientID_;
    std::optional<std::string> patientName_;
    QUuid authenticationAttempt_ = QUuid::createUuid();
    std::string measurementUnit_;
    bool isLoading_ = false;
    bool isShowingTerms_ = false;
    std::string statusMessage_;
    StatusMessageCategory statusCategory_;
    double lowGlucoseThreshold_ = GlucoseThresholds::low.defaultValue;
    double highGlucoseThreshold_ = GlucoseThresholds::high.defaultValue;
    int graphTimeWindowHours_ = GraphTimeWindowSetting::defaultHours;
    bool startAtLogin_ = false;
    bool automaticallyInstallUpdates_ = false;
    std::string installedVersion_;
    std::string lastCheckedForUpdates_;
    bool alertsEnabled_ = AlertSwitchSettings::defaultAlertsEnabled;
    bool alertOnLowThreshold_ = AlertSwitchSettings::defaultAlertOnLowThreshold;
    bool alertOnHighThreshold_ = AlertSwitchSettings::defaultAlertOnHighThreshold;
    bool alertOnRapidFall_ = AlertSwitchSettings::defaultAlertOnRapidFall;
    bool alertOnRapidRise_ = AlertSwitchSettings::defaultAlertOnRapidRise;
    bool quietHoursEnabled_ = QuietHoursSetting::defaultEnabled;
    int quietHoursStartMinutes_ = QuietHoursSetting::defaultStartMinutes;
    int quietHoursEndMinutes_ = QuietHoursSetting::defaultEndMinutes;
    bool allowLowAlertsDuringQuietHours_ = QuietHoursSetting::defaultAllowsLowAlerts;
    int lowAlertRepeatMinutes_ = LowAlertRepeatSetting::defaultMinutes;
    bool snoozeLowAlerts_ = AlertSwitchSettings::defaultSnoozeLowAlerts;
    bool snoozeHighAlerts_ = AlertSwitchSettings::defaultSnoozeHighAlerts;
    bool snoozeRapidChangeAlerts_ = AlertSwitchSettings::defaultSnoozeRapidChangeAlerts;
    bool notificationPermissionDenied_ = false;
    bool isSendingTestAlert_ = false;
    std::string testAlertStatusMessage_;
    bool isConfigurationValid_ = false;
    bool hasLoadedInitialConfiguration_ = false;

    // Collaborators.
    ConfigurationManager &configManager_;
    std::shared_ptr<SettingsCoordinating> coordinator_;
    std::shared_ptr<UpdateChecking> updateChecker_;
    ThresholdValidator thresholdValidator_;
    std::shared_ptr<LoginItemSettingsService> loginItemService_;
    std::shared_ptr<GlucoseAlertNotificationDelivering> alertNotificationDelivery_;
    std::shared_ptr<Sleeper> sleeper_;
    std::shared_ptr<Clock> clock_;
    LocalCalendar calendar_;

    // Tasks and bookkeeping.
    std::optional<std::stop_source> saveDebounceTask_;
    std::shared_ptr<SaveRun> appSettingsSaveTask_;
    int appSettingsRevision_ = 0;
    int savedAppSettingsRevision_ = 0;
    std::optional<int> revisionBeingWritten_;
    bool appSettingsNeedReload_ = true;
    std::optional<std::stop_source> currentAuthTask_;
    QMetaObject::Connection configurationObservation_;
    std::optional<std::stop_source> loginItemSyncTask_;
    std::string lastMeasurementUnitSymbol_;
    bool isAdjustingStartAtLogin_ = false;
    bool lastKnownStartAtLogin_ = false;
    std::uint64_t loginItemChanges_ = 0;   // launch-at-login changes started
    // The stored account last copied into the account fields: an equal one published again
    // (for example after an app-settings save) leaves the fields being typed alone.
    std::optional<GlucoseAccountConfiguration> lastAppliedAccount_;
    // What a threshold that is not finite falls back to when normalized.
    double lastValidLowThreshold_ = GlucoseThresholds::low.defaultValue;
    double lastValidHighThreshold_ = GlucoseThresholds::high.defaultValue;
};

} // namespace quillby
