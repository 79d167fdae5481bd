#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace quillby {

// Lower-cases the ASCII letters A-Z and nothing else. Protocol texts (trend names, region
// codes, keys) are compared with it: unlike std::tolower it does not follow the process locale
// (in a Turkish locale std::tolower turns "I" into a dotless i), and unlike a Unicode mapping it
// lets no look-alike letter pass for an ASCII one.
inline constexpr char asciiLowercased(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string asciiLowercased(std::string text)
{
    for (char &c : text) {
        c = asciiLowercased(c);
    }
    return text;
}

inline QString asciiLowercased(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() >= u'A' && c.unicode() <= u'Z') {
            c = QChar(static_cast<char16_t>(c.unicode() - u'A' + u'a'));
        }
    }
    return text;
}

} // namespace quillby

namespace quillby {

// Equal when the texts differ at most in the case of ASCII letters.
inline bool asciiEqualIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLowercased(a[i]) != asciiLowercased(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace quillby
