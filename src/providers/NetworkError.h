#pragma once

#include "core/AppError.h"

#include <QNetworkReply>

#include <string>

namespace quillby {

// A request that never produced an HTTP reply: no connection, TLS failure, time-out and the
// like. Callers treat it as "offline"; what() is a short description of the transport failure.
class NetworkError : public AppError {
public:
    NetworkError(QNetworkReply::NetworkError code, bool timedOut, const std::string &message)
        : AppError(message), code(code), timedOut(timedOut) {}

    QNetworkReply::NetworkError code;
    bool timedOut;
};

// Thrown by a provider client when the caller's stop token was triggered while it waited.
// Callers that cancel do not treat it as a failure.
class CancellationError : public AppError {
public:
    CancellationError() : AppError("The operation was cancelled.") {}
};

} // namespace quillby
