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

} // namespace quillby
