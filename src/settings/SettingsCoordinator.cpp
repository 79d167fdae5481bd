#include "settings/SettingsCoordinator.h"

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "core/OperationCancelledError.h"
#include "history/HistoryCoordinator.h"
#include "providers/GlucoseAPIClientFactory.h"
#include "providers/GlucoseProviderDescription.h"

#include <QPointer>
#include <QTimer>

namespace quillby {

namespace {
void checkCancellation(const std::stop_token &stop)
{
    if (stop.stop_requested()) {
        throw OperationCancelledError();
    }
}
} // namespace

// --- Errors ---

SettingsCoordinator::SignInError::SignInError(Case c)
    : AppError(message(c))
    , kind(c)
{
}

const char *SettingsCoordinator::SignInError::message(Case c)
{
    switch (c) {
    case Case::termsNotAccepted: return "Please agree to the terms of use before signing in.";
    case Case::noLibreConnections:
        return "No shared readings were found. Accept the sharing invitation in LibreLinkUp and confirm that you can "
               "see the person's readings, then try again.";
    case Case::libreConnectionUnavailable:
        return "The selected person is no longer available. Check sharing in LibreLinkUp, then sign in again.";
    }
    return "";
}

// --- Construction ---

SettingsCoordinator::SettingsCoordinator(ConfigurationManager &configManager, GlucoseAPIFactory makeAPIClient,
                                         HistoryCoordinator *historyCoordinator, AppNotifications &notifications)
    : configManager_(configManager)
    , makeAPIClient_(makeAPIClient ? std::move(makeAPIClient) : GlucoseAPIFactory(&makeGlucoseAPIClient))
    , historyCoordinator_(historyCoordinator)
    , notifications_(notifications)
{
}

// --- Sign-in and listing ---

QCoro::Task<void> SettingsCoordinator::signIn(GlucoseAccountConfiguration account, std::string measurementUnit,
                                              std::stop_token stop)
{
    const auto self = shared_from_this();
    if (!configManager_.hasAcceptedCurrentTerms()) {
        throw SignInError(SignInError::Case::termsNotAccepted);
    }
    checkCancellation(stop);

    GlucoseAccountConfiguration accountToStore = account;
    const auto client = makeAPIClient_(account);
    co_await client->authenticate(stop);
    if (describeProvider(account.provider).choosesConnectionAfterSignIn) {
        checkCancellation(stop);
        const std::vector<LibreConnection> connections = co_await client->fetchConnections(stop);
        const LibreConnection *match = nullptr;
        if (account.patientID) {
            for (const LibreConnection &connection : connections) {
                if (connection.id == *account.patientID) {
                    match = &connection;
                    break;
                }
            }
        }
        if (!match) {
            throw SignInError(SignInError::Case::libreConnectionUnavailable);
        }
        accountToStore.patientID = match->id;
        accountToStore.patientName = match->name;
    }
    checkCancellation(stop);

    if (historyCoordinator_) {
        co_await historyCoordinator_->performAccountChange(
            [self, accountToStore, measurementUnit] { return self->saveAccount(accountToStore, measurementUnit); });
    } else {
        co_await saveAccount(accountToStore, measurementUnit);
    }
    postConfigurationDidUpdateLater();
}

QCoro::Task<std::vector<LibreConnection>> SettingsCoordinator::fetchConnections(GlucoseAccountConfiguration account,
                                                                                std::stop_token stop)
{
    const auto self = shared_from_this();
    if (!configManager_.hasAcceptedCurrentTerms()) {
        throw SignInError(SignInError::Case::termsNotAccepted);
    }
    checkCancellation(stop);
    // The person is not chosen yet: the client signs in for the account alone.
    account.patientID.reset();
    account.patientName.reset();
    const auto client = makeAPIClient_(account);
    co_await client->authenticate(stop);
    checkCancellation(stop);
    std::vector<LibreConnection> connections = co_await client->fetchConnections(stop);
    checkCancellation(stop);
    if (connections.empty()) {
        throw SignInError(SignInError::Case::noLibreConnections);
    }
    co_return connections;
}

// --- Storing ---

QCoro::Task<void> SettingsCoordinator::saveAccount(GlucoseAccountConfiguration account, std::string measurementUnit)
{
    co_await configManager_.updateConfiguration([account, measurementUnit](const std::optional<AppConfiguration> &current) {
        return ConfigurationManager::configurationWithAccount(current, account, measurementUnit);
    });
}

QCoro::Task<void> SettingsCoordinator::signOut(std::stop_token stop)
{
    (void)stop;   // sign-out has no cancellation point before the exclusive run starts
    const auto self = shared_from_this();
    if (historyCoordinator_) {
        co_await historyCoordinator_->performSignOut([self] { return self->clearCredentials(); });
    } else {
        co_await clearCredentials();
    }
    postConfigurationDidUpdateLater();
}

QCoro::Task<void> SettingsCoordinator::clearCredentials()
{
    co_await configManager_.updateConfiguration(&ConfigurationManager::configurationClearingCredentials);
}

QCoro::Task<void> SettingsCoordinator::saveAppSettings(AppSettings settings)
{
    const auto self = shared_from_this();
    co_await configManager_.updateConfiguration([settings](const std::optional<AppConfiguration> &current) {
        return ConfigurationManager::configurationReplacingSettings(current, settings);
    });
    notifications_.postAppSettingsDidUpdate();
}

void SettingsCoordinator::postConfigurationDidUpdateLater()
{
    // Posted from a later turn of the main loop: the caller may resume first.
    QPointer<AppNotifications> notifications(&notifications_);
    QTimer::singleShot(0, &notifications_, [notifications] {
        if (notifications) {
            notifications->postConfigurationDidUpdate();
        }
    });
}

} // namespace quillby
