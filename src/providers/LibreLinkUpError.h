#pragma once

#include "core/AppError.h"

namespace quillby {

// Errors of the LibreLinkUp client. what() is the user text. Equal when case and payload match.
class LibreLinkUpError : public AppError {
public:
    enum class Case {
        rateLimited,                 // retryAfter: seconds
        serverError,                 // status: HTTP status
        invalidRegion,
        authenticationFailed,
        sessionExpired,
        termsRequired,
        accountActionRequired,
        clientUpdateRequired,
        noConnections,
        connectionSelectionRequired,
        connectionUnavailable,
        noReadingsAvailable,
        invalidResponse,
        invalidReading,
    };

    static LibreLinkUpError rateLimited(double retryAfter);
    static LibreLinkUpError serverError(int status);
    // accountActionRequired for the step "couldNotLoadPatient": the service could not load the
    // account's profile. No setup step waits in the app for it, so it has its own text.
    static LibreLinkUpError patientNotLoaded();
    // Every case without a payload.
    explicit LibreLinkUpError(Case kind);

    Case kind;
    double retryAfter = 0;   // rateLimited only
    int status = 0;          // serverError only
    bool couldNotLoadPatient = false;   // accountActionRequired only, see patientNotLoaded()

    bool operator==(const LibreLinkUpError &other) const;

private:
    LibreLinkUpError(Case kind, double retryAfter, int status, bool couldNotLoadPatient = false);
};

} // namespace quillby
