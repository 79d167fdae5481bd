#pragma once

#include "platform/LoginItemManaging.h"

#include <QThreadPool>

#include <QCoroTask>

#include <memory>
#include <optional>
#include <string>

namespace quillby {

// The outcome of a launch-at-login change: the state now in force, or a message for the
// status line.
struct LoginItemChangeResult {
    std::optional<bool> state;     // set on success
    std::string failureMessage;    // set on failure

    static LoginItemChangeResult success(bool on) { return {on, {}}; }
    static LoginItemChangeResult failure(std::string message) { return {std::nullopt, std::move(message)}; }
    bool succeeded() const { return state.has_value(); }
    bool operator==(const LoginItemChangeResult &) const = default;
};

// Turns the launch-at-login toggle into a registration change and reads back what the system
// did. Its operations run one at a time, in call order, on a thread of its own (the file
// system may block); callers await them from the main thread. Keep it in a shared_ptr: a call
// in flight keeps the service alive.
class LoginItemSettingsService : public std::enable_shared_from_this<LoginItemSettingsService> {
public:
    // Linux wording of the approval message; the error prefix as the design writes it.
    static inline const std::string kApprovalMessage =
        "Allow Quillby in your desktop\u2019s startup applications settings.";
    static inline const std::string kErrorPrefix = "Failed to update launch at login:";

    LoginItemSettingsService(std::shared_ptr<LoginItemManaging> loginItemManager,
                             std::string approvalMessage = kApprovalMessage, std::string errorPrefix = kErrorPrefix);
    ~LoginItemSettingsService();

    // Registers or unregisters, then reads the status back. Success with the state in force when
    // it matches the request; the error prefix, a space and the system's text when the change
    // failed; the approval message when the system did not follow. Never throws.
    QCoro::Task<LoginItemChangeResult> setEnabled(bool enabled);
    // The registration status as the system reports it.
    QCoro::Task<LoginItemStatus> status();

    const std::string &approvalMessage() const { return approvalMessage_; }
    const std::string &errorPrefix() const { return errorPrefix_; }

private:
    std::shared_ptr<LoginItemManaging> loginItemManager_;
    std::string approvalMessage_;
    std::string errorPrefix_;
    std::unique_ptr<QThreadPool> thread_;
};

} // namespace quillby
