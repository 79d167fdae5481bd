#pragma once

#include <string>

namespace quillby {

// What the settings status line reports; every kind but none carries a message.
struct StatusMessageCategory {
    enum class Kind { none, signInError, reconnectError, signOutError, saveError, loginItemError };

    Kind kind = Kind::none;
    std::string message;

    static StatusMessageCategory none() { return {}; }
    static StatusMessageCategory signInError(std::string m) { return {Kind::signInError, std::move(m)}; }
    static StatusMessageCategory reconnectError(std::string m) { return {Kind::reconnectError, std::move(m)}; }
    static StatusMessageCategory signOutError(std::string m) { return {Kind::signOutError, std::move(m)}; }
    static StatusMessageCategory saveError(std::string m) { return {Kind::saveError, std::move(m)}; }
    static StatusMessageCategory loginItemError(std::string m) { return {Kind::loginItemError, std::move(m)}; }

    bool operator==(const StatusMessageCategory &) const = default;
};

// The status line of a category: "Sign in failed: " / "Could not reconnect: " /
// "Failed to save settings: " followed by the message, the message alone for sign-out and
// launch-at-login errors, empty for none. The message is passed on as it came (plain text).
std::string statusText(const StatusMessageCategory &category);

} // namespace quillby
