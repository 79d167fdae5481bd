#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QPainter;

namespace quillby {

// The decorative panel behind the onboarding, terms and feedback windows and the Insights
// collecting card: a flat colour, four soft, blurred colour glows and, optionally, a gently
// undulating glucose line drifting to the left and fading out towards the right. It animates
// (at most 120 frames a second) only while it is visible, its window is not minimised, the line
// is shown and reduced motion is off; with reduced motion the line stands still at phase 0.
// Hidden from accessibility; takes no input.
class AmbientBackgroundView : public QWidget {
    Q_OBJECT
public:
    // `width`: a fixed width (none: the width the layout offers). `ignoresSafeArea` has no
    // meaning for a widget (there is no safe area) and is accepted for the callers' sake.
    // `phaseSource`: seconds since 2001-01-01 UTC of the frame to draw (default: the wall clock).
    AmbientBackgroundView(std::optional<int> width, QColor backgroundColor, double gradientOpacity,
                          bool showsGlucoseLine, bool ignoresSafeArea, QWidget *parent = nullptr,
                          std::function<double()> phaseSource = {});

    void setReduceMotion(bool reduceMotion);
    bool reduceMotion() const { return reduceMotion_; }
    bool isAnimating() const { return timer_.isActive(); }

    // The line's points for a canvas of `width` x `height` at `phase` seconds.
    static std::vector<QPointF> waveLinePoints(double width, double height, double phase);

    // The glow layer of a `width` x `height` canvas, blurred, at full opacity (transparent
    // elsewhere); null for an empty canvas.
    static QImage glowLayer(int width, int height);

    // Draws one frame onto a canvas of `width` x `height` at the painter's origin: the
    // background, `glows` (from glowLayer) at `gradientOpacity`, and the line at `phase` when
    // `showsGlucoseLine`. A canvas without width or height draws nothing.
    static void drawFrame(QPainter &painter, double width, double height, const QColor &backgroundColor,
                          const QImage &glows, double gradientOpacity, bool showsGlucoseLine, double phase);

    // The shortest time between two frames: 1/120 s, rounded up to whole milliseconds.
    static constexpr int kFrameIntervalMs = 9;
    // The glows' blur, in device-independent pixels (a Gaussian of this radius).
    static constexpr double kGlowBlurRadius = 80;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateTimer();
    double phase() const;

    QColor backgroundColor_;
    double gradientOpacity_;
    bool showsGlucoseLine_;
    bool reduceMotion_ = false;
    std::function<double()> phaseSource_;
    QTimer timer_;
    QImage glowCache_;   // the glow layer of glowCacheSize_
    QSize glowCacheSize_;
    QPointer<QWidget> watchedWindow_;
};

} // namespace quillby
