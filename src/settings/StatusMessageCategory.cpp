#include "settings/StatusMessageCategory.h"

#include <cctype>
#include <string_view>

namespace quillby {

namespace {

// The cause under a heading that already says what failed: a leading "Authentication failed: "
// or "Login failed: " of the cause would say it twice ("Sign in failed: Authentication failed:
// ..."), so it is left out.
std::string cause(const std::string &message)
{
    constexpr std::string_view marker = " failed: ";
    const std::size_t at = message.find(marker);
    if (at == std::string::npos || at > 40) {
        return message;
    }
    // Only a short heading of words ("Authentication", "Login", "Sign in"), never a sentence.
    for (std::size_t i = 0; i < at; ++i) {
        const char c = message[i];
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != ' ') {
            return message;
        }
    }
    return message.substr(at + marker.size());
}

} // namespace

std::string statusText(const StatusMessageCategory &category)
{
    using Kind = StatusMessageCategory::Kind;
    switch (category.kind) {
    case Kind::signInError: return "Sign in failed: " + cause(category.message);
    case Kind::reconnectError: return "Could not reconnect: " + cause(category.message);
    case Kind::saveError: return "Failed to save settings: " + cause(category.message);
    case Kind::signOutError:
    case Kind::loginItemError: return category.message;
    case Kind::none: break;
    }
    return {};
}

} // namespace quillby
