#pragma once

#include "core/Date.h"

#include <exception>
#include <optional>
#include <string>

namespace quillby {

// A provider client's error, told in terms every caller shares: what went wrong, the texts to
// show (empty when the caller words it), and when trying again makes sense.
struct ProviderFailure {
    enum class Kind {
        rateLimited,             // the service asks to wait: retryAfter, when it said how long
        accountActionRequired,   // only the person can fix it, in the provider's app or Settings
        accountLocked,           // too many sign-ins: nothing signs in before retryAfter
        credentialsRejected,     // user name or password refused: signing in again cannot help
        notAuthenticated,        // the session is not (or no longer) valid: sign in again once
        sessionExpired,          // the session ended and signing in again at once does not help
        transport,               // no HTTP reply: offline, time-out, TLS
        noReadings,              // the account has no readings to report
        other,
    };

    Kind kind = Kind::other;
    std::string title;
    std::string message;
    std::string recoveryHint;
    // rateLimited and accountLocked: when to try again; other: the least wait the service asked
    // for, when it said.
    std::optional<TimeInterval> retryAfter;
};

// Turns whatever a provider client threw into a provider-neutral failure.
ProviderFailure describeProviderFailure(const std::exception_ptr &error);

} // namespace quillby
