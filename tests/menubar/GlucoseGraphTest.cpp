#include "FakeClock.h"
#include "menubar/GlucoseGraphView.h"
#include "menubar/StatusBarAlertMenuItemView.h"

#include <QAccessible>

#include <QImage>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace quillby;
using namespace quillby::test;

namespace {

constexpr Date kNow = 1'773'324'300.0;   // 2026-03-12 14:05:00 UTC

StatusDateFormatter englishUtc()
{
    return StatusDateFormatter(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
}

GlucoseGraphModel modelWith(GlucoseReadings readings, const char *unit = "mg/dL")
{
    GlucoseGraphModel model;
    model.glucoseHistory = std::move(readings);
    model.measurementUnit = QString::fromUtf8(unit);
    return model;
}

} // namespace

TEST(GlucoseGraph, TimeWindowFromSettingsHours)
{
    const std::pair<std::optional<int>, GraphTimeWindow> cases[] = {
        {1, GraphTimeWindow::hours1},   {3, GraphTimeWindow::hours3},  {6, GraphTimeWindow::hours6},
        {12, GraphTimeWindow::hours12}, {24, GraphTimeWindow::hours24}, {std::nullopt, GraphTimeWindow::hours6},
        {5, GraphTimeWindow::hours6},   {0, GraphTimeWindow::hours6},
    };
    for (const auto &[hours, window] : cases) {
        EXPECT_EQ(graph_window::fromHours(hours), window) << hours.value_or(-1);
    }
    EXPECT_EQ(graph_window::axisLabel(GraphTimeWindow::hours1), "1hr");
    EXPECT_EQ(graph_window::axisLabel(GraphTimeWindow::hours24), "24hr");
    EXPECT_DOUBLE_EQ(graph_window::span(GraphTimeWindow::hours12), 43200);
}

TEST(GlucoseGraph, DisplayValuesAndCurrentValueText)
{
    EXPECT_DOUBLE_EQ(GlucoseGraphRenderer::displayValue(99, GlucoseUnits::mmolL), 5.5);
    EXPECT_DOUBLE_EQ(GlucoseGraphRenderer::displayValue(99.4, GlucoseUnits::mgdL), 99.4);
    EXPECT_EQ(GlucoseGraphRenderer::displayValueText(99.5, GlucoseUnits::mgdL), "100");
    EXPECT_EQ(GlucoseGraphRenderer::displayValueText(10, GlucoseUnits::mmolL), "10.0");

    EXPECT_EQ(GlucoseGraphRenderer::currentValueText(GlucoseReading(180, "SingleUp", kNow + 30), GlucoseUnits::mmolL, kNow),
              "10.0 ↑");
    EXPECT_EQ(GlucoseGraphRenderer::currentValueText(GlucoseReading(180, "SingleUp", kNow - 900), GlucoseUnits::mgdL, kNow),
              "180 ?");
}

TEST(GlucoseGraph, VisibleReadingsStartAtTheWindowEdge)
{
    const GlucoseReadings readings = {GlucoseReading(100, "Flat", kNow - 3601), GlucoseReading(101, "Flat", kNow - 3600),
                                      GlucoseReading(102, "Flat", kNow + 60)};
    const GlucoseReadings visible = GlucoseGraphRenderer::visibleReadings(readings, GraphTimeWindow::hours1, kNow);
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_DOUBLE_EQ(visible[0].mgdL, 101);
    EXPECT_DOUBLE_EQ(visible[1].mgdL, 102);   // no upper bound
}

TEST(GlucoseGraph, PlotBandIsCappedAndRangeHasAFloor)
{
    const QSizeF size(280, 200);
    GlucoseGraphRenderer::Plot plot = GlucoseGraphRenderer::makePlot({GlucoseReading(120, "Flat", kNow)}, 72, 270,
                                                                      GlucoseUnits::mgdL, size);
    EXPECT_DOUBLE_EQ(plot.minValue, 72);
    EXPECT_DOUBLE_EQ(plot.maxValue, 270);
    EXPECT_DOUBLE_EQ(plot.targetLowDisplay, 72);
    EXPECT_DOUBLE_EQ(plot.effectiveTargetHighDisplay, 180);
    EXPECT_EQ(plot.maxText, "270");
    EXPECT_DOUBLE_EQ(plot.layout.graphRect.left(), 15);
    EXPECT_DOUBLE_EQ(plot.layout.graphRect.top(), 30);
    EXPECT_DOUBLE_EQ(plot.layout.graphRect.height(), 100);
    EXPECT_DOUBLE_EQ(plot.layout.graphRect.width(), 280 - 30 - 8 - plot.maxTextSize.width());

    plot = GlucoseGraphRenderer::makePlot({GlucoseReading(400, "Flat", kNow)}, 72, 270, GlucoseUnits::mmolL, size);
    EXPECT_DOUBLE_EQ(plot.targetLowDisplay, 4.0);
    EXPECT_DOUBLE_EQ(plot.effectiveTargetHighDisplay, 10.0);
    EXPECT_EQ(plot.maxText, "22.2");
    EXPECT_EQ(plot.minText, "4.0");

    // Every value on both thresholds: the range falls back to its floor and no band is drawn.
    plot = GlucoseGraphRenderer::makePlot({GlucoseReading(90, "Flat", kNow)}, 90, 90, GlucoseUnits::mgdL, size);
    EXPECT_DOUBLE_EQ(plot.range, GlucoseGraphRenderer::kMinimumRange);
    EXPECT_FALSE(plot.targetLowDisplay < plot.effectiveTargetHighDisplay);

    // A view too small for the plot gets an empty plot area, never a negative one.
    plot = GlucoseGraphRenderer::makePlot({}, 72, 270, GlucoseUnits::mgdL, QSizeF(20, 50));
    EXPECT_DOUBLE_EQ(plot.layout.graphRect.width(), 0);
    EXPECT_DOUBLE_EQ(plot.layout.graphRect.height(), 0);
}

TEST(GlucoseGraph, AccessibilityLabel)
{
    GlucoseGraphModel model = modelWith({});
    EXPECT_EQ(GlucoseGraphRenderer::accessibilityLabel(model, kNow, englishUtc()),
              "Glucose graph, last 6 hours. No glucose readings available.");

    model = modelWith({GlucoseReading(60, "Flat", kNow - 7200), GlucoseReading(70, "SingleDown", kNow - 300)});
    model.timeWindow = GraphTimeWindow::hours1;
    EXPECT_EQ(GlucoseGraphRenderer::accessibilityLabel(model, kNow, englishUtc()),
              "Glucose graph, last 1 hour. Current glucose: 70 milligrams per deciliter, at or below the low "
              "threshold, falling. 1 reading in this time window. Last reading: Mar 12, 2026 2:00 PM.");

    model.timeWindow = GraphTimeWindow::hours3;
    model.measurementUnit = QStringLiteral("mmol/L");
    EXPECT_EQ(GlucoseGraphRenderer::accessibilityLabel(model, kNow + 600, englishUtc()),
              "Glucose graph, last 3 hours. Stale glucose reading. Last known glucose: 3.9 millimoles per liter. "
              "Trend unavailable. 2 readings in this time window. Last reading: Mar 12, 2026 2:00 PM.");
}

TEST(GlucoseGraph, ViewKeepsItsLabelCurrentAndDraws)
{
    auto clock = std::make_shared<FakeClock>(kNow);
    GlucoseGraphView view(clock, englishUtc());
    EXPECT_EQ(view.objectName(), "glucoseGraphView");
    EXPECT_EQ(view.accessibleDescription(),
              "Displays your glucose readings over time with high and low threshold lines");
    EXPECT_EQ(view.size(), QSize(280, 200));

    // An empty list draws the black background only.
    QImage empty = view.grab().toImage();
    bool allBlack = true;
    for (int y = 0; y < empty.height() && allBlack; ++y) {
        for (int x = 0; x < empty.width() && allBlack; ++x) {
            allBlack = empty.pixelColor(x, y) == QColor(Qt::black);
        }
    }
    EXPECT_TRUE(allBlack);

    view.setMeasurementUnit(QStringLiteral("mg/dL"));
    view.setGlucoseHistory({GlucoseReading(72, "Flat", kNow - 21600), GlucoseReading(126, "Flat", kNow)});
    EXPECT_TRUE(view.accessibleName().contains("2 readings in this time window"));
    view.setHighThreshold(120);
    EXPECT_TRUE(view.accessibleName().contains("at or above the high threshold"));

    // The newest reading is a white dot at the right edge of the plot, at the top of the range.
    const GlucoseGraphRenderer::Plot plot = GlucoseGraphRenderer::makePlot(
        view.visibleReadings(kNow), 72, 120, GlucoseUnits::mgdL, QSizeF(view.size()));
    const QImage image = view.grab().toImage();
    const QPoint dot = QPointF(plot.layout.graphRect.right(), 200 - plot.yFor(126)).toPoint();
    int brightest = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const QColor c = image.pixelColor(dot + QPoint(dx, dy));
            brightest = std::max(brightest, std::min({c.red(), c.green(), c.blue()}));
        }
    }
    EXPECT_GT(brightest, 200) << dot.x() << "," << dot.y();
    // Between the low line and 120 mg/dL the band shows green over black.
    const QColor band = image.pixelColor(QPoint(60, int(200 - plot.yFor(100))));
    EXPECT_GT(band.green(), band.red());
    EXPECT_GT(band.green(), 0);
}

TEST(GlucoseGraph, GraphIsOneImageAndTheAlertRowOneGroup)
{
    auto clock = std::make_shared<FakeClock>(kNow);
    GlucoseGraphView view(clock, englishUtc());
    QAccessibleInterface *graph = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->role(), QAccessible::Graphic);
    EXPECT_EQ(graph->text(QAccessible::Name), "Glucose graph, last 6 hours. No glucose readings available.");
    EXPECT_EQ(graph->text(QAccessible::Description),
              "Displays your glucose readings over time with high and low threshold lines");
    EXPECT_TRUE(graph->text(QAccessible::Value).isEmpty());

    // The row is read out once, by its label, not again line by line.
    StatusBarAlertMenuItemView row({"Network error", "Unable to connect to Dexcom servers.", "Check your connection"},
                                   QStringLiteral("Next retry at 2:09:32 PM"));
    QAccessibleInterface *group = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    EXPECT_EQ(group->childCount(), 0);
    EXPECT_EQ(group->text(QAccessible::Name), "Network error. Unable to connect to Dexcom servers.. Check your "
                                              "connection. Next retry at 2:09:32 PM");
}
