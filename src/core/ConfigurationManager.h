#pragma once

#include "core/AppConfiguration.h"
#include "core/SettingsWriteMonitor.h"
#include "core/Clock.h"
#include "core/ConfigurationKeychainStore.h"
#include "core/KeychainItemStoring.h"
#include "core/KeyringWatching.h"
#include "core/ScopedLogger.h"
#include "core/async/AsyncEvent.h"
#include "core/async/AsyncSerialQueue.h"
#include "core/async/Sleeper.h"

#include <QLocale>
#include <QObject>
#include <QSettings>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

class AppNotifications;

// The one owner of the user configuration and of the terms-of-use acceptance, on the main
// thread. It loads the configuration once from its keyring item, publishes it through signals,
// and applies changes one at a time: each change is computed from the current configuration,
// normalized, saved, and only then published. Every member is used on the main thread only.
class ConfigurationManager : public QObject {
    Q_OBJECT
public:
    // A change: from the current configuration (absent when none) to the one to store.
    using Transform = std::function<AppConfiguration(const std::optional<AppConfiguration> &)>;

    static inline const std::string kCurrentTermsVersion = "2026-10-07";
    // QSettings keys.
    static inline const QString kAcceptedTermsVersionKey = QStringLiteral("QuillbyAcceptedTermsVersion");
    static inline const QString kTermsAcceptedAtKey = QStringLiteral("QuillbyTermsAcceptedAt");
    static inline const QString kOnboardingCompletedKey = QStringLiteral("QuillbyOnboardingCompleted");

    // Does not load. `locale` chooses the first-run unit (its territory); `sleeper` times the
    // read-back pauses; `notifications` (which must outlive the manager) hears of a change that
    // a read-back finds, as it would of a finished save.
    ConfigurationManager(std::shared_ptr<KeychainItemStoring> itemStore, std::shared_ptr<QSettings> defaults,
                         const QLocale &locale, std::shared_ptr<Clock> clock, std::shared_ptr<Sleeper> sleeper,
                         AppNotifications &notifications, QObject *parent = nullptr);
    ~ConfigurationManager() override;

    // --- Published state (each has a *Changed signal, emitted after the value is set) ---
    const std::optional<AppConfiguration> &configuration() const { return configuration_; }
    bool hasCompletedOnboarding() const { return hasCompletedOnboarding_; }
    void setHasCompletedOnboarding(bool completed);
    const std::optional<std::string> &acceptedTermsVersion() const { return acceptedTermsVersion_; }

    // True when the last load found an item it could not read or decode.
    bool configurationLoadFailed() const { return configurationLoadFailed_; }
    // True while the last load failed for a reason that may pass (the keyring locked, its
    // prompt dismissed or timed out, its service not there yet): the manager reads the item
    // again by itself, at once when `keyringWatcher` reports a change of the keyring, else after
    // pauses of kKeyringRetryFirstDelay seconds doubling up to kKeyringRetryMaxDelay. A load
    // that then succeeds publishes the configuration and posts what changed
    // ("ConfigurationDidUpdate", "AppSettingsDidUpdate"), as every load that succeeds after a
    // failed one does, so the shell starts polling as at launch.
    bool isWaitingForKeyring() const { return waitingForKeyring_; }
    static constexpr double kKeyringRetryFirstDelay = 5;
    static constexpr double kKeyringRetryMaxDelay = 300;
    // Where keyring changes come from (optional; must outlive the manager or be destroyed
    // first). Without it the pauses alone decide when the item is read again.
    void watchKeyring(KeyringWatching *keyringWatcher);

    // True while a save that timed out may still land in the keyring (the keyring finishes a
    // job whose caller stopped waiting). Until the item has been read back, the published
    // configuration may not be what is stored: the manager reads it back on its own, at once
    // and then with growing pauses, and every update reads it back before it starts, so what
    // is published and what is stored agree again.
    bool isStoredConfigurationUncertain() const { return storeUncertain_; }
    // Pauses between read-backs while the keyring does not answer.
    static constexpr double kReadBackDelays[] = {15, 30, 60, 120, 300};

    // The user defaults the manager was made with (onboarding writes its flag here).
    QSettings &defaults() const { return *defaults_; }
    const std::shared_ptr<QSettings> &defaultsPointer() const { return defaults_; }
    // Watches every write to the settings file; reports the first that fails.
    SettingsWriteMonitor &settingsWrites() const { return *settingsWrites_; }

    // AppSettings::defaults() with MeasurementUnitSetting::firstRunUnit() of the locale's region.
    const AppSettings &firstRunSettings() const { return firstRunSettings_; }
    // The loaded settings, or the first-run settings while none is loaded.
    AppSettings appSettings() const;
    // The unit symbol of appSettings().
    std::string measurementUnit() const;
    // The loaded graph window in hours, as stored; the owner's default when absent or nothing
    // is loaded.
    int graphTimeWindowHours() const;

    // --- Terms of use ---
    bool hasAcceptedCurrentTerms() const;
    // Stores the current version and the acceptance date, then publishes; no-op when the
    // current terms are already accepted.
    void acceptCurrentTerms();

    // --- Loading and updates ---
    // Ensures one load has run; concurrent calls share one keyring read. Never throws.
    QCoro::Task<void> loadConfiguration();
    // The loaded configuration, loading first when needed; throws
    // ConfigurationError::invalidConfiguration when none can be had.
    QCoro::Task<AppConfiguration> requireConfiguration();
    // Applies `transform` after every earlier update, normalizes, saves and publishes.
    // Throws ConfigurationError (invalidConfiguration while the stored item is unreadable,
    // keychainError when the write fails) or OperationCancelledError when `stop` was
    // requested before the write started. Nothing is published unless the save succeeded.
    QCoro::Task<void> updateConfiguration(Transform transform, std::stop_token stop = {});

    // --- Configuration builders (transforms for updateConfiguration) ---
    // The given account with the current settings (AppSettings::defaults() when none) whose
    // unit is replaced by `measurementUnit`.
    static AppConfiguration configurationWithAccount(const std::optional<AppConfiguration> &current,
                                                     const GlucoseAccountConfiguration &account,
                                                     const std::string &measurementUnit);
    // The current account (or the empty account) with the given settings.
    static AppConfiguration configurationReplacingSettings(const std::optional<AppConfiguration> &current,
                                                           const AppSettings &settings);
    // The empty account with the current settings (AppSettings::defaults() when none).
    // Used by sign-out and by clearing the stored credentials.
    static AppConfiguration configurationClearingAccountOf(const std::optional<AppConfiguration> &current);
    static AppConfiguration configurationClearingCredentials(const std::optional<AppConfiguration> &current)
    {
        return configurationClearingAccountOf(current);
    }

signals:
    void configurationChanged(const std::optional<quillby::AppConfiguration> &configuration);
    void hasCompletedOnboardingChanged(bool completed);
    void acceptedTermsVersionChanged(const std::optional<std::string> &version);

private:
    // Loads, then fires `done` (whatever the outcome).
    QCoro::Task<void> runLoad(AsyncEvent done);
    // Reads the item back after a timed-out save: found, it is published (with notices of what
    // changed); missing, nothing was written. Returns whether the stored state is known now.
    QCoro::Task<bool> readBackStoredConfiguration();
    // A read-back in its turn among the updates, after `delay` seconds.
    QCoro::Task<void> readBackLater(double delay, std::size_t attempt);
    // Loads again while the keyring is unavailable, until a load no longer fails for that.
    QCoro::Task<void> retryWhileWaitingForKeyring();
    // Tells what a load that succeeded after a failed one changed.
    void postRecoveredChanges(const AppConfiguration &previous, const AppConfiguration &loaded);
    void publishConfiguration(AppConfiguration configuration);

    ScopedLogger logger_{"ConfigurationManager"};
    std::unique_ptr<ConfigurationKeychainStore> keychainStore_;
    std::shared_ptr<QSettings> defaults_;
    std::unique_ptr<SettingsWriteMonitor> settingsWrites_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Sleeper> sleeper_;
    AppNotifications &notifications_;
    AppSettings firstRunSettings_;
    std::optional<AsyncEvent> loadTask_;    // fires when the load in progress ends
    bool configurationLoadFailed_ = false;
    AsyncSerialQueue updates_;              // updates and read-backs, one at a time in call order
    bool storeUncertain_ = false;
    bool readBackScheduled_ = false;
    bool waitingForKeyring_ = false;
    bool keyringRetryRunning_ = false;
    bool keyringChangedDuringRead_ = false;
    std::optional<std::stop_source> keyringRetryWake_;   // ends the current pause early
    std::stop_source lifetime_;             // stops pending read-back pauses at destruction
    std::optional<AppConfiguration> configuration_;
    bool hasCompletedOnboarding_ = false;
    std::optional<std::string> acceptedTermsVersion_;
};

} // namespace quillby
