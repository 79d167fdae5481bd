#pragma once

#include "core/Clock.h"
#include "menubar/GlucoseGraphRenderer.h"
#include "menubar/StatusDateFormatter.h"

#include <QWidget>

#include <memory>

namespace quillby {

// The glucose graph at the top of the status item's popup: draws through
// GlucoseGraphRenderer and keeps its accessible name in step with what it shows.
class GlucoseGraphView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 280;
    static constexpr int kHeight = 200;

    explicit GlucoseGraphView(std::shared_ptr<const Clock> clock, StatusDateFormatter formatter = StatusDateFormatter(),
                              QWidget *parent = nullptr);

    const GlucoseGraphModel &model() const { return model_; }
    void setGlucoseHistory(const GlucoseReadings &readings);
    void setLowThreshold(double mgdL);
    void setHighThreshold(double mgdL);
    void setMeasurementUnit(const QString &unit);
    void setTimeWindow(GraphTimeWindow window);

    // Readings dated within the window before now.
    GlucoseReadings visibleReadings(Date now) const;
    // Recomputes the accessible name for the current time.
    void refreshAccessibilityText();

    QSize sizeHint() const override { return {kWidth, kHeight}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::shared_ptr<const Clock> clock_;
    StatusDateFormatter formatter_;
    GlucoseGraphModel model_;
};

} // namespace quillby
