#pragma once

#include "core/AppError.h"

#include <string>

namespace quillby {

// How the desktop reports the application's login item.
enum class LoginItemStatus {
    enabled,            // starts at login
    requiresApproval,   // registered, but the user must still allow it (never reported on Linux)
    notRegistered,      // not registered, or registered and switched off by the user
    notFound,           // the desktop cannot tell
};

// Enabled and awaiting approval count as on; not registered and not found as off.
inline bool countsAsOn(LoginItemStatus status)
{
    return status == LoginItemStatus::enabled || status == LoginItemStatus::requiresApproval;
}

// Thrown by a registration change; what() is the system's own description of the failure.
class LoginItemError : public AppError {
public:
    using AppError::AppError;
};

// The application's own login item. Calls block (file system) and may run on any one thread
// at a time.
class LoginItemManaging {
public:
    virtual ~LoginItemManaging() = default;
    // Makes the application start at login. Throws LoginItemError.
    virtual void registerApplication() = 0;
    // Stops the application from starting at login. Throws LoginItemError.
    virtual void unregisterApplication() = 0;
    virtual LoginItemStatus status() const = 0;
};

} // namespace quillby
