#include "core/GlucoseReading.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <regex>
#include <set>
#include <stdexcept>

namespace quillby {

std::string rawValue(GlucoseProvider provider)
{
    switch (provider) {
    case GlucoseProvider::dexcom:
        return "dexcom";
    case GlucoseProvider::libreLinkUp:
        return "libreLinkUp";
    }
    return "dexcom";
}

std::optional<GlucoseProvider> glucoseProviderFromRaw(const std::string &raw)
{
    if (raw == "dexcom") {
        return GlucoseProvider::dexcom;
    }
    if (raw == "libreLinkUp") {
        return GlucoseProvider::libreLinkUp;
    }
    return std::nullopt;
}

namespace units {

std::string rawValue(GlucoseUnits unit)
{
    return unit == GlucoseUnits::mgdL ? "mgdL" : "mmolL";
}

std::string symbol(GlucoseUnits unit)
{
    return unit == GlucoseUnits::mgdL ? "mg/dL" : "mmol/L";
}

GlucoseUnits fromMeasurementUnit(const std::string &symbolText)
{
    for (GlucoseUnits unit : {GlucoseUnits::mmolL, GlucoseUnits::mgdL}) {
        if (symbol(unit) == symbolText) {
            return unit;
        }
    }
    return GlucoseUnits::mmolL;
}

std::string format(GlucoseUnits unit, double mgdL)
{
    char buffer[64];
    if (unit == GlucoseUnits::mmolL) {
        const double rounded = std::round(mgdL / 18.0 * 10.0) / 10.0;
        std::snprintf(buffer, sizeof buffer, "%.1f", rounded);
        return buffer;
    }
    const double rounded = std::round(mgdL);
    // Values outside the 64-bit range (and NaN) have no whole-number text; show them as %.0f.
    if (!std::isfinite(rounded) || rounded < -9.2e18 || rounded > 9.2e18) {
        std::snprintf(buffer, sizeof buffer, "%.0f", rounded);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(rounded));
    return buffer;
}

bool localeDefault(const std::string &regionIdentifier)
{
    static const std::set<std::string> mgdLRegions = {
        "AE", "AR", "AT", "BD", "BE", "BH", "BR", "CL", "CO", "DZ", "EC", "EG", "ES",
        "GE", "ID", "IL", "IN", "IT", "JO", "JP", "KR", "KW", "LB", "MX", "OM", "PE",
        "PH", "PL", "PT", "SA", "SY", "TH", "TN", "TR", "TW", "US", "UY", "VE", "YE"};
    if (regionIdentifier.empty()) {
        return false;
    }
    std::string upper = regionIdentifier;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return mgdLRegions.count(upper) > 0;
}

} // namespace units

namespace {

std::string readingErrorMessage(GlucoseReadingError::Case c)
{
    switch (c) {
    case GlucoseReadingError::Case::invalidFormat:
        return "Invalid glucose reading format";
    case GlucoseReadingError::Case::missingValue:
        return "Missing glucose value";
    case GlucoseReadingError::Case::missingTrend:
        return "Missing trend information";
    case GlucoseReadingError::Case::invalidTimestamp:
        return "Missing or invalid glucose reading timestamp";
    }
    return "Invalid glucose reading format";
}

const std::regex &dexcomDatePattern()
{
    static const std::regex pattern(R"(^/?Date\((\d+)(?:[+-]\d+)?\)/?$)");
    return pattern;
}

// Milliseconds since 1970 from a Dexcom date text, or nothing when it does not match or
// the digits overflow a signed 64-bit integer.
std::optional<std::int64_t> dexcomMilliseconds(const std::string &text)
{
    std::smatch match;
    if (!std::regex_match(text, match, dexcomDatePattern())) {
        return std::nullopt;
    }
    const std::string digits = match[1].str();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

double repairedSampleDuration(double seconds)
{
    if (!std::isfinite(seconds) || !(seconds > 0)) {
        return 60;
    }
    return std::min(seconds, 900.0);
}

} // namespace

GlucoseReadingError::GlucoseReadingError(Case c) : AppError(readingErrorMessage(c)), kind(c) {}

GlucoseReading::GlucoseReading(double mgdL, std::string trendString, Date date, double sampleDuration,
                               GlucoseProvider source)
    : mgdL(mgdL),
      trendString(std::move(trendString)),
      trendArrow(trendArrowFor(this->trendString)),
      date(date),
      sampleDuration(sampleDuration),
      source(source)
{
}

std::string GlucoseReading::trendArrowFor(const std::string &trend)
{
    std::string lower = trend;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "doubleup") return "↑↑";
    if (lower == "singleup") return "↑";
    if (lower == "fortyfiveup") return "↗";
    if (lower == "flat") return "→";
    if (lower == "fortyfivedown") return "↘";
    if (lower == "singledown") return "↓";
    if (lower == "doubledown") return "↓↓";
    return "?";
}

GlucoseReading GlucoseReading::fromDexcomJSON(const nlohmann::json &record)
{
    if (!record.is_object()) {
        throw GlucoseReadingError(GlucoseReadingError::Case::missingValue);
    }
    const auto value = record.find("Value");
    if (value == record.end() || !value->is_number()) {
        throw GlucoseReadingError(GlucoseReadingError::Case::missingValue);
    }
    const auto trend = record.find("Trend");
    if (trend == record.end() || !trend->is_string()) {
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
    return GlucoseReading(value->get<double>(), trend->get<std::string>(),
                          static_cast<double>(*milliseconds) / 1000.0, 300, GlucoseProvider::dexcom);
}

nlohmann::ordered_json GlucoseReading::toJSON(JSONDateForm form) const
{
    nlohmann::ordered_json json;
    json["mgdL"] = mgdL;
    json["trendString"] = trendString;
    json["date"] = form == JSONDateForm::secondsSinceReferenceDate ? secondsSinceReferenceDate(date) : date;
    json["sampleDuration"] = sampleDuration;
    json["source"] = rawValue(source);
    return json;
}

GlucoseReading GlucoseReading::fromJSON(const nlohmann::json &json, JSONDateForm form)
{
    const double mgdL = json.at("mgdL").get<double>();
    std::string trend = json.at("trendString").get<std::string>();
    const double rawDate = json.at("date").get<double>();
    const Date date = form == JSONDateForm::secondsSinceReferenceDate ? dateFromReferenceSeconds(rawDate) : rawDate;

    double duration = 300;
    if (const auto found = json.find("sampleDuration"); found != json.end() && !found->is_null()) {
        duration = repairedSampleDuration(found->get<double>());
    }
    GlucoseProvider source = GlucoseProvider::dexcom;
    if (const auto found = json.find("source"); found != json.end() && !found->is_null()) {
        const auto provider = glucoseProviderFromRaw(found->get<std::string>());
        if (!provider) {
            throw std::invalid_argument("unknown glucose provider: " + found->get<std::string>());
        }
        source = *provider;
    }
    return GlucoseReading(mgdL, std::move(trend), date, duration, source);
}

bool GlucoseReading::operator==(const GlucoseReading &other) const
{
    return mgdL == other.mgdL && trendString == other.trendString && trendArrow == other.trendArrow &&
           date == other.date && sampleDuration == other.sampleDuration && source == other.source;
}

} // namespace quillby
