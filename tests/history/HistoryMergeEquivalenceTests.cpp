#include "HistoryTestSupport.h"
#include "HistoryDayFileReference.h"
#include "insights/InsightsCollectionProgress.h"

#include "history/GlucoseHistoryAccount.h"
#include "history/GlucoseHistoryDayFileCache.h"
#include "history/HistoryDayFileDecoder.h"

#include <random>

namespace quillby::test {
namespace {

const std::string kScope = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";

// One folder driven the way the store drives it (memo of opened files, so appends and pruning
// stay local to the days they touch) and one without a memo (every operation merges everything).
// Fed the same operations, both must end with the same readings and the same files.
class MergeEquivalence : public HistoryRootFixture {
protected:
    GlucoseHistoryDayFileCache cache;
    GlucoseHistoryAccount local{root / "local", std::make_shared<FakeKeychainItemStore>(), files, &insightsMinimumDatasetReached, &cache};
    GlucoseHistoryAccount full{root / "full", std::make_shared<FakeKeychainItemStore>(), files, &insightsMinimumDatasetReached};

    void start(Date now)
    {
        for (GlucoseHistoryAccount *account : {&local, &full}) {
            account->attach(kScope, std::nullopt, false, now);
            account->enableCollection(now);
        }
    }
    void append(const GlucoseReadings &batch, Date fetchedAt, Date now)
    {
        for (GlucoseHistoryAccount *account : {&local, &full}) {
            account->append(batch, fetchedAt, {kScope, account->configuration()->epoch}, now);
        }
    }
    void expectSame(Date now, int step)
    {
        const auto a = local.prune(now);
        const auto b = full.prune(now);
        ASSERT_EQ(a, b) << "step " << step;
        std::set<std::string> localDays;
        std::set<std::string> fullDays;
        for (const auto &name : entries(root / "local")) {
            if (name.ends_with(".history")) {
                localDays.insert(name);
            }
        }
        for (const auto &name : entries(root / "full")) {
            if (name.ends_with(".history")) {
                fullDays.insert(name);
            }
        }
        ASSERT_EQ(localDays, fullDays) << "step " << step;
        EXPECT_TRUE(local.readDays().canonical) << "step " << step;   // the local paths were taken
        EXPECT_FALSE(full.readDays().canonical && !fullDays.empty()) << "step " << step;
    }
};

TEST_F(MergeEquivalence, LocalMergingMatchesMergingEverything)
{
    std::mt19937 random(4242);
    const Date midnight = std::floor(kNow / kDaySeconds) * kDaySeconds;
    Date now = midnight - 20 * 60;
    start(now);
    std::vector<Date> seen;
    const char *trends[] = {"Flat", "SingleUp", "Flat"};
    for (int step = 0; step < 300; ++step) {
        GlucoseReadings batch;
        const int count = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            const int kind = static_cast<int>(random() % 5);
            Date date = now - static_cast<double>(random() % 600);
            if (kind == 1 && !seen.empty()) {
                date = seen[random() % seen.size()];                             // a reading polled again
            } else if (kind == 2 && !seen.empty()) {
                date = seen[random() % seen.size()] + 5 + random() % 30;          // a near repeat
            }
            const double value = 100 + static_cast<double>(random() % 3);
            batch.push_back(historyReading(date, value, trends[random() % 3]));
            seen.push_back(date);
        }
        append(batch, now - static_cast<double>(random() % 3), now);
        expectSame(now, step);
        // Mostly a minute or two, sometimes hours, now and then days (retention then prunes).
        const unsigned jump = random() % 40;
        now += jump < 30 ? 60 + random() % 90 : jump < 38 ? 3600 * (1 + random() % 10) : kDaySeconds * (10 + random() % 20);
        if (step == 150) {
            local.setRetentionDays(30, now);
            full.setRetentionDays(30, now);
            expectSame(now, step);
        }
    }
    EXPECT_GT(local.prune(now).size(), 50u);
}

TEST_F(MergeEquivalence, RepeatsAcrossMidnightAreCleanedTheSameWay)
{
    const Date midnight = std::floor(kNow / kDaySeconds) * kDaySeconds;
    start(midnight - 3600);
    append({historyReading(midnight - 10, 120, "Flat")}, midnight - 5, midnight - 5);
    append({historyReading(midnight + 10, 120, "Flat"), historyReading(midnight + 200, 121)}, midnight + 210, midnight + 210);
    expectSame(midnight + 210, 0);
    EXPECT_EQ(local.prune(midnight + 210).size(), 2u);   // 00:00:10 repeats 23:59:50

    // Changing the reading before midnight merges alike too.
    append({historyReading(midnight - 10, 130, "SingleUp")}, midnight + 300, midnight + 300);
    expectSame(midnight + 300, 1);
}

TEST(HistoryDayFileDecoder, AcceptsWhatTheRecordCodecAccepts)
{
    const std::string scope(64, 'a');
    const std::string reading = R"({"reading":{"mgdL":120,"trendString":"Flat","date":100.5,"sampleDuration":60,"source":"libreLinkUp"},"fetchedAt":101})";
    const std::vector<std::string> documents = {
        R"({"schemaVersion":1,"source":"glucose-cloud","accountScope":")" + scope + R"(","readings":[)" + reading + "]}",
        R"({"readings":[)" + reading + R"(],"accountScope":")" + scope + R"(","source":"dexcom-share","schemaVersion":1.0})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","extra":{"a":[1,{"b":null}]},"readings":[{"fetchedAt":5,"reading":{"mgdL":1,"trendString":"","date":2,"sampleDuration":null,"source":null,"more":[1]},"other":true}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":{"mgdL":1,"trendString":"t","date":2,"sampleDuration":-3}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":{"mgdL":1,"trendString":"t","date":2,"sampleDuration":5000}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[]})",
        R"({"schemaVersion":2,"source":"x","accountScope":"s","readings":[]})",
        R"({"schemaVersion":1.5,"source":"x","accountScope":"s","readings":[]})",
        R"({"schemaVersion":1,"source":"x","readings":[]})",
        R"({"schemaVersion":1,"source":null,"accountScope":"s","readings":[]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":{}})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[1]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":null,"reading":{"mgdL":1,"trendString":"t","date":2}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":{"mgdL":true,"trendString":"t","date":2}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":{"mgdL":"1","trendString":"t","date":2}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":{"mgdL":1,"trendString":"t","date":2,"source":"other"}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":{"mgdL":1,"date":2}}]})",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[{"fetchedAt":5,"reading":null}]})",
        R"([1,2])",
        R"({"schemaVersion":1,"source":"x","accountScope":"s","readings":[])",
        R"(not json)",
    };
    for (const auto &document : documents) {
        std::optional<GlucoseHistoryDayFile> fromTree;
        try {
            fromTree = test::dayFileFromTree(nlohmann::json::parse(document));
        } catch (const std::exception &) {
        }
        const auto streamed = decodeHistoryDayFile(QByteArray::fromStdString(document));
        EXPECT_EQ(streamed.has_value(), fromTree.has_value()) << document;
        if (streamed && fromTree) {
            EXPECT_EQ(*streamed, *fromTree) << document;
        }
    }
}

} // namespace
} // namespace quillby::test
