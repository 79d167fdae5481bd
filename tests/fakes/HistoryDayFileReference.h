#pragma once

// The reference reading of a day file's plaintext for tests: the record built from a whole JSON
// tree, key by key. The production decoder (decodeHistoryDayFile) must accept exactly what this
// accepts, with the same values; tests and the fuzz target hold it against this.

#include "core/GlucoseReading.h"
#include "history/GlucoseHistoryRecords.h"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

namespace quillby::test {

namespace day_file_reference {

[[noreturn]] inline void shapeError(const char *key)
{
    throw std::invalid_argument(std::string("saved-history record: bad or missing key ") + key);
}

// The value under `key`, none when it is missing or null; a shape error when `object` is none.
inline const nlohmann::json *findValue(const nlohmann::json &object, const char *key)
{
    if (!object.is_object()) {
        shapeError(key);
    }
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

inline const nlohmann::json &requiredValue(const nlohmann::json &object, const char *key)
{
    const nlohmann::json *value = findValue(object, key);
    if (value == nullptr) {
        shapeError(key);
    }
    return *value;
}

} // namespace day_file_reference

// Throws on any shape error.
inline GlucoseHistoryStoredReading storedReadingFromTree(const nlohmann::json &json)
{
    using namespace day_file_reference;
    GlucoseHistoryStoredReading stored;
    const nlohmann::json &reading = requiredValue(json, "reading");
    if (!reading.is_object()) {
        shapeError("reading");
    }
    // The reading codec converts booleans to numbers; a saved reading holds real numbers only.
    for (const char *key : {"mgdL", "date"}) {
        if (!requiredValue(reading, key).is_number()) {
            shapeError(key);
        }
    }
    if (const nlohmann::json *duration = findValue(reading, "sampleDuration"); duration && !duration->is_number()) {
        shapeError("sampleDuration");
    }
    stored.reading = GlucoseReading::fromJSON(reading, JSONDateForm::secondsSinceReferenceDate);
    stored.fetchedAt = history_json::requiredDate(json, "fetchedAt");
    return stored;
}

// Throws on any shape error.
inline GlucoseHistoryDayFile dayFileFromTree(const nlohmann::json &json)
{
    using namespace day_file_reference;
    GlucoseHistoryDayFile file;
    file.schemaVersion = history_json::requiredInt(json, "schemaVersion");
    file.source = history_json::requiredString(json, "source");
    file.accountScope = history_json::requiredString(json, "accountScope");
    const nlohmann::json &readings = requiredValue(json, "readings");
    if (!readings.is_array()) {
        shapeError("readings");
    }
    file.readings.reserve(readings.size());
    for (const auto &stored : readings) {
        file.readings.push_back(storedReadingFromTree(stored));
    }
    return file;
}

} // namespace quillby::test
