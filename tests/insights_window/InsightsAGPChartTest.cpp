// The profile chart: y scale, the quarter hour under the pointer, hover and selection, the
// callout's side and texts, keyboard selection and the accessibility texts.

#include "insights_window/InsightsAGPView.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

InsightsAGP profile(bool gapAtSix = false)
{
    InsightsAGP agp;
    agp.contributingDayCount = 14;
    agp.timeZoneIdentifier = "UTC";
    for (int i = 0; i < 96; ++i) {
        InsightsAGPBin bin{i * 15, 40, 14, InsightsAGPPercentiles{80, 105, static_cast<double>(130 + i % 7), 160, 210}};
        if (gapAtSix && i == 24) {
            bin.percentiles.reset();
            bin.dayCount = 2;
            bin.readingCount = 6;
        }
        agp.bins.push_back(bin);
    }
    return agp;
}

class InsightsAGPChartTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    InsightsAGPChart chart{profile(true), GlucoseUnits::mgdL};
    // The widget point at a minute of the day, halfway down the plot.
    QPointF at(double minute)
    {
        const QRectF f = chart.plotFrame();
        return {f.left() + minute / 1440.0 * f.width(), f.center().y()};
    }
};

TEST_F(InsightsAGPChartTest, YDomainFollowsThePercentilesAndTheUnit)
{
    struct Case {
        const char *name;
        double p5, p95;
        GlucoseUnits unit;
        double lower, upper;
    };
    const Case cases[] = {
        {"inside the target, mg/dL", 90, 170, GlucoseUnits::mgdL, 50, 200},
        {"inside the target, mmol/L", 90, 170, GlucoseUnits::mmolL, 2, 12},
        {"wide", 40, 300, GlucoseUnits::mgdL, 0, 350},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InsightsAGP agp;
        agp.bins.push_back(InsightsAGPBin{0, 10, 5, InsightsAGPPercentiles{c.p5, 100, 120, 140, c.p95}});
        EXPECT_EQ(InsightsAGPChart::yDomain(agp, c.unit), (InsightsAGPChart::YDomain{c.lower, c.upper}));
    }
    EXPECT_EQ(InsightsAGPChart::yDomain(InsightsAGP{}, GlucoseUnits::mgdL), (InsightsAGPChart::YDomain{50, 200}));
    const auto ticks = InsightsAGPChart::yTicks({0, 350}, GlucoseUnits::mgdL);
    ASSERT_FALSE(ticks.empty());
    EXPECT_LE(ticks.size(), 6u);
}

TEST_F(InsightsAGPChartTest, QuarterHourUnderThePointer)
{
    chart.resize(600, 300);
    const QRectF f = chart.plotFrame();
    struct Case {
        const char *name;
        QPointF point;
        std::optional<int> minute;
    };
    const Case cases[] = {
        {"6:07 marks 6:00", at(367), 360},
        {"23:59 marks 23:45", at(1439.5), 1425},
        {"the left edge belongs to the plot", QPointF(f.left(), f.center().y()), 0},
        {"the right edge does not", QPointF(f.right(), f.center().y()), std::nullopt},
        {"over the x labels", QPointF(f.center().x(), f.bottom() + 5), std::nullopt},
        {"over the y labels", QPointF(f.right() + 10, f.center().y()), std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chart.minuteAt(c.point), c.minute);
    }
    // A value just outside the domain is clamped before rounding; non-finite values give none.
    EXPECT_EQ(InsightsAGPChart::quarterHourStart(-0.5), 0);
    EXPECT_EQ(InsightsAGPChart::quarterHourStart(1440.2), 1425);
    EXPECT_EQ(InsightsAGPChart::quarterHourStart(1e300), 1425);
    EXPECT_EQ(InsightsAGPChart::quarterHourStart(std::nan("")), std::nullopt);
    EXPECT_EQ(InsightsAGPChart::quarterHourStart(-INFINITY), std::nullopt);
}

TEST_F(InsightsAGPChartTest, HoverWinsOverSelectionAndClicksToggle)
{
    chart.resize(600, 300);
    const QPointF outside(chart.plotFrame().right() + 10, 10);
    struct Step {
        const char *action;
        std::optional<QPointF> hover;   // hover at a point (nullopt with leave = the pointer left)
        bool leave = false;
        std::optional<QPointF> click;
        std::optional<int> hovered, selected, active;
    };
    const std::vector<Step> steps = {
        {"click 8:00", {}, false, at(480), std::nullopt, 480, 480},
        {"click 9:30", {}, false, at(570), std::nullopt, 570, 570},
        {"hover 12:00 shows the hovered one", at(725), false, {}, 720, 570, 720},
        {"pointer over the axis labels", outside, false, {}, std::nullopt, 570, 570},
        {"hover 1:00", at(61), false, {}, 60, 570, 60},
        {"pointer leaves", std::nullopt, true, {}, std::nullopt, 570, 570},
        {"click the selected one again", {}, false, at(575), std::nullopt, std::nullopt, std::nullopt},
        {"click 7:00", {}, false, at(420), std::nullopt, 420, 420},
        {"click outside the plot", {}, false, outside, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.action);
        if (step.hover || step.leave) {
            chart.updateHover(step.hover);
        }
        if (step.click) {
            chart.toggleSelection(*step.click);
        }
        EXPECT_EQ(chart.hoveredMinute(), step.hovered);
        EXPECT_EQ(chart.selectedMinute(), step.selected);
        const auto active = chart.activeBin();
        EXPECT_EQ(active ? std::optional<int>(active->startMinute) : std::nullopt, step.active);
    }
}

TEST_F(InsightsAGPChartTest, RealPointerEventsReachTheSameRules)
{
    chart.resize(600, 300);
    chart.show();
    const QPointF point = at(485);
    QMouseEvent move(QEvent::MouseMove, point, chart.mapToGlobal(point), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&chart, &move);
    EXPECT_EQ(chart.hoveredMinute(), 480);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, at(485).toPoint());
    EXPECT_EQ(chart.selectedMinute(), 480);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&chart, &leave);
    EXPECT_EQ(chart.hoveredMinute(), std::nullopt);
    EXPECT_EQ(chart.activeBin()->startMinute, 480);
}

TEST_F(InsightsAGPChartTest, CalloutSideAndTexts)
{
    chart.resize(700, 300);
    const QRectF f = chart.plotFrame();
    struct Case {
        const char *name;
        double minute;
        bool toTheRight;
        QStringList lines;
    };
    const Case cases[] = {
        {"morning bin: right of its line", 480, true,
         {QStringLiteral("8:00 AM–8:15 AM"), QStringLiteral("134 mg/dL median"), QStringLiteral("Middle 50%\t105–160"),
          QStringLiteral("Middle 90%\t80–210"), QStringLiteral("From 14 days")}},
        {"noon bin: left of its line", 720, false, {}},
        {"bin without percentiles: no median", 360, true,
         {QStringLiteral("6:00 AM–6:15 AM"), QStringLiteral("Readings from 2 days."), QStringLiteral("At least 3 are needed.")}},
        {"last bin reads to midnight", 1425, false, {QStringLiteral("11:45 PM–12:00 AM")}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        chart.toggleSelection(at(c.minute + 1));
        const auto rect = chart.calloutRect();
        ASSERT_TRUE(rect);
        const double centre = chart.xPosition(c.minute + 7.5);
        if (c.toTheRight) {
            EXPECT_DOUBLE_EQ(rect->left(), centre + 10);
            EXPECT_LE(rect->right(), f.right() + 1e-9);
        } else {
            EXPECT_DOUBLE_EQ(rect->right(), centre - 10);
            EXPECT_GE(rect->left(), f.left() - 1e-9);
        }
        EXPECT_DOUBLE_EQ(rect->top(), f.top() + 6);
        const QStringList lines = chart.calloutLines();
        for (int i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(lines.value(i), c.lines[i]);
        }
        chart.toggleSelection(QPointF(-5, -5));   // clear
    }
    InsightsAGP empty;
    empty.bins.push_back(InsightsAGPBin{0, 0, 0, std::nullopt});
    InsightsAGPChart emptyChart(empty, GlucoseUnits::mmolL);
    emptyChart.resize(600, 300);
    emptyChart.toggleSelection(QPointF(emptyChart.plotFrame().left() + 1, 100));
    EXPECT_EQ(emptyChart.calloutLines(), (QStringList{QStringLiteral("12:00 AM–12:15 AM"), QStringLiteral("No readings collected")}));
}

TEST_F(InsightsAGPChartTest, KeyboardMovesTheSelectionAndTellsAssistiveTechnology)
{
    chart.resize(600, 300);
    const auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&chart, &event);
    };
    press(Qt::Key_Right);
    EXPECT_EQ(chart.selectedMinute(), 0);
    press(Qt::Key_Right);
    EXPECT_EQ(chart.selectedMinute(), 15);
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    EXPECT_EQ(chart.selectedMinute(), 0);
    press(Qt::Key_End);
    EXPECT_EQ(chart.selectedMinute(), 1425);
    press(Qt::Key_Right);
    EXPECT_EQ(chart.selectedMinute(), 1425);
    EXPECT_EQ(chart.accessibleDescription(),
              QStringLiteral("11:45 PM–12:00 AM: Median 134; middle 50 percent 105 to 160; middle 90 percent 80 to "
                             "210 mg/dL, from 14 days and 40 readings."));
    press(Qt::Key_Escape);
    EXPECT_EQ(chart.selectedMinute(), std::nullopt);
    EXPECT_EQ(chart.accessibleDescription(), QStringLiteral("14 days combined into a single day, using UTC."));
    EXPECT_EQ(chart.objectName(), QStringLiteral("insightsAGPChart"));
    EXPECT_EQ(chart.accessibleName(), QStringLiteral("Ambulatory glucose profile, from midnight to midnight"));
}

TEST_F(InsightsAGPChartTest, CardShowsPlaceholderAndGapNoteByTheBins)
{
    InsightsAGP none;
    for (int i = 0; i < 96; ++i) {
        none.bins.push_back(InsightsAGPBin{i * 15, 0, 0, std::nullopt});
    }
    struct Case {
        const char *name;
        InsightsAGP agp;
        bool chart;
        bool gapNote;
    };
    const Case cases[] = {
        {"all bins have percentiles", profile(false), true, false},
        {"one bin without", profile(true), true, true},
        {"none has percentiles", none, false, true},
        {"no bins", InsightsAGP{}, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InsightsAGPView view(c.agp, GlucoseUnits::mmolL);
        EXPECT_EQ(view.findChild<InsightsAGPChart *>() != nullptr, c.chart);
        EXPECT_EQ(view.findChild<QWidget *>(QStringLiteral("insightsAGPCollecting")) != nullptr, !c.chart);
        auto *note = view.findChild<QLabel *>(QStringLiteral("insightsAGPGapNote"));
        ASSERT_TRUE(note);
        EXPECT_EQ(note->isVisibleTo(&view), c.gapNote);
        QStringList texts;
        for (auto *label : view.findChildren<QLabel *>()) {
            texts << label->text();
        }
        EXPECT_TRUE(texts.contains(QStringLiteral("Target 3.9–10.0")));
        EXPECT_TRUE(texts.contains(QStringLiteral("mmol/L")));
    }
    InsightsAGP one = profile(false);
    one.contributingDayCount = 1;
    one.timeZoneIdentifier = "Not/AZone";
    EXPECT_EQ(InsightsAGPView::profileHelpText(one), QStringLiteral("1 day combined into a single day, using Not/AZone."));
}

} // namespace
} // namespace quillby::test
