#pragma once

#include "core/AppConfiguration.h"

#include <string>
#include <vector>

namespace quillby {

// The account scope: the text that names one glucose account (and for LibreLinkUp one followed
// person) wherever saved history must not mix two accounts. 64 lowercase hexadecimal
// characters: the SHA-256 of the length-prefixed parts
//   Dexcom Share: region, user name (as stored)
//   LibreLinkUp:  "libreLinkUp", user name lower-cased (full Unicode, locale independent),
//                 patient identifier (empty when absent)
// Password and patient name never enter it. Pure; does not check completeness.
std::string historyAccountScope(const GlucoseAccountConfiguration &account);

// The joined text that is hashed: each part as its UTF-8 byte count, ":", the part.
std::string accountScopeText(const std::vector<std::string> &parts);

// The parts of an account, in order.
std::vector<std::string> accountScopeParts(const GlucoseAccountConfiguration &account);

// Full Unicode lower-casing of UTF-8 text, independent of the current locale.
std::string unicodeLowercased(const std::string &text);

} // namespace quillby
