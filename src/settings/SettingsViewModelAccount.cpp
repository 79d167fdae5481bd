// The account operations of the settings model: sign-in with the LibreLinkUp person choice,
// reconnect, sign-out and the terms gate. Each runs as the one task in currentAuthTask_; every
// result is matched against authenticationAttempt_, so a late result of an abandoned attempt
// changes nothing.

#include "settings/SettingsViewModel.h"

#include "core/async/RunDetached.h"
#include "core/AppError.h"
#include "core/ConfigurationManager.h"
#include "providers/GlucoseProviderDescription.h"
#include "settings/SettingsCoordinating.h"
#include "settings/SettingsCoordinator.h"
#include "settings/SettingsViewModelSupport.h"

#include <exception>

namespace quillby {

void SettingsViewModel::startAuthTask(QCoro::Task<void> (*perform)(QPointer<SettingsViewModel>, std::stop_token))
{
    if (currentAuthTask_) {
        currentAuthTask_->request_stop();
    }
    currentAuthTask_.emplace();
    runDetached(perform(QPointer<SettingsViewModel>(this), currentAuthTask_->get_token()));
}

void SettingsViewModel::signIn()
{
    if (!canSignIn()) {
        return;
    }
    if (!configManager_.hasAcceptedCurrentTerms()) {
        setIsShowingTerms(true);
        return;
    }
    startAuthTask(&SettingsViewModel::performSignIn);
}

void SettingsViewModel::reconnect()
{
    if (!isConfigurationValid_ || isLoading_ || password_.empty()) {
        return;
    }
    if (!configManager_.hasAcceptedCurrentTerms()) {
        setIsShowingTerms(true);
        return;
    }
    startAuthTask(&SettingsViewModel::performReconnect);
}

void SettingsViewModel::signOut()
{
    invalidateAuthentication();
    startAuthTask(&SettingsViewModel::performSignOut);
}

void SettingsViewModel::acceptTerms()
{
    if (!isShowingTerms_) {
        return;
    }
    configManager_.acceptCurrentTerms();
    setIsShowingTerms(false);
    if (isConfigurationValid_) {
        reconnect();
    } else {
        signIn();
    }
}

void SettingsViewModel::invalidateAuthentication()
{
    if (currentAuthTask_) {
        currentAuthTask_->request_stop();   // the field keeps the stopped task until replaced
    }
    renewAuthenticationAttempt();
    setIsLoading(false);
    setLibreConnections({});
    setSelectedPatientID(std::string());
    resumePendingAppSettingsSave();
}

void SettingsViewModel::finishAuthentication(const QUuid &attempt)
{
    if (authenticationAttempt_ != attempt) {
        return;   // a newer attempt owns isLoading and the status line
    }
    setIsLoading(false);
    resumePendingAppSettingsSave();
}

void SettingsViewModel::finishSignOut()
{
    setIsLoading(false);
    setIsConfigurationValid(storedAccountIsComplete());
    resumePendingAppSettingsSave();
}

// --- Sign-in ---

QCoro::Task<void> SettingsViewModel::performSignIn(QPointer<SettingsViewModel> self, std::stop_token stop)
{
    if (!self || self->isLoading_ || stop.stop_requested()) {
        co_return;
    }
    const std::string username = trimmedWhitespace(self->username_);
    if (username.empty()) {
        self->setStatusCategory(StatusMessageCategory::signInError(
            describeProvider(self->provider_).accountFieldTitle + " is required"));
        co_return;
    }
    if (self->password_.empty()) {
        self->setStatusCategory(StatusMessageCategory::signInError("Password is required"));
        co_return;
    }
    if (!self->configManager_.hasAcceptedCurrentTerms()) {
        self->setIsShowingTerms(true);
        co_return;
    }
    self->setIsLoading(true);
    self->setStatusCategory(StatusMessageCategory::none());
    self->setIsConfigurationValid(false);
    self->renewAuthenticationAttempt();
    const QUuid attempt = self->authenticationAttempt_;
    const GlucoseAccountConfiguration account{self->provider_, username, self->password_, self->region_,
                                              std::nullopt, std::nullopt};

    const bool settled = co_await self->settlePendingAppSettings();
    if (!self) {
        co_return;
    }
    if (!settled || stop.stop_requested() || self->authenticationAttempt_ != attempt) {
        self->finishAuthentication(attempt);
        co_return;
    }

    std::exception_ptr failure;
    std::optional<GlucoseAccountConfiguration> resolved;
    try {
        resolved = co_await resolveSignInAccount(self, account, attempt, stop);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    if (!failure) {
        if (!resolved) {
            self->finishAuthentication(attempt);   // a person must be chosen first
            co_return;
        }
        const std::shared_ptr<SettingsCoordinating> coordinator = self->coordinator_;
        try {
            co_await coordinator->signIn(*resolved, self->measurementUnit_, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            co_return;
        }
    }
    const bool current = !stop.stop_requested() && self->authenticationAttempt_ == attempt;
    if (!failure) {
        if (current) {
            self->setPatientName(resolved->patientName);
            self->setIsConfigurationValid(true);
        }
    } else if (current) {
        self->setLibreConnections({});
        self->setSelectedPatientID(std::string());
        self->setStatusCategory(StatusMessageCategory::signInError(messageOf(failure)));
    }
    self->finishAuthentication(attempt);
}

QCoro::Task<std::optional<GlucoseAccountConfiguration>> SettingsViewModel::resolveSignInAccount(
    QPointer<SettingsViewModel> self, GlucoseAccountConfiguration account, QUuid attempt, std::stop_token stop)
{
    if (!describeProvider(account.provider).choosesConnectionAfterSignIn) {
        co_return account;
    }
    if (self->libreConnections_.empty()) {
        const std::shared_ptr<SettingsCoordinating> coordinator = self->coordinator_;
        const std::vector<LibreConnection> connections =
            co_await coordinator->fetchConnections(account, stop);
        if (!self || stop.stop_requested() || self->authenticationAttempt_ != attempt) {
            co_return std::nullopt;
        }
        if (connections.empty()) {
            throw SettingsCoordinator::SignInError(SettingsCoordinator::SignInError::Case::noLibreConnections);
        }
        self->setLibreConnections(connections);
        if (connections.size() > 1) {
            co_return std::nullopt;   // the list is shown; the user chooses and signs in again
        }
        self->setSelectedPatientID(connections.front().id);
    }
    for (const LibreConnection &connection : self->libreConnections_) {
        if (connection.id == self->selectedPatientID_) {
            account.patientID = connection.id;
            account.patientName = connection.name;
            co_return account;
        }
    }
    throw SettingsCoordinator::SignInError(SettingsCoordinator::SignInError::Case::libreConnectionUnavailable);
}

// --- Reconnect ---

QCoro::Task<void> SettingsViewModel::performReconnect(QPointer<SettingsViewModel> self, std::stop_token stop)
{
    if (!self || self->isLoading_ || stop.stop_requested()) {
        co_return;
    }
    const std::optional<AppConfiguration> stored = self->configManager_.configuration();
    if (!stored || !stored->account.isComplete()) {
        co_return;
    }
    if (!self->configManager_.hasAcceptedCurrentTerms()) {
        self->setIsShowingTerms(true);
        co_return;
    }
    if (self->password_.empty()) {
        self->setStatusCategory(StatusMessageCategory::reconnectError("Password is required"));
        co_return;
    }
    self->renewAuthenticationAttempt();
    const QUuid attempt = self->authenticationAttempt_;
    self->setIsLoading(true);
    self->setStatusCategory(StatusMessageCategory::none());

    GlucoseAccountConfiguration account = stored->account;
    if (describeProvider(account.provider).choosesConnectionAfterSignIn) {
        account.password = self->password_;
        account.region = self->region_;
    }

    const bool settled = co_await self->settlePendingAppSettings();
    if (!self) {
        co_return;
    }
    if (!settled || stop.stop_requested() || self->authenticationAttempt_ != attempt) {
        self->finishAuthentication(attempt);
        co_return;
    }

    std::exception_ptr failure;
    const std::shared_ptr<SettingsCoordinating> coordinator = self->coordinator_;
    try {
        co_await coordinator->signIn(account, self->measurementUnit_, stop);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    if (!stop.stop_requested() && self->authenticationAttempt_ == attempt) {
        if (!failure) {
            self->setSelectedPatientID(account.patientID.value_or(std::string()));
            const auto &published = self->configManager_.configuration();
            std::optional<std::string> name = published ? published->account.patientName : std::nullopt;
            self->setPatientName(name ? name : account.patientName);
        } else {
            self->setStatusCategory(StatusMessageCategory::reconnectError(messageOf(failure)));
        }
    }
    self->finishAuthentication(attempt);
}

// --- Sign-out ---

QCoro::Task<void> SettingsViewModel::performSignOut(QPointer<SettingsViewModel> self, std::stop_token stop)
{
    if (!self || self->isLoading_ || stop.stop_requested()) {
        co_return;
    }
    self->setIsLoading(true);
    self->setStatusCategory(StatusMessageCategory::none());
    if (stop.stop_requested()) {
        self->finishSignOut();
        co_return;
    }
    const bool settled = co_await self->settlePendingAppSettings();
    if (!self) {
        co_return;
    }
    if (!settled || stop.stop_requested()) {
        self->finishSignOut();
        co_return;
    }
    bool failed = false;
    const std::shared_ptr<SettingsCoordinating> coordinator = self->coordinator_;
    try {
        co_await coordinator->signOut(stop);
    } catch (...) {
        failed = true;
    }
    if (!self) {
        co_return;
    }
    if (!stop.stop_requested()) {
        if (!failed) {
            // Cleared without the editing side effects: this task is the account operation.
            self->assign(self->username_, std::string(), &SettingsViewModel::usernameChanged);
            self->assign(self->password_, std::string(), &SettingsViewModel::passwordChanged);
            self->setLibreConnections({});
            self->setSelectedPatientID(std::string());
            self->setPatientName(std::nullopt);
        } else {
            self->setStatusCategory(StatusMessageCategory::signOutError(kSignOutFailedMessage));
        }
    }
    self->finishSignOut();
}

} // namespace quillby
