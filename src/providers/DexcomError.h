#pragma once

#include "core/AppError.h"
#include "core/Date.h"

#include <optional>
#include <string>

namespace quillby {

// Errors of the Dexcom Share client. what() is the user text.
class DexcomError : public AppError {
public:
    enum class Case {
        invalidURL,            // detail: endpoint name
        authenticationFailed,  // detail: reason
        loginFailed,           // detail: reason
        parsingFailed,         // detail: reason
        serverError,           // status: HTTP status
        invalidRegion,
        sessionExpired,
        noReadingsAvailable,
        invalidResponse,
    };

    static DexcomError invalidURL(const std::string &endpointName);
    static DexcomError authenticationFailed(const std::string &reason);
    static DexcomError loginFailed(const std::string &reason);
    static DexcomError parsingFailed(const std::string &reason);
    static DexcomError serverError(int status);
    static DexcomError invalidRegion();
    static DexcomError sessionExpired();
    static DexcomError noReadingsAvailable();
    static DexcomError invalidResponse();

    Case kind;
    std::string detail;   // endpoint name or reason, empty for the other cases
    int status = 0;       // HTTP status of serverError
    // A serverError(429) whose Retry-After said how many seconds to wait.
    std::optional<TimeInterval> retryAfter;
    // The service itself refused the user name or password: signing in again with the same
    // credentials cannot help and risks a lockout.
    bool credentialsRejected = false;
    // The service locked the account after too many sign-in attempts. Every further attempt,
    // with the right password too, keeps it locked: nothing signs in again for
    // kAccountLockoutWait.
    bool accountLocked = false;
    static constexpr TimeInterval kAccountLockoutWait = 1800;

private:
    DexcomError(Case kind, std::string detail, int status, const std::string &message);
};

} // namespace quillby
