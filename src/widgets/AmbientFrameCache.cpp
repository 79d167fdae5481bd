#include "widgets/AmbientFrameCache.h"

#include "widgets/AmbientBackgroundView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillby {

namespace {

// x * a / 255 on each channel of a premultiplied pixel, rounded as the raster engine rounds it.
inline std::uint32_t byteMul(std::uint32_t x, std::uint32_t a)
{
    std::uint32_t t = (x & 0xff00ff) * a;
    t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
    t &= 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = (x + ((x >> 8) & 0xff00ff) + 0x800080);
    x &= 0xff00ff00;
    return x | t;
}

// `source` (a colour already at its coverage) over `pixel`, as the raster engine blends a shaded
// span over its target.
inline std::uint32_t overSource(std::uint32_t pixel, std::uint32_t source)
{
    return source + byteMul(pixel, 255 - (source >> 24));
}

// The three strokes over `still`, pixel by pixel, into `out`: each stroke's colour of the pixel's
// column at its coverage, blended over what lies below it. A coverage of 0 leaves the pixel as it
// is, so a run may hold gaps. Plain arithmetic without branches, so that the compiler can work on
// many pixels at once; where the processor has wider vector units, a copy made for them is used.
#if defined(__x86_64__) && defined(__clang__)
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
void blendSpan(std::uint32_t *__restrict out, const std::uint32_t *__restrict still,
               const std::uint32_t *__restrict coverage, const std::uint32_t *__restrict colour1,
               const std::uint32_t *__restrict colour2, const std::uint32_t *__restrict colour3, int count)
{
    for (int x = 0; x < count; ++x) {
        const std::uint32_t c = coverage[x];
        std::uint32_t value = still[x];
        value = overSource(value, byteMul(colour1[x], (c >> 16) & 0xff));
        value = overSource(value, byteMul(colour2[x], (c >> 8) & 0xff));
        value = overSource(value, byteMul(colour3[x], c & 0xff));
        out[x] = value;
    }
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

AmbientFrameCache::AmbientFrameCache(QColor backgroundColor, double gradientOpacity)
    : backgroundColor_(std::move(backgroundColor)), gradientOpacity_(gradientOpacity)
{
}

void AmbientFrameCache::prepare(QSize size, double devicePixelRatio)
{
    if (size == size_ && devicePixelRatio == devicePixelRatio_ && !background_.isNull()) {
        return;
    }
    size_ = size;
    devicePixelRatio_ = devicePixelRatio;
    background_ = AmbientBackgroundView::backgroundLayer(size.width(), size.height(), backgroundColor_,
                                                         gradientOpacity_, devicePixelRatio);
    if (backgroundColor_.alpha() == 255) {
        // Opaque: kept in the window's own pixel format, so each frame copies it as it is.
        background_.convertTo(QImage::Format_RGB32);
    }
    for (Strip &strip : strips_) {
        strip = Strip{};
    }
    bandValid_ = false;
    stripCanvas_ = QImage();
    const int deviceWidth = background_.width();
    const int deviceHeight = background_.height();

    const QRect band = AmbientBackgroundView::lineBand(size.width(), size.height());
    const int top = std::clamp(static_cast<int>(std::floor(band.top() * devicePixelRatio)), 0, deviceHeight);
    const int bottom =
        std::clamp(static_cast<int>(std::ceil((band.bottom() + 1) * devicePixelRatio)), top, deviceHeight);
    band_ = QRect(0, top, deviceWidth, bottom - top);

    // Each stroke's colour per device column, shaded by the very gradient the stroke is drawn with.
    visibleColumns_ = 0;
    for (int stroke = 0; stroke < AmbientBackgroundView::kLineStrokes; ++stroke) {
        QImage row(deviceWidth, 1, QImage::Format_ARGB32_Premultiplied);
        row.fill(Qt::transparent);
        {
            QPainter p(&row);
            p.scale(devicePixelRatio, devicePixelRatio);
            p.fillRect(QRectF(0, 0, size.width(), 1 / devicePixelRatio),
                       AmbientBackgroundView::linePen(stroke, size.width()).brush());
        }
        const auto *pixels = reinterpret_cast<const std::uint32_t *>(row.constScanLine(0));
        std::vector<std::uint32_t> &colours = strokeColours_[static_cast<std::size_t>(stroke)];
        colours.assign(pixels, pixels + deviceWidth);
        for (int x = deviceWidth - 1; x >= visibleColumns_; --x) {
            if ((colours[static_cast<std::size_t>(x)] >> 24) != 0) {
                visibleColumns_ = x + 1;
                break;
            }
        }
    }

    // Strips stand in for the line when a 5-point move is a whole number of device pixels, the
    // band fits the columns' row numbers, and the line's right end (round cap, widest stroke 9
    // points each way, a point for the edge) lies where every fade is 0.
    const double move = 5 * devicePixelRatio;
    blockShift_ = static_cast<int>(std::lround(move));
    const auto points = AmbientBackgroundView::waveLinePoints(size.width(), size.height(), 0);
    const double lineEnd = points.empty() ? 0 : points.back().x();
    stripsUsable_ = std::fabs(move - blockShift_) < 1e-9 && blockShift_ > 0 &&
                    (lineEnd - 10) * devicePixelRatio >= visibleColumns_;
}

void AmbientFrameCache::renderStrip(Strip &strip, std::int64_t firstBlock, int step)
{
    const double dpr = devicePixelRatio_;
    const int width = visibleColumns_ + blockShift_ * (kStripBlocks - 1);
    const int height = band_.height();
    if (stripCanvas_.size() != QSize(width, height)) {
        stripCanvas_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    }
    stripCanvas_.fill(Qt::transparent);

    // The line at the strip's phase, from its first point past the strip's right edge (and the
    // widest stroke's reach beyond it).
    const double phase = static_cast<double>(firstBlock * kStepsPerPoint + step) * kPhaseStep;
    const double h = size_.height();
    const int lastIndex = static_cast<int>(std::ceil((width / dpr + 10 + 20) / 5)) + 1;
    QPainterPath path(QPointF(-20, AmbientBackgroundView::waveHeight(h, phase, 0)));
    for (int i = 1; i <= lastIndex; ++i) {
        path.lineTo(5.0 * i - 20, AmbientBackgroundView::waveHeight(h, phase, i));
    }
    {
        // Each stroke's coverage in a channel of its own: red, green, blue, added up.
        QPainter p(&stripCanvas_);
        p.setRenderHint(QPainter::Antialiasing);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        p.scale(dpr, dpr);
        p.translate(0, -band_.top() / dpr);
        p.setBrush(Qt::NoBrush);
        static const QColor channels[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
        for (int stroke = 0; stroke < AmbientBackgroundView::kLineStrokes; ++stroke) {
            QPen pen = AmbientBackgroundView::linePen(stroke, size_.width());
            pen.setBrush(channels[stroke]);
            p.setPen(pen);
            p.drawPath(path);
        }
    }

    // Kept row by row, only the runs of pixels the line covers (short gaps within a run kept as
    // well: blending nothing leaves a pixel as it is, and fewer, longer runs blend faster).
    constexpr int kGap = 8;
    strip.rowRuns.assign(static_cast<std::size_t>(height) + 1, 0);
    strip.runs.clear();
    strip.coverage.clear();
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const std::uint32_t *>(stripCanvas_.constScanLine(y));
        int x = 0;
        while (true) {
            while (x < width && (row[x] & 0xffffff) == 0) {
                ++x;
            }
            if (x == width) {
                break;
            }
            const int start = x;
            int end = x + 1;
            for (++x; x < width && x - end < kGap; ++x) {
                if ((row[x] & 0xffffff) != 0) {
                    end = x + 1;
                }
            }
            strip.runs.push_back(Run{start, end - start, static_cast<std::uint32_t>(strip.coverage.size())});
            strip.coverage.insert(strip.coverage.end(), row + start, row + end);
            x = end;
        }
        strip.rowRuns[static_cast<std::size_t>(y) + 1] = static_cast<std::uint32_t>(strip.runs.size());
    }
    strip.firstBlock = firstBlock;
    strip.valid = true;
}

void AmbientFrameCache::composeBand(std::int64_t phaseIndex)
{
    if (bandValid_ && bandPhaseIndex_ == phaseIndex) {
        return;
    }
    const std::int64_t block = floorDiv(phaseIndex, kStepsPerPoint);
    const int step = static_cast<int>(phaseIndex - block * kStepsPerPoint);
    Strip &strip = strips_[static_cast<std::size_t>(step)];
    if (!strip.valid || block < strip.firstBlock || block >= strip.firstBlock + kStripBlocks) {
        renderStrip(strip, block, step);
    }
    const int shift = static_cast<int>(block - strip.firstBlock) * blockShift_;

    // The band of the frame before differs from the still layer only where its line was blended
    // in: those spans are put back before the new line is blended in, row by row.
    const qsizetype stillStride = background_.bytesPerLine();
    const uchar *still = background_.constScanLine(band_.top());
    const auto copyStill = [&](int row, int from, int to) {
        std::memcpy(bandFrame_.scanLine(row) + 4 * static_cast<qsizetype>(from),
                    still + row * stillStride + 4 * static_cast<qsizetype>(from), 4 * static_cast<std::size_t>(to - from));
    };
    if (bandValid_ && bandFrame_.size() == band_.size() && bandFrame_.format() == background_.format()) {
        for (const Span &span : drawnSpans_) {
            copyStill(span.row, span.from, span.to);
        }
    } else {
        bandFrame_ = QImage(band_.size(), background_.format());
        bandFrame_.setDevicePixelRatio(devicePixelRatio_);
        for (int y = 0; y < band_.height(); ++y) {
            copyStill(y, 0, band_.width());
        }
    }
    drawnSpans_.clear();
    uchar *bits = bandFrame_.bits();
    const qsizetype stride = bandFrame_.bytesPerLine();
    const int columns = std::min(visibleColumns_, band_.width());
    for (int y = 0; y < band_.height(); ++y) {
        auto *out = reinterpret_cast<std::uint32_t *>(bits + y * stride);
        const auto *stillRow = reinterpret_cast<const std::uint32_t *>(still + y * stillStride);
        const std::uint32_t last = strip.rowRuns[static_cast<std::size_t>(y) + 1];
        for (std::uint32_t r = strip.rowRuns[static_cast<std::size_t>(y)]; r < last; ++r) {
            const Run &run = strip.runs[r];
            const int left = run.x - shift;
            const int from = std::max(left, 0);
            const int to = std::min(left + run.length, columns);
            if (from >= to) {
                continue;
            }
            const auto i = static_cast<std::size_t>(from);
            blendSpan(out + from, stillRow + from, strip.coverage.data() + run.offset + (from - left),
                      strokeColours_[0].data() + i, strokeColours_[1].data() + i, strokeColours_[2].data() + i, to - from);
            drawnSpans_.push_back(Span{y, from, to});
        }
    }
    bandPhaseIndex_ = phaseIndex;
    bandValid_ = true;
}

void AmbientFrameCache::draw(QPainter &painter, QSize size, double devicePixelRatio, bool showsGlucoseLine,
                             double phase, const QRect &region)
{
    if (size.width() <= 0 || size.height() <= 0) {
        return;
    }
    const double dpr = std::isfinite(devicePixelRatio) && devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    prepare(size, dpr);
    const double steps = std::floor(phase / kPhaseStep);
    const bool onGrid = std::isfinite(steps) && std::fabs(steps) < 9.0e15;
    const double gridPhase = onGrid ? steps * kPhaseStep : phase;
    if (!showsGlucoseLine || !stripsUsable_ || !onGrid) {
        AmbientBackgroundView::drawFrame(painter, size.width(), size.height(), background_, showsGlucoseLine, gridPhase);
        return;
    }
    // Above and below the band: the still layer; the band: the composed frame.
    const QRectF bandRect(0, band_.top() / dpr, size.width(), band_.height() / dpr);
    const QRectF area = QRectF(region).intersected(QRectF(0, 0, size.width(), size.height()));
    const auto still = [&](double top, double bottom) {
        const QRectF part = QRectF(0, top, size.width(), bottom - top).intersected(area);
        if (part.isEmpty()) {
            return;
        }
        const QRectF source(part.left() * dpr, part.top() * dpr, part.width() * dpr, part.height() * dpr);
        painter.drawImage(part, background_, source);
    };
    still(0, bandRect.top());
    still(bandRect.bottom(), size.height());
    if (bandRect.intersects(area)) {
        composeBand(static_cast<std::int64_t>(steps));
        painter.drawImage(bandRect.topLeft(), bandFrame_);
    }
}

} // namespace quillby
