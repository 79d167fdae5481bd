#include "insights_window/InsightsMotion.h"

#include <QWidget>

#include <cmath>
#include <numbers>

namespace quillby {

namespace {

constexpr double kSettleTolerance = 0.001;

// k = ω · settle time: the root of (1 + k)·e^(−k) = 0.001, the same for every response.
double settleProduct()
{
    double k = 9.0;
    for (int i = 0; i < 50; ++i) {
        const double f = (1 + k) * std::exp(-k) - kSettleTolerance;
        const double slope = -k * std::exp(-k);
        k -= f / slope;
    }
    return k;
}

const double kSettleProduct = settleProduct();

// The spring over its settle time, as an easing curve of 0...1; exactly 1 at the end.
qreal springEasing(qreal progress)
{
    if (progress >= 1) {
        return 1;
    }
    const double x = kSettleProduct * std::max<qreal>(progress, 0);
    return 1 - (1 + x) * std::exp(-x);
}

double omega(double responseSeconds)
{
    return 2 * std::numbers::pi / responseSeconds;
}

} // namespace

InsightsCurve InsightsMotion::easeInOut()
{
    return {300, QEasingCurve(QEasingCurve::InOutQuad)};
}

InsightsCurve InsightsMotion::easeOut()
{
    return {250, QEasingCurve(QEasingCurve::OutQuad)};
}

InsightsCurve InsightsMotion::spring(double responseSeconds)
{
    QEasingCurve easing;
    easing.setCustomType(&springEasing);
    return {static_cast<int>(std::lround(springSettleSeconds(responseSeconds) * 1000)), easing};
}

double InsightsMotion::springValue(double seconds, double responseSeconds)
{
    const double x = omega(responseSeconds) * std::max(seconds, 0.0);
    return 1 - (1 + x) * std::exp(-x);
}

double InsightsMotion::springSettleSeconds(double responseSeconds)
{
    return kSettleProduct / omega(responseSeconds);
}

std::optional<InsightsCurve> InsightsMotion::forWidget(const QWidget *widget, bool reduceMotion, InsightsCurve curve)
{
    if (reduceMotion || !widget || !widget->isVisible()) {
        return std::nullopt;
    }
    return curve;
}

InsightsAnimatedValue::InsightsAnimatedValue(double value, std::function<void(double)> apply, QObject *parent)
    : QObject(parent), shown_(value), target_(value), apply_(std::move(apply))
{
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        if (animation_.state() == QAbstractAnimation::Running) {
            show(v.toDouble());
        }
    });
    connect(&animation_, &QVariantAnimation::finished, this, [this] {
        show(target_);
        emit finished();
    });
}

void InsightsAnimatedValue::moveTo(double target, const std::optional<InsightsCurve> &curve)
{
    if (target == target_ && (isAnimating() || shown_ == target)) {
        return;
    }
    target_ = target;
    if (!curve || curve->durationMs <= 0 || shown_ == target) {
        finish();
        return;
    }
    // From what is on screen now, not from the old target.
    animation_.stop();
    animation_.setEasingCurve(curve->easing);
    animation_.setDuration(curve->durationMs);
    animation_.setStartValue(shown_);
    animation_.setEndValue(target);
    animation_.start();
}

void InsightsAnimatedValue::finish()
{
    const bool wasRunning = isAnimating();
    animation_.stop();
    show(target_);
    if (wasRunning) {
        emit finished();
    }
}

void InsightsAnimatedValue::show(double value)
{
    shown_ = value;
    if (apply_) {
        apply_(value);
    }
}

} // namespace quillby
