#include "core/AppConfiguration.h"

#include "core/KeychainItemStoring.h"

#include <QString>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace quillby {

namespace {

using nlohmann::json;

[[noreturn]] void throwTypeError(const json &value, const char *expected)
{
    throw json::type_error::create(302, std::string("type must be ") + expected + ", but is " + value.type_name(),
                                   &value);
}

// A whole number that fits an int. A float with a fraction, a boolean or a text is a type
// error; a number outside the int range is an out-of-range error.
int intValue(const json &value)
{
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
                throw json::out_of_range::create(406, "number out of range for an integer", &value);
            }
            return static_cast<int>(number);
        }
        const auto number = value.get<std::int64_t>();
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            throw json::out_of_range::create(406, "number out of range for an integer", &value);
        }
        return static_cast<int>(number);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (std::isfinite(number) && number == std::trunc(number) &&
            number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()) {
            return static_cast<int>(number);
        }
        throw json::out_of_range::create(406, "number is not an integer", &value);
    }
    throwTypeError(value, "number");
}

// A key whose value is null counts as absent, as for any optional field.
const json *optionalMember(const json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

bool boolOr(const json &object, const char *key, bool fallback)
{
    const json *value = optionalMember(object, key);
    return value ? value->get<bool>() : fallback;
}

int intOr(const json &object, const char *key, int fallback)
{
    const json *value = optionalMember(object, key);
    return value ? intValue(*value) : fallback;
}

std::optional<std::string> optionalText(const json &object, const char *key)
{
    const json *value = optionalMember(object, key);
    if (!value) {
        return std::nullopt;
    }
    return value->get<std::string>();
}

void requireObject(const json &value)
{
    if (!value.is_object()) {
        throwTypeError(value, "object");
    }
}

std::string keychainErrorMessage(std::int32_t status)
{
    return "Keyring error: " + keychain_status::description(status);
}

} // namespace

// MARK: AppSettings

AppSettings AppSettings::defaults()
{
    return AppSettings{};
}

nlohmann::ordered_json AppSettings::toJSON() const
{
    nlohmann::ordered_json out;
    out["measurementUnit"] = measurementUnit;
    out["lowGlucoseThreshold"] = lowGlucoseThreshold;
    out["highGlucoseThreshold"] = highGlucoseThreshold;
    if (graphTimeWindowHours) {
        out["graphTimeWindowHours"] = *graphTimeWindowHours;
    }
    out["startAtLogin"] = startAtLogin;
    out["alertsEnabled"] = alertsEnabled;
    out["alertOnLowThreshold"] = alertOnLowThreshold;
    out["alertOnHighThreshold"] = alertOnHighThreshold;
    out["alertOnRapidFall"] = alertOnRapidFall;
    out["alertOnRapidRise"] = alertOnRapidRise;
    out["quietHoursEnabled"] = quietHoursEnabled;
    out["quietHoursStartMinutes"] = quietHoursStartMinutes;
    out["quietHoursEndMinutes"] = quietHoursEndMinutes;
    out["allowLowAlertsDuringQuietHours"] = allowLowAlertsDuringQuietHours;
    out["lowAlertRepeatMinutes"] = lowAlertRepeatMinutes;
    out["snoozeLowAlerts"] = snoozeLowAlerts;
    out["snoozeHighAlerts"] = snoozeHighAlerts;
    out["snoozeRapidChangeAlerts"] = snoozeRapidChangeAlerts;
    return out;
}

AppSettings AppSettings::fromJSON(const nlohmann::json &in)
{
    requireObject(in);
    AppSettings settings;   // an optional key that is absent keeps its first-run value
    settings.measurementUnit = in.at("measurementUnit").get<std::string>();
    settings.lowGlucoseThreshold = in.at("lowGlucoseThreshold").get<double>();
    settings.highGlucoseThreshold = in.at("highGlucoseThreshold").get<double>();
    if (const json *window = optionalMember(in, "graphTimeWindowHours")) {
        settings.graphTimeWindowHours = intValue(*window);
    } else {
        settings.graphTimeWindowHours = std::nullopt;
    }
    settings.startAtLogin = boolOr(in, "startAtLogin", settings.startAtLogin);
    settings.alertsEnabled = boolOr(in, "alertsEnabled", settings.alertsEnabled);
    settings.alertOnLowThreshold = boolOr(in, "alertOnLowThreshold", settings.alertOnLowThreshold);
    settings.alertOnHighThreshold = boolOr(in, "alertOnHighThreshold", settings.alertOnHighThreshold);
    settings.alertOnRapidFall = boolOr(in, "alertOnRapidFall", settings.alertOnRapidFall);
    settings.alertOnRapidRise = boolOr(in, "alertOnRapidRise", settings.alertOnRapidRise);
    settings.quietHoursEnabled = boolOr(in, "quietHoursEnabled", settings.quietHoursEnabled);
    settings.quietHoursStartMinutes = intOr(in, "quietHoursStartMinutes", settings.quietHoursStartMinutes);
    settings.quietHoursEndMinutes = intOr(in, "quietHoursEndMinutes", settings.quietHoursEndMinutes);
    settings.allowLowAlertsDuringQuietHours =
        boolOr(in, "allowLowAlertsDuringQuietHours", settings.allowLowAlertsDuringQuietHours);
    settings.lowAlertRepeatMinutes = intOr(in, "lowAlertRepeatMinutes", settings.lowAlertRepeatMinutes);
    settings.snoozeLowAlerts = boolOr(in, "snoozeLowAlerts", settings.snoozeLowAlerts);
    settings.snoozeHighAlerts = boolOr(in, "snoozeHighAlerts", settings.snoozeHighAlerts);
    settings.snoozeRapidChangeAlerts = boolOr(in, "snoozeRapidChangeAlerts", settings.snoozeRapidChangeAlerts);
    return settings;
}

// MARK: GlucoseAccountConfiguration

GlucoseAccountConfiguration GlucoseAccountConfiguration::empty()
{
    return GlucoseAccountConfiguration{};
}

bool GlucoseAccountConfiguration::isComplete() const
{
    // QString::trimmed drops Unicode white space and line breaks at both ends.
    if (QString::fromStdString(username).trimmed().isEmpty() || password.empty() || region.empty()) {
        return false;
    }
    if (provider == GlucoseProvider::libreLinkUp) {
        return patientID.has_value() && !patientID->empty();
    }
    return true;
}

nlohmann::ordered_json GlucoseAccountConfiguration::toJSON() const
{
    nlohmann::ordered_json out;
    out["provider"] = rawValue(provider);
    out["username"] = username;
    out["password"] = password;
    out["region"] = region;
    if (patientID) {
        out["patientID"] = *patientID;
    }
    if (patientName) {
        out["patientName"] = *patientName;
    }
    return out;
}

GlucoseAccountConfiguration GlucoseAccountConfiguration::fromJSON(const nlohmann::json &in)
{
    requireObject(in);
    GlucoseAccountConfiguration account;
    const std::string providerText = in.at("provider").get<std::string>();
    const auto provider = glucoseProviderFromRaw(providerText);
    if (!provider) {
        throw std::invalid_argument("unknown glucose provider");   // the stored text stays out of it
    }
    account.provider = *provider;
    account.username = in.at("username").get<std::string>();
    account.password = in.at("password").get<std::string>();
    account.region = in.at("region").get<std::string>();
    account.patientID = optionalText(in, "patientID");
    account.patientName = optionalText(in, "patientName");
    return account;
}

// MARK: LibreConnection

nlohmann::ordered_json LibreConnection::toJSON() const
{
    nlohmann::ordered_json out;
    out["id"] = id;
    out["name"] = name;
    return out;
}

LibreConnection LibreConnection::fromJSON(const nlohmann::json &in)
{
    requireObject(in);
    return LibreConnection{in.at("id").get<std::string>(), in.at("name").get<std::string>()};
}

// MARK: AppConfiguration

AppConfiguration AppConfiguration::withNormalizedThresholds() const
{
    AppConfiguration result = *this;
    AppSettings &s = result.app;
    // Both thresholds in the mmol/L range: the user typed mmol/L values.
    GlucoseThresholds::migrateUnits(s.lowGlucoseThreshold, s.highGlucoseThreshold);
    s.lowGlucoseThreshold = GlucoseThresholds::low.snapped(s.lowGlucoseThreshold, GlucoseThresholds::low.defaultValue);
    s.highGlucoseThreshold =
        GlucoseThresholds::high.snapped(s.highGlucoseThreshold, GlucoseThresholds::high.defaultValue);
    return result;
}

AppConfiguration AppConfiguration::normalized() const
{
    AppConfiguration result = withNormalizedThresholds();
    AppSettings &s = result.app;

    s.measurementUnit = MeasurementUnitSetting::snapped(s.measurementUnit);
    s.graphTimeWindowHours = GraphTimeWindowSetting::snapped(s.graphTimeWindowHours);
    s.quietHoursStartMinutes = QuietHoursSetting::clamped(s.quietHoursStartMinutes);
    s.quietHoursEndMinutes = QuietHoursSetting::clamped(s.quietHoursEndMinutes);
    s.lowAlertRepeatMinutes = LowAlertRepeatSetting::snapped(s.lowAlertRepeatMinutes);
    return result;
}

nlohmann::ordered_json AppConfiguration::toJSON() const
{
    nlohmann::ordered_json out;
    out["account"] = account.toJSON();
    out["app"] = app.toJSON();
    return out;
}

AppConfiguration AppConfiguration::fromJSON(const nlohmann::json &in)
{
    requireObject(in);
    AppConfiguration configuration;
    configuration.app = AppSettings::fromJSON(in.at("app"));
    if (const json *account = optionalMember(in, "account")) {
        configuration.account = GlucoseAccountConfiguration::fromJSON(*account);
        return configuration;
    }
    // The older form kept only a Dexcom account.
    const json &dexcom = in.at("dexcom");
    requireObject(dexcom);
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::dexcom;
    account.username = dexcom.at("username").get<std::string>();
    account.password = dexcom.at("password").get<std::string>();
    account.region = dexcom.at("region").get<std::string>();
    configuration.account = std::move(account);
    return configuration;
}

std::string AppConfiguration::encode() const
{
    // nlohmann writes a non-finite number as null, which would make the stored item
    // undecodable; refuse to encode it instead.
    if (!std::isfinite(app.lowGlucoseThreshold) || !std::isfinite(app.highGlucoseThreshold)) {
        throw ConfigurationError::invalidConfiguration();
    }
    return toJSON().dump();
}

AppConfiguration AppConfiguration::decode(const std::string &bytes)
{
    // Parsed without exceptions: a parse error's message quotes the text around the fault.
    const json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded()) {
        throw ConfigurationDecodeError(ConfigurationDecodeError::Fault::notJSON);
    }
    try {
        return fromJSON(document);
    } catch (const json::type_error &) {
        throw ConfigurationDecodeError(ConfigurationDecodeError::Fault::wrongType);
    } catch (const json::out_of_range &) {
        throw ConfigurationDecodeError(ConfigurationDecodeError::Fault::missingValue);
    } catch (const std::invalid_argument &) {
        throw ConfigurationDecodeError(ConfigurationDecodeError::Fault::unknownValue);
    } catch (const json::exception &) {
        throw ConfigurationDecodeError(ConfigurationDecodeError::Fault::wrongType);
    }
}

namespace {
const char *decodeFaultText(ConfigurationDecodeError::Fault fault)
{
    switch (fault) {
    case ConfigurationDecodeError::Fault::notJSON:
        return "not valid JSON";
    case ConfigurationDecodeError::Fault::wrongType:
        return "a value has the wrong type";
    case ConfigurationDecodeError::Fault::missingValue:
        return "a value is missing or out of range";
    case ConfigurationDecodeError::Fault::unknownValue:
        return "a value is not one this version knows";
    }
    return "unreadable record";
}
} // namespace

ConfigurationDecodeError::ConfigurationDecodeError(Fault fault) : std::runtime_error(decodeFaultText(fault)), fault(fault) {}

// MARK: ConfigurationError

ConfigurationError::ConfigurationError(Case c, std::int32_t status, const std::string &message)
    : AppError(message), kind(c), status(status)
{
}

ConfigurationError ConfigurationError::keychainError(std::int32_t status)
{
    return ConfigurationError(Case::keychainError, status, keychainErrorMessage(status));
}

ConfigurationError ConfigurationError::invalidConfiguration()
{
    return ConfigurationError(Case::invalidConfiguration, 0, "Invalid configuration data");
}

} // namespace quillby
