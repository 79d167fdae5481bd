#pragma once

#include "core/AppConfiguration.h"

#include <QCoroTask>

#include <stop_token>
#include <string>
#include <vector>

namespace quillby {

// The account service as the settings model holds it. Every operation runs on the main thread,
// may throw, and checks `stop` at its cancellation points (OperationCancelledError).
class SettingsCoordinating {
public:
    virtual ~SettingsCoordinating() = default;

    // Proves the credentials with a throw-away client and stores the account with the unit
    // text ("mg/dL" or "mmol/L"); where the provider chooses a person after sign-in (LibreLinkUp),
    // the account's patient identifier chooses the person. Posts "ConfigurationDidUpdate" on a
    // later turn.
    virtual QCoro::Task<void> signIn(GlucoseAccountConfiguration account, std::string measurementUnit,
                                     std::stop_token stop = {}) = 0;
    // The people shared with the account (its provider, user name, password and region), in the
    // service's order; never empty. For a provider that chooses a person after sign-in.
    virtual QCoro::Task<std::vector<LibreConnection>> fetchConnections(GlucoseAccountConfiguration account,
                                                                       std::stop_token stop = {}) = 0;
    // Clears the stored credentials. Posts "ConfigurationDidUpdate" on a later turn.
    virtual QCoro::Task<void> signOut(std::stop_token stop = {}) = 0;
    // Stores the app settings and posts "AppSettingsDidUpdate" before returning.
    virtual QCoro::Task<void> saveAppSettings(AppSettings settings) = 0;
    // Stores an account without signing in or posting (the step signIn runs exclusively).
    virtual QCoro::Task<void> saveAccount(GlucoseAccountConfiguration account, std::string measurementUnit) = 0;
};

} // namespace quillby
