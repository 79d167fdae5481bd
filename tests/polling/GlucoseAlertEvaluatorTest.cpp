#include "polling/GlucoseAlertEvaluator.h"

#include "ScopedTurkishLocale.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace quillby {
namespace {

using Kind = GlucoseAlertKind;
constexpr Date kNow = 1'800'000'000.0;

GlucoseReading reading(double mgdL, const std::string &trend = "Flat") { return GlucoseReading(mgdL, trend, kNow); }

// Trend texts are protocol words: a Turkish process locale (where std::tolower makes "I" a
// dotless i) must not keep "SINGLEDOWN" from being a rapid fall.
TEST(GlucoseAlertEvaluatorTest, TrendsAreComparedInAsciiWhateverTheLocale)
{
    test::ScopedTurkishLocale turkish;
    if (!turkish.active()) {
        GTEST_SKIP() << "the Turkish test locale could not be made";
    }
    const GlucoseAlertSettings settings;
    EXPECT_EQ(GlucoseAlertEvaluator::candidateKinds(reading(100, "SINGLEDOWN"), settings), GlucoseAlertKinds{Kind::rapidFall});
    EXPECT_EQ(GlucoseAlertEvaluator::candidateKinds(reading(100, "SingleUp"), settings), GlucoseAlertKinds{Kind::rapidRise});
    EXPECT_EQ(GlucoseAlertEvaluator::candidateKinds(reading(100, "DOUBLEDOWN"), settings), GlucoseAlertKinds{Kind::rapidFall});
    // Only ASCII letters fold: a dotted capital I is no "i".
    EXPECT_TRUE(GlucoseAlertEvaluator::candidateKinds(reading(100, "S\u0130NGLEDOWN"), settings).empty());
}

TEST(GlucoseAlertEvaluatorTest, CandidatesAreTestedIndependently)
{
    const GlucoseAlertSettings settings;   // low 72, high 270, every kind on
    struct Case {
        double mgdL;
        std::string trend;
        GlucoseAlertKinds expected;
    };
    const Case cases[] = {
        {100, "Flat", {}},
        {72, "Flat", {Kind::lowThreshold}},              // exactly at the threshold counts
        {72.01, "Flat", {}},
        {270, "Flat", {Kind::highThreshold}},
        {269.99, "Flat", {}},
        {60, "DoubleDown", {Kind::lowThreshold, Kind::rapidFall}},
        {100, "singledown", {Kind::rapidFall}},
        {100, "DOUBLEDOWN", {Kind::rapidFall}},
        {300, "SingleUp", {Kind::highThreshold, Kind::rapidRise}},
        {100, "doubleUp", {Kind::rapidRise}},
        {100, "FortyFiveDown", {}},
        {100, "FortyFiveUp", {}},
        {100, "NotComputable", {}},
        {100, "", {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(GlucoseAlertEvaluator::candidateKinds(reading(c.mgdL, c.trend), settings), c.expected)
            << c.mgdL << " " << c.trend;
    }

    GlucoseAlertSettings off;
    off.alertOnLowThreshold = off.alertOnHighThreshold = off.alertOnRapidFall = off.alertOnRapidRise = false;
    EXPECT_TRUE(GlucoseAlertEvaluator::candidateKinds(reading(40, "DoubleDown"), off).empty());
    EXPECT_TRUE(GlucoseAlertEvaluator::candidateKinds(reading(400, "DoubleUp"), off).empty());
}

TEST(GlucoseAlertEvaluatorTest, DecisionOrderAndOneShotMemory)
{
    const GlucoseAlertSettings settings;
    const GlucoseAlertKinds all{Kind::lowThreshold, Kind::highThreshold, Kind::rapidFall, Kind::rapidRise};
    struct Case {
        GlucoseAlertKinds candidates;
        GlucoseAlertKinds active;
        std::optional<Kind> expected;
    };
    const Case cases[] = {
        {{}, {}, std::nullopt},
        {all, {}, Kind::lowThreshold},
        {{Kind::highThreshold, Kind::rapidFall, Kind::rapidRise}, {}, Kind::rapidFall},
        {{Kind::highThreshold, Kind::rapidRise}, {}, Kind::highThreshold},
        {{Kind::rapidRise}, {}, Kind::rapidRise},
        // rapid fall is not one-shot: it alerts on every reading while it lasts
        {{Kind::rapidFall}, {Kind::lowThreshold}, Kind::rapidFall},
        // an active one-shot kind stays silent; later kinds are not considered
        {{Kind::highThreshold, Kind::rapidRise}, {Kind::highThreshold}, std::nullopt},
        {{Kind::rapidRise}, {Kind::rapidRise}, std::nullopt},
        // low active and not due: only rapid fall may alert
        {{Kind::lowThreshold, Kind::rapidFall}, {Kind::lowThreshold}, Kind::rapidFall},
        {{Kind::lowThreshold, Kind::rapidRise}, {Kind::lowThreshold}, std::nullopt},
        {{Kind::lowThreshold, Kind::highThreshold}, {Kind::lowThreshold}, std::nullopt},
    };
    for (const auto &c : cases) {
        GlucoseAlertEvaluator evaluator;
        evaluator.activeOneShotAlertKinds = c.active;
        EXPECT_EQ(evaluator.nextAlert(c.candidates, settings, kNow), c.expected);
    }
}

TEST(GlucoseAlertEvaluatorTest, LowRepeatsOnceItsIntervalHasPassed)
{
    GlucoseAlertSettings settings;
    settings.lowAlertRepeatMinutes = 15;
    GlucoseAlertEvaluator evaluator;
    // Delivered late (the fetch took a while): the repeat counts from the reading's own date.
    evaluator.recordDelivered(Kind::lowThreshold, kNow + 7, kNow);
    const GlucoseAlertKinds low{Kind::lowThreshold};
    const GlucoseAlertKinds lowFalling{Kind::lowThreshold, Kind::rapidFall};

    EXPECT_EQ(evaluator.nextAlert(low, settings, kNow + 889), std::nullopt);
    EXPECT_EQ(evaluator.nextAlert(lowFalling, settings, kNow + 889), Kind::rapidFall);
    EXPECT_EQ(evaluator.nextAlert(low, settings, kNow + 890), Kind::lowThreshold);   // within the tolerance
    EXPECT_EQ(evaluator.nextAlert(low, settings, kNow + 900), Kind::lowThreshold);
    EXPECT_EQ(evaluator.nextAlert(lowFalling, settings, kNow + 900), Kind::lowThreshold);

    settings.lowAlertRepeatMinutes = 0;   // no repeat
    EXPECT_EQ(evaluator.nextAlert(low, settings, kNow + 86400), std::nullopt);

    // Without the reading date of the last alert an active low never repeats.
    settings.lowAlertRepeatMinutes = 5;
    evaluator.lastAlertReadingDate.clear();
    EXPECT_EQ(evaluator.nextAlert(low, settings, kNow + 86400), std::nullopt);
}

TEST(GlucoseAlertEvaluatorTest, DeliveryAndRearming)
{
    GlucoseAlertEvaluator evaluator;
    evaluator.recordDelivered(Kind::lowThreshold, kNow, kNow - 10);
    evaluator.recordDelivered(Kind::rapidFall, kNow, kNow - 10);
    evaluator.recordDelivered(Kind::highThreshold, kNow, kNow - 10);
    EXPECT_EQ(evaluator.activeOneShotAlertKinds, (GlucoseAlertKinds{Kind::lowThreshold, Kind::highThreshold}));
    EXPECT_EQ(evaluator.lastAlertSentAt.size(), 3u);

    // Low still holds; high no longer does: high is armed again and forgets its date.
    evaluator.rearm({Kind::lowThreshold, Kind::rapidFall});
    EXPECT_EQ(evaluator.activeOneShotAlertKinds, GlucoseAlertKinds{Kind::lowThreshold});
    EXPECT_EQ(evaluator.lastAlertSentAt.size(), 1u);
    EXPECT_TRUE(evaluator.lastAlertSentAt.contains(Kind::lowThreshold));
    EXPECT_EQ(evaluator.lastAlertReadingDate, (std::map<Kind, Date>{{Kind::lowThreshold, kNow - 10}}));
}

TEST(GlucoseAlertEvaluatorTest, QuietHoursByMinuteOfDay)
{
    struct Case {
        int minute, start, end;
        bool quiet;
    };
    const Case cases[] = {
        // across midnight, the first-run 22:00 to 07:00
        {1319, 1320, 420, false}, {1320, 1320, 420, true}, {1439, 1320, 420, true},
        {0, 1320, 420, true},     {419, 1320, 420, true},  {420, 1320, 420, false},
        {720, 1320, 420, false},
        // within one day
        {59, 60, 120, false}, {60, 60, 120, true}, {119, 60, 120, true}, {120, 60, 120, false},
        // start equal to end: the whole day
        {0, 300, 300, true}, {1439, 300, 300, true}, {300, 300, 300, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(GlucoseAlertEvaluator::isInQuietHours(c.minute, c.start, c.end), c.quiet)
            << c.minute << " in " << c.start << "-" << c.end;
    }
}

TEST(GlucoseAlertEvaluatorTest, QuietHoursUseTheLocalWallClockOfTheGivenZone)
{
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    auto utc = [](const char *text) {
        return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toMSecsSinceEpoch() / 1000.0;
    };
    // Winter: UTC+1. 20:59 UTC is 21:59 local, 21:00 UTC is 22:00 local.
    EXPECT_EQ(GlucoseAlertEvaluator::minuteOfDay(utc("2026-01-15T20:59:00Z"), berlin), 21 * 60 + 59);
    const GlucoseAlertSettings settings;   // 22:00 to 07:00
    EXPECT_FALSE(GlucoseAlertEvaluator::isInQuietHours(utc("2026-01-15T20:59:30Z"), settings, berlin));
    EXPECT_TRUE(GlucoseAlertEvaluator::isInQuietHours(utc("2026-01-15T21:00:00Z"), settings, berlin));
    // The last fraction of a second before the start is still the minute before it.
    const Date justBefore = utc("2026-01-15T20:59:59Z") + 0.9996;
    EXPECT_EQ(GlucoseAlertEvaluator::minuteOfDay(justBefore, berlin), 21 * 60 + 59);
    EXPECT_FALSE(GlucoseAlertEvaluator::isInQuietHours(justBefore, settings, berlin));
    // Summer: UTC+2. 05:00 UTC is 07:00 local, the end of the quiet period.
    EXPECT_TRUE(GlucoseAlertEvaluator::isInQuietHours(utc("2026-07-15T04:59:00Z"), settings, berlin));
    EXPECT_FALSE(GlucoseAlertEvaluator::isInQuietHours(utc("2026-07-15T05:00:00Z"), settings, berlin));
    // The spring-forward morning: 01:30 UTC is 03:30 summer time.
    EXPECT_EQ(GlucoseAlertEvaluator::minuteOfDay(utc("2026-03-29T01:30:00Z"), berlin), 3 * 60 + 30);
    // A fixed-offset zone and the UTC zone give their own wall clocks for the same instant.
    EXPECT_EQ(GlucoseAlertEvaluator::minuteOfDay(utc("2026-01-15T23:30:00Z"), QTimeZone(-5 * 3600)), 18 * 60 + 30);
    EXPECT_EQ(GlucoseAlertEvaluator::minuteOfDay(utc("2026-01-15T23:30:00Z"), QTimeZone::utc()), 23 * 60 + 30);
}

TEST(GlucoseAlertEvaluatorTest, AlertTexts)
{
    struct Case {
        Kind kind;
        double mgdL;
        std::string trend;
        GlucoseUnits unit;
        GlucoseAlertMessage expected;
    };
    const Case cases[] = {
        {Kind::lowThreshold, 65, "Flat", GlucoseUnits::mgdL, {"Low glucose alert", "65 mg/dL → (low threshold 72 mg/dL)"}},
        {Kind::lowThreshold, 65, "Flat", GlucoseUnits::mmolL,
         {"Low glucose alert", "3.6 mmol/L → (low threshold 4.0 mmol/L)"}},
        {Kind::highThreshold, 301.4, "SingleUp", GlucoseUnits::mgdL,
         {"High glucose alert", "301 mg/dL ↑ (high threshold 270 mg/dL)"}},
        {Kind::highThreshold, 301.4, "SingleUp", GlucoseUnits::mmolL,
         {"High glucose alert", "16.7 mmol/L ↑ (high threshold 15.0 mmol/L)"}},
        {Kind::rapidFall, 100, "DoubleDown", GlucoseUnits::mgdL,
         {"Rapid glucose drop", "100 mg/dL ↓↓. Glucose is falling quickly."}},
        {Kind::rapidRise, 180, "SingleUp", GlucoseUnits::mmolL,
         {"Rapid glucose rise", "10.0 mmol/L ↑. Glucose is rising quickly."}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(alertMessage(c.kind, reading(c.mgdL, c.trend), c.unit, 72, 270), c.expected) << c.expected.body;
    }
    GlucoseReading noArrow = reading(65);
    noArrow.trendArrow.clear();
    EXPECT_EQ(alertMessage(Kind::lowThreshold, noArrow, GlucoseUnits::mgdL, 72, 270).body,
              "65 mg/dL  (low threshold 72 mg/dL)");
}

TEST(GlucoseAlertEvaluatorTest, SettingsComeFromTheNormalisedConfiguration)
{
    EXPECT_EQ(GlucoseAlertEvaluator::settings(std::nullopt), GlucoseAlertSettings{});

    AppConfiguration configuration;
    configuration.app.lowGlucoseThreshold = 4;     // stored in mmol/L
    configuration.app.highGlucoseThreshold = 10;
    configuration.app.quietHoursEnabled = true;
    configuration.app.quietHoursStartMinutes = 60;
    configuration.app.lowAlertRepeatMinutes = 15;
    configuration.app.snoozeHighAlerts = false;
    const GlucoseAlertSettings settings = GlucoseAlertEvaluator::settings(configuration);
    EXPECT_EQ(settings.lowGlucoseThreshold, 72);
    EXPECT_EQ(settings.highGlucoseThreshold, 180);
    EXPECT_TRUE(settings.quietHoursEnabled);
    EXPECT_EQ(settings.quietHoursStartMinutes, 60);
    EXPECT_EQ(settings.lowAlertRepeatMinutes, 15);
    EXPECT_FALSE(settings.snoozeHighAlerts);
    // A low reading in mg/dL is compared with the converted threshold, not with 4.
    EXPECT_EQ(GlucoseAlertEvaluator::candidateKinds(reading(70), settings), GlucoseAlertKinds{Kind::lowThreshold});
    EXPECT_EQ(GlucoseAlertEvaluator::candidateKinds(reading(200), settings), GlucoseAlertKinds{Kind::highThreshold});

    configuration.app.lowGlucoseThreshold = 40;   // only one of them in the mmol/L range
    configuration.app.highGlucoseThreshold = 41;
    const GlucoseAlertSettings unconverted = GlucoseAlertEvaluator::settings(configuration);
    EXPECT_EQ(unconverted.lowGlucoseThreshold, 65);    // then clamped like every save
    EXPECT_EQ(unconverted.highGlucoseThreshold, 108);
}

} // namespace
} // namespace quillby
