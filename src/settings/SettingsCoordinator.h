#pragma once

#include "core/AppError.h"
#include "providers/GlucoseAPIProtocol.h"
#include "settings/SettingsCoordinating.h"

#include <functional>
#include <memory>
#include <string>

namespace quillby {

class AppNotifications;
class ConfigurationManager;
class HistoryCoordinator;

// The one place where Settings and onboarding change the stored account and app settings. It
// checks the terms of use, proves credentials with a throw-away provider client, lists the
// people shared with an account whose provider chooses a person after sign-in, writes through
// ConfigurationManager (account changes exclusively through the history coordinator when there
// is one) and posts "ConfigurationDidUpdate" / "AppSettingsDidUpdate". It keeps no state beyond its collaborators.
// Main thread only.
class SettingsCoordinator final : public SettingsCoordinating,
                                  public std::enable_shared_from_this<SettingsCoordinator> {
public:
    class SignInError : public AppError {
    public:
        enum class Case { termsNotAccepted, noLibreConnections, libreConnectionUnavailable };
        explicit SignInError(Case c);
        static const char *message(Case c);
        Case kind;
    };

    // `makeAPIClient` builds the throw-away provider clients (empty: the real ones,
    // makeGlucoseAPIClient). `historyCoordinator` may be null: account changes then write the
    // configuration directly.
    SettingsCoordinator(ConfigurationManager &configManager, GlucoseAPIFactory makeAPIClient,
                        HistoryCoordinator *historyCoordinator, AppNotifications &notifications);

    QCoro::Task<void> signIn(GlucoseAccountConfiguration account, std::string measurementUnit,
                             std::stop_token stop = {}) override;
    QCoro::Task<std::vector<LibreConnection>> fetchConnections(GlucoseAccountConfiguration account,
                                                               std::stop_token stop = {}) override;
    QCoro::Task<void> signOut(std::stop_token stop = {}) override;
    QCoro::Task<void> saveAppSettings(AppSettings settings) override;
    QCoro::Task<void> saveAccount(GlucoseAccountConfiguration account, std::string measurementUnit) override;
    // Replaces the stored account with the empty one, keeping the app settings.
    QCoro::Task<void> clearCredentials();

private:
    void postConfigurationDidUpdateLater();

    ConfigurationManager &configManager_;
    GlucoseAPIFactory makeAPIClient_;
    HistoryCoordinator *historyCoordinator_;
    AppNotifications &notifications_;
};

} // namespace quillby
