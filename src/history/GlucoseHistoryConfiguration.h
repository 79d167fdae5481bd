#pragma once

#include "core/Date.h"

#include <QUuid>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace quillby {

// The saved-history settings of one account folder ("configuration.json"). Dates are seconds
// since 1970 in memory; the JSON form counts seconds since 2001-01-01 UTC.
struct GlucoseHistoryConfiguration {
    int schemaVersion = 1;
    bool isEnabled = false;
    int retentionDays = 90;                          // 30 or 90
    std::optional<int> consentVersion;               // 1 once saving was enabled
    std::optional<std::string> accountScope;         // the account this folder belongs to
    QUuid epoch = QUuid::createUuid();               // renewed on attach, detach, enable, disable
    std::optional<Date> collectionStartedAt;
    std::optional<Date> insightsUnlockedAt;
    std::optional<Date> collectionCutoff;            // readings at or before it are never kept
    bool pendingDeletion = false;
    bool hasPreviouslyEnabled = false;
    std::optional<Date> collectionIntervalStart;     // readings before it are not accepted

    bool insightsUnlocked() const { return insightsUnlockedAt.has_value(); }

    // Compact JSON with the keys in record order; empty optionals are left out.
    nlohmann::ordered_json toJSON() const;
    // Decodes without validating; throws std::exception (nlohmann or std::invalid_argument) for a
    // missing required key or a value of the wrong type.
    static GlucoseHistoryConfiguration fromJSON(const nlohmann::json &json);
    // Schema 1, retention 30 or 90, and a scope whenever enabled.
    bool isAcceptable() const;

    bool operator==(const GlucoseHistoryConfiguration &) const = default;
};

} // namespace quillby
