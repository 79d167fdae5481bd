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
// OperationCancelledError when `stop` was requested while the call waited.
// Keep clients in a shared_ptr: a call in flight keeps its client alive until it ends.
class GlucoseAPIProtocol {
public:
    virtual ~GlucoseAPIProtocol() = default;

    // Signs in.
    virtual QCoro::Task<void> authenticate(std::stop_token stop = {}) = 0;

    // Reserved; nothing calls it and neither client gives it behaviour.
    virtual QCoro::Task<void> reserved(std::stop_token stop = {})
    {
        (void)stop;
        co_return;
    }

    // The latest readings, oldest first. May be empty for Dexcom Share.
    virtual QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token stop = {}) = 0;
};

class LibreLinkUpAPIProtocol : public GlucoseAPIProtocol {
public:
    // The people whose readings the account may follow, in reply order.
    virtual QCoro::Task<std::vector<LibreConnection>> fetchConnections(std::stop_token stop = {}) = 0;
};

// Builds the provider client for an account (the poller rebuilds it on re-sign-in).
using GlucoseAPIFactory =
    std::function<std::shared_ptr<GlucoseAPIProtocol>(const GlucoseAccountConfiguration &)>;

} // namespace quillby
