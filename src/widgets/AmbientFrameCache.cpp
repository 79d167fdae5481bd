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

    for (std::size_t stroke = 0; stroke < sourceTables_.size(); ++stroke) {
        tableColours_[stroke] = deviceWidth > 0 ? strokeColours_[stroke][0] : 0;
        for (std::uint32_t c = 0; c < 256; ++c) {
            sourceTables_[stroke][c] = byteMul(tableColours_[stroke], c);
        }
    }

    // Strips stand in for the line when a 5-point move is a whole number of device pixels, the
    // band fits the columns' row numbers, and the line's right end (round cap, widest stroke 9
    // points each way, a point for the edge) lies where every fade is 0.
    const double move = 5 * devicePixelRatio;
    blockShift_ = static_cast<int>(std::lround(move));
    const auto points = AmbientBackgroundView::waveLinePoints(size.width(), size.height(), 0);
    const double lineEnd = points.empty() ? 0 : points.back().x();
    stripsUsable_ = std::fabs(move - blockShift_) < 1e-9 && blockShift_ > 0 && band_.height() < 65535 &&
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

    // Kept column by column, only the rows the line covers; read row by row.
    std::vector<std::uint16_t> tops(static_cast<std::size_t>(width), static_cast<std::uint16_t>(height));
    std::vector<std::uint16_t> bottoms(static_cast<std::size_t>(width), 0);
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const std::uint32_t *>(stripCanvas_.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if ((row[x] & 0xffffff) != 0) {
                const auto i = static_cast<std::size_t>(x);
                tops[i] = std::min(tops[i], static_cast<std::uint16_t>(y));
                bottoms[i] = static_cast<std::uint16_t>(y + 1);
            }
        }
    }
    strip.columns.resize(static_cast<std::size_t>(width));
    std::uint32_t offset = 0;
    for (int x = 0; x < width; ++x) {
        const auto i = static_cast<std::size_t>(x);
        const std::uint16_t top = std::min(tops[i], bottoms[i]);
        strip.columns[i] = Column{offset, top, bottoms[i]};
        offset += 3u * static_cast<std::uint32_t>(bottoms[i] - top);
    }
    strip.coverage.resize(offset);
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const std::uint32_t *>(stripCanvas_.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const Column &column = strip.columns[static_cast<std::size_t>(x)];
            if (y < column.top || y >= column.bottom) {
                continue;
            }
            std::uint8_t *out = strip.coverage.data() + column.offset + 3 * static_cast<std::size_t>(y - column.top);
            out[0] = static_cast<std::uint8_t>(row[x] >> 16);
            out[1] = static_cast<std::uint8_t>(row[x] >> 8);
            out[2] = static_cast<std::uint8_t>(row[x]);
        }
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

    // The band of the frame before differs from the still layer only in the rows its line covered:
    // those are put back, column by column, as the new line is blended in.
    const bool reuse = bandValid_ && bandFrame_.size() == band_.size() && bandFrame_.format() == background_.format();
    if (!reuse) {
        bandFrame_ = QImage(band_.size(), background_.format());
        bandFrame_.setDevicePixelRatio(devicePixelRatio_);
        const qsizetype rowBytes = static_cast<qsizetype>(band_.width()) * 4;
        for (int y = 0; y < band_.height(); ++y) {
            std::memcpy(bandFrame_.scanLine(y), background_.constScanLine(band_.top() + y),
                        static_cast<std::size_t>(rowBytes));
        }
        drawnRows_.clear();
    }
    const auto &c1 = strokeColours_[0];
    const auto &c2 = strokeColours_[1];
    const auto &c3 = strokeColours_[2];
    uchar *bits = bandFrame_.bits();
    const qsizetype stride = bandFrame_.bytesPerLine();
    const uchar *still = background_.constScanLine(band_.top());
    const qsizetype stillStride = background_.bytesPerLine();
    const int columns = std::min(visibleColumns_, band_.width());
    drawnRows_.resize(static_cast<std::size_t>(columns), Column{0, 0, 0});
    for (int x = 0; x < columns; ++x) {
        const Column &column = strip.columns[static_cast<std::size_t>(x + shift)];
        const std::uint8_t *coverage = strip.coverage.data() + column.offset;
        const auto i = static_cast<std::size_t>(x);
        Column &drawn = drawnRows_[i];
        const auto restore = [&](int from, int to) {
            for (int y = from; y < to; ++y) {
                reinterpret_cast<std::uint32_t *>(bits + y * stride)[x] =
                    reinterpret_cast<const std::uint32_t *>(still + y * stillStride)[x];
            }
        };
        restore(drawn.top, std::min<int>(drawn.bottom, column.top));
        restore(std::max<int>(drawn.top, column.bottom), drawn.bottom);
        // Where the three colours are those of the tables (left of the fades), each colour at each
        // coverage is looked up rather than worked out.
        const bool tabled = c1[i] == tableColours_[0] && c2[i] == tableColours_[1] && c3[i] == tableColours_[2];
        const auto blend = [&](auto source1, auto source2, auto source3) {
            for (int y = column.top; y < column.bottom; ++y, coverage += 3) {
                std::uint32_t value = reinterpret_cast<const std::uint32_t *>(still + y * stillStride)[x];
                if (coverage[0] != 0) {
                    value = overSource(value, source1(coverage[0]));
                }
                if (coverage[1] != 0) {
                    value = overSource(value, source2(coverage[1]));
                }
                if (coverage[2] != 0) {
                    value = overSource(value, source3(coverage[2]));
                }
                reinterpret_cast<std::uint32_t *>(bits + y * stride)[x] = value;
            }
        };
        if (tabled) {
            blend([&](std::uint8_t c) { return sourceTables_[0][c]; }, [&](std::uint8_t c) { return sourceTables_[1][c]; },
                  [&](std::uint8_t c) { return sourceTables_[2][c]; });
        } else {
            blend([&](std::uint8_t c) { return byteMul(c1[i], c); }, [&](std::uint8_t c) { return byteMul(c2[i], c); },
                  [&](std::uint8_t c) { return byteMul(c3[i], c); });
        }
        drawn.top = column.top;
        drawn.bottom = column.bottom;
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
