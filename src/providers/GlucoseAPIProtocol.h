#pragma once

#include "core/AppConfiguration.h"
#include "core/GlucoseReading.h"
#include "core/OperationCancelledError.h"
#include "providers/DexcomError.h"
#include "providers/GlucoseReadingError.h"
#include "providers/LibreLinkUpError.h"
#include "providers/NetworkError.h"

#include <QCoroTask>

#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

namespace quillby {

// A glucose provider client. Calls run one at a time, in the order they arrive, on the main
// loop. Every operation throws the client's error (DexcomError or LibreLinkUpError),
// GlucoseReadingError for a malformed Dexcom record, NetworkError when no HTTP reply came, and
// OperationCancelledError when `stop` was requested while the call waited;
// describeProviderFailure (ProviderFailure.h) tells callers what any of them means.
// Keep clients in a shared_ptr: a call in flight keeps its client alive until it ends.
class GlucoseAPIProtocol {
public:
    virtual ~GlucoseAPIProtocol() = default;

    // Signs in.
    virtual QCoro::Task<void> authenticate(std::stop_token stop = {}) = 0;

    // The latest readings, oldest first. May be empty for Dexcom Share.
    virtual QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token stop = {}) = 0;

    // The people whose readings the account may follow, in reply order, for a provider whose
    // description chooses the person after sign-in (GlucoseProviderDescription); an empty list
    // is returned as it is. An account that only follows its own readings has nobody to choose
    // from: the default lists nobody.
    virtual QCoro::Task<std::vector<LibreConnection>> fetchConnections(std::stop_token stop = {})
    {
        (void)stop;
        co_return std::vector<LibreConnection>{};
    }
};

// Builds the provider client for an account: its provider, credentials, region and chosen
// person (the poller rebuilds it on re-sign-in; Settings proves credentials with one).
using GlucoseAPIFactory =
    std::function<std::shared_ptr<GlucoseAPIProtocol>(const GlucoseAccountConfiguration &)>;

} // namespace quillby
