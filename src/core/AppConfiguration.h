#pragma once

#include "core/AppError.h"
#include "core/GlucoseReading.h"
#include "core/AlertSwitchSettings.h"
#include "core/GlucoseThresholdSetting.h"
#include "core/GraphTimeWindowSetting.h"
#include "core/LowAlertRepeatSetting.h"
#include "core/MeasurementUnitSetting.h"
#include "core/QuietHoursSetting.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace quillby {

// The 18 user settings. Thresholds are in mg/dL. Each first-run value, range and older stored
// form belongs to the setting's owner in core (GlucoseThresholds, GraphTimeWindowSetting,
// QuietHoursSetting, ...); this record, the Settings model and the alert settings read it there.
struct AppSettings {
    std::string measurementUnit = std::string(MeasurementUnitSetting::defaultUnit);   // a unit symbol
    double lowGlucoseThreshold = GlucoseThresholds::low.defaultValue;
    double highGlucoseThreshold = GlucoseThresholds::high.defaultValue;
    std::optional<int> graphTimeWindowHours = GraphTimeWindowSetting::defaultHours;
    bool startAtLogin = false;
    bool alertsEnabled = AlertSwitchSettings::defaultAlertsEnabled;
    bool alertOnLowThreshold = AlertSwitchSettings::defaultAlertOnLowThreshold;
    bool alertOnHighThreshold = AlertSwitchSettings::defaultAlertOnHighThreshold;
    bool alertOnRapidFall = AlertSwitchSettings::defaultAlertOnRapidFall;
    bool alertOnRapidRise = AlertSwitchSettings::defaultAlertOnRapidRise;
    bool quietHoursEnabled = QuietHoursSetting::defaultEnabled;
    int quietHoursStartMinutes = QuietHoursSetting::defaultStartMinutes;
    int quietHoursEndMinutes = QuietHoursSetting::defaultEndMinutes;
    bool allowLowAlertsDuringQuietHours = QuietHoursSetting::defaultAllowsLowAlerts;
    int lowAlertRepeatMinutes = LowAlertRepeatSetting::defaultMinutes;
    bool snoozeLowAlerts = AlertSwitchSettings::defaultSnoozeLowAlerts;
    bool snoozeHighAlerts = AlertSwitchSettings::defaultSnoozeHighAlerts;
    bool snoozeRapidChangeAlerts = AlertSwitchSettings::defaultSnoozeRapidChangeAlerts;

    static AppSettings defaults();   // the fixed first-run record, unit "mmol/L"
    bool operator==(const AppSettings &) const = default;

    // JSON form: all keys in declaration order; "graphTimeWindowHours" only when present.
    // Decoding fills absent optional keys with the first-run values above and does not normalize.
    // fromJSON throws nlohmann::json::exception.
    nlohmann::ordered_json toJSON() const;
    static AppSettings fromJSON(const nlohmann::json &json);
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

    // "provider", "username", "password", "region", then "patientID" / "patientName" when
    // present. fromJSON throws nlohmann::json::exception (or std::invalid_argument for an
    // unknown provider).
    nlohmann::ordered_json toJSON() const;
    static GlucoseAccountConfiguration fromJSON(const nlohmann::json &json);
};

// One person a LibreLinkUp account may follow.
struct LibreConnection {
    std::string id;
    std::string name;
    bool operator==(const LibreConnection &) const = default;

    nlohmann::ordered_json toJSON() const;                       // "id", "name"
    static LibreConnection fromJSON(const nlohmann::json &json);  // both keys required
};

struct AppConfiguration {
    GlucoseAccountConfiguration account;
    AppSettings app;

    // The record to save: every setting brought into its allowed range.
    AppConfiguration normalized() const;
    // Only the thresholds as normalized() leaves them (mmol/L values converted, rounded,
    // clamped). The configuration manager publishes a loaded document this way, so the tray,
    // the graph and the alerts judge readings against the same thresholds even when the stored
    // values lie outside what a save allows (an older version, a hand edit).
    AppConfiguration withNormalizedThresholds() const;
    bool operator==(const AppConfiguration &) const = default;

    // Stored JSON document: "account", then "app". Decoding reads "app", then "account", or
    // else the older "dexcom" form. fromJSON throws nlohmann::json::exception (or
    // std::invalid_argument for an unknown provider).
    nlohmann::ordered_json toJSON() const;
    static AppConfiguration fromJSON(const nlohmann::json &json);
    // The bytes stored in the keyring item. Never writes NaN or infinity: a non-finite
    // threshold throws ConfigurationError::invalidConfiguration.
    std::string encode() const;
    // Throws ConfigurationDecodeError.
    static AppConfiguration decode(const std::string &bytes);
};

// A stored configuration that cannot be decoded. It names the kind of fault only and holds no
// part of the stored text: a parser's own message quotes what it read, and the stored document
// holds the password.
class ConfigurationDecodeError : public std::runtime_error {
public:
    enum class Fault { notJSON, wrongType, missingValue, unknownValue };
    explicit ConfigurationDecodeError(Fault fault);
    Fault fault;
};

// What went wrong with the stored configuration. keychainError reads "Keyring error: " and the
// status; invalidConfiguration reads "Invalid configuration data".
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
