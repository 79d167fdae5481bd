#pragma once

#include "core/Date.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace quillby {

enum class GlucoseProvider { dexcom, libreLinkUp };

std::string rawValue(GlucoseProvider provider);                       // "dexcom" / "libreLinkUp"
std::optional<GlucoseProvider> glucoseProviderFromRaw(const std::string &raw);

enum class GlucoseUnits { mmolL, mgdL };

namespace units {
std::string rawValue(GlucoseUnits unit);                              // "mmolL" / "mgdL"
std::string symbol(GlucoseUnits unit);                                // "mmol/L" / "mg/dL"
GlucoseUnits fromMeasurementUnit(const std::string &symbolText);      // exact symbol, else mmolL
std::string format(GlucoseUnits unit, double mgdL);                   // display text of a mg/dL value
bool localeDefault(const std::string &regionIdentifier);              // true: region uses mg/dL
} // namespace units

// How dates are written inside an enclosing JSON document.
enum class JSONDateForm { secondsSinceReferenceDate, secondsSince1970 };

// The numbers come first, together: passes over many readings (clean-up, statistics) read them
// and not the texts, and so touch less memory.
struct GlucoseReading {
    double mgdL = 0;
    Date date = 0;
    double sampleDuration = 300;      // seconds the reading stands for
    GlucoseProvider source = GlucoseProvider::dexcom;
    std::string trendString;
    std::string trendArrow;           // derived from trendString; never stored

    GlucoseReading() = default;
    GlucoseReading(double mgdL, std::string trendString, Date date, double sampleDuration = 300,
                   GlucoseProvider source = GlucoseProvider::dexcom);

    // Trend text to arrow ("Flat" -> "→", unknown -> "?").
    static std::string trendArrowFor(const std::string &trend);

    // Stored JSON form: "mgdL", "trendString", "date", "sampleDuration", "source".
    nlohmann::ordered_json toJSON(JSONDateForm form = JSONDateForm::secondsSinceReferenceDate) const;
    // Throws nlohmann::json::exception (or std::invalid_argument for an unknown source).
    static GlucoseReading fromJSON(const nlohmann::json &json,
                                   JSONDateForm form = JSONDateForm::secondsSinceReferenceDate);

    bool operator==(const GlucoseReading &other) const;
};

using GlucoseReadings = std::vector<GlucoseReading>;

} // namespace quillby
