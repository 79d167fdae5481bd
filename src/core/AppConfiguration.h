#pragma once

#include "core/AppError.h"
#include "core/GlucoseReading.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace quillby {

// The 18 user settings. Thresholds are in mg/dL.
struct AppSettings {
    std::string measurementUnit = "mmol/L";   // a unit symbol
    double lowGlucoseThreshold = 72;
    double highGlucoseThreshold = 270;
    std::optional<int> graphTimeWindowHours = 6;
    bool startAtLogin = false;
    bool alertsEnabled = true;
    bool alertOnLowThreshold = true;
    bool alertOnHighThreshold = true;
    bool alertOnRapidFall = true;
    bool alertOnRapidRise = true;
    bool quietHoursEnabled = false;
    int quietHoursStartMinutes = 1320;
    int quietHoursEndMinutes = 420;
    bool allowLowAlertsDuringQuietHours = false;
    int lowAlertRepeatMinutes = 0;
    bool snoozeLowAlerts = true;
    bool snoozeHighAlerts = true;
    bool snoozeRapidChangeAlerts = true;

    static AppSettings defaults();   // the fixed first-run record, unit "mmol/L"
    bool operator==(const AppSettings &) const = default;
};

struct GlucoseAccountConfiguration {
    GlucoseProvider provider = GlucoseProvider::dexcom;
    std::string username;
    std::string password;
    std::string region = "ous";
    std::optional<std::string> patientID;
    std::optional<std::string> patientName;

    static GlucoseAccountConfiguration empty();
    bool isComplete() const;
    bool operator==(const GlucoseAccountConfiguration &) const = default;
};

// One person a LibreLinkUp account may follow.
struct LibreConnection {
    std::string id;
    std::string name;
    bool operator==(const LibreConnection &) const = default;
};

struct AppConfiguration {
    GlucoseAccountConfiguration account;
    AppSettings app;

    AppConfiguration normalized() const;
    bool operator==(const AppConfiguration &) const = default;
};

class ConfigurationError : public AppError {
public:
    enum class Case { keychainError, invalidConfiguration };
    static ConfigurationError keychainError(std::int32_t status);
    static ConfigurationError invalidConfiguration();
    Case kind;
    std::int32_t status = 0;

private:
    ConfigurationError(Case c, std::int32_t status, const std::string &message);
};

} // namespace quillby
