#include "providers/DexcomReadingRecord.h"

#include "providers/GlucoseReadingError.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillby {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Milliseconds since 1970 from a Dexcom date text matched as a whole against
// /?Date\((\d+)(?:[+-]\d+)?\)/? (the zone part is ignored), or nothing when it does not match
// or the digits overflow a signed 64-bit integer. Scanned by hand: a backtracking regular
// expression engine recurses once per digit, and a reply with a very long digit run would
// exhaust the stack.
std::optional<std::int64_t> dexcomMilliseconds(const std::string &text)
{
    std::size_t at = 0;
    const std::size_t size = text.size();
    if (at < size && text[at] == '/') {
        ++at;
    }
    static constexpr std::string_view kPrefix = "Date(";
    if (text.compare(at, kPrefix.size(), kPrefix) != 0) {
        return std::nullopt;
    }
    at += kPrefix.size();
    const std::size_t digitsStart = at;
    while (at < size && isDigit(text[at])) {
        ++at;
    }
    const std::size_t digitsEnd = at;
    if (digitsEnd == digitsStart) {
        return std::nullopt;
    }
    if (at < size && (text[at] == '+' || text[at] == '-')) {
        const std::size_t zoneStart = ++at;
        while (at < size && isDigit(text[at])) {
            ++at;
        }
        if (at == zoneStart) {
            return std::nullopt;
        }
    }
    if (at >= size || text[at] != ')') {
        return std::nullopt;
    }
    ++at;
    if (at < size && text[at] == '/') {
        ++at;
    }
    if (at != size) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const char *first = text.data() + digitsStart;
    const char *last = text.data() + digitsEnd;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) {
        return std::nullopt;
    }
    return value;
}

// Older Dexcom Share replies send the trend as its number in the service's own order.
std::optional<std::string> dexcomTrendName(const nlohmann::json &trend)
{
    static constexpr const char *names[] = {"None", "DoubleUp", "SingleUp", "FortyFiveUp", "Flat",
                                            "FortyFiveDown", "SingleDown", "DoubleDown", "NotComputable",
                                            "RateOutOfRange"};
    if (trend.is_number_unsigned()) {
        const auto number = trend.get<std::uint64_t>();
        return number <= 9 ? std::optional<std::string>(names[number]) : std::nullopt;
    }
    if (trend.is_number_integer()) {
        const auto number = trend.get<std::int64_t>();
        return number >= 0 && number <= 9 ? std::optional<std::string>(names[number]) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

GlucoseReading glucoseReadingFromDexcomJSON(const nlohmann::json &record)
{
    if (!record.is_object()) {
        throw GlucoseReadingError(GlucoseReadingError::Case::missingValue);
    }
    const auto value = record.find("Value");
    if (value == record.end() || !value->is_number()) {
        throw GlucoseReadingError(GlucoseReadingError::Case::missingValue);
    }
    const auto trend = record.find("Trend");
    if (trend == record.end()) {
        throw GlucoseReadingError(GlucoseReadingError::Case::missingTrend);
    }
    std::string trendText;
    if (trend->is_string()) {
        trendText = trend->get<std::string>();
    } else if (const auto named = dexcomTrendName(*trend)) {
        trendText = *named;
    } else {
        throw GlucoseReadingError(GlucoseReadingError::Case::missingTrend);
    }
    std::optional<std::int64_t> milliseconds;
    for (const char *key : {"ST", "WT", "DT"}) {
        const auto candidate = record.find(key);
        if (candidate == record.end() || !candidate->is_string()) {
            continue;
        }
        milliseconds = dexcomMilliseconds(candidate->get<std::string>());
        if (milliseconds) {
            break;
        }
    }
    if (!milliseconds) {
        throw GlucoseReadingError(GlucoseReadingError::Case::invalidTimestamp);
    }
    return GlucoseReading(value->get<double>(), std::move(trendText),
                          static_cast<double>(*milliseconds) / 1000.0, 300, GlucoseProvider::dexcom);
}

} // namespace quillby
