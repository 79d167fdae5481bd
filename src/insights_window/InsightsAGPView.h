#pragma once

#include "core/GlucoseReading.h"
#include "insights/InsightsAGP.h"
#include "insights_window/InsightsAGPPlot.h"

#include <QWidget>

#include <optional>
#include <vector>

class QLabel;

namespace quillby {

// The painted profile chart: target range, the 5–95 % and 25–75 % bands and the median line
// over 24 hours, with hover, click and keyboard selection of one quarter hour and a callout of
// that bin's own values.
class InsightsAGPChart : public QWidget {
    Q_OBJECT
public:
    InsightsAGPChart(InsightsAGP profile, GlucoseUnits unit, QWidget *parent = nullptr);

    // --- Geometry and scale ---
    QRectF plotFrame() const;
    struct YDomain {
        double lower = 0;
        double upper = 0;
        bool operator==(const YDomain &) const = default;
    };
    // In the view's unit.
    static YDomain yDomain(const InsightsAGP &profile, GlucoseUnits unit);
    // The y axis marks (about five, at a readable step) inside the domain.
    static std::vector<double> yTicks(const YDomain &domain, GlucoseUnits unit);
    // The quarter hour under a point of the widget, or none outside the plot frame.
    std::optional<int> minuteAt(QPointF point) const;
    // The same rule for an x value already read off the plot (minutes, any double).
    static std::optional<int> quarterHourStart(double minuteValue);
    double xPosition(double minute) const;
    double yPosition(double value) const;

    // --- Hover and selection ---
    std::optional<int> hoveredMinute() const { return hoveredMinute_; }
    std::optional<int> selectedMinute() const { return selectedMinute_; }
    void updateHover(std::optional<QPointF> location);   // none: the pointer left
    void toggleSelection(QPointF location);
    // The hovered bin, else the selected one; none when neither matches a bin.
    std::optional<InsightsAGPBin> activeBin() const;
    // Where the callout of the active bin goes, or none.
    std::optional<QRectF> calloutRect() const;
    QStringList calloutLines() const;

    // --- Texts ---
    static QString binLabel(const InsightsAGPBin &bin);
    static QString medianAccessibilityValue(const InsightsAGPBin &bin, const InsightsAGPPercentiles &percentiles,
                                            GlucoseUnits unit);
    const std::vector<InsightsAGPPlot::Point> &points() const { return points_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void activeBinChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setHovered(std::optional<int> minute);
    void setSelected(std::optional<int> minute);
    void announceActiveBin();
    double toUnit(double mgdl) const;
    QSizeF calloutSize(const QStringList &lines) const;

    InsightsAGP profile_;
    GlucoseUnits unit_;
    std::vector<InsightsAGPPlot::Point> points_;
    YDomain domain_;
    std::vector<double> ticks_;
    std::optional<int> hoveredMinute_;
    std::optional<int> selectedMinute_;
};

// The profile card: header with the unit, the chart (or a placeholder while no bin has
// percentiles) and the legend with the note on gaps.
class InsightsAGPView : public QWidget {
    Q_OBJECT
public:
    InsightsAGPView(const InsightsAGP &profile, GlucoseUnits unit, QWidget *parent = nullptr);

    InsightsAGPChart *chart() const { return chart_; }
    static QString profileHelpText(const InsightsAGP &profile);
    static QString timeZoneName(const std::string &identifier);

private:
    InsightsAGPChart *chart_ = nullptr;
};

} // namespace quillby
