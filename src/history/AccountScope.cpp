#include "history/AccountScope.h"

#include "history/HistoryDigest.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace quillby {

std::string unicodeLowercased(const std::string &text)
{
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string lowered;
    unicode.toUTF8String(lowered);
    return lowered;
}

std::vector<std::string> accountScopeParts(const GlucoseAccountConfiguration &account)
{
    switch (account.provider) {
    case GlucoseProvider::dexcom:
        return {account.region, account.username};
    case GlucoseProvider::libreLinkUp:
        return {rawValue(GlucoseProvider::libreLinkUp), unicodeLowercased(account.username),
                account.patientID.value_or(std::string())};
    }
    return {account.region, account.username};
}

std::string accountScopeText(const std::vector<std::string> &parts)
{
    std::string joined;
    for (const auto &part : parts) {
        joined += std::to_string(part.size());
        joined += ':';
        joined += part;
    }
    return joined;
}

std::string historyAccountScope(const GlucoseAccountConfiguration &account)
{
    return sha256Digest(accountScopeText(accountScopeParts(account)));
}

} // namespace quillby
