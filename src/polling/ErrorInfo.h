#pragma once

#include <string>

namespace quillby {

// An error or warning shown as the first row of the status item's menu.
struct ErrorInfo {
    std::string title;
    std::string message;
    std::string remediation;
    bool operator==(const ErrorInfo &) const = default;
};

} // namespace quillby
