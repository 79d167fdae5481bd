#pragma once

#include "services/AliveAuthCredentials.h"

#include <QCoroTask>

#include <optional>

namespace quillby {

// Where the installation's credentials are kept. None of the operations throws.
class AliveAuthCredentialsStoring {
public:
    virtual ~AliveAuthCredentialsStoring() = default;
    // Nothing when the item is missing, cannot be read or does not hold the credentials JSON.
    virtual QCoro::Task<std::optional<AliveAuthCredentials>> loadCredentials(QString installationID) = 0;
    // True when stored.
    virtual QCoro::Task<bool> saveCredentials(AliveAuthCredentials credentials) = 0;
    virtual QCoro::Task<void> deleteCredentials(QString installationID) = 0;
};

} // namespace quillby
