#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"
#include "core/GlucoseThresholdSetting.h"
#include "core/MeasurementUnitSetting.h"
#include "menubar/StatusDateFormatter.h"

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <optional>

class QPainter;

namespace quillby {

// The span of the graph's time axis.
enum class GraphTimeWindow { hours24, hours12, hours6, hours3, hours1 };

namespace graph_window {
int hours(GraphTimeWindow window);
double span(GraphTimeWindow window);            // seconds
QString axisLabel(GraphTimeWindow window);      // "24hr", "12hr", "6hr", "3hr", "1hr"
// The window for the settings' graph hours, as GraphTimeWindowSetting snaps them: an allowed
// value gives its window; absent or any other value the setting's default (6 hours).
GraphTimeWindow fromHours(std::optional<int> hours);
} // namespace graph_window

// What one drawing of the graph depends on, besides the current time.
struct GlucoseGraphModel {
    GlucoseReadings glucoseHistory;             // oldest first; the last is the current one
    double lowThreshold = GlucoseThresholds::low.defaultValue;     // mg/dL
    double highThreshold = GlucoseThresholds::high.defaultValue;   // mg/dL
    QString measurementUnit = QLatin1String(MeasurementUnitSetting::defaultUnit);
    GraphTimeWindow timeWindow = graph_window::fromHours(std::nullopt);

    GlucoseUnits unit() const { return units::fromMeasurementUnit(measurementUnit.toStdString()); }
};

// Draws the glucose graph of the status item's menu on its own dark palette, and describes
// it for assistive technologies. Layout numbers are in a coordinate system with the origin at
// the bottom left and y growing upwards; drawing flips them onto the painter.
class GlucoseGraphRenderer {
public:
    struct LayoutMetrics {
        QRectF graphRect;            // plot area, y up
        double labelGap = 8;
        double rightPadding = 15;
    };

    struct Plot {
        LayoutMetrics layout;
        double minValue = 0;
        double maxValue = 0;
        double range = 0;
        double targetLowDisplay = 0;
        double effectiveTargetHighDisplay = 0;
        QString maxText;
        QString minText;
        QFont labelFont;
        QSizeF maxTextSize;
        QSizeF minTextSize;

        double yFor(double displayValue) const;              // y up
        double xFor(Date date, Date windowStart, double span) const;
    };

    static constexpr double kMinimumRange = 0.0001;

    // mmol/L: round(v / 18 * 10) / 10; mg/dL: the value itself.
    static double displayValue(double mgdL, GlucoseUnits unit);
    // mmol/L with one decimal, mg/dL as the rounded whole number.
    static QString displayValueText(double displayValue, GlucoseUnits unit);
    // The current value block: the value, then a blank and the trend arrow while fresh,
    // otherwise " ?".
    static QString currentValueText(const GlucoseReading &reading, GlucoseUnits unit, Date now);

    // Readings dated at or after now minus the window span, in list order.
    static GlucoseReadings visibleReadings(const GlucoseReadings &readings, GraphTimeWindow window, Date now);

    static Plot makePlot(const GlucoseReadings &visible, double lowThreshold, double highThreshold, GlucoseUnits unit,
                         QSizeF viewSize, double minimumRange = kMinimumRange);

    // One drawing pass into a view of `viewSize` (painter coordinates: origin top left).
    static void draw(QPainter &painter, QSizeF viewSize, const GlucoseGraphModel &model, Date now,
                     const StatusDateFormatter &formatter);

    // The spoken label: the window head, the reading sentence, the number of readings in the
    // window and the date of the last reading.
    static QString accessibilityLabel(const GlucoseGraphModel &model, Date now, const StatusDateFormatter &formatter);

    // Colours of the fixed dark palette.
    static QColor lightGray();
    static QColor systemGreen();
    static QColor systemOrange();
    static QColor systemRed();
};

} // namespace quillby
