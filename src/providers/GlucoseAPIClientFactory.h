#pragma once

#include "providers/GlucoseAPIProtocol.h"

#include <exception>
#include <memory>

namespace quillby {

// The real provider client for an account: LibreLinkUp with the trimmed username, the lowercased
// region and the chosen patient (none when empty), or Dexcom Share.
std::shared_ptr<GlucoseAPIProtocol> makeGlucoseAPIClient(const GlucoseAccountConfiguration &configuration);

// Whether `error` is a client's "no readings available" (Dexcom or LibreLinkUp).
bool isNoReadingsAvailableError(const std::exception_ptr &error);

} // namespace quillby
