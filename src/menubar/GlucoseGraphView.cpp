#include "menubar/GlucoseGraphView.h"

#include "menubar/StatusBarAccessibility.h"

#include <QPainter>

namespace quillby {

GlucoseGraphView::GlucoseGraphView(std::shared_ptr<const Clock> clock, StatusDateFormatter formatter, QWidget *parent)
    : QWidget(parent), clock_(std::move(clock)), formatter_(std::move(formatter))
{
    installStatusBarAccessibility();
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("glucoseGraphView"));
    setAccessibleDescription(QStringLiteral("Displays your glucose readings over time with high and low threshold lines"));
    refreshAccessibilityText();
}

void GlucoseGraphView::setGlucoseHistory(const GlucoseReadings &readings)
{
    model_.glucoseHistory = readings;
    update();
    refreshAccessibilityText();
}

void GlucoseGraphView::setLowThreshold(double mgdL)
{
    model_.lowThreshold = mgdL;
    refreshAccessibilityText();
}

void GlucoseGraphView::setHighThreshold(double mgdL)
{
    model_.highThreshold = mgdL;
    refreshAccessibilityText();
}

void GlucoseGraphView::setMeasurementUnit(const QString &unit)
{
    model_.measurementUnit = unit;
    refreshAccessibilityText();
}

void GlucoseGraphView::setTimeWindow(GraphTimeWindow window)
{
    model_.timeWindow = window;
    update();
}

GlucoseReadings GlucoseGraphView::visibleReadings(Date now) const
{
    return GlucoseGraphRenderer::visibleReadings(model_.glucoseHistory, model_.timeWindow, now);
}

void GlucoseGraphView::refreshAccessibilityText()
{
    // Only a change is reported to screen readers (see StatusBarController::setAccessibilityValue).
    const QString name = GlucoseGraphRenderer::accessibilityLabel(model_, clock_->now(), formatter_);
    if (accessibleName() != name) {
        setAccessibleName(name);
    }
}

void GlucoseGraphView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    GlucoseGraphRenderer::draw(painter, size(), model_, clock_->now(), formatter_);
}

} // namespace quillby
