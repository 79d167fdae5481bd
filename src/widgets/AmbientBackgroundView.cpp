#include "widgets/AmbientBackgroundView.h"

#include "widgets/AccessibilityMarks.h"

#include <QDateTime>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace quillby {

namespace {

// 2001-01-01 00:00 UTC in seconds since 1970.
constexpr double kReferenceDateOffset = 978307200.0;
// The glow layer is drawn and blurred at a quarter of the canvas size and scaled up: the glows
// have no detail a full-size blur would keep, and the frame stays cheap.
constexpr int kGlowScale = 4;

QColor rgb(double r, double g, double b, double a)
{
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            static_cast<float>(std::clamp(a, 0.0, 1.0)));
}

struct Glow {
    double cx, cy, r, g, b, a, start, end;
};

constexpr std::array<Glow, 4> kGlows = {{{0.85, 0.80, 0.74, 0.92, 0.83, 1, 0.09, 0.55},
                                         {0.60, 0.24, 0.64, 0.76, 1.0, 1, 0.05, 0.72},
                                         {0.13, 0.82, 0.97, 0.30, 1.0, 0.49, 0.05, 0.52},
                                         {0.24, 0.07, 0.45, 0.89, 0.91, 1, 0.13, 0.68}}};

struct Stroke {
    double r, g, b, a, width;
};

constexpr std::array<Stroke, 3> kStrokes = {{{0.4, 0.6, 1.0, 0.45, 10},
                                             {0.35, 0.55, 0.98, 0.25, 18},
                                             {0.45, 0.65, 1.0, 1, 3.5}}};

// One pass of a box blur of radius `r` along rows (`horizontal`) or columns of a premultiplied
// image; outside the image counts as transparent.
void boxBlurPass(QImage &image, int r, bool horizontal)
{
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const int window = 2 * r + 1;
    std::vector<std::uint32_t> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
        const auto pixel = [&](int i) -> std::uint32_t & {
            const int x = horizontal ? i : l;
            const int y = horizontal ? l : i;
            return reinterpret_cast<std::uint32_t *>(image.scanLine(y))[x];
        };
        for (int i = 0; i < length; ++i) {
            line[static_cast<std::size_t>(i)] = pixel(i);
        }
        std::array<std::uint32_t, 4> sum{};
        const auto add = [&](int i, int sign) {
            if (i < 0 || i >= length) {
                return;
            }
            const std::uint32_t value = line[static_cast<std::size_t>(i)];
            for (int c = 0; c < 4; ++c) {
                sum[static_cast<std::size_t>(c)] += static_cast<std::uint32_t>(sign) * ((value >> (8 * c)) & 0xff);
            }
        };
        for (int i = -r; i < r; ++i) {
            add(i, 1);
        }
        for (int i = 0; i < length; ++i) {
            add(i + r, 1);
            std::uint32_t out = 0;
            for (int c = 0; c < 4; ++c) {
                out |= (sum[static_cast<std::size_t>(c)] / static_cast<std::uint32_t>(window)) << (8 * c);
            }
            pixel(i) = out;
            add(i - r, -1);
        }
    }
}

// An approximate Gaussian blur (three box blurs) of standard deviation `sigma` pixels.
void gaussianBlur(QImage &image, double sigma)
{
    int boxWidth = static_cast<int>(std::floor(std::sqrt(4 * sigma * sigma + 1)));
    if (boxWidth % 2 == 0) {
        --boxWidth;
    }
    const int r = (boxWidth - 1) / 2;
    if (r < 1) {
        return;
    }
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(image, r, true);
        boxBlurPass(image, r, false);
    }
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
    , frames_(backgroundColor_, gradientOpacity_)
{
    Q_UNUSED(ignoresSafeArea);   // a widget has no safe area to respect
    if (width) {
        setFixedWidth(std::max(0, *width));
    }
    setAttribute(Qt::WA_OpaquePaintEvent);
    hideFromAccessibility(this);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &AmbientBackgroundView::tick);
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
    QWidget *top = window();
    const bool minimised = top && top->isMinimized();
    const bool animate = showsGlucoseLine_ && !reduceMotion_ && isVisible() && !minimised;
    if (animate && !timer_.isActive()) {
        timer_.start(msToNextStep());
    } else if (!animate) {
        timer_.stop();
    }
}

int AmbientBackgroundView::msToNextStep() const
{
    // Until the line has moved on to its next half point, and at least one screen frame.
    const QScreen *display = screen();
    const int screenFrame = frameIntervalMs(display ? display->refreshRate() : 0);
    const double step = AmbientFrameCache::kPhaseStep;
    const double now = phase();
    double untilNext = (std::floor(now / step) + 1) * step - now;
    if (!std::isfinite(untilNext) || untilNext <= 0 || untilNext > step) {
        untilNext = step;
    }
    return std::max(screenFrame, static_cast<int>(std::ceil(untilNext * 1000)));
}

void AmbientBackgroundView::tick()
{
    timer_.start(msToNextStep());
    // A window the platform says cannot be seen (covered, on another workspace, unmapped) gets
    // no frames; the first one after it shows again is drawn as usual.
    const QWindow *handle = window()->windowHandle();
    if (handle && !handle->isExposed()) {
        return;
    }
    const double now = std::floor(phase() / AmbientFrameCache::kPhaseStep);
    if (now == lastPaintedPhase_) {
        return;
    }
    update(lineBand(QWidget::width(), QWidget::height()));
}

void AmbientBackgroundView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Minimising is told to the window only: follow it there.
    QWidget *top = window();
    if (top != this && top != watchedWindow_) {
        if (watchedWindow_) {
            watchedWindow_->removeEventFilter(this);
        }
        watchedWindow_ = top;
        top->installEventFilter(this);
    }
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

bool AmbientBackgroundView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == watchedWindow_ && event->type() == QEvent::WindowStateChange) {
        updateTimer();
    }
    return QWidget::eventFilter(watched, event);
}

QRect AmbientBackgroundView::lineBand(int width, int height)
{
    // The line never leaves the band from 0.35 h to 0.65 h (its four waves add up to at most
    // 0.943 of the amplitude 0.15 h around the middle); the widest stroke adds 9 points each way.
    const int margin = 12;
    const int top = static_cast<int>(std::floor(0.35 * height)) - margin;
    const int bottom = static_cast<int>(std::ceil(0.65 * height)) + margin;
    return QRect(0, top, width, bottom - top).intersected(QRect(0, 0, width, height));
}

int AmbientBackgroundView::frameIntervalMs(double refreshRate)
{
    // No faster than 120 frames a second, nor than the screen shows them (60 when unknown).
    const double rate = std::isfinite(refreshRate) && refreshRate > 0 ? std::min(refreshRate, 120.0) : 60.0;
    return static_cast<int>(std::ceil(1000.0 / rate));
}

double AmbientBackgroundView::waveHeight(double height, double phase, double index)
{
    const double amplitude = 0.65 * height - 0.5 * height;
    const double lower = 0.35 * height;
    const double upper = 0.65 * height;
    const double s = (8 * phase) / 5 + index;
    double y = 0.5 * height + 0.5 * amplitude * std::sin(0.03 * s) +
               0.3 * amplitude * std::sin(0.09 * s + 1.75 * std::sin(0.02 * s)) +
               0.12 * amplitude * std::sin(0.18 * s + std::cos(0.06 * s)) + 0.023 * amplitude * std::sin(0.575 * s);
    if (y < lower) {
        y = lower + 0.1 * (y - lower);
    } else if (y > upper) {
        y = upper + 0.1 * (y - upper);
    }
    return y;
}

std::vector<QPointF> AmbientBackgroundView::waveLinePoints(double width, double height, double phase)
{
    std::vector<QPointF> points;
    points.reserve(140);
    const double right = 0.85 * width + 50;
    for (int i = 0; i < 140; ++i) {
        const double x = 5.0 * i - 20;
        if (x > right) {
            break;
        }
        points.emplace_back(x, waveHeight(height, phase, i));
    }
    return points;
}

QPen AmbientBackgroundView::linePen(int stroke, double width)
{
    const Stroke &base = kStrokes[static_cast<std::size_t>(std::clamp(stroke, 0, kLineStrokes - 1))];
    QLinearGradient fade(0, 0, width, 0);
    for (int j = 0; j <= 9; ++j) {
        const double f = (width * (j / 9.0) - 0.7 * width) / (0.85 * width - 0.7 * width);
        const double amount = f >= 1 ? 0 : 1 - std::max(f, 0.0);
        fade.setColorAt(j / 9.0, rgb(base.r, base.g, base.b, base.a * amount));
    }
    QPen pen(QBrush(fade), base.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    return pen;
}

QImage AmbientBackgroundView::backgroundLayer(int width, int height, const QColor &backgroundColor,
                                              double gradientOpacity, double devicePixelRatio)
{
    const double scale = std::isfinite(devicePixelRatio) && devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    if (width <= 0 || height <= 0) {
        return {};
    }
    // Device pixels: at a scale of 2 the layer is four times the pixels, not a blown-up copy.
    const int deviceWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int deviceHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    QImage layer(deviceWidth, deviceHeight, QImage::Format_ARGB32_Premultiplied);
    layer.fill(backgroundColor);
    if (gradientOpacity > 0) {
        // The glows are drawn and blurred at a quarter of the size, then scaled up onto the layer.
        const int w = (deviceWidth + kGlowScale - 1) / kGlowScale;
        const int h = (deviceHeight + kGlowScale - 1) / kGlowScale;
        QImage glows(w, h, QImage::Format_ARGB32_Premultiplied);
        glows.fill(Qt::transparent);
        {
            QPainter p(&glows);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(static_cast<double>(w) / width, static_cast<double>(h) / height);
            p.setPen(Qt::NoPen);
            const double m = std::min(width, height);
            for (const Glow &glow : kGlows) {
                const QPointF centre(glow.cx * width, glow.cy * height);
                const double end = glow.end * m;
                QRadialGradient gradient(centre, end);
                // From the start radius to the end radius over three evenly spaced colours.
                const double startStop = std::clamp(glow.start / glow.end, 0.0, 1.0);
                gradient.setColorAt(startStop, rgb(glow.r, glow.g, glow.b, glow.a));
                gradient.setColorAt((startStop + 1) / 2, rgb(glow.r, glow.g, glow.b, glow.a / 2));
                gradient.setColorAt(1, rgb(glow.r, glow.g, glow.b, 0));
                p.setBrush(gradient);
                p.drawEllipse(centre, end, end);
            }
        }
        // A Gaussian blur of radius R spreads about R / 2 either way (its standard deviation).
        gaussianBlur(glows, kGlowBlurRadius / 2 * scale / kGlowScale);
        QPainter p(&layer);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setOpacity(std::clamp(gradientOpacity, 0.0, 1.0));
        p.drawImage(QRect(0, 0, deviceWidth, deviceHeight), glows);
    }
    layer.setDevicePixelRatio(scale);
    return layer;
}

void AmbientBackgroundView::drawFrame(QPainter &p, double w, double h, const QImage &background,
                                      bool showsGlucoseLine, double phase)
{
    // Nothing to draw on; the fades below would divide by the width.
    if (!(w > 0) || !(h > 0)) {
        return;
    }
    p.save();
    if (!background.isNull()) {
        if (background.deviceIndependentSize() == QSizeF(w, h)) {
            p.drawImage(QPointF(0, 0), background);
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(QRectF(0, 0, w, h), background);
        }
    }
    p.setRenderHint(QPainter::Antialiasing);

    const auto points = showsGlucoseLine ? waveLinePoints(w, h, phase) : std::vector<QPointF>{};
    if (points.size() >= 2) {
        // Each piece is a quadratic curve whose control point is the midpoint of its two ends,
        // which is the straight segment between them: drawn as one (the stroker's flattening
        // of curves would cost half the frame for the same pixels).
        QPainterPath path(points.front());
        for (std::size_t i = 1; i < points.size(); ++i) {
            path.lineTo(points[i]);
        }
        p.setBrush(Qt::NoBrush);
        for (int stroke = 0; stroke < kLineStrokes; ++stroke) {
            p.setPen(linePen(stroke, w));
            p.drawPath(path);
        }
    }
    p.restore();
}

void AmbientBackgroundView::paintEvent(QPaintEvent *event)
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0) {
        return;
    }
    const double now = showsGlucoseLine_ ? phase() : 0;
    lastPaintedPhase_ = std::floor(now / AmbientFrameCache::kPhaseStep);
    QPainter p(this);
    // The pixels of what is painted on (the window's backing store, or an image the widget is
    // rendered into): at a scale of 2, twice as many each way.
    const QPaintDevice *target = p.paintEngine() ? p.paintEngine()->paintDevice() : nullptr;
    const double dpr = target ? target->devicePixelRatioF() : devicePixelRatioF();
    frames_.draw(p, size(), dpr, showsGlucoseLine_, now, event->rect());
}

} // namespace quillby
