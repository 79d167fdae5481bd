// The pure rules of the window: number conversions, readiness texts, the collection status
// state, the report notice, the headline cards and the state choice.

#include "insights_window/InsightsCollectionStatusState.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsReadinessPresentation.h"
#include "insights_window/InsightsReportQuality.h"
#include "insights_window/InsightsReportView.h"
#include "insights_window/InsightsSurfaces.h"
#include "insights_window/InsightsViewState.h"

#include <QRegularExpression>
#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby::test {
namespace {

class InsightsPresentationTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
};

InsightsCollectionProgress progress(double days, double coverage, bool hasReadings = true)
{
    InsightsCollectionProgress p;
    p.collectionDuration = days * 86400;
    p.coverageFraction = coverage;
    p.hasReadings = hasReadings;
    return p;
}

TEST_F(InsightsPresentationTest, DoubleToIntegerRejectsNonFiniteAndClampsFirst)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        std::optional<int> expected;
    };
    const Case cases[] = {{12.9, 12}, {-3.5, 0}, {1e300, 100}, {-1e300, 0}, {inf, std::nullopt},
                          {-inf, std::nullopt}, {std::nan(""), std::nullopt}, {100, 100}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(clampedInt(c.value, 0, 100), c.expected);
    }
    // Where computed doubles become pixels.
    EXPECT_EQ(InsightsRangeTrack::filledWidth(0.25, 200), 50);
    EXPECT_EQ(InsightsRangeTrack::filledWidth(1.5, 200), 200);
    EXPECT_EQ(InsightsRangeTrack::filledWidth(-0.2, 200), 0);
    EXPECT_EQ(InsightsRangeTrack::filledWidth(std::nan(""), 200), 0);
    EXPECT_EQ(InsightsRangeTrack::filledWidth(inf, 200), 0);
}

TEST_F(InsightsPresentationTest, ReadinessTitlesMessagesAndRing)
{
    struct Case {
        const char *name;
        InsightsReadinessPresentation presentation;
        QString title;
        QString message;
        std::optional<InsightsReadinessPresentation::HistoryAction> action;
        std::optional<double> fraction;
        QString spoken;
    };
    using Action = InsightsReadinessPresentation::HistoryAction;
    const Case cases[] = {
        {"no progress", {std::nullopt, true, true}, "Preparing insights", "Checking your saved history.", std::nullopt,
         std::nullopt, "Checking saved history"},
        {"1.5 days, 90 %", {progress(1.5, 0.9), true, true}, "Building your insights",
         "Keep Quillby running to build your report. About 2 more days remain in the initial 3-day collection period. "
         "Insights also needs at least 70% coverage over the latest 3 days.",
         std::nullopt, 0.5, "50% collected"},
        {"3 days, 65 %", {progress(3, 0.65), true, true}, "More readings needed",
         "Insights needs at least 70% coverage over the latest 3 days.", std::nullopt, 0.65 / 0.7, "92% collected"},
        {"2 days, no readings", {progress(2, 0.9, false), true, false}, "Waiting for readings",
         "Readings are saved after a successful glucose refresh. Insights needs 3 days of collection and at least 70% "
         "coverage over the latest 3 days.",
         std::nullopt, 0.0, "0% collected"},
        {"ready", {progress(3, 0.7), true, true}, "Your insights are ready", "Your history is ready for insights.",
         std::nullopt, 1.0, "100% collected"},
        {"almost ready", {progress(3, 0.6993), true, true}, "More readings needed",
         "Insights needs at least 70% coverage over the latest 3 days.", std::nullopt, 0.6993 / 0.7, "99% collected"},
        {"paused with readings", {progress(1, 0.5), false, true}, "History collection is paused",
         "Resume saving in Insights settings to keep building your report.", Action::settings, 0.5 / 0.7 < 1.0 / 3 ? 0.5 / 0.7 : 1.0 / 3,
         "33% collected"},
        {"never saved", {progress(0, 0, false), false, false}, "Get started with Insights",
         "Explore your glucose patterns using readings saved on this computer. Your report will appear once enough "
         "history has been collected.",
         Action::enable, 0.0, "0% collected"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.presentation.title(), c.title);
        EXPECT_EQ(c.presentation.message(), c.message);
        EXPECT_EQ(c.presentation.historyAction(), c.action);
        ASSERT_EQ(c.presentation.progressFraction().has_value(), c.fraction.has_value());
        if (c.fraction) {
            EXPECT_NEAR(*c.presentation.progressFraction(), *c.fraction, 1e-12);
        }
        EXPECT_EQ(c.presentation.progressAccessibilityValue(), c.spoken);
    }
}

TEST_F(InsightsPresentationTest, RemainingTimeSingularAndPlural)
{
    struct Case {
        double remainingSeconds;
        std::optional<QString> text;
    };
    const QString tail = QStringLiteral(" in the initial 3-day collection period.");
    const Case cases[] = {
        {86400, QStringLiteral("About 1 more day remains") + tail},
        {1.5 * 86400, QStringLiteral("About 2 more days remain") + tail},
        {20 * 60, QStringLiteral("About 1 more hour remains") + tail},
        {2 * 3600 + 33 * 60, QStringLiteral("About 3 more hours remain") + tail},
        {0, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.remainingSeconds);
        InsightsReadinessPresentation p{progress((259200 - c.remainingSeconds) / 86400, 0.9), true, true};
        EXPECT_EQ(p.remainingText(), c.text);
        p.isSaving = false;
        EXPECT_EQ(p.remainingText(), std::nullopt);   // never while saving is off
    }
}

TEST_F(InsightsPresentationTest, CollectionStatusShowsTheCheckmarkOncePerHistory)
{
    InsightsCollectionStatusState state;
    const QUuid epoch = QUuid::createUuid();
    const auto p = progress(2, 0.8);
    using S = InsightsCollectionStatusState;
    const auto isComplete = [&] { return std::holds_alternative<S::Complete>(state.phase()); };

    state.update(p, std::string("a"), epoch, false);
    EXPECT_TRUE(std::holds_alternative<S::Collecting>(state.phase()));
    state.update(p, std::string("a"), epoch, true);
    ASSERT_TRUE(isComplete());
    const QUuid shown = std::get<S::Complete>(state.phase()).id;
    state.acknowledgeCompletion(QUuid::createUuid());   // an older notice's late acknowledgement
    EXPECT_TRUE(isComplete());
    state.acknowledgeCompletion(shown);
    EXPECT_TRUE(std::holds_alternative<S::Hidden>(state.phase()));
    state.update(p, std::string("a"), epoch, true);
    EXPECT_TRUE(std::holds_alternative<S::Hidden>(state.phase()));

    // A history already unlocked when first seen never shows it; a new identity starts afresh.
    state.update(p, std::string("b"), epoch, true);
    EXPECT_TRUE(std::holds_alternative<S::Hidden>(state.phase()));
    EXPECT_TRUE(state.hasAcknowledgedUnlock());
    state.update(std::nullopt, std::string("c"), std::nullopt, false);
    EXPECT_TRUE(std::holds_alternative<S::Collecting>(state.phase()));
    EXPECT_TRUE(state.matches(std::string("c"), std::nullopt));
    EXPECT_FALSE(state.matches(std::string("c"), epoch));
}

TEST_F(InsightsPresentationTest, ReportNoticeByCoverageAndAge)
{
    const Date end = 1'800'000'000;
    const auto summary = [&](double collectionShare, double periodShare, bool nights, int readings = 10) {
        InsightsSummary s;
        s.interval = DateInterval(end - 14 * 86400.0, end);
        s.readingCount = readings;
        s.collectionCoverage.totalDuration = 1000;
        s.collectionCoverage.coveredDuration = collectionShare * 1000;
        s.collectionCoverage.hasMissingNightWarning = nights;
        s.coverage.totalDuration = 1000;
        s.coverage.coveredDuration = periodShare * 1000;
        return s;
    };
    using Kind = InsightsReportQuality::Kind;
    struct Case {
        const char *name;
        InsightsSummary summary;
        std::optional<Date> started;
        std::optional<Kind> kind;
        QString text;
    };
    const Case cases[] = {
        {"no readings", summary(0, 0, false, 0), std::nullopt, std::nullopt, {}},
        {"collection just under 70 %, old history", summary(0.6999, 0.9, false), end - 30 * 86400.0, Kind::limited,
         "Limited data. Gaps in the selected period may affect these insights."},
        {"70 % exactly, 13 days old", summary(0.7, 0.9, false), end - 13 * 86400.0, Kind::early,
         "Early insights. Patterns may change as more history is saved."},
        {"early with nights", summary(0.8, 0.9, true), std::nullopt, Kind::early,
         "Early insights. Overnight readings are often missing; patterns may change as more history is saved."},
        {"period under 70 % with nights", summary(0.8, 0.5, true), end - 30 * 86400.0, Kind::limited,
         "Limited data. Overnight readings are often missing; these insights may not reflect your usual glucose."},
        {"missing nights only", summary(0.8, 0.9, true), end - 30 * 86400.0, Kind::missingNights,
         "Overnight readings are often missing. These insights may not represent your usual glucose."},
        {"all good", summary(0.8, 0.9, false), end - 14 * 86400.0, std::nullopt, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto notice = InsightsReportQuality::make(c.summary, c.started);
        ASSERT_EQ(notice.has_value(), c.kind.has_value());
        if (notice) {
            EXPECT_EQ(notice->kind, *c.kind);
            EXPECT_EQ(notice->text, c.text);
        }
    }
}

TEST_F(InsightsPresentationTest, HeadlineCardsByGMIState)
{
    InsightsSummary s;
    s.meanMgdl = 100;
    s.standardDeviationMgdl = 31.4;
    s.coverage.totalDuration = 1000;
    s.coverage.coveredDuration = 412.5;
    struct Case {
        const char *name;
        InsightsGMI gmi;
        GlucoseUnits unit;
        QString mean, gmiValue;
        std::optional<QString> gmiUnit, caption;
        QString help;
    };
    using R = InsightsGMIUnavailableReason;
    const Case cases[] = {
        {"available, mg/dL", InsightsGMI::available(6.99368), GlucoseUnits::mgdL, "100", "7.0", "%",
         "Not a lab HbA1c result", ""},
        {"no readings, mmol/L", InsightsGMI::unavailable(R::noReadings), GlucoseUnits::mmolL, "5.6", "—", std::nullopt,
         "Needs saved readings", "GMI needs saved readings, 14 days of history, and at least 70% collected coverage."},
        {"collecting", InsightsGMI::unavailable(R::collectingHistory), GlucoseUnits::mgdL, "100", "—", std::nullopt,
         "Needs 14 days of history", "Available after 14 days of history with at least 70% collected coverage."},
        {"short period", InsightsGMI::unavailable(R::shortInterval), GlucoseUnits::mgdL, "100", "—", std::nullopt,
         "Needs a 14-day period", "Choose a period of at least 14 days."},
        {"coverage", InsightsGMI::unavailable(R::insufficientCoverage), GlucoseUnits::mgdL, "100", "—", std::nullopt,
         "Needs 70% coverage", "Coverage is 41.3%. At least 70% of the selected period is needed."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        s.gmi = c.gmi;
        const auto cards = InsightsReportView::highlights(s, c.unit);
        ASSERT_EQ(cards.size(), 3u);
        EXPECT_EQ(cards[0].value, c.mean);
        EXPECT_EQ(cards[2].value, c.gmiValue);
        EXPECT_EQ(cards[2].unit, c.gmiUnit);
        EXPECT_EQ(cards[2].caption, c.caption);
        EXPECT_EQ(cards[2].help, c.help);
    }
    s.meanMgdl.reset();
    EXPECT_EQ(InsightsReportView::highlights(s, GlucoseUnits::mgdL)[0].value, QStringLiteral("—"));
    EXPECT_EQ(InsightsFormat::percent(0.0, 1), QStringLiteral("0%"));
}

TEST_F(InsightsPresentationTest, StateChoiceAndEmptyPeriodText)
{
    using S = InsightsViewState;
    struct Case {
        const char *name;
        InsightsStateFacts facts;
        S state;
    };
    const Case cases[] = {
        {"no snapshot, refreshing", {false, false, true, false, false, false, std::nullopt}, S::loading},
        {"no snapshot, busy", {false, true, false, false, false, false, std::nullopt}, S::loading},
        {"no snapshot, idle", {false, false, false, false, false, false, std::nullopt}, S::historyUnavailable},
        {"progress before unlock", {true, false, false, true, false, true, std::nullopt}, S::collecting},
        {"unlocked, no readings saved", {true, false, false, true, true, false, std::nullopt}, S::emptyPeriod},
        {"unlocked, none in the period", {true, false, false, true, true, true, 0}, S::emptyPeriod},
        {"unlocked with readings", {true, false, false, true, true, true, 12}, S::report},
        {"unlocked, no summary yet", {true, false, false, true, true, true, std::nullopt}, S::calculating},
        {"not unlocked, no progress yet", {true, false, false, false, false, true, std::nullopt}, S::calculating},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(selectInsightsViewState(c.facts), c.state);
    }
    EXPECT_TRUE(showsInsightsErrorBanner(true, false, false));
    EXPECT_FALSE(showsInsightsErrorBanner(true, false, true));   // the collecting card shows it
    EXPECT_TRUE(showsInsightsErrorBanner(true, true, true));
    EXPECT_FALSE(showsInsightsErrorBanner(false, true, true));

    EXPECT_EQ(insightsEmptyPeriodMessage(true, false, 90, 90),
              QStringLiteral("Saving is off. Choose another period to see older readings, or resume saving in Insights "
                             "settings."));
    EXPECT_EQ(insightsEmptyPeriodMessage(true, true, 14, 90),
              QStringLiteral("Choose a longer period to see older readings, or keep Quillby running to collect more."));
    EXPECT_EQ(insightsEmptyPeriodMessage(true, true, 30, 30),
              QStringLiteral("New readings will appear here as they’re saved. You can manage saved history in Insights "
                             "settings."));
}

TEST_F(InsightsPresentationTest, ExplanationFollowsTheUnit)
{
    EXPECT_EQ(InsightsExplanationView::gmiCoefficientText(GlucoseUnits::mgdL), QStringLiteral("0.02392"));
    EXPECT_EQ(InsightsExplanationView::gmiCoefficientText(GlucoseUnits::mmolL), QStringLiteral("0.43056"));
    EXPECT_EQ(InsightsExplanationView::rangeDefinitionsText(GlucoseUnits::mgdL),
              QStringLiteral("very low <54, low 54–<70, in range 70–180, high >180–250, and very high >250"));
    const auto mmol = InsightsExplanationView::sections(GlucoseUnits::mmolL);
    const auto mg = InsightsExplanationView::sections(GlucoseUnits::mgdL);
    QStringList titles;
    for (const auto &section : mg) {
        titles << section.title;
    }
    EXPECT_EQ(titles, (QStringList{"Headline numbers", "Ambulatory glucose profile", "Glucose ranges",
                                   "Notices below the report", "History collection", "Using Insights"}));
    EXPECT_EQ(mmol[2].paragraphs.size(), 3);
    EXPECT_EQ(mmol[2].paragraphs[1],
              QStringLiteral("Readings are sorted using their exact values, so a reading shown as 10.0 can count as high."));
    EXPECT_EQ(mg[2].paragraphs.size(), 2);
    EXPECT_TRUE(mg[0].paragraphs[4].startsWith(QStringLiteral("GMI (%) = 3.31 + 0.02392 × average glucose in mg/dL.")));
    EXPECT_TRUE(mmol[1].paragraphs[1].startsWith(QStringLiteral("The green shading marks the 3.9–10.0 mmol/L target range.")));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(InsightsExplanationView::gmiCoefficientText(GlucoseUnits::mgdL), QStringLiteral("0,02392"));
    // Every number in the locale's form, none with a point beside the commas.
    const auto german = InsightsExplanationView::sections(GlucoseUnits::mmolL);
    EXPECT_TRUE(german[0].paragraphs[4].startsWith(QStringLiteral("GMI (%) = 3,31 + 0,43056 × average glucose in mmol/L.")));
    EXPECT_TRUE(german[1].paragraphs[1].startsWith(QStringLiteral("The green shading marks the 3,9–10,0 mmol/L target range.")));
    EXPECT_EQ(german[2].paragraphs[1],
              QStringLiteral("Readings are sorted using their exact values, so a reading shown as 10,0 can count as high."));
    EXPECT_EQ(InsightsExplanationView::rangeDefinitionsText(GlucoseUnits::mmolL),
              QStringLiteral("very low <3,0, low 3,0–<3,9, in range 3,9–10,0, high >10,0–13,9 und very high >13,9"));
    const QRegularExpression decimalPoint(QStringLiteral("\\d\\.\\d"));
    for (const auto &section : german) {
        for (const QString &paragraph : section.paragraphs) {
            EXPECT_FALSE(paragraph.contains(decimalPoint)) << qPrintable(paragraph);
        }
    }
}

} // namespace
} // namespace quillby::test
