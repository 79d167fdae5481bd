#pragma once

#include <stdexcept>
#include <string>

namespace quillby {

// Base of every error the application throws. what() is the fixed English user message.
class AppError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    std::string userMessage() const { return what(); }
};

} // namespace quillby
