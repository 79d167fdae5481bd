#pragma once

#include <QColor>
#include <QPen>
#include <QImage>
#include <QPointer>
#include <QPointF>
#include <QTimer>
#include <QWidget>

#include "widgets/AmbientFrameCache.h"

#include <functional>
#include <limits>
#include <optional>
#include <vector>

class QPainter;

namespace quillby {

// The decorative panel behind the onboarding, terms and feedback windows and the Insights
// collecting card: a flat colour, four soft, blurred colour glows and, optionally, a gently
// undulating glucose line drifting to the left and fading out towards the right. It animates
// only while it is visible, its window is not minimised, the line is shown and reduced motion is
// off; with reduced motion the line stands still at phase 0. The line drifts 8 points a second,
// so a frame is drawn each time it has moved half a point (16 a second, and never faster than
// the screen refreshes), and none while the window is not exposed.
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
    // The height of the line's point number `index` (any number, also past the last point) on a
    // canvas `height` high at `phase` seconds.
    static double waveHeight(double height, double phase, double index);

    // The pen of stroke `stroke` (0, 1, 2, drawn in that order) of the line on a canvas `width`
    // wide: its colour, its fade towards the right, its width, caps and joins.
    static constexpr int kLineStrokes = 3;
    static QPen linePen(int stroke, double width);

    // The part of a `width` x `height` canvas the line can reach: the only part an animation
    // frame repaints.
    static QRect lineBand(int width, int height);

    // The still part of a `width` x `height` canvas: the background colour and, over it, the
    // four blurred glows at `gradientOpacity`. Null for a canvas without width or height. It
    // changes only with the size, so the view makes it once per size.
    // At a `devicePixelRatio` above 1 the layer has that many times the pixels each way (and says
    // so in its own device pixel ratio).
    static QImage backgroundLayer(int width, int height, const QColor &backgroundColor, double gradientOpacity,
                                  double devicePixelRatio = 1);

    // Draws one frame onto a canvas of `width` x `height` at the painter's origin: `background`
    // (from backgroundLayer) and the line at `phase` when `showsGlucoseLine`. A canvas without
    // width or height draws nothing.
    static void drawFrame(QPainter &painter, double width, double height, const QImage &background,
                          bool showsGlucoseLine, double phase);

    // The time between two frames on a screen of `refreshRate` frames a second: at least
    // 1/120 s, and no shorter than the screen's own frame (1/60 s when it is not known),
    // rounded up to whole milliseconds.
    static int frameIntervalMs(double refreshRate);
    int frameInterval() const { return timer_.interval(); }
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
    void tick();
    int msToNextStep() const;
    double phase() const;

    QColor backgroundColor_;
    double gradientOpacity_;
    bool showsGlucoseLine_;
    bool reduceMotion_ = false;
    std::function<double()> phaseSource_;
    QTimer timer_;
    AmbientFrameCache frames_;
    double lastPaintedPhase_ = std::numeric_limits<double>::quiet_NaN();
    QPointer<QWidget> watchedWindow_;
};

} // namespace quillby
