// The decorative background: the line's points, drawing at any size, and animating only while
// it can be seen.

#include "widgets/AmbientBackgroundView.h"
#include "widgets/AmbientFrameCache.h"

#include "WaitUntil.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace quillby::test {
namespace {

TEST(AmbientBackgroundViewTest, LinePointsStayInTheirBandAndStopAtTheRightLimit)
{
    struct Case {
        double width;
        std::size_t count;
        double lastX;
    };
    const Case cases[] = {{400, 83, 390}, {736, 140, 675}, {2000, 140, 675}, {0, 15, 50}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        const auto points = AmbientBackgroundView::waveLinePoints(c.width, 600, 0);
        ASSERT_EQ(points.size(), c.count);
        EXPECT_DOUBLE_EQ(points.front().x(), -20);
        EXPECT_DOUBLE_EQ(points.back().x(), c.lastX);
    }
    const auto first = AmbientBackgroundView::waveLinePoints(400, 600, 0).front();
    EXPECT_NEAR(first.y(), 300 + 0.12 * 90 * std::sin(1.0), 1e-9);
    EXPECT_NEAR(first.y(), 309.09, 0.005);
    for (const double phase : {0.0, 12.5, 1e6}) {
        for (const auto &point : AmbientBackgroundView::waveLinePoints(800, 600, phase)) {
            EXPECT_GE(point.y(), 0.35 * 600 - 0.1 * 0.15 * 600);
            EXPECT_LE(point.y(), 0.65 * 600 + 0.1 * 0.15 * 600);
        }
    }
    // An animation frame repaints only the band the line (with its widest stroke) can reach.
    for (const double h : {100.0, 600.0, 1000.0}) {
        const QRect band = AmbientBackgroundView::lineBand(400, static_cast<int>(h));
        for (const double phase : {0.0, 3.3, 77.7, 1e5}) {
            for (const auto &point : AmbientBackgroundView::waveLinePoints(400, h, phase)) {
                EXPECT_GE(point.y() - 9, band.top());
                EXPECT_LE(point.y() + 9, band.bottom() + 1);
            }
        }
    }
    EXPECT_LT(AmbientBackgroundView::lineBand(400, 600).height(), 600 / 2);

    // The shape drifts left at 8 points a second: 0.625 s later each point has the height its
    // right-hand neighbour (5 points on) had.
    const auto now = AmbientBackgroundView::waveLinePoints(400, 600, 10);
    const auto later = AmbientBackgroundView::waveLinePoints(400, 600, 10.625);
    EXPECT_NEAR(later[10].y(), now[11].y(), 1e-9);
}

// A canvas without width or height draws nothing at all (and divides by nothing); any other
// size draws the background everywhere.
TEST(AmbientBackgroundViewTest, ACanvasWithoutWidthOrHeightDrawsNothing)
{
    const QColor sentinel(255, 0, 255);
    const QImage background = AmbientBackgroundView::backgroundLayer(40, 40, Qt::white, 1.0);
    EXPECT_TRUE(AmbientBackgroundView::backgroundLayer(0, 40, Qt::white, 1.0).isNull());
    EXPECT_TRUE(AmbientBackgroundView::backgroundLayer(40, 0, Qt::white, 1.0).isNull());
    struct Case {
        double width, height;
        bool draws;
    };
    const Case cases[] = {{0, 40, false}, {40, 0, false}, {0, 0, false}, {-5, 40, false}, {NAN, 40, false},
                          {40, 40, true}, {1, 1, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        QImage image(40, 40, QImage::Format_ARGB32);
        image.fill(sentinel);
        {
            QPainter painter(&image);
            AmbientBackgroundView::drawFrame(painter, c.width, c.height, background, true, 3.0);
        }
        EXPECT_EQ(image.pixelColor(0, 0) != sentinel, c.draws);
        if (!c.draws) {
            for (int y = 0; y < 40; y += 7) {
                for (int x = 0; x < 40; x += 7) {
                    ASSERT_EQ(image.pixelColor(x, y), sentinel);
                }
            }
        }
    }
}

// Glow opacity 0 leaves only the background (and the line); 1 tints the canvas where the glows
// are, softly (blurred: no hard edge at the glow's rim).
TEST(AmbientBackgroundViewTest, GlowsFollowTheirOpacity)
{
    const auto frame = [&](double opacity) {
        QImage image(400, 600, QImage::Format_ARGB32);
        QPainter painter(&image);
        AmbientBackgroundView::drawFrame(painter, 400, 600,
                                         AmbientBackgroundView::backgroundLayer(400, 600, Qt::white, opacity), false, 0);
        return image;
    };
    const QImage none = frame(0);
    const QImage full = frame(1);
    for (const QPoint point : {QPoint(340, 480), QPoint(240, 144), QPoint(96, 42)}) {
        SCOPED_TRACE(point.x());
        EXPECT_EQ(none.pixelColor(point), QColor(Qt::white));
        EXPECT_NE(full.pixelColor(point), QColor(Qt::white));
    }
    // Across the rim of glow 1 (centre (340, 480), end radius 0.55 * 400 = 220) the colour
    // changes gradually.
    const QColor inside = full.pixelColor(340, 480 - 210);
    const QColor outside = full.pixelColor(340, 480 - 230);
    EXPECT_LT(std::abs(inside.green() - outside.green()), 12);
}

// The largest difference of any colour channel of any pixel.
int largestDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    if (x.size() != y.size()) {
        return 256;
    }
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            largest = std::max({largest, std::abs(qRed(p[column]) - qRed(q[column])),
                                std::abs(qGreen(p[column]) - qGreen(q[column])),
                                std::abs(qBlue(p[column]) - qBlue(q[column])),
                                std::abs(qAlpha(p[column]) - qAlpha(q[column]))});
        }
    }
    return largest;
}

QImage canvas(QSize size, double dpr)
{
    QImage image(QSize(static_cast<int>(size.width() * dpr), static_cast<int>(size.height() * dpr)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    return image;
}

// Frames made from the kept layers look like the line stroked afresh at the same phase, at 1x and
// at 2x (where every layer has device pixels), over several strips' worth of drift, whatever the
// background colour; where the kept strips cannot stand in (a canvas so wide that the line's end
// shows) the line is stroked.
TEST(AmbientBackgroundViewTest, KeptFramesMatchTheStrokedLine)
{
    struct Case {
        QSize size;
        double dpr;
        QColor colour;
    };
    const Case cases[] = {{{400, 600}, 1, Qt::white},
                          {{400, 600}, 2, Qt::white},
                          {{310, 420}, 1, QColor(245, 246, 248)},
                          {{1400, 500}, 1, Qt::white}};
    const double step = AmbientFrameCache::kPhaseStep;
    const double strip = AmbientFrameCache::kStepsPerPoint * AmbientFrameCache::kStripBlocks * step;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height() << " @" << c.dpr);
        AmbientFrameCache cache(c.colour, 1.0);
        const QRect whole(QPoint(0, 0), c.size);
        for (const double phase : {0.0, 3 * step, 0.625 + 7 * step, strip - step, strip + 0.3, 2.5 * strip,
                                   8.0e8 + 11 * step, 8.0e8 + 0.625 * 33}) {
            SCOPED_TRACE(phase);
            QImage kept = canvas(c.size, c.dpr);
            {
                QPainter painter(&kept);
                cache.draw(painter, c.size, c.dpr, true, phase, whole);
            }
            ASSERT_EQ(cache.background().size(), kept.size());
            QImage stroked = canvas(c.size, c.dpr);
            {
                QPainter painter(&stroked);
                AmbientBackgroundView::drawFrame(painter, c.size.width(), c.size.height(), cache.background(), true,
                                                 std::floor(phase / step) * step);
            }
            EXPECT_LE(largestDifference(kept, stroked), 4);
        }
    }

    // The view draws for what it paints on: into a 2x image, with 2x layers.
    AmbientBackgroundView view(400, Qt::white, 1.0, true, true, nullptr, [] { return 5.0; });
    view.resize(400, 600);
    QImage painted = canvas(view.size(), 2);
    view.render(&painted);
    AmbientFrameCache reference(Qt::white, 1.0);
    QImage expected = canvas(view.size(), 2);
    {
        QPainter painter(&expected);
        reference.draw(painter, view.size(), 2, true, 5.0, view.rect());
    }
    EXPECT_EQ(largestDifference(painted, expected), 0);
}

// A frame drawn after other frames (the band kept from the frame before and only the line's
// rows put back) is, pixel for pixel, the frame a new cache draws at that phase (the band copied
// whole): frame after frame, after a jump back, across strips renewed, after a size change.
TEST(AmbientBackgroundViewTest, FramesAfterFramesAreTheFirstFrameOfTheirPhase)
{
    const double step = AmbientFrameCache::kPhaseStep;
    const double strip = AmbientFrameCache::kStepsPerPoint * AmbientFrameCache::kStripBlocks * step;
    for (const double dpr : {2.0, 1.0}) {
        SCOPED_TRACE(dpr);
        AmbientFrameCache cache(Qt::white, 1.0);
        double phase = 8.0e8;
        QSize size(400, 600);
        for (int frame = 0; frame < 14; ++frame) {
            SCOPED_TRACE(frame);
            phase += frame == 5 ? -3.0 : frame == 8 ? strip - 4 * step : step;
            if (frame == 11) {
                size = QSize(360, 600);
            }
            const QRect band = AmbientBackgroundView::lineBand(size.width(), size.height());
            QImage kept = canvas(size, dpr);
            {
                QPainter painter(&kept);
                painter.setClipRect(band);
                cache.draw(painter, size, dpr, true, phase, band);
            }
            AmbientFrameCache fresh(Qt::white, 1.0);
            QImage first = canvas(size, dpr);
            {
                QPainter painter(&first);
                painter.setClipRect(band);
                fresh.draw(painter, size, dpr, true, phase, band);
            }
            ASSERT_EQ(largestDifference(kept, first), 0);
        }
    }
}

TEST(AmbientBackgroundViewTest, AnimatesOnlyWhileVisibleAndMotionIsAllowed)
{
    struct Rate {
        double refreshRate;
        int intervalMs;
    };
    for (const Rate rate : {Rate{60, 17}, Rate{120, 9}, Rate{144, 9}, Rate{240, 9}, Rate{75, 14}, Rate{0, 17},
                            Rate{-1, 17}, Rate{NAN, 17}}) {
        SCOPED_TRACE(rate.refreshRate);
        EXPECT_EQ(AmbientBackgroundView::frameIntervalMs(rate.refreshRate), rate.intervalMs);
    }
    double phase = 0;
    AmbientBackgroundView view(std::nullopt, Qt::white, 1.0, true, false, nullptr, [&] { return phase; });
    view.resize(400, 600);
    EXPECT_FALSE(view.isAnimating());
    view.show();
    EXPECT_TRUE(view.isAnimating());
    view.setReduceMotion(true);
    EXPECT_FALSE(view.isAnimating());
    // Reduced motion: the line stands still at phase 0, whatever the clock says.
    phase = 123.0;
    const QImage still = view.grab().toImage();
    phase = 456.0;
    EXPECT_EQ(view.grab().toImage(), still);
    view.setReduceMotion(false);
    EXPECT_TRUE(view.isAnimating());
    EXPECT_NE(view.grab().toImage(), still);
    view.hide();
    EXPECT_FALSE(view.isAnimating());

    // Inside a window: minimising the window stops it, restoring starts it again.
    QWidget window;
    auto *panel = new AmbientBackgroundView(400, Qt::white, 1.0, true, true, &window);
    window.resize(400, 600);
    window.show();
    EXPECT_TRUE(panel->isAnimating());
    window.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !panel->isAnimating(); }, 5000));
    window.showNormal();
    EXPECT_TRUE(waitUntil([&] { return panel->isAnimating(); }, 5000));

    AmbientBackgroundView lineless(400, Qt::white, 1.0, false, true);
    lineless.show();
    EXPECT_FALSE(lineless.isAnimating());
    EXPECT_EQ(lineless.width(), 400);
}

} // namespace
} // namespace quillby::test
