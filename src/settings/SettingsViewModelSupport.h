#pragma once

// Helpers shared by the settings model's source files.

#include "core/async/AsyncEvent.h"

#include <QString>

#include <string>

namespace quillby {

// The text without leading and trailing white space and newlines (Unicode rules).
inline std::string trimmedWhitespace(const std::string &text)
{
    return QString::fromStdString(text).trimmed().toStdString();
}

} // namespace quillby
