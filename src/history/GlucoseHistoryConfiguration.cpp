#include "history/GlucoseHistoryConfiguration.h"

#include "history/GlucoseHistoryAccountSupport.h"
#include "history/GlucoseHistoryRecords.h"

#include <algorithm>
#include <limits>

#include <stdexcept>

namespace quillby {

nlohmann::ordered_json GlucoseHistoryConfiguration::toJSON() const
{
    nlohmann::ordered_json json;
    json["schemaVersion"] = schemaVersion;
    json["isEnabled"] = isEnabled;
    json["retentionDays"] = retentionDays;
    if (consentVersion) {
        json["consentVersion"] = *consentVersion;
    }
    if (accountScope) {
        json["accountScope"] = *accountScope;
    }
    json["epoch"] = uuidText(epoch);
    if (collectionStartedAt) {
        json["collectionStartedAt"] = history_json::date(*collectionStartedAt);
    }
    if (insightsUnlockedAt) {
        json["insightsUnlockedAt"] = history_json::date(*insightsUnlockedAt);
    }
    if (collectionCutoff) {
        json["collectionCutoff"] = history_json::date(*collectionCutoff);
    }
    json["pendingDeletion"] = pendingDeletion;
    json["hasPreviouslyEnabled"] = hasPreviouslyEnabled;
    if (collectionIntervalStart) {
        json["collectionIntervalStart"] = history_json::date(*collectionIntervalStart);
    }
    return json;
}

GlucoseHistoryConfiguration GlucoseHistoryConfiguration::fromJSON(const nlohmann::json &json)
{
    GlucoseHistoryConfiguration configuration;
    configuration.schemaVersion = history_json::requiredInt(json, "schemaVersion");
    configuration.isEnabled = history_json::requiredBool(json, "isEnabled");
    configuration.retentionDays = history_json::requiredInt(json, "retentionDays");
    configuration.consentVersion = history_json::optionalInt(json, "consentVersion");
    configuration.accountScope = history_json::optionalString(json, "accountScope");
    const auto epoch = uuidFromText(history_json::requiredString(json, "epoch"));
    if (!epoch) {
        throw std::invalid_argument("saved-history configuration: bad epoch");
    }
    configuration.epoch = *epoch;
    configuration.collectionStartedAt = history_json::optionalDate(json, "collectionStartedAt");
    configuration.insightsUnlockedAt = history_json::optionalDate(json, "insightsUnlockedAt");
    configuration.collectionCutoff = history_json::optionalDate(json, "collectionCutoff");
    configuration.pendingDeletion = history_json::requiredBool(json, "pendingDeletion");
    configuration.hasPreviouslyEnabled = history_json::requiredBool(json, "hasPreviouslyEnabled");
    configuration.collectionIntervalStart = history_json::optionalDate(json, "collectionIntervalStart");
    return configuration;
}

bool GlucoseHistoryConfiguration::isAcceptable() const
{
    return schemaVersion == 1 && isRetentionChoice(retentionDays) && !(isEnabled && !accountScope.has_value());
}

GlucoseHistoryConfiguration GlucoseHistoryConfiguration::enabledForCollection(Date now) const
{
    GlucoseHistoryConfiguration configuration = *this;
    if (isEnabled) {
        return configuration;
    }
    const Date start = hasPreviouslyEnabled ? now : now - history_detail::kDay;
    configuration.collectionIntervalStart = collectionCutoff ? std::max(start, *collectionCutoff) : start;
    if (!configuration.collectionStartedAt) {
        configuration.collectionStartedAt = now;
    }
    configuration.hasPreviouslyEnabled = true;
    configuration.isEnabled = true;
    configuration.consentVersion = 1;
    configuration.epoch = QUuid::createUuid();
    return configuration;
}

GlucoseHistoryConfiguration GlucoseHistoryConfiguration::disabledForCollection() const
{
    GlucoseHistoryConfiguration configuration = detached();
    configuration.isEnabled = false;
    return configuration;
}

GlucoseHistoryConfiguration GlucoseHistoryConfiguration::attachedTo(const std::string &scope,
                                                                    std::optional<Date> storeCutoff,
                                                                    bool continuesInterval, Date now) const
{
    GlucoseHistoryConfiguration configuration = *this;
    configuration.accountScope = scope;
    if (storeCutoff) {
        const Date stored = collectionCutoff.value_or(-std::numeric_limits<double>::infinity());
        configuration.collectionCutoff = std::max(*storeCutoff, stored);
        configuration.hasPreviouslyEnabled = true;
    }
    configuration.epoch = QUuid::createUuid();
    if (isEnabled) {
        if (!continuesInterval || !collectionIntervalStart) {
            configuration.collectionIntervalStart = now;
        }
    } else {
        configuration.collectionIntervalStart.reset();
    }
    return configuration;
}

GlucoseHistoryConfiguration GlucoseHistoryConfiguration::detached() const
{
    GlucoseHistoryConfiguration configuration = *this;
    configuration.epoch = QUuid::createUuid();
    configuration.collectionIntervalStart.reset();
    return configuration;
}

bool GlucoseHistoryConfiguration::acceptsReading(const GlucoseReading &reading, Date now) const
{
    return history_detail::isStorableReading(reading) && collectionIntervalStart &&
           reading.date >= *collectionIntervalStart && reading.date <= now && keepsReadingAt(reading.date, now);
}

} // namespace quillby
