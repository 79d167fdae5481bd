#include "providers/DexcomReadingRecord.h"
#include "providers/GlucoseReadingError.h"

#include <gtest/gtest.h>

#include <string>

namespace quillby {
namespace {

using nlohmann::json;

GlucoseReadingError::Case dexcomError(const json &record)
{
    try {
        glucoseReadingFromDexcomJSON(record);
    } catch (const GlucoseReadingError &error) {
        return error.kind;
    }
    ADD_FAILURE() << "no error for " << record.dump();
    return GlucoseReadingError::Case::invalidFormat;
}

TEST(GlucoseReadingDexcom, BuildsReadingFromRecord)
{
    const auto reading = glucoseReadingFromDexcomJSON(
        json{{"Value", 123}, {"Trend", "FortyFiveUp"}, {"ST", "/Date(1700000000000)/"}, {"WT", "/Date(1)/"}});
    EXPECT_EQ(reading.mgdL, 123);
    EXPECT_EQ(reading.trendString, "FortyFiveUp");
    EXPECT_EQ(reading.trendArrow, "↗");
    EXPECT_EQ(reading.date, 1700000000.0);
    EXPECT_EQ(reading.sampleDuration, 300);
    EXPECT_EQ(reading.source, GlucoseProvider::dexcom);
}

TEST(GlucoseReadingDexcom, TimestampCandidatesInOrder)
{
    struct Case {
        json record;
        double date;
    };
    const Case cases[] = {
        // ST unusable, WT wins over DT.
        {{{"ST", "yesterday"}, {"WT", "/Date(500)/"}, {"DT", "/Date(900+0100)/"}}, 0.5},
        // No slashes, zone part ignored.
        {{{"WT", "Date(500-0500)"}}, 0.5},
        // Digits beyond the signed 64-bit range are skipped.
        {{{"ST", "/Date(99999999999999999999)/"}, {"DT", "/Date(2000)/"}}, 2.0},
        // A non-text candidate is skipped.
        {{{"ST", 5}, {"WT", "/Date(3000)/"}}, 3.0},
        // The largest 64-bit value still parses.
        {{{"ST", "/Date(9223372036854775807)/"}}, 9223372036854775807.0 / 1000.0},
        // Leading zeros are digits like any other.
        {{{"ST", "/Date(" + std::string(300000, '0') + "7000)/"}}, 7.0},
        // Very long digit runs are read (and skipped on overflow) without exhausting the stack.
        {{{"ST", "/Date(" + std::string(300000, '1') + ")/"}, {"WT", "/Date(4000)/"}}, 4.0},
        {{{"ST", "/Date(1+" + std::string(300000, '1') + ")/"}, {"WT", "/Date(4000)/"}}, 0.001},
    };
    for (const auto &c : cases) {
        json record = c.record;
        record["Value"] = 100;
        record["Trend"] = "Flat";
        EXPECT_EQ(glucoseReadingFromDexcomJSON(record).date, c.date) << record.dump().substr(0, 80);
    }
    // Texts that do not match as a whole are skipped for the next candidate.
    for (const char *text : {"//Date(5)/", "/Date(5)//", "/Date(5)/x", "x/Date(5)/", "/Date(+5)/", "/Date(5+)/",
                             "/Date(5+01:00)/", "/Date(5", "Date(5", "/Date()/", "/date(5)/", "/Date( 5)/"}) {
        const json record{{"Value", 100}, {"Trend", "Flat"}, {"ST", text}, {"DT", "/Date(9000)/"}};
        EXPECT_EQ(glucoseReadingFromDexcomJSON(record).date, 9.0) << text;
    }
    for (const char *text : {"Date(5)", "/Date(5)", "Date(5)/", "/Date(5-0000)/"}) {
        const json record{{"Value", 100}, {"Trend", "Flat"}, {"ST", text}, {"DT", "/Date(9000)/"}};
        EXPECT_EQ(glucoseReadingFromDexcomJSON(record).date, 0.005) << text;
    }
}

TEST(GlucoseReadingDexcom, ErrorsInCheckOrderWithMessages)
{
    EXPECT_EQ(dexcomError(json::object()), GlucoseReadingError::Case::missingValue);
    EXPECT_EQ(dexcomError(json{{"Value", "120"}, {"Trend", "Flat"}, {"ST", "/Date(1)/"}}),
              GlucoseReadingError::Case::missingValue);
    EXPECT_EQ(dexcomError(json{{"Value", 120}, {"ST", "/Date(1)/"}}), GlucoseReadingError::Case::missingTrend);
    // A numeric trend is named (older replies); one outside the service's 0-9 is no trend.
    EXPECT_EQ(glucoseReadingFromDexcomJSON(json{{"Value", 120}, {"Trend", 4}, {"ST", "/Date(1)/"}}).trendString,
              "Flat");
    for (const json &trend : {json(10), json(-1), json(4.5), json(true), json::array()}) {
        EXPECT_EQ(dexcomError(json{{"Value", 120}, {"Trend", trend}, {"ST", "/Date(1)/"}}),
                  GlucoseReadingError::Case::missingTrend)
            << trend.dump();
    }
    EXPECT_EQ(dexcomError(json{{"Value", 120}, {"Trend", "Flat"}}), GlucoseReadingError::Case::invalidTimestamp);
    EXPECT_EQ(dexcomError(json{{"Value", 120}, {"Trend", "Flat"}, {"ST", "/Date(-5)/"}, {"DT", "Date()"}}),
              GlucoseReadingError::Case::invalidTimestamp);

    EXPECT_STREQ(GlucoseReadingError(GlucoseReadingError::Case::invalidFormat).what(), "Invalid glucose reading format");
    EXPECT_STREQ(GlucoseReadingError(GlucoseReadingError::Case::missingValue).what(), "Missing glucose value");
    EXPECT_STREQ(GlucoseReadingError(GlucoseReadingError::Case::missingTrend).what(), "Missing trend information");
    EXPECT_STREQ(GlucoseReadingError(GlucoseReadingError::Case::invalidTimestamp).what(),
                 "Missing or invalid glucose reading timestamp");
}

} // namespace
} // namespace quillby
