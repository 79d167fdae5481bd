#include "settings/StatusMessageCategory.h"

namespace quillby {

std::string statusText(const StatusMessageCategory &category)
{
    using Kind = StatusMessageCategory::Kind;
    switch (category.kind) {
    case Kind::signInError: return "Sign in failed: " + category.message;
    case Kind::reconnectError: return "Could not reconnect: " + category.message;
    case Kind::saveError: return "Failed to save settings: " + category.message;
    case Kind::signOutError:
    case Kind::loginItemError: return category.message;
    case Kind::none: break;
    }
    return {};
}

} // namespace quillby
