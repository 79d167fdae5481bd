#include "menubar/StatusText.h"

#include <gtest/gtest.h>

using namespace quillby;

namespace {

constexpr Date kNow = 1'800'000'000.0;

GlucoseReading readingAged(double mgdL, const std::string &trend, double age)
{
    return GlucoseReading(mgdL, trend, kNow - age);
}

} // namespace

TEST(StatusText, TrendWordsCompareWholeLowerCasedText)
{
    const std::pair<const char *, const char *> cases[] = {
        {"DoubleUp", "rising quickly"},    {"singleup", "rising"},          {"FortyFiveUp", "rising slightly"},
        {"FLAT", "steady"},                {"FortyFiveDown", "falling slightly"}, {"SingleDown", "falling"},
        {"DoubleDown", "falling quickly"}, {" Flat", "unknown trend"},    {"NotComputable", "unknown trend"},
        {"", "unknown trend"},
    };
    for (const auto &[trend, words] : cases) {
        EXPECT_EQ(trendDescription(QString::fromUtf8(trend)), QString::fromUtf8(words)) << trend;
    }
}

TEST(StatusText, AgeWords)
{
    const std::pair<double, const char *> cases[] = {
        {0, "1 minute"},      {59, "1 minute"},     {61, "1 minute"},  {120, "2 minutes"},
        {3599, "59 minutes"}, {3600, "1 hour"},     {7200, "2 hours"}, {7500, "2h 5m"},
        {3661, "1h 1m"},      {86400, "24 hours"},
    };
    for (const auto &[seconds, words] : cases) {
        EXPECT_EQ(relativeAgeText(seconds), QString::fromUtf8(words)) << seconds;
    }
}

TEST(StatusText, AppearancePutsFallingQuicklyAndLowValuesFirst)
{
    struct Case {
        const char *trend;
        double value;
        StatusStyle style;
    };
    const Case cases[] = {
        {"DoubleDown", 300, StatusStyle::low},   // falling quickly wins over a high value
        {"doubleup", 60, StatusStyle::low},      // a low value wins over rising quickly
        {"Flat", 72, StatusStyle::low},          // at the threshold counts
        {"Flat", 73, StatusStyle::normal},
        {"DOUBLEUP", 100, StatusStyle::high},
        {"Flat", 270, StatusStyle::high},
        {"SingleDown", 269, StatusStyle::normal},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(decideStatusAppearance(QString::fromUtf8(c.trend), c.value, 72, 270), c.style) << c.trend << c.value;
    }
}

TEST(StatusText, TitleFollowsFreshnessBounds)
{
    struct Case {
        double age;
        GlucoseUnits unit;
        const char *title;
    };
    const Case cases[] = {
        {-120, GlucoseUnits::mmolL, "5.5 →"},   // a reading from the future counts as fresh
        {0, GlucoseUnits::mmolL, "5.5 →"},
        {899, GlucoseUnits::mgdL, "99 →"},
        {900, GlucoseUnits::mmolL, "5.5 ?"},
        {3599, GlucoseUnits::mgdL, "99 ?"},
        {3600, GlucoseUnits::mmolL, "-- ?"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(statusTitle(readingAged(99, "Flat", c.age), c.unit, kNow), QString::fromUtf8(c.title)) << c.age;
    }
}

TEST(StatusText, SpokenReadingSentences)
{
    StatusSpeechInput input;
    input.glucoseHistory = {readingAged(99, "Flat", 60)};
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Current glucose: 5.5 millimoles per liter, in range, steady.");

    input.unit = GlucoseUnits::mgdL;
    input.glucoseHistory = {readingAged(72, "SingleDown", 0)};
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Current glucose: 72 milligrams per deciliter, at or below the low threshold, falling.");
    input.glucoseHistory = {readingAged(270, "DoubleUp", 0)};
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Current glucose: 270 milligrams per deciliter, at or above the high threshold, rising quickly.");

    input.glucoseHistory = {readingAged(120, "Flat", 900)};
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Stale glucose reading. Last known glucose: 120 milligrams per deciliter. Trend unavailable.");
    input.glucoseHistory = {readingAged(120, "Flat", 3600)};
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Current glucose unavailable. Last known glucose: 120 milligrams per deciliter. Trend unavailable.");
}

TEST(StatusText, SpokenStatusPrefixesAndSuffixes)
{
    StatusSpeechInput input;
    input.activity = StatusBarActivity::loading;
    EXPECT_EQ(statusAccessibilityText(input, kNow), "Loading glucose. No glucose readings available.");

    input.activity.reset();
    input.title = QStringLiteral("--");
    EXPECT_EQ(statusAccessibilityText(input, kNow), "No glucose readings available.");
    input.title = QStringLiteral("-- ?");
    EXPECT_EQ(statusAccessibilityText(input, kNow), "No glucose readings available.");

    // Without readings, an error keeps the activity words out; the title is spoken instead.
    input.title = QStringLiteral("5.5 ?");
    input.activity = StatusBarActivity::authenticating;
    input.currentError = ErrorInfo{"Sign in required", "m", "r"};
    input.isUpdateAvailable = true;
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "5.5 ?. No glucose readings available. Sign in required. Update available.");

    // With readings, the activity is appended after the reading sentence, and the title is not used.
    input = {};
    input.title = QStringLiteral("5.5 →");
    input.glucoseHistory = {readingAged(99, "Flat", 0)};
    input.activity = StatusBarActivity::refreshing;
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Current glucose: 5.5 millimoles per liter, in range, steady. Refreshing glucose.");
    input.activity = StatusBarActivity::authenticating;
    EXPECT_EQ(statusAccessibilityText(input, kNow),
              "Current glucose: 5.5 millimoles per liter, in range, steady. Signing in.");
}

TEST(StatusText, StaleWarningTexts)
{
    const ErrorInfo warning = staleReadingWarning(7500);
    EXPECT_EQ(warning.title, "Stale glucose reading");
    EXPECT_EQ(warning.message, "Last glucose reading was 2h 5m ago.");
    EXPECT_EQ(warning.remediation, "Check your sensor connection and sensor app if readings do not resume.");
}
