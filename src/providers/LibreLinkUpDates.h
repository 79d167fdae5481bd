#pragma once

#include "core/Date.h"

#include <optional>
#include <string>

namespace quillby::librelinkup {

// A sensor "FactoryTimestamp": an internet date-time (with or without fractional seconds), else
// "M/d/yyyy h:mm:ss a" or "M/d/yyyy H:mm:ss" read as UTC. Nothing that reads otherwise.
std::optional<Date> parseTimestamp(const std::string &text);

// An HTTP date such as "Wed, 21 Oct 2015 07:28:00 GMT".
std::optional<Date> parseHTTPDate(const std::string &text);

// The whole text as a finite decimal number ("120", "1.5", "2e3"), else nothing.
std::optional<double> parseDecimal(const std::string &text);

} // namespace quillby::librelinkup
