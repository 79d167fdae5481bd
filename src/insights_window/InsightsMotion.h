#pragma once

#include <QEasingCurve>
#include <QObject>
#include <QVariantAnimation>

#include <functional>
#include <optional>

class QWidget;

namespace quillby {

// How one change of the Insights window moves: a duration and a curve.
struct InsightsCurve {
    int durationMs = 0;
    QEasingCurve easing;
};

// The window's curves. Nothing here runs a timer: the animations that use them run only while
// a value is on its way, through Qt's animation framework.
struct InsightsMotion {
    // Unlock, state changes and new calculation results: 0.3 s ease-in-out.
    static InsightsCurve easeInOut();
    // The end of the completion notice: 0.25 s ease-out.
    static InsightsCurve easeOut();
    // A critically damped spring (damping fraction 1, so it never overshoots) with the given
    // response in seconds: x(t) = 1 − (1 + ωt)·e^(−ωt), ω = 2π / response, run until it is within
    // 0.1 % of its target.
    static InsightsCurve spring(double responseSeconds);
    // The spring's share of the way at `seconds` after it started.
    static double springValue(double seconds, double responseSeconds);
    // When the spring is within 0.1 % of its target.
    static double springSettleSeconds(double responseSeconds);
    // `curve`, unless `widget` is not on screen or the desktop asks for reduced motion: then the
    // change applies at once.
    static std::optional<InsightsCurve> forWidget(const QWidget *widget, bool reduceMotion, InsightsCurve curve);
};

// A number shown by a widget that moves to each new target along a curve, starting from the
// value shown at that moment (also when the change arrives mid-way), or jumps there at once.
// `apply` draws a value; it is called for every step and, exactly, with the target at the end.
class InsightsAnimatedValue : public QObject {
    Q_OBJECT
public:
    InsightsAnimatedValue(double value, std::function<void(double)> apply, QObject *parent = nullptr);

    void moveTo(double target, const std::optional<InsightsCurve> &curve);
    // The target at once, ending a running move.
    void finish();

    double value() const { return shown_; }
    double target() const { return target_; }
    bool isAnimating() const { return animation_.state() == QAbstractAnimation::Running; }
    const QVariantAnimation &animation() const { return animation_; }

signals:
    void finished();

private:
    void show(double value);

    QVariantAnimation animation_;
    double shown_;
    double target_;
    std::function<void(double)> apply_;
};

} // namespace quillby
