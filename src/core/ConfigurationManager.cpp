#include "core/ConfigurationManager.h"

#include "core/AppNotifications.h"
#include "core/OperationCancelledError.h"
#include "core/UserDefaults.h"
#include "core/async/RunDetached.h"

#include <QPointer>

#include <algorithm>
#include <exception>
#include <iterator>

namespace quillby {

namespace {

AppSettings firstRunSettingsFor(const QLocale &locale)
{
    AppSettings settings = AppSettings::defaults();
    const std::string region = locale.territory() == QLocale::AnyTerritory
                                   ? std::string()
                                   : QLocale::territoryToCode(locale.territory()).toStdString();
    settings.measurementUnit = MeasurementUnitSetting::firstRunUnit(region);
    return settings;
}

} // namespace

ConfigurationManager::ConfigurationManager(std::shared_ptr<KeychainItemStoring> itemStore,
                                           std::shared_ptr<QSettings> defaults, const QLocale &locale,
                                           std::shared_ptr<Clock> clock, std::shared_ptr<Sleeper> sleeper,
                                           AppNotifications &notifications, QObject *parent)
    : QObject(parent),
      keychainStore_(std::make_unique<ConfigurationKeychainStore>(std::move(itemStore))),
      defaults_(std::move(defaults)),
      settingsWrites_(std::make_unique<SettingsWriteMonitor>(*defaults_)),
      clock_(std::move(clock)),
      sleeper_(std::move(sleeper)),
      notifications_(notifications),
      firstRunSettings_(firstRunSettingsFor(locale))
{
    Q_ASSERT(clock_ && sleeper_);
    const QVariant accepted = defaults_->value(kAcceptedTermsVersionKey);
    if (accepted.isValid() && !accepted.isNull()) {
        acceptedTermsVersion_ = accepted.toString().toStdString();
    }
}

ConfigurationManager::~ConfigurationManager()
{
    lifetime_.request_stop();
    if (keyringRetryWake_) {
        keyringRetryWake_->request_stop();
    }
}

void ConfigurationManager::watchKeyring(KeyringWatching *keyringWatcher)
{
    if (!keyringWatcher) {
        return;
    }
    connect(keyringWatcher, &KeyringWatching::keyringMayHaveChanged, this, [this] {
        if (keyringRetryWake_) {
            keyringRetryWake_->request_stop();   // read again now
        } else if (keyringRetryRunning_) {
            keyringChangedDuringRead_ = true;   // a read is under way: if it fails, read again at once
        }
    });
}

void ConfigurationManager::setHasCompletedOnboarding(bool completed)
{
    hasCompletedOnboarding_ = completed;
    emit hasCompletedOnboardingChanged(completed);
}

AppSettings ConfigurationManager::appSettings() const
{
    return configuration_ ? configuration_->app : firstRunSettings_;
}

std::string ConfigurationManager::measurementUnit() const
{
    return appSettings().measurementUnit;
}

int ConfigurationManager::graphTimeWindowHours() const
{
    if (!configuration_) {
        return GraphTimeWindowSetting::defaultHours;
    }
    return configuration_->app.graphTimeWindowHours.value_or(GraphTimeWindowSetting::defaultHours);
}

bool ConfigurationManager::hasAcceptedCurrentTerms() const
{
    return acceptedTermsVersion_ == kCurrentTermsVersion;
}

void ConfigurationManager::acceptCurrentTerms()
{
    if (hasAcceptedCurrentTerms()) {
        return;
    }
    defaults_->setValue(kAcceptedTermsVersionKey, QString::fromStdString(kCurrentTermsVersion));
    defaults::writeDate(*defaults_, kTermsAcceptedAtKey, clock_->now());
    settingsWrites_->flush();
    acceptedTermsVersion_ = kCurrentTermsVersion;
    emit acceptedTermsVersionChanged(acceptedTermsVersion_);
}

void ConfigurationManager::publishConfiguration(AppConfiguration configuration)
{
    configuration_ = std::move(configuration);
    emit configurationChanged(configuration_);
}

// MARK: Loading

QCoro::Task<void> ConfigurationManager::loadConfiguration()
{
    if (configuration_ && !configurationLoadFailed_) {
        co_return;
    }
    AsyncEvent load;
    if (loadTask_) {
        load = *loadTask_;
    } else {
        loadTask_ = load;
        runDetached(runLoad(load));   // fires `load` when it ends (perhaps at once)
    }
    co_await load.wait();
}

QCoro::Task<void> ConfigurationManager::runLoad(AsyncEvent done)
{
    QPointer<ConfigurationManager> guard(this);
    const ConfigurationKeychainStore::LoadOutcome outcome = co_await keychainStore_->load();
    if (!guard) {
        done.fire();
        co_return;
    }
    const bool failedBefore = configurationLoadFailed_;
    const std::optional<AppConfiguration> previous = configuration_;
    switch (outcome.kind) {
    case ConfigurationKeychainStore::LoadOutcome::Kind::found:
        configurationLoadFailed_ = false;
        waitingForKeyring_ = false;
        // The stored document stays as it is until the next save.
        publishConfiguration(outcome.configuration.withNormalizedThresholds());
        break;
    case ConfigurationKeychainStore::LoadOutcome::Kind::failure: {
        const bool mayPass = outcome.keychainStatus && keychain_status::mayPass(*outcome.keychainStatus);
        // While the keyring stays unavailable, its first failure is the one logged.
        if (!(mayPass && waitingForKeyring_)) {
            logger_.warning(std::string("Failed to load configuration from keyring item ") +
                            ConfigurationKeychainStore::kService + "/" + ConfigurationKeychainStore::kAccount + ": " +
                            outcome.failureText + (mayPass ? "; reading it again when the keyring is available" : ""));
        }
        configurationLoadFailed_ = true;
        waitingForKeyring_ = mayPass;
        publishConfiguration(AppConfiguration{GlucoseAccountConfiguration::empty(), AppSettings::defaults()});
        if (mayPass && !keyringRetryRunning_) {
            keyringRetryRunning_ = true;
            runDetached(retryWhileWaitingForKeyring());
        }
        break;
    }
    case ConfigurationKeychainStore::LoadOutcome::Kind::notFound:
        configurationLoadFailed_ = false;
        waitingForKeyring_ = false;
        publishConfiguration(AppConfiguration{GlucoseAccountConfiguration::empty(), firstRunSettings_});
        break;
    }
    // No other load starts while this one is in progress.
    loadTask_.reset();
    // Whoever waits for this load resumes after the shell has heard of what changed, so the
    // shell's own step (which may be the one waiting) is restarted before it goes on.
    if (failedBefore && !configurationLoadFailed_ && previous) {
        postRecoveredChanges(*previous, *configuration_);
    }
    done.fire();
}

void ConfigurationManager::postRecoveredChanges(const AppConfiguration &previous, const AppConfiguration &loaded)
{
    logger_.warning("The configuration could be read again");
    if (previous.account != loaded.account) {
        notifications_.postConfigurationDidUpdate();
    }
    if (!(previous.app == loaded.app)) {
        notifications_.postAppSettingsDidUpdate();
    }
}

QCoro::Task<void> ConfigurationManager::retryWhileWaitingForKeyring()
{
    QPointer<ConfigurationManager> guard(this);
    const std::shared_ptr<Sleeper> sleeper = sleeper_;
    double delay = kKeyringRetryFirstDelay;
    while (true) {
        std::stop_source wake;
        if (keyringChangedDuringRead_) {
            keyringChangedDuringRead_ = false;
            wake.request_stop();
        }
        keyringRetryWake_ = wake;
        co_await sleeper->sleep(delay, wake.get_token());
        if (!guard || lifetime_.stop_requested()) {
            co_return;
        }
        keyringRetryWake_.reset();
        if (!waitingForKeyring_) {
            break;   // another load has read it (or found it damaged) meanwhile
        }
        co_await loadConfiguration();
        if (!guard) {
            co_return;
        }
        if (!waitingForKeyring_) {
            break;
        }
        delay = std::min(delay * 2, kKeyringRetryMaxDelay);
    }
    keyringRetryRunning_ = false;
    keyringChangedDuringRead_ = false;
}

QCoro::Task<AppConfiguration> ConfigurationManager::requireConfiguration()
{
    if (!configuration_ || configurationLoadFailed_) {
        co_await loadConfiguration();
    }
    if (configuration_ && !configurationLoadFailed_) {
        // QCoro moves from a non-const lvalue given to co_return: hand it a copy.
        AppConfiguration loaded = *configuration_;
        co_return loaded;
    }
    throw ConfigurationError::invalidConfiguration();
}

// MARK: Updates

QCoro::Task<void> ConfigurationManager::updateConfiguration(Transform transform, std::stop_token stop)
{
    QPointer<ConfigurationManager> guard(this);
    std::exception_ptr failure;
    try {
        // The place in line is taken in this first main-thread step, before anything is
        // awaited, so updates run in the order of the calls. A caller who stops while waiting
        // leaves the line at once.
        const AsyncSerialQueue::Turn turn = co_await updates_.acquire(stop);
        if (!guard || stop.stop_requested()) {
            throw OperationCancelledError();
        }
        // An earlier save timed out and may have landed since: start from what is stored.
        if (storeUncertain_) {
            co_await readBackStoredConfiguration();
            if (!guard || stop.stop_requested()) {
                throw OperationCancelledError();
            }
        }
        const AppConfiguration current = co_await requireConfiguration();
        if (!guard || stop.stop_requested()) {
            throw OperationCancelledError();
        }
        const AppConfiguration next = transform(current).normalized();
        try {
            co_await keychainStore_->save(next, stop);
        } catch (const ConfigurationError &error) {
            // The keyring did not answer in time, but it finishes the write on its own: the
            // item may hold `next` later, while the caller is told the save failed.
            if (guard && error.kind == ConfigurationError::Case::keychainError &&
                error.status == keychain_status::timedOut) {
                storeUncertain_ = true;
            }
            throw;
        }
        if (!guard) {
            throw OperationCancelledError();
        }
        configurationLoadFailed_ = false;
        storeUncertain_ = false;
        publishConfiguration(next);
    } catch (...) {
        // The turn has passed on: a failed update does not stop the ones after it.
        failure = std::current_exception();
    }
    if (guard && storeUncertain_ && !readBackScheduled_) {
        readBackScheduled_ = true;
        runDetached(readBackLater(0, 0));   // takes its turn after the updates already waiting
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

QCoro::Task<bool> ConfigurationManager::readBackStoredConfiguration()
{
    QPointer<ConfigurationManager> guard(this);
    // The store runs its keyring calls one after another, and the keyring runs its jobs one
    // after another, so this read comes after the write that timed out.
    const ConfigurationKeychainStore::LoadOutcome outcome = co_await keychainStore_->load();
    if (!guard) {
        co_return false;
    }
    switch (outcome.kind) {
    case ConfigurationKeychainStore::LoadOutcome::Kind::found: {
        storeUncertain_ = false;
        configurationLoadFailed_ = false;
        const AppConfiguration stored = outcome.configuration.withNormalizedThresholds();
        const std::optional<AppConfiguration> previous = configuration_;
        if (previous == stored) {
            co_return true;
        }
        logger_.warning("A save that timed out reached the keyring later; using the stored configuration");
        publishConfiguration(stored);
        // Tell the shell as a finished save would have: polling follows the stored account,
        // the status item the stored settings.
        if (!previous || previous->account != stored.account) {
            notifications_.postConfigurationDidUpdate();
        }
        if (!previous || !(previous->app == stored.app)) {
            notifications_.postAppSettingsDidUpdate();
        }
        co_return true;
    }
    case ConfigurationKeychainStore::LoadOutcome::Kind::notFound:
        storeUncertain_ = false;   // nothing was written; what is published still holds
        co_return true;
    case ConfigurationKeychainStore::LoadOutcome::Kind::failure:
        break;
    }
    co_return false;
}

QCoro::Task<void> ConfigurationManager::readBackLater(double delay, std::size_t attempt)
{
    QPointer<ConfigurationManager> guard(this);
    const std::stop_token stop = lifetime_.get_token();
    const std::shared_ptr<Sleeper> sleeper = sleeper_;
    if (delay > 0) {
        co_await sleeper->sleep(delay, stop);
    }
    if (!guard || stop.stop_requested()) {
        co_return;
    }
    if (!storeUncertain_) {
        readBackScheduled_ = false;   // an update has read it back (or saved) meanwhile
        co_return;
    }
    bool known = false;
    {
        // A turn among the updates, so no update runs between the read and its publishing.
        const AsyncSerialQueue::Turn turn = co_await updates_.acquire();
        known = !guard || !storeUncertain_;
        if (!known) {
            known = co_await readBackStoredConfiguration();
        }
    }
    if (!guard) {
        co_return;
    }
    if (known || !storeUncertain_) {
        readBackScheduled_ = false;
        co_return;
    }
    // The keyring still does not answer (a locked keyring waiting on its unlock prompt).
    constexpr std::size_t kDelays = std::size(kReadBackDelays);
    runDetached(readBackLater(kReadBackDelays[std::min(attempt, kDelays - 1)], attempt + 1));
}

// MARK: Builders

AppConfiguration ConfigurationManager::configurationWithAccount(const std::optional<AppConfiguration> &current,
                                                                const GlucoseAccountConfiguration &account,
                                                                const std::string &measurementUnit)
{
    AppSettings settings = current ? current->app : AppSettings::defaults();
    settings.measurementUnit = measurementUnit;
    return AppConfiguration{account, settings};
}

AppConfiguration ConfigurationManager::configurationReplacingSettings(const std::optional<AppConfiguration> &current,
                                                                      const AppSettings &settings)
{
    return AppConfiguration{current ? current->account : GlucoseAccountConfiguration::empty(), settings};
}

AppConfiguration ConfigurationManager::configurationClearingAccountOf(const std::optional<AppConfiguration> &current)
{
    return AppConfiguration{GlucoseAccountConfiguration::empty(), current ? current->app : AppSettings::defaults()};
}

} // namespace quillby
