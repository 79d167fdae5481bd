#pragma once

#include <QColor>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace quillby {

// The decorative panel behind the onboarding, terms and feedback windows and the Insights
// collecting card: a flat colour, four soft colour glows and, optionally, a gently undulating
// glucose line drifting to the left. It animates only while visible and while the line is shown
// and reduced motion is off. Hidden from accessibility; takes no input.
class AmbientBackgroundView : public QWidget {
    Q_OBJECT
public:
    // `phaseSource`: seconds since 2001-01-01 UTC of the frame to draw (the wall clock when
    // none is given).
    AmbientBackgroundView(std::optional<int> width, QColor backgroundColor, double gradientOpacity,
                          bool showsGlucoseLine, bool ignoresSafeArea, QWidget *parent = nullptr,
                          std::function<double()> phaseSource = {});

    void setReduceMotion(bool reduceMotion);
    bool isAnimating() const { return timer_.isActive(); }

    // The line's points for a canvas of `width` x `height` at `phase` seconds.
    static std::vector<QPointF> waveLinePoints(double width, double height, double phase);

    static constexpr int kFrameIntervalMs = 1000 / 60;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateTimer();
    double phase() const;

    QColor backgroundColor_;
    double gradientOpacity_;
    bool showsGlucoseLine_;
    bool reduceMotion_ = false;
    std::function<double()> phaseSource_;
    QTimer timer_;
};

} // namespace quillby
