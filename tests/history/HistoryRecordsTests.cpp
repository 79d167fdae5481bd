#include "HistoryTestSupport.h"
#include "HistoryDayFileReference.h"

#include "history/GlucoseHistoryConfiguration.h"
#include "history/GlucoseHistoryRecords.h"

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

using nlohmann::json;

json validConfiguration()
{
    return json{{"schemaVersion", 1},          {"isEnabled", true},
                {"retentionDays", 90},         {"consentVersion", 1},
                {"accountScope", std::string(64, 'a')},
                {"epoch", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
                {"collectionStartedAt", 820000000.5},
                {"pendingDeletion", false},    {"hasPreviouslyEnabled", true},
                {"collectionIntervalStart", 820000000.5}};
}

// Decodes and validates as the store does; nothing when the record is unreadable.
std::optional<GlucoseHistoryConfiguration> readConfiguration(const json &record)
{
    try {
        auto configuration = GlucoseHistoryConfiguration::fromJSON(record);
        if (configuration.isAcceptable()) {
            return configuration;
        }
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

TEST(GlucoseHistoryConfigurationRecord, WritesKeysInOrderWithDatesSince2001AndUpperCaseEpoch)
{
    GlucoseHistoryConfiguration configuration;
    configuration.isEnabled = true;
    configuration.consentVersion = 1;
    configuration.accountScope = std::string(64, 'b');
    configuration.epoch = QUuid(QStringLiteral("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
    configuration.collectionStartedAt = kReferenceDateOffset + 100.25;
    configuration.collectionIntervalStart = kReferenceDateOffset - 5;
    const std::string text = configuration.toJSON().dump();
    EXPECT_EQ(text, "{\"schemaVersion\":1,\"isEnabled\":true,\"retentionDays\":90,\"consentVersion\":1,"
                    "\"accountScope\":\"" + std::string(64, 'b') + "\",\"epoch\":\"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\","
                    "\"collectionStartedAt\":100.25,\"pendingDeletion\":false,\"hasPreviouslyEnabled\":false,"
                    "\"collectionIntervalStart\":-5.0}");
    EXPECT_EQ(GlucoseHistoryConfiguration::fromJSON(json::parse(text)), configuration);
}

TEST(GlucoseHistoryConfigurationRecord, AcceptsAndRejectsAsTheRecordRulesSay)
{
    struct Case {
        const char *name;
        std::function<void(json &)> change;
        bool readable;
    };
    const std::vector<Case> cases = {
        {"valid", [](json &) {}, true},
        {"retention 30", [](json &j) { j["retentionDays"] = 30; }, true},
        {"retention 60 is not clamped", [](json &j) { j["retentionDays"] = 60; }, false},
        {"schema 2", [](json &j) { j["schemaVersion"] = 2; }, false},
        {"enabled without scope", [](json &j) { j.erase("accountScope"); }, false},
        {"disabled without scope", [](json &j) { j.erase("accountScope"); j["isEnabled"] = false; }, true},
        {"optional fields absent",
         [](json &j) {
             for (const char *key : {"consentVersion", "collectionStartedAt", "collectionIntervalStart"}) {
                 j.erase(key);
             }
         },
         true},
        {"optional fields null", [](json &j) { j["insightsUnlockedAt"] = nullptr; j["collectionCutoff"] = nullptr; }, true},
        {"no epoch", [](json &j) { j.erase("epoch"); }, false},
        {"epoch not a UUID", [](json &j) { j["epoch"] = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"; }, false},
        {"no hasPreviouslyEnabled", [](json &j) { j.erase("hasPreviouslyEnabled"); }, false},
        {"no pendingDeletion", [](json &j) { j.erase("pendingDeletion"); }, false},
        {"isEnabled as number", [](json &j) { j["isEnabled"] = 1; }, false},
        {"retention as text", [](json &j) { j["retentionDays"] = "90"; }, false},
        {"date as text", [](json &j) { j["collectionStartedAt"] = "yesterday"; }, false},
        {"not an object", [](json &j) { j = json::array(); }, false},
    };
    for (const auto &c : cases) {
        json record = validConfiguration();
        c.change(record);
        EXPECT_EQ(readConfiguration(record).has_value(), c.readable) << c.name;
    }
    const auto sparse = readConfiguration([] {
        json j = validConfiguration();
        j.erase("consentVersion");
        j.erase("accountScope");
        j.erase("collectionStartedAt");
        j.erase("collectionIntervalStart");
        j["isEnabled"] = false;
        return j;
    }());
    ASSERT_TRUE(sparse);
    EXPECT_FALSE(sparse->consentVersion || sparse->accountScope || sparse->collectionStartedAt ||
                 sparse->insightsUnlockedAt || sparse->collectionCutoff || sparse->collectionIntervalStart);
    EXPECT_FALSE(sparse->insightsUnlocked());
}

TEST(GlucoseHistoryManifestRecord, RoundTripsAndRejectsMalformedDigests)
{
    GlucoseHistoryManifest manifest;
    manifest.scopes = {std::string(64, '0'), std::string(64, 'f')};
    manifest.collectionCutoff = kNow;
    manifest.attachedScopeID = std::string(64, 'f');
    const json written = json::parse(manifest.toJSON().dump());
    EXPECT_EQ(written.size(), 5u);   // legacyMigrationScope left out while empty
    EXPECT_DOUBLE_EQ(written["collectionCutoff"].get<double>(), kNow - kReferenceDateOffset);
    EXPECT_EQ(GlucoseHistoryManifest::fromJSON(written), manifest);
    EXPECT_TRUE(manifest.isAcceptable());

    struct Case {
        const char *name;
        std::function<void(GlucoseHistoryManifest &)> change;
    };
    const std::vector<Case> rejected = {
        {"upper-case digest", [](auto &m) { m.scopes = {std::string(64, 'A')}; }},
        {"63 characters", [](auto &m) { m.scopes = {std::string(63, 'a')}; }},
        {"attached not hex", [](auto &m) { m.attachedScopeID = std::string(64, 'g'); }},
        {"migration scope short", [](auto &m) { m.legacyMigrationScope = "abc"; }},
        {"schema 2", [](auto &m) { m.schemaVersion = 2; }},
    };
    for (const auto &c : rejected) {
        GlucoseHistoryManifest changed = manifest;
        c.change(changed);
        EXPECT_FALSE(changed.isAcceptable()) << c.name;
    }
    EXPECT_THROW(GlucoseHistoryManifest::fromJSON(json{{"schemaVersion", 1}, {"pendingDeletion", false}}), std::exception);
}

TEST(GlucoseHistoryDayFileRecord, UsesTheStoredReadingKeys)
{
    GlucoseHistoryDayFile day;
    day.accountScope = std::string(64, 'c');
    day.readings = {{historyReading(kReferenceDateOffset + 10, 101.5, "SingleUp"), kReferenceDateOffset + 12}};
    const json written = json::parse(day.toJSON().dump());
    EXPECT_EQ(written["schemaVersion"], 1);
    EXPECT_EQ(written["source"], "glucose-cloud");
    EXPECT_EQ(written["accountScope"], std::string(64, 'c'));
    const json &stored = written["readings"][0];
    EXPECT_EQ(stored["fetchedAt"].get<double>(), 12.0);
    EXPECT_EQ(stored["reading"], (json{{"mgdL", 101.5}, {"trendString", "SingleUp"}, {"date", 10.0},
                                        {"sampleDuration", 60.0}, {"source", "libreLinkUp"}}));
    EXPECT_EQ(test::dayFileFromTree(written), day);
}

TEST(GlucoseHistoryDayNumbers, NameFilesByUtcDay)
{
    EXPECT_EQ(historyDayNumber(0), 0);
    EXPECT_EQ(historyDayNumber(-1), -1);   // 1969-12-31 23:59:59 UTC
    EXPECT_EQ(historyDayFileName(*historyDayNumber(-1)), "-1.history");
    EXPECT_EQ(historyDayNumber(20431 * kDaySeconds + 86399.9), 20431);
    EXPECT_EQ(historyDayFileName(20431), "20431.history");
    EXPECT_FALSE(historyDayNumber(std::nan("")));
    EXPECT_TRUE(isFolderDigest(std::string(64, 'e')));
    EXPECT_FALSE(isFolderDigest(std::string(64, 'E')));
}

} // namespace
} // namespace quillby::test
