#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"

#include <QByteArray>
#include <QUuid>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillby {

// Names of the saved-history tree.
namespace history_files {
inline constexpr const char *manifest = "manifest.json";
inline constexpr const char *configuration = "configuration.json";
inline constexpr const char *accounts = "accounts";
inline constexpr const char *dayFileExtension = ".history";
inline constexpr const char *temporaryExtension = ".tmp";
inline constexpr const char *keychainService = "Quillby.history";
inline constexpr const char *legacyKeyAccount = "encryption-key-v1";
inline constexpr const char *scopeKeyAccountPrefix = "encryption-key-v2-";
inline constexpr const char *daySource = "glucose-cloud";
inline constexpr const char *legacyDaySource = "dexcom-share";
} // namespace history_files

// The manifest of the history root ("manifest.json").
struct GlucoseHistoryManifest {
    int schemaVersion = 1;
    std::vector<std::string> scopes;                 // folder digests, sorted, no duplicates
    std::optional<Date> collectionCutoff;
    bool pendingDeletion = false;
    std::optional<std::string> attachedScopeID;
    std::optional<std::string> legacyMigrationScope;

    nlohmann::ordered_json toJSON() const;
    static GlucoseHistoryManifest fromJSON(const nlohmann::json &json);   // throws on shape errors
    bool isAcceptable() const;   // schema 1 and every digest 64 lowercase hex characters
    bool operator==(const GlucoseHistoryManifest &) const = default;
};

// One saved reading and when the poll that delivered it finished fetching.
struct GlucoseHistoryStoredReading {
    GlucoseReading reading;
    Date fetchedAt = 0;

    nlohmann::ordered_json toJSON() const;
    bool operator==(const GlucoseHistoryStoredReading &) const = default;
};

using GlucoseHistoryStoredReadings = std::vector<GlucoseHistoryStoredReading>;

// The plaintext of one sealed day file (read by decodeHistoryDayFile).
struct GlucoseHistoryDayFile {
    int schemaVersion = 1;
    std::string source = history_files::daySource;
    std::string accountScope;
    GlucoseHistoryStoredReadings readings;

    nlohmann::ordered_json toJSON() const;
    // The same JSON built from the parts, for a writer that keeps its readings elsewhere.
    static nlohmann::ordered_json toJSON(int schemaVersion, const std::string &source,
                                         const std::string &accountScope, const GlucoseHistoryStoredReadings &readings);
    bool operator==(const GlucoseHistoryDayFile &) const = default;
};

// Canonical upper-case UUID text, and its strict parse (36 characters, hyphens at 8, 13, 18, 23).
std::string uuidText(const QUuid &uuid);
std::optional<QUuid> uuidFromText(std::string_view text);

// JSON helpers shared by the records: dates are seconds since 2001 in JSON.
namespace history_json {
nlohmann::ordered_json date(Date date);
Date requiredDate(const nlohmann::json &object, const char *key);
std::optional<Date> optionalDate(const nlohmann::json &object, const char *key);
bool requiredBool(const nlohmann::json &object, const char *key);
int requiredInt(const nlohmann::json &object, const char *key);
std::optional<int> optionalInt(const nlohmann::json &object, const char *key);
std::string requiredString(const nlohmann::json &object, const char *key);
std::optional<std::string> optionalString(const nlohmann::json &object, const char *key);
QByteArray encode(const nlohmann::ordered_json &json);    // compact UTF-8 bytes
nlohmann::json decode(const QByteArray &bytes);            // throws nlohmann::json::exception
} // namespace history_json

// 64 characters from "0123456789abcdef".
bool isFolderDigest(std::string_view text);

// floor(seconds since 1970 / 86400); nothing for a date that is not finite or out of range.
std::optional<std::int64_t> historyDayNumber(Date date);
// Day number + ".history", e.g. "20431.history", "-1.history".
std::string historyDayFileName(std::int64_t dayNumber);

bool hasExtension(const std::filesystem::path &path, std::string_view extensionWithDot);

} // namespace quillby
