#include "core/GlucoseReading.h"
#include "ScopedLocale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace quillby {
namespace {

using nlohmann::json;

using test::ScopedLocale;

TEST(GlucoseReadingTrend, ArrowTable)
{
    const std::pair<const char *, const char *> cases[] = {
        {"DoubleUp", "↑↑"},   {"singleup", "↑"},      {"FortyFiveUp", "↗"}, {"Flat", "→"},
        {"FLAT", "→"},        {"flat", "→"},          {" Flat", "?"},       {"FortyFiveDown", "↘"},
        {"SingleDown", "↓"}, {"DoubleDown", "↓↓"}, {"NotComputable", "?"}, {"RateOutOfRange", "?"},
        {"", "?"},
    };
    for (const auto &[trend, arrow] : cases) {
        EXPECT_EQ(GlucoseReading::trendArrowFor(trend), arrow) << trend;
    }
}

TEST(GlucoseReadingJSON, EncodesAllKeysInOrderWithoutArrow)
{
    const GlucoseReading reading(140, "SingleUp", kReferenceDateOffset + 60, 300, GlucoseProvider::libreLinkUp);
    EXPECT_EQ(reading.toJSON().dump(),
              R"({"mgdL":140.0,"trendString":"SingleUp","date":60.0,"sampleDuration":300.0,"source":"libreLinkUp"})");
    EXPECT_EQ(reading.toJSON(JSONDateForm::secondsSince1970)["date"], kReferenceDateOffset + 60);
    EXPECT_EQ(GlucoseReading::fromJSON(reading.toJSON()), reading);
    EXPECT_EQ(GlucoseReading::fromJSON(reading.toJSON(JSONDateForm::secondsSince1970), JSONDateForm::secondsSince1970),
              reading);
}

TEST(GlucoseReadingJSON, DecodingRepairsDurationAndDefaultsSource)
{
    struct Case {
        json duration;   // null: key absent
        double expected;
    };
    const Case cases[] = {{nullptr, 300}, {0, 60}, {-1, 60}, {1200, 900}, {900, 900}, {0.5, 0.5}};
    for (const auto &c : cases) {
        json stored{{"mgdL", 100}, {"trendString", "Flat"}, {"date", 10}};
        if (!c.duration.is_null()) {
            stored["sampleDuration"] = c.duration;
        }
        const auto reading = GlucoseReading::fromJSON(stored);
        EXPECT_EQ(reading.sampleDuration, c.expected) << stored.dump();
        EXPECT_EQ(reading.source, GlucoseProvider::dexcom);
        EXPECT_EQ(reading.trendArrow, "→");
        EXPECT_EQ(reading.date, kReferenceDateOffset + 10);
    }
}

TEST(GlucoseReadingJSON, DecodingFailures)
{
    const json good{{"mgdL", 100}, {"trendString", "Flat"}, {"date", 10}};
    for (const char *key : {"mgdL", "trendString", "date"}) {
        json missing = good;
        missing.erase(key);
        EXPECT_THROW(GlucoseReading::fromJSON(missing), json::exception) << key;
    }
    json mistyped = good;
    mistyped["mgdL"] = "100";
    EXPECT_THROW(GlucoseReading::fromJSON(mistyped), json::exception);
    json unknownSource = good;
    unknownSource["source"] = "medtronic";
    EXPECT_THROW(GlucoseReading::fromJSON(unknownSource), std::invalid_argument);
}

TEST(GlucoseReadingEquality, ComparesEveryField)
{
    const GlucoseReading base(100, "Flat", 1000, 300, GlucoseProvider::dexcom);
    EXPECT_EQ(base, GlucoseReading(100, "Flat", 1000, 300, GlucoseProvider::dexcom));
    EXPECT_NE(base, GlucoseReading(101, "Flat", 1000, 300, GlucoseProvider::dexcom));
    EXPECT_NE(base, GlucoseReading(100, "flat", 1000, 300, GlucoseProvider::dexcom));
    EXPECT_NE(base, GlucoseReading(100, "Flat", 1001, 300, GlucoseProvider::dexcom));
    EXPECT_NE(base, GlucoseReading(100, "Flat", 1000, 60, GlucoseProvider::dexcom));
    EXPECT_NE(base, GlucoseReading(100, "Flat", 1000, 300, GlucoseProvider::libreLinkUp));
}

TEST(GlucoseUnitsTest, RawValuesSymbolsAndParsing)
{
    EXPECT_EQ(units::rawValue(GlucoseUnits::mmolL), "mmolL");
    EXPECT_EQ(units::rawValue(GlucoseUnits::mgdL), "mgdL");
    EXPECT_EQ(units::symbol(GlucoseUnits::mmolL), "mmol/L");
    EXPECT_EQ(units::symbol(GlucoseUnits::mgdL), "mg/dL");
    EXPECT_EQ(units::fromMeasurementUnit("mg/dL"), GlucoseUnits::mgdL);
    EXPECT_EQ(units::fromMeasurementUnit("mmol/L"), GlucoseUnits::mmolL);
    EXPECT_EQ(units::fromMeasurementUnit("mg/dl"), GlucoseUnits::mmolL);
    EXPECT_EQ(units::fromMeasurementUnit("mgdL"), GlucoseUnits::mmolL);
    EXPECT_EQ(units::fromMeasurementUnit(""), GlucoseUnits::mmolL);
    EXPECT_EQ(rawValue(GlucoseProvider::libreLinkUp), "libreLinkUp");
    EXPECT_EQ(glucoseProviderFromRaw("dexcom"), GlucoseProvider::dexcom);
    EXPECT_EQ(glucoseProviderFromRaw("Dexcom"), std::nullopt);
}

TEST(GlucoseUnitsTest, FormatTable)
{
    const std::tuple<GlucoseUnits, double, const char *> cases[] = {
        {GlucoseUnits::mmolL, 180, "10.0"}, {GlucoseUnits::mgdL, 180, "180"},  {GlucoseUnits::mmolL, 99, "5.5"},
        {GlucoseUnits::mmolL, 100, "5.6"},  {GlucoseUnits::mgdL, 99.5, "100"}, {GlucoseUnits::mgdL, 99.4, "99"},
        {GlucoseUnits::mmolL, 0, "0.0"},    {GlucoseUnits::mgdL, 1234567, "1234567"},
        {GlucoseUnits::mgdL, -0.5, "-1"},
    };
    for (const auto &[unit, value, text] : cases) {
        EXPECT_EQ(units::format(unit, value), text) << value;
    }
}

TEST(GlucoseUnitsTest, FormatIsTheSameInEveryProcessLocale)
{
    // Long texts come out whole.
    EXPECT_EQ(units::format(GlucoseUnits::mmolL, 1e300).size(), 301u);
    EXPECT_EQ(units::format(GlucoseUnits::mmolL, 1e300).substr(0, 4), "5555");

    // The application object adopts the environment's locale; printf writes "5,5" in German.
    std::string mmol, large;
    {
        ScopedLocale german(LC_NUMERIC, "de_DE");
        if (!german.active()) {
            GTEST_SKIP() << "no German locale could be had";
        }
        mmol = units::format(GlucoseUnits::mmolL, 99);
        large = units::format(GlucoseUnits::mgdL, 1e30);
    }
    EXPECT_EQ(mmol, "5.5");
    EXPECT_EQ(large, "1000000000000000019884624838656");
}

TEST(GlucoseReadingTrend, ArrowIsTheSameInEveryProcessLocale)
{
    // In a Turkish locale the C library keeps "I" upper-case when asked for lower case.
    std::string arrow;
    bool india = false;
    {
        ScopedLocale turkish(LC_CTYPE, "tr_TR");
        if (!turkish.active()) {
            GTEST_SKIP() << "no Turkish locale could be had";
        }
        arrow = GlucoseReading::trendArrowFor("SINGLEUP");
        india = units::localeDefault("in");
    }
    EXPECT_EQ(arrow, "↑");
    EXPECT_TRUE(india);
}

TEST(GlucoseUnitsTest, RegionDefault)
{
    for (const char *region : {"US", "us", "JP", "DE" /* not in the list */, "GB", "", "ye"}) {
        const std::string r = region;
        const bool expected = r == "US" || r == "us" || r == "JP" || r == "ye";
        EXPECT_EQ(units::localeDefault(region), expected) << region;
    }
}

} // namespace
} // namespace quillby
