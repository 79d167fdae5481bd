#include "core/GlucoseReading.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
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

namespace {

// What printf's "%.<precision>f" writes in the C locale. The application object sets the C
// library's locale from the environment, where printf itself would write "5,5" for some users.
std::string fixedText(double value, int precision)
{
    char buffer[400];   // room for the longest double in fixed notation
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    return std::string(buffer, result.ptr);
}

} // namespace

std::string format(GlucoseUnits unit, double mgdL)
{
    if (unit == GlucoseUnits::mmolL) {
        const double rounded = std::round(mgdL / 18.0 * 10.0) / 10.0;
        return fixedText(rounded, 1);
    }
    const double rounded = std::round(mgdL);
    // Values outside the 64-bit range (and NaN) have no whole-number text; show them as %.0f.
    if (!std::isfinite(rounded) || rounded < -9.2e18 || rounded > 9.2e18) {
        return fixedText(rounded, 0);
    }
    char buffer[32];
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
    // Case is changed in ASCII, whatever the process locale (a Turkish locale keeps "i" as it is).
    std::string upper = regionIdentifier;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return mgdLRegions.count(upper) > 0;
}

} // namespace units

namespace {

double repairedSampleDuration(double seconds)
{
    if (!std::isfinite(seconds) || !(seconds > 0)) {
        return 60;
    }
    return std::min(seconds, 900.0);
}

} // namespace

GlucoseReading::GlucoseReading(double mgdL, std::string trendString, Date date, double sampleDuration,
                               GlucoseProvider source)
    : mgdL(mgdL),
      date(date),
      sampleDuration(sampleDuration),
      source(source),
      trendString(std::move(trendString)),
      trendArrow(trendArrowFor(this->trendString))
{
}

std::string GlucoseReading::trendArrowFor(const std::string &trend)
{
    // Case is changed in ASCII, whatever the process locale (a Turkish locale keeps "I" as it is).
    std::string lower = trend;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (lower == "doubleup") return "↑↑";
    if (lower == "singleup") return "↑";
    if (lower == "fortyfiveup") return "↗";
    if (lower == "flat") return "→";
    if (lower == "fortyfivedown") return "↘";
    if (lower == "singledown") return "↓";
    if (lower == "doubledown") return "↓↓";
    return "?";
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
