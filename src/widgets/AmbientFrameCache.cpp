#include "widgets/AmbientFrameCache.h"

#include "widgets/AmbientBackgroundView.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

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
    for (std::vector<Strip> &strips : strips_) {
        strips.clear();
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

    // Strips stand in for the line when a 5-point move is a whole number of device pixels and the
    // line's right end (round cap, widest stroke 9 points each way, a point for the edge) lies
    // where every fade is 0.
    const double move = 5 * devicePixelRatio;
    blockShift_ = static_cast<int>(std::lround(move));
    const auto points = AmbientBackgroundView::waveLinePoints(size.width(), size.height(), 0);
    const double lineEnd = points.empty() ? 0 : points.back().x();
    stripsUsable_ = std::fabs(move - blockShift_) < 1e-9 && blockShift_ > 0 &&
                    (lineEnd - 10) * devicePixelRatio >= visibleColumns_;
    stripWidth_ = kStripBlocks * blockShift_;
}

void AmbientFrameCache::renderStrip(Strip &strip, std::int64_t index, int step)
{
    const double dpr = devicePixelRatio_;
    const int width = stripWidth_;

    // The strip's piece of the curve: its points and 4 more either side (20 points, beyond the
    // widest stroke's reach of 9 points and its round cap), at the strip's own x.
    constexpr int kMargin = 4;
    const double h = size_.height();
    const double stepPhase = step * kPhaseStep;
    const std::int64_t first = index * kStripBlocks - kMargin;
    std::array<QPointF, kStripBlocks + 2 * kMargin + 1> points;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (int i = 0; i < static_cast<int>(points.size()); ++i) {
        const double y = AmbientBackgroundView::waveHeight(h, stepPhase, static_cast<double>(first + i));
        points[static_cast<std::size_t>(i)] = QPointF(5.0 * (i - kMargin), y);
        low = std::min(low, y);
        high = std::max(high, y);
    }
    // Only the rows the strokes can reach (9 points above and below the points, a pixel more for
    // the edge) are drawn and kept.
    const int top = std::clamp(static_cast<int>(std::floor((low - 10) * dpr)) - band_.top(), 0, band_.height());
    const int bottom = std::clamp(static_cast<int>(std::ceil((high + 10) * dpr)) - band_.top(), top, band_.height());
    const int height = bottom - top;
    strip.index = index;
    strip.top = top;
    // Each stroke is drawn in a section of its own of the canvas, `height` rows each, in opaque
    // white: its coverage is the section's alpha. (An opaque colour over nothing is written as it
    // is, far cheaper for the raster engine than adding up colours in one section.)
    constexpr int kStrokes = AmbientBackgroundView::kLineStrokes;
    static_assert(kStrokes == 3, "a strip keeps three coverages per pixel");
    if (stripCanvas_.width() != width || stripCanvas_.height() != kStrokes * band_.height()) {
        stripCanvas_ = QImage(width, kStrokes * band_.height(), QImage::Format_ARGB32_Premultiplied);
    }
    std::memset(stripCanvas_.bits(), 0,
                static_cast<std::size_t>(stripCanvas_.bytesPerLine()) * static_cast<std::size_t>(kStrokes * height));
    if (height > 0) {
        QPainterPath path(points.front());
        for (std::size_t i = 1; i < points.size(); ++i) {
            path.lineTo(points[i]);
        }
        QPainter p(&stripCanvas_);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::NoBrush);
        for (int stroke = 0; stroke < kStrokes; ++stroke) {
            p.resetTransform();
            p.setClipRect(QRect(0, stroke * height, width, height));
            p.translate(0, stroke * height);
            p.scale(dpr, dpr);
            p.translate(0, -(band_.top() + top) / dpr);
            QPen pen = AmbientBackgroundView::linePen(stroke, size_.width());
            pen.setBrush(Qt::white);
            p.setPen(pen);
            p.drawPath(path);
        }
    }
    // The three coverages of a row, as the strip keeps them.
    std::vector<std::uint32_t> packed(static_cast<std::size_t>(width));
    const auto packRow = [&](int y) {
        const auto *first = reinterpret_cast<const std::uint32_t *>(stripCanvas_.constScanLine(y));
        const auto *second = reinterpret_cast<const std::uint32_t *>(stripCanvas_.constScanLine(height + y));
        const auto *third = reinterpret_cast<const std::uint32_t *>(stripCanvas_.constScanLine(2 * height + y));
        for (int x = 0; x < width; ++x) {
            packed[static_cast<std::size_t>(x)] = (first[x] >> 24) << 16 | (second[x] >> 24) << 8 | third[x] >> 24;
        }
        return packed.data();
    };

    // Kept row by row, only the runs of pixels the line covers (short gaps within a run kept as
    // well: blending nothing leaves a pixel as it is, and fewer, longer runs blend faster). A run
    // is made a whole number of 16 pixels long where the strip allows, the most the widest vector
    // units blend at once, so that few pixels are left to blend one at a time.
    constexpr int kGap = 8;
    constexpr int kRunGrain = 16;
    strip.rowRuns.assign(static_cast<std::size_t>(height) + 1, 0);
    strip.runs.clear();
    strip.coverage.clear();
    for (int y = 0; y < height; ++y) {
        const std::uint32_t *row = packRow(y);
        int x = 0;
        while (true) {
            while (x < width && row[x] == 0) {
                ++x;
            }
            if (x == width) {
                break;
            }
            const int start = x;
            int end = x + 1;
            for (++x; x < width && x - end < kGap; ++x) {
                if (row[x] != 0) {
                    end = x + 1;
                }
            }
            end = std::min(start + (end - start + kRunGrain - 1) / kRunGrain * kRunGrain, width);
            strip.runs.push_back(Run{start, end - start, static_cast<std::uint32_t>(strip.coverage.size())});
            strip.coverage.insert(strip.coverage.end(), row + start, row + end);
            x = end;
        }
        strip.rowRuns[static_cast<std::size_t>(y) + 1] = static_cast<std::uint32_t>(strip.runs.size());
    }
}

void AmbientFrameCache::composeBand(std::int64_t phaseIndex)
{
    if (bandValid_ && bandPhaseIndex_ == phaseIndex) {
        return;
    }
    const std::int64_t block = floorDiv(phaseIndex, kStepsPerPoint);
    const int step = static_cast<int>(phaseIndex - block * kStepsPerPoint);
    const int columns = std::min(visibleColumns_, band_.width());

    // The curve's point n lies at device column n * blockShift_; the frame's first point (point
    // `block`) lies 20 points, four moves, left of the frame's left edge.
    const std::int64_t origin = (block + 4) * blockShift_;
    const std::int64_t firstIndex = floorDiv(origin, stripWidth_);
    const std::int64_t lastIndex = columns > 0 ? floorDiv(origin + columns - 1, stripWidth_) : firstIndex - 1;
    // Strips gone out of view are let go (their memory serves the strips coming into view); those
    // coming into view are drawn.
    std::vector<Strip> &strips = strips_[static_cast<std::size_t>(step)];
    const auto inView = static_cast<std::size_t>(std::max<std::int64_t>(lastIndex - firstIndex + 1, 0));
    if (strips.size() != inView || (inView > 0 && strips.front().index != firstIndex)) {
        std::vector<Strip> kept;
        std::vector<Strip> spare;
        for (Strip &strip : strips) {
            (strip.index >= firstIndex && strip.index <= lastIndex ? kept : spare).push_back(std::move(strip));
        }
        strips.clear();
        for (std::int64_t index = firstIndex; index <= lastIndex; ++index) {
            const auto found = std::find_if(kept.begin(), kept.end(), [&](const Strip &s) { return s.index == index; });
            if (found != kept.end()) {
                strips.push_back(std::move(*found));
                continue;
            }
            Strip strip;
            if (!spare.empty()) {
                strip = std::move(spare.back());
                spare.pop_back();
            }
            renderStrip(strip, index, step);
            strips.push_back(std::move(strip));
        }
    }

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
    for (const Strip &strip : strips) {
        const int left = static_cast<int>(strip.index * stripWidth_ - origin);
        const int rows = static_cast<int>(strip.rowRuns.size()) - 1;
        for (int r = 0; r < rows; ++r) {
            const int y = strip.top + r;
            auto *out = reinterpret_cast<std::uint32_t *>(bits + y * stride);
            const auto *stillRow = reinterpret_cast<const std::uint32_t *>(still + y * stillStride);
            const std::uint32_t last = strip.rowRuns[static_cast<std::size_t>(r) + 1];
            for (std::uint32_t i = strip.rowRuns[static_cast<std::size_t>(r)]; i < last; ++i) {
                const Run &run = strip.runs[i];
                const int start = left + run.x;
                const int from = std::max(start, 0);
                const int to = std::min(start + run.length, columns);
                if (from >= to) {
                    continue;
                }
                const auto x = static_cast<std::size_t>(from);
                blendSpan(out + from, stillRow + from, strip.coverage.data() + run.offset + (from - start),
                          strokeColours_[0].data() + x, strokeColours_[1].data() + x, strokeColours_[2].data() + x,
                          to - from);
                drawnSpans_.push_back(Span{y, from, to});
            }
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
