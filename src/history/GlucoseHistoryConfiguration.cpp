#include "history/GlucoseHistoryConfiguration.h"

#include "history/GlucoseHistoryRecords.h"

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
    return schemaVersion == 1 && (retentionDays == 30 || retentionDays == 90) &&
           !(isEnabled && !accountScope.has_value());
}

} // namespace quillby
