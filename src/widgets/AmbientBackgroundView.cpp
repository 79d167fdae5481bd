#include "widgets/AmbientBackgroundView.h"

#include <QDateTime>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quillby {

namespace {

constexpr double kReferenceDateOffset = 978307200.0;   // 2001-01-01 00:00 UTC in Unix seconds
// The glows are blurred at a quarter of the canvas resolution and scaled up: the result is the
// same soft light at a sixteenth of the work.
constexpr int kGlowScale = 4;

struct Glow {
    double x, y;          // centre as a share of width and height
    double r, g, b, a;    // colour
    double start, end;    // radii as a share of min(w, h)
};
constexpr Glow kGlows[] = {
    {0.85, 0.80, 0.74, 0.92, 0.83, 1.0, 0.09, 0.55},
    {0.60, 0.24, 0.64, 0.76, 1.0, 1.0, 0.05, 0.72},
    {0.13, 0.82, 0.97, 0.30, 1.0, 0.49, 0.05, 0.52},
    {0.24, 0.07, 0.45, 0.89, 0.91, 1.0, 0.13, 0.68},
};

struct Stroke {
    double r, g, b, a;
    double width;
    bool round;
};
constexpr Stroke kStrokes[] = {
    {0.4, 0.6, 1.0, 0.45, 10, false},
    {0.35, 0.55, 0.98, 0.25, 18, false},
    {0.45, 0.65, 1.0, 1.0, 3.5, true},
};

// One pass of a box blur of radius r along rows (horizontal) or columns, over premultiplied
// ARGB; what lies outside the image counts as transparent.
void boxBlurPass(QImage &image, int r, bool horizontal)
{
    const int w = image.width();
    const int h = image.height();
    const int lines = horizontal ? h : w;
    const int length = horizontal ? w : h;
    const int window = 2 * r + 1;
    std::vector<std::uint32_t> source(static_cast<std::size_t>(length));
    for (int line = 0; line < lines; ++line) {
        auto pixel = [&](int i) -> std::uint32_t & {
            return horizontal ? reinterpret_cast<std::uint32_t *>(image.scanLine(line))[i]
                              : reinterpret_cast<std::uint32_t *>(image.scanLine(i))[line];
        };
        for (int i = 0; i < length; ++i) {
            source[static_cast<std::size_t>(i)] = pixel(i);
        }
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= length) {
                return;
            }
            const std::uint32_t p = source[static_cast<std::size_t>(i)];
            for (int c = 0; c < 4; ++c) {
                sum[c] += sign * static_cast<int>((p >> (8 * c)) & 0xff);
            }
        };
        for (int i = -r; i <= r; ++i) {
            add(i, 1);
        }
        for (int i = 0; i < length; ++i) {
            std::uint32_t out = 0;
            for (int c = 0; c < 4; ++c) {
                out |= static_cast<std::uint32_t>((sum[c] + window / 2) / window) << (8 * c);
            }
            pixel(i) = out;
            add(i - r, -1);
            add(i + r + 1, 1);
        }
    }
}

// A Gaussian blur of standard deviation `sigma` pixels, as three box blurs in each direction.
void gaussianBlur(QImage &image, double sigma)
{
    const int r = std::max(1, static_cast<int>(std::lround((std::sqrt(1.0 + 4.0 * sigma * sigma) - 1.0) / 2.0)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(image, r, true);
        boxBlurPass(image, r, false);
    }
}

QColor rgba(double r, double g, double b, double a)
{
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b),
                            static_cast<float>(std::clamp(a, 0.0, 1.0)));
}

} // namespace

AmbientBackgroundView::AmbientBackgroundView(Options options, QWidget *parent)
    : QWidget(parent), options_(std::move(options))
{
    setObjectName(QStringLiteral("ambientBackgroundView"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    if (options_.width) {
        setFixedWidth(*options_.width);
    }
    setSizePolicy(options_.width ? QSizePolicy::Fixed : QSizePolicy::Expanding, QSizePolicy::Expanding);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kFrameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

AmbientBackgroundView::~AmbientBackgroundView() = default;

void AmbientBackgroundView::setReduceMotion(bool reduce)
{
    reduceMotion_ = reduce;
    updateTimer();
    update();
}

void AmbientBackgroundView::setPhaseSource(std::function<double()> source)
{
    phaseSource_ = std::move(source);
    update();
}

std::vector<QPointF> AmbientBackgroundView::waveLinePoints(double width, double height, double phase)
{
    std::vector<QPointF> points;
    points.reserve(140);
    const double amplitude = 0.65 * height - 0.5 * height;
    const double lower = 0.35 * height;
    const double upper = 0.65 * height;
    const double rightLimit = 0.85 * width + 50;
    for (int i = 0; i < 140; ++i) {
        const double x = 5.0 * i - 20.0;
        if (x > rightLimit) {
            break;
        }
        const double s = (8.0 * phase) / 5.0 + i;
        double y = 0.5 * height + 0.5 * amplitude * std::sin(0.03 * s) +
                   0.3 * amplitude * std::sin(0.09 * s + 1.75 * std::sin(0.02 * s)) +
                   0.12 * amplitude * std::sin(0.18 * s + std::cos(0.06 * s)) +
                   0.023 * amplitude * std::sin(0.575 * s);
        if (y < lower) {
            y = lower + 0.1 * (y - lower);
        } else if (y > upper) {
            y = upper + 0.1 * (y - upper);
        }
        points.emplace_back(x, y);
    }
    return points;
}

double AmbientBackgroundView::fadeAtStop(int j, double width)
{
    const double f = (width * (j / 9.0) - 0.7 * width) / (0.85 * width - 0.7 * width);
    return f >= 1 ? 0.0 : 1.0 - std::max(f, 0.0);
}

const QImage &AmbientBackgroundView::glowLayer(const QSize &size, qreal devicePixelRatio)
{
    if (glowCacheSize_ == size && glowCacheRatio_ == devicePixelRatio && !glowCache_.isNull()) {
        return glowCache_;
    }
    const double w = size.width();
    const double h = size.height();
    const double m = std::min(w, h);
    const double scale = devicePixelRatio / kGlowScale;
    QImage small(std::max(1, static_cast<int>(std::ceil(w * scale))), std::max(1, static_cast<int>(std::ceil(h * scale))),
                 QImage::Format_ARGB32_Premultiplied);
    small.fill(Qt::transparent);
    {
        QPainter painter(&small);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        painter.setPen(Qt::NoPen);
        for (const Glow &glow : kGlows) {
            const QPointF centre(glow.x * w, glow.y * h);
            const double end = glow.end * m;
            if (end <= 0) {
                continue;
            }
            QRadialGradient gradient(centre, end);
            const double start = std::clamp(glow.start / glow.end, 0.0, 1.0);
            gradient.setColorAt(start, rgba(glow.r, glow.g, glow.b, glow.a));
            gradient.setColorAt((start + 1.0) / 2.0, rgba(glow.r, glow.g, glow.b, glow.a / 2));
            gradient.setColorAt(1.0, rgba(glow.r, glow.g, glow.b, 0));
            painter.setBrush(gradient);
            painter.drawEllipse(centre, end, end);
        }
    }
    gaussianBlur(small, kGlowBlurRadius / 2.0 * scale);
    glowCache_ = small.scaled(static_cast<int>(std::ceil(w * devicePixelRatio)),
                              static_cast<int>(std::ceil(h * devicePixelRatio)), Qt::IgnoreAspectRatio,
                              Qt::SmoothTransformation);
    glowCache_.setDevicePixelRatio(devicePixelRatio);
    glowCacheSize_ = size;
    glowCacheRatio_ = devicePixelRatio;
    return glowCache_;
}

void AmbientBackgroundView::paintFrame(QPainter &painter, const QSizeF &size, double phase)
{
    const double w = size.width();
    const double h = size.height();
    if (!(w > 0) || !(h > 0)) {
        return;
    }
    painter.save();
    painter.fillRect(QRectF(0, 0, w, h), options_.backgroundColor);
    if (options_.gradientOpacity > 0) {
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const QImage &glows = glowLayer(QSize(static_cast<int>(std::ceil(w)), static_cast<int>(std::ceil(h))), ratio);
        painter.setOpacity(std::clamp(options_.gradientOpacity, 0.0, 1.0));
        painter.drawImage(QPointF(0, 0), glows);
        painter.setOpacity(1.0);
    }
    if (options_.showsGlucoseLine) {
        const auto points = waveLinePoints(w, h, reduceMotion_ ? 0.0 : phase);
        if (points.size() >= 2) {
            QPainterPath path(points.front());
            for (std::size_t i = 1; i < points.size(); ++i) {
                const QPointF control = (points[i - 1] + points[i]) / 2.0;
                path.quadTo(control, points[i]);
            }
            painter.setRenderHint(QPainter::Antialiasing);
            for (const Stroke &stroke : kStrokes) {
                QLinearGradient gradient(QPointF(0, 0), QPointF(w, 0));
                for (int j = 0; j < 10; ++j) {
                    gradient.setColorAt(j / 9.0, rgba(stroke.r, stroke.g, stroke.b, stroke.a * fadeAtStop(j, w)));
                }
                QPen pen(QBrush(gradient), stroke.width);
                pen.setCapStyle(stroke.round ? Qt::RoundCap : Qt::FlatCap);
                pen.setJoinStyle(stroke.round ? Qt::RoundJoin : Qt::MiterJoin);
                pen.setMiterLimit(10);
                painter.strokePath(path, pen);
            }
        }
    }
    painter.restore();
}

void AmbientBackgroundView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const double phase = phaseSource_ ? phaseSource_()
                                      : static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0 -
                                            kReferenceDateOffset;
    paintFrame(painter, size(), phase);
}

void AmbientBackgroundView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void AmbientBackgroundView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

void AmbientBackgroundView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateTimer();
}

void AmbientBackgroundView::updateTimer()
{
    const bool animate = isVisible() && options_.showsGlucoseLine && !reduceMotion_ && width() > 0 && height() > 0;
    if (animate && !timer_.isActive()) {
        timer_.start();
    } else if (!animate && timer_.isActive()) {
        timer_.stop();
    }
}

} // namespace quillby
