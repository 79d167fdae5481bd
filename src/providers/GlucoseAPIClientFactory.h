#pragma once

#include "providers/DexcomAPI.h"
#include "providers/GlucoseAPIProtocol.h"
#include "providers/LibreLinkUpAPI.h"

#include <memory>

namespace quillby {

// How the clients reach their services; the defaults reach the real ones. Tests and tools set
// the service tables to point the clients at loopback servers.
struct GlucoseAPIClientOptions {
    DexcomAPIOptions dexcom;
    LibreLinkUpAPIOptions libreLinkUp;
};

// The real provider client for an account, the one place that builds a client: Dexcom Share
// with the user name, password and region as stored, or LibreLinkUp with the user name trimmed
// of white space and line breaks, the region lower-cased and the chosen person (none when empty).
std::shared_ptr<GlucoseAPIProtocol> makeGlucoseAPIClient(const GlucoseAccountConfiguration &account);

// The same factory, building every client with `options`.
GlucoseAPIFactory glucoseAPIFactory(GlucoseAPIClientOptions options);

} // namespace quillby
