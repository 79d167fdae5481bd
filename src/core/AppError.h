#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace quillby {

// Base of every error the application throws. what() is the fixed English user message.
class AppError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    std::string userMessage() const { return what(); }
};

// The text of a caught error: what() of a std::exception (for our errors the user message),
// otherwise "Unknown error".
inline std::string messageOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

} // namespace quillby
