#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"

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

    // The rules by which the settings change; each gives the changed copy.
    // Saving turned on at `now`: the collection interval starts now (a day earlier the first
    // time saving is turned on), never before the cutoff; consent is recorded, the epoch renewed.
    // An enabled configuration is given back unchanged.
    GlucoseHistoryConfiguration enabledForCollection(Date now) const;
    // Saving turned off: the collection interval ends and the epoch is renewed.
    GlucoseHistoryConfiguration disabledForCollection() const;
    // The folder attached to account `scope` at `now`, under the store's cutoff (which only
    // moves the folder's own cutoff later). A new epoch; an enabled folder collects from now, or
    // from its interval start when it continues an interval it kept.
    GlucoseHistoryConfiguration attachedTo(const std::string &scope, std::optional<Date> storeCutoff,
                                           bool continuesInterval, Date now) const;
    // The folder detached from its account: its collection interval ends and tokens of its epoch
    // are no longer accepted.
    GlucoseHistoryConfiguration detached() const;

    // The retention choices: 30 or 90 days.
    static bool isRetentionChoice(int days) { return days == 30 || days == 90; }
    // Whether a reading dated `date` is kept at `now`: inside the retention and after the cutoff.
    bool keepsReadingAt(Date date, Date now) const
    {
        return date >= now - retentionDays * 86400.0 && (!collectionCutoff || date > *collectionCutoff);
    }
    // Whether an append at `now` takes `reading`: a storable value, not in the future, inside the
    // collection interval, and kept. Nothing is taken without an interval start.
    bool acceptsReading(const GlucoseReading &reading, Date now) const;

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
