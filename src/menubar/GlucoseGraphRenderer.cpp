#include "menubar/GlucoseGraphRenderer.h"

#include "core/GraphTimeWindowSetting.h"

#include "menubar/StatusBarTypes.h"
#include "menubar/StatusText.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace quillby {

namespace graph_window {

int hours(GraphTimeWindow window)
{
    switch (window) {
    case GraphTimeWindow::hours24:
        return 24;
    case GraphTimeWindow::hours12:
        return 12;
    case GraphTimeWindow::hours6:
        return 6;
    case GraphTimeWindow::hours3:
        return 3;
    case GraphTimeWindow::hours1:
        return 1;
    }
    return 6;
}

double span(GraphTimeWindow window)
{
    return hours(window) * 3600.0;
}

QString axisLabel(GraphTimeWindow window)
{
    return QString::number(hours(window)) + QStringLiteral("hr");
}

GraphTimeWindow fromHours(std::optional<int> value)
{
    switch (GraphTimeWindowSetting::snapped(value)) {
    case 1:
        return GraphTimeWindow::hours1;
    case 3:
        return GraphTimeWindow::hours3;
    case 12:
        return GraphTimeWindow::hours12;
    case 24:
        return GraphTimeWindow::hours24;
    default:
        return GraphTimeWindow::hours6;
    }
}

} // namespace graph_window

namespace {

// The user interface font at a size given in layout points.
QFont uiFont(double size, QFont::Weight weight = QFont::Normal)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    font.setWeight(weight);
    return font;
}

// Draws `text` with its bottom-left corner at (x, y) of the y-up layout, in its own size.
void drawText(QPainter &painter, double viewHeight, const QString &text, const QFont &font, const QColor &color,
              double x, double y)
{
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(QPointF(x, viewHeight - y - size.height()), size),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, text);
}

QSizeF textSize(const QString &text, const QFont &font)
{
    const QFontMetricsF metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

} // namespace

double GlucoseGraphRenderer::Plot::yFor(double displayValue) const
{
    const QRectF &r = layout.graphRect;
    return r.top() + r.height() * (displayValue - minValue) / range;   // top() is minY in y-up terms
}

double GlucoseGraphRenderer::Plot::xFor(Date date, Date windowStart, double span) const
{
    const QRectF &r = layout.graphRect;
    const double t = std::clamp((date - windowStart) / span, 0.0, 1.0);
    return r.left() + r.width() * (std::isfinite(t) ? t : 0.0);
}

double GlucoseGraphRenderer::displayValue(double mgdL, GlucoseUnits unit)
{
    if (unit == GlucoseUnits::mmolL) {
        return std::round(mgdL / 18.0 * 10.0) / 10.0;
    }
    return mgdL;
}

QString GlucoseGraphRenderer::displayValueText(double value, GlucoseUnits unit)
{
    if (unit == GlucoseUnits::mmolL) {
        return QString::asprintf("%.1f", value);
    }
    // The display value of mg/dL is the value itself; its text is the rounded whole number.
    return QString::fromStdString(units::format(GlucoseUnits::mgdL, value));
}

QString GlucoseGraphRenderer::currentValueText(const GlucoseReading &reading, GlucoseUnits unit, Date now)
{
    const QString value = displayValueText(displayValue(reading.mgdL, unit), unit);
    if (readingAge(reading.date, now) < kFreshReadingSeconds) {
        return value + QLatin1Char(' ') + QString::fromStdString(reading.trendArrow);
    }
    return value + QStringLiteral(" ?");
}

GlucoseReadings GlucoseGraphRenderer::visibleReadings(const GlucoseReadings &readings, GraphTimeWindow window,
                                                      Date now)
{
    const Date start = now - graph_window::span(window);
    GlucoseReadings visible;
    for (const GlucoseReading &reading : readings) {
        if (reading.date >= start) {
            visible.push_back(reading);
        }
    }
    return visible;
}

GlucoseGraphRenderer::Plot GlucoseGraphRenderer::makePlot(const GlucoseReadings &visible, double lowThreshold,
                                                          double highThreshold, GlucoseUnits unit, QSizeF viewSize,
                                                          double minimumRange)
{
    Plot plot;
    const double low = displayValue(lowThreshold, unit);
    const double high = displayValue(highThreshold, unit);
    plot.minValue = low;
    plot.maxValue = high;
    for (const GlucoseReading &reading : visible) {
        const double value = displayValue(reading.mgdL, unit);
        plot.minValue = std::min(plot.minValue, value);
        plot.maxValue = std::max(plot.maxValue, value);
    }
    plot.range = std::max(plot.maxValue - plot.minValue, minimumRange);

    // The target band never reaches above 180 mg/dL (10 mmol/L), whatever the high threshold.
    const double cap = unit == GlucoseUnits::mgdL ? 180.0 : 10.0;
    plot.targetLowDisplay = low;
    plot.effectiveTargetHighDisplay = std::max(low, std::min(high, cap));

    plot.maxText = displayValueText(plot.maxValue, unit);
    plot.minText = displayValueText(plot.minValue, unit);
    plot.labelFont = uiFont(9);
    plot.maxTextSize = textSize(plot.maxText, plot.labelFont);
    plot.minTextSize = textSize(plot.minText, plot.labelFont);

    const double labelWidth = std::max(plot.maxTextSize.width(), plot.minTextSize.width());
    const double width = std::max(0.0, viewSize.width() - 30 - plot.layout.labelGap - labelWidth);
    const double height = std::max(0.0, viewSize.height() - 70 - 30);
    plot.layout.graphRect = QRectF(15, 30, width, height);
    return plot;
}

void GlucoseGraphRenderer::draw(QPainter &painter, QSizeF viewSize, const GlucoseGraphModel &model, Date now,
                                const StatusDateFormatter &formatter)
{
    const double viewHeight = viewSize.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(QRectF(QPointF(0, 0), viewSize), Qt::black);

    const GlucoseUnits unit = model.unit();
    const GlucoseReadings &history = model.glucoseHistory;
    if (!history.empty()) {
        const QString lastReading = QStringLiteral("Last reading: ") + formatter.dateAndTime(history.back().date);
        const QFont font = uiFont(9);
        drawText(painter, viewHeight, lastReading, font, lightGray(),
                 viewSize.width() - 15 - textSize(lastReading, font).width(), 6);
    }
    if (history.empty()) {
        painter.restore();
        return;
    }

    drawText(painter, viewHeight, currentValueText(history.back(), unit, now), uiFont(28, QFont::Medium), Qt::white,
             15, viewHeight - 40);
    drawText(painter, viewHeight, QString::fromStdString(units::symbol(unit)), uiFont(11), lightGray(), 15,
             viewHeight - 60);

    const GlucoseReadings visible = visibleReadings(history, model.timeWindow, now);
    if (visible.empty()) {
        painter.restore();
        return;
    }
    const double span = graph_window::span(model.timeWindow);
    const Date windowStart = now - span;
    const Plot plot = makePlot(visible, model.lowThreshold, model.highThreshold, unit, viewSize);
    const QRectF &rect = plot.layout.graphRect;
    auto flip = [viewHeight](double y) { return viewHeight - y; };

    if (plot.targetLowDisplay < plot.effectiveTargetHighDisplay) {
        const double bottom = plot.yFor(plot.targetLowDisplay);
        const double top = plot.yFor(plot.effectiveTargetHighDisplay);
        QColor band = systemGreen();
        band.setAlphaF(0.2f);
        painter.fillRect(QRectF(QPointF(rect.left(), flip(top)), QPointF(rect.right(), flip(bottom))), band);
    }

    const double highDisplay = displayValue(model.highThreshold, unit);
    const double lowDisplay = displayValue(model.lowThreshold, unit);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (highDisplay <= plot.maxValue) {
        painter.setPen(QPen(systemOrange(), 1));
        const double y = flip(plot.yFor(highDisplay));
        painter.drawLine(QPointF(rect.left(), y), QPointF(rect.right(), y));
    }
    painter.setPen(QPen(systemRed(), 1));
    const double lowY = flip(plot.yFor(lowDisplay));
    painter.drawLine(QPointF(rect.left(), lowY), QPointF(rect.right(), lowY));
    painter.setRenderHint(QPainter::Antialiasing, true);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    for (const GlucoseReading &reading : visible) {
        const QPointF centre(plot.xFor(reading.date, windowStart, span),
                             flip(plot.yFor(displayValue(reading.mgdL, unit))));
        painter.drawEllipse(centre, 1.5, 1.5);
    }

    const double right = viewSize.width() - plot.layout.rightPadding;
    drawText(painter, viewHeight, plot.maxText, plot.labelFont, lightGray(), right - plot.maxTextSize.width(),
             rect.bottom() - 8);   // bottom() is maxY in y-up terms
    drawText(painter, viewHeight, plot.minText, plot.labelFont, lightGray(), right - plot.minTextSize.width(),
             rect.top() - 5);
    drawText(painter, viewHeight, graph_window::axisLabel(model.timeWindow), uiFont(10), lightGray(), rect.left(),
             rect.top() - 18);
    painter.restore();
}

QString GlucoseGraphRenderer::accessibilityLabel(const GlucoseGraphModel &model, Date now,
                                                 const StatusDateFormatter &formatter)
{
    const int hours = graph_window::hours(model.timeWindow);
    const QString head = QStringLiteral("Glucose graph, last %1 %2")
                             .arg(hours)
                             .arg(hours == 1 ? QStringLiteral("hour") : QStringLiteral("hours"));
    const GlucoseReadings &history = model.glucoseHistory;
    std::optional<GlucoseReading> newest;
    if (!history.empty()) {
        newest = history.back();
    }
    QString sentence = readingSentence(newest, model.unit(), model.lowThreshold, model.highThreshold, now);
    if (newest) {
        const auto count = visibleReadings(history, model.timeWindow, now).size();
        sentence += QStringLiteral(" %1 %2 in this time window.")
                        .arg(count)
                        .arg(count == 1 ? QStringLiteral("reading") : QStringLiteral("readings"));
        sentence += QStringLiteral(" Last reading: ") + formatter.dateAndTime(newest->date) + QLatin1Char('.');
    }
    return head + QStringLiteral(". ") + sentence;
}

QColor GlucoseGraphRenderer::lightGray()
{
    return QColor::fromRgbF(0.667f, 0.667f, 0.667f);
}

QColor GlucoseGraphRenderer::systemGreen()
{
    return QColor(52, 199, 89);
}

QColor GlucoseGraphRenderer::systemOrange()
{
    return QColor(255, 149, 0);
}

QColor GlucoseGraphRenderer::systemRed()
{
    return QColor(255, 59, 48);
}

} // namespace quillby
