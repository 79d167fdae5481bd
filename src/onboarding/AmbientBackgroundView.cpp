#include "onboarding/AmbientBackgroundView.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace quillby {

namespace {

constexpr double kReferenceDateOffset = 978307200.0;

QColor rgb(double r, double g, double b, double a)
{
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            static_cast<float>(std::clamp(a, 0.0, 1.0)));
}

} // namespace

AmbientBackgroundView::AmbientBackgroundView(std::optional<int> width, QColor backgroundColor, double gradientOpacity,
                                             bool showsGlucoseLine, bool ignoresSafeArea, QWidget *parent,
                                             std::function<double()> phaseSource)
    : QWidget(parent)
    , backgroundColor_(std::move(backgroundColor))
    , gradientOpacity_(std::isfinite(gradientOpacity) ? std::clamp(gradientOpacity, 0.0, 1.0) : 1.0)
    , showsGlucoseLine_(showsGlucoseLine)
    , phaseSource_(std::move(phaseSource))
{
    Q_UNUSED(ignoresSafeArea);   // a widget has no safe area to respect
    if (width) {
        setFixedWidth(std::max(0, *width));
    }
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QString());
    setFocusPolicy(Qt::NoFocus);
    timer_.setInterval(kFrameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void AmbientBackgroundView::setReduceMotion(bool reduceMotion)
{
    reduceMotion_ = reduceMotion;
    updateTimer();
    update();
}

double AmbientBackgroundView::phase() const
{
    if (reduceMotion_) {
        return 0;
    }
    if (phaseSource_) {
        return phaseSource_();
    }
    return QDateTime::currentMSecsSinceEpoch() / 1000.0 - kReferenceDateOffset;
}

void AmbientBackgroundView::updateTimer()
{
    const bool minimised = window() && window()->isMinimized();
    const bool animate = showsGlucoseLine_ && !reduceMotion_ && isVisible() && !minimised;
    if (animate && !timer_.isActive()) {
        timer_.start();
    } else if (!animate) {
        timer_.stop();
    }
}

void AmbientBackgroundView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void AmbientBackgroundView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    timer_.stop();
}

void AmbientBackgroundView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        updateTimer();
    }
}

std::vector<QPointF> AmbientBackgroundView::waveLinePoints(double width, double height, double phase)
{
    std::vector<QPointF> points;
    points.reserve(140);
    const double amplitude = 0.65 * height - 0.5 * height;
    const double lower = 0.35 * height;
    const double upper = 0.65 * height;
    const double right = 0.85 * width + 50;
    for (int i = 0; i < 140; ++i) {
        const double x = 5.0 * i - 20;
        if (x > right) {
            break;
        }
        const double s = (8 * phase) / 5 + i;
        double y = 0.5 * height + 0.5 * amplitude * std::sin(0.03 * s) +
                   0.3 * amplitude * std::sin(0.09 * s + 1.75 * std::sin(0.02 * s)) +
                   0.12 * amplitude * std::sin(0.18 * s + std::cos(0.06 * s)) + 0.023 * amplitude * std::sin(0.575 * s);
        if (y < lower) {
            y = lower + 0.1 * (y - lower);
        } else if (y > upper) {
            y = upper + 0.1 * (y - upper);
        }
        points.emplace_back(x, y);
    }
    return points;
}

void AmbientBackgroundView::paintEvent(QPaintEvent *)
{
    const double w = width();
    const double h = height();
    if (w <= 0 || h <= 0) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), backgroundColor_);

    // The glows (their soft edges stand in for the blur).
    const double m = std::min(w, h);
    struct Glow {
        double cx, cy, r, g, b, a, start, end;
    };
    const Glow glows[] = {{0.85, 0.80, 0.74, 0.92, 0.83, 1, 0.09, 0.55},
                          {0.60, 0.24, 0.64, 0.76, 1.0, 1, 0.05, 0.72},
                          {0.13, 0.82, 0.97, 0.30, 1.0, 0.49, 0.05, 0.52},
                          {0.24, 0.07, 0.45, 0.89, 0.91, 1, 0.13, 0.68}};
    p.setOpacity(gradientOpacity_);
    p.setPen(Qt::NoPen);
    for (const auto &glow : glows) {
        const QPointF centre(glow.cx * w, glow.cy * h);
        const double end = glow.end * m;
        QRadialGradient gradient(centre, end);
        const double startStop = std::clamp(glow.start / glow.end, 0.0, 1.0);
        gradient.setColorAt(startStop, rgb(glow.r, glow.g, glow.b, glow.a));
        gradient.setColorAt((startStop + 1) / 2, rgb(glow.r, glow.g, glow.b, glow.a / 2));
        gradient.setColorAt(1, rgb(glow.r, glow.g, glow.b, 0));
        p.setBrush(gradient);
        p.drawEllipse(centre, end, end);
    }
    p.setOpacity(1);

    if (!showsGlucoseLine_) {
        return;
    }
    const auto points = waveLinePoints(w, h, phase());
    if (points.size() < 2) {
        return;
    }
    QPainterPath path(points.front());
    for (std::size_t i = 1; i < points.size(); ++i) {
        const QPointF control = (points[i - 1] + points[i]) / 2;
        path.quadTo(control, points[i]);
    }
    struct Stroke {
        double r, g, b, a, width;
    };
    const Stroke strokes[] = {{0.4, 0.6, 1.0, 0.45, 10}, {0.35, 0.55, 0.98, 0.25, 18}, {0.45, 0.65, 1.0, 1, 3.5}};
    p.setBrush(Qt::NoBrush);
    for (const auto &stroke : strokes) {
        QLinearGradient fade(0, 0, w, 0);
        for (int j = 0; j <= 9; ++j) {
            const double f = (w * (j / 9.0) - 0.7 * w) / (0.85 * w - 0.7 * w);
            const double amount = f >= 1 ? 0 : 1 - std::max(f, 0.0);
            fade.setColorAt(j / 9.0, rgb(stroke.r, stroke.g, stroke.b, stroke.a * amount));
        }
        QPen pen(QBrush(fade), stroke.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        pen.setMiterLimit(10);
        p.setPen(pen);
        p.drawPath(path);
    }
}

} // namespace quillby
