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
    // Every case without a payload.
    explicit LibreLinkUpError(Case kind);

    Case kind;
    double retryAfter = 0;   // rateLimited only
    int status = 0;          // serverError only

    bool operator==(const LibreLinkUpError &other) const;

private:
    LibreLinkUpError(Case kind, double retryAfter, int status);
};

} // namespace quillby
