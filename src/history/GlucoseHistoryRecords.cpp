#include "history/GlucoseHistoryRecords.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace quillby {

namespace {

[[noreturn]] void shapeError(const char *key)
{
    throw std::invalid_argument(std::string("saved-history record: bad or missing key ") + key);
}

const nlohmann::json *findValue(const nlohmann::json &object, const char *key)
{
    if (!object.is_object()) {
        shapeError(key);
    }
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

const nlohmann::json &requiredValue(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = findValue(object, key);
    if (value == nullptr) {
        shapeError(key);
    }
    return *value;
}

int integerValue(const nlohmann::json &value, const char *key)
{
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            shapeError(key);
        }
        return static_cast<int>(number);
    }
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            shapeError(key);
        }
        return static_cast<int>(number);
    }
    if (value.is_number_float()) {
        // A number written with a fraction part is accepted when it is a whole number.
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::trunc(number) != number ||
            number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            shapeError(key);
        }
        return static_cast<int>(number);
    }
    shapeError(key);
}

double numberValue(const nlohmann::json &value, const char *key)
{
    if (!value.is_number()) {
        shapeError(key);
    }
    return value.get<double>();
}

bool isHexDigit(char c, bool allowUpper)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (allowUpper && c >= 'A' && c <= 'F');
}

} // namespace

namespace history_json {

nlohmann::ordered_json date(Date value)
{
    return secondsSinceReferenceDate(value);
}

Date requiredDate(const nlohmann::json &object, const char *key)
{
    return dateFromReferenceSeconds(numberValue(requiredValue(object, key), key));
}

std::optional<Date> optionalDate(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = findValue(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    return dateFromReferenceSeconds(numberValue(*value, key));
}

bool requiredBool(const nlohmann::json &object, const char *key)
{
    const nlohmann::json &value = requiredValue(object, key);
    if (!value.is_boolean()) {
        shapeError(key);
    }
    return value.get<bool>();
}

int requiredInt(const nlohmann::json &object, const char *key)
{
    return integerValue(requiredValue(object, key), key);
}

std::optional<int> optionalInt(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = findValue(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    return integerValue(*value, key);
}

std::string requiredString(const nlohmann::json &object, const char *key)
{
    const nlohmann::json &value = requiredValue(object, key);
    if (!value.is_string()) {
        shapeError(key);
    }
    return value.get<std::string>();
}

std::optional<std::string> optionalString(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = findValue(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        shapeError(key);
    }
    return value->get<std::string>();
}

QByteArray encode(const nlohmann::ordered_json &json)
{
    const std::string text = json.dump();
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

nlohmann::json decode(const QByteArray &bytes)
{
    return nlohmann::json::parse(bytes.constData(), bytes.constData() + bytes.size());
}

} // namespace history_json

std::string uuidText(const QUuid &uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

std::optional<QUuid> uuidFromText(std::string_view text)
{
    if (text.size() != 36) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != '-' : !isHexDigit(text[i], true)) {
            return std::nullopt;
        }
    }
    const QUuid uuid = QUuid::fromString(QLatin1StringView(text.data(), static_cast<qsizetype>(text.size())));
    if (uuid.isNull() && text != "00000000-0000-0000-0000-000000000000") {
        return std::nullopt;
    }
    return uuid;
}

bool isFolderDigest(std::string_view text)
{
    if (text.size() != 64) {
        return false;
    }
    for (char c : text) {
        if (!isHexDigit(c, false)) {
            return false;
        }
    }
    return true;
}

std::optional<std::int64_t> historyDayNumber(Date date)
{
    if (!std::isfinite(date)) {
        return std::nullopt;
    }
    const double day = std::floor(date / 86400.0);
    if (!(day >= -9.0e15 && day <= 9.0e15)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(day);
}

std::string historyDayFileName(std::int64_t dayNumber)
{
    return std::to_string(dayNumber) + history_files::dayFileExtension;
}

bool hasExtension(const std::filesystem::path &path, std::string_view extensionWithDot)
{
    return path.extension().native() == extensionWithDot;
}

// MARK: - Manifest

nlohmann::ordered_json GlucoseHistoryManifest::toJSON() const
{
    nlohmann::ordered_json json;
    json["schemaVersion"] = schemaVersion;
    json["scopes"] = scopes;
    if (collectionCutoff) {
        json["collectionCutoff"] = history_json::date(*collectionCutoff);
    }
    json["pendingDeletion"] = pendingDeletion;
    if (attachedScopeID) {
        json["attachedScopeID"] = *attachedScopeID;
    }
    if (legacyMigrationScope) {
        json["legacyMigrationScope"] = *legacyMigrationScope;
    }
    return json;
}

GlucoseHistoryManifest GlucoseHistoryManifest::fromJSON(const nlohmann::json &json)
{
    GlucoseHistoryManifest manifest;
    manifest.schemaVersion = history_json::requiredInt(json, "schemaVersion");
    const nlohmann::json &scopes = requiredValue(json, "scopes");
    if (!scopes.is_array()) {
        shapeError("scopes");
    }
    for (const auto &scope : scopes) {
        if (!scope.is_string()) {
            shapeError("scopes");
        }
        manifest.scopes.push_back(scope.get<std::string>());
    }
    manifest.collectionCutoff = history_json::optionalDate(json, "collectionCutoff");
    manifest.pendingDeletion = history_json::requiredBool(json, "pendingDeletion");
    manifest.attachedScopeID = history_json::optionalString(json, "attachedScopeID");
    manifest.legacyMigrationScope = history_json::optionalString(json, "legacyMigrationScope");
    return manifest;
}

bool GlucoseHistoryManifest::isAcceptable() const
{
    if (schemaVersion != 1) {
        return false;
    }
    for (const auto &scope : scopes) {
        if (!isFolderDigest(scope)) {
            return false;
        }
    }
    return (!attachedScopeID || isFolderDigest(*attachedScopeID)) &&
           (!legacyMigrationScope || isFolderDigest(*legacyMigrationScope));
}

// MARK: - Stored readings and day files

nlohmann::ordered_json GlucoseHistoryStoredReading::toJSON() const
{
    nlohmann::ordered_json json;
    json["reading"] = reading.toJSON(JSONDateForm::secondsSinceReferenceDate);
    json["fetchedAt"] = history_json::date(fetchedAt);
    return json;
}

nlohmann::ordered_json GlucoseHistoryDayFile::toJSON() const
{
    return toJSON(schemaVersion, source, accountScope, readings);
}

nlohmann::ordered_json GlucoseHistoryDayFile::toJSON(int schemaVersion, const std::string &source,
                                                     const std::string &accountScope,
                                                     const GlucoseHistoryStoredReadings &readings)
{
    nlohmann::ordered_json json;
    json["schemaVersion"] = schemaVersion;
    json["source"] = source;
    json["accountScope"] = accountScope;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    list.get_ref<nlohmann::ordered_json::array_t &>().reserve(readings.size());
    for (const auto &stored : readings) {
        list.push_back(stored.toJSON());
    }
    json["readings"] = std::move(list);
    return json;
}

} // namespace quillby
