#include "widgets/AmbientBackgroundView.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace quillby {
namespace {

TEST(AmbientBackgroundView, LinePoints)
{
    const auto narrow = AmbientBackgroundView::waveLinePoints(400, 600, 0);
    ASSERT_EQ(narrow.size(), 83u);
    EXPECT_EQ(narrow.back().x(), 390);
    EXPECT_EQ(narrow.front().x(), -20);
    EXPECT_NEAR(narrow.front().y(), 309.09, 0.005);   // only 0.12 A sin 1 at s = 0
    const auto wide = AmbientBackgroundView::waveLinePoints(736, 600, 0);
    ASSERT_EQ(wide.size(), 140u);
    EXPECT_EQ(wide.back().x(), 675);
    EXPECT_EQ(AmbientBackgroundView::waveLinePoints(0, 600, 0).size(), 15u);
    for (const double phase : {0.0, 12.5, 7.9e8}) {
        for (const QPointF &p : AmbientBackgroundView::waveLinePoints(400, 600, phase)) {
            // Inside the band from 0.35 h to 0.65 h, but for a tenth of an overshoot.
            ASSERT_GT(p.y(), 0.35 * 600 - 0.1 * 0.15 * 600);
            ASSERT_LT(p.y(), 0.65 * 600 + 0.1 * 0.15 * 600);
        }
    }
}

TEST(AmbientBackgroundView, LineFadesBetween70And85PercentOfTheWidth)
{
    for (const double width : {400.0, 1.0}) {
        for (int j = 0; j <= 6; ++j) {
            EXPECT_EQ(AmbientBackgroundView::fadeAtStop(j, width), 1.0);
        }
        EXPECT_NEAR(AmbientBackgroundView::fadeAtStop(7, width), 13.0 / 27.0, 1e-9);
        EXPECT_EQ(AmbientBackgroundView::fadeAtStop(8, width), 0.0);
        EXPECT_EQ(AmbientBackgroundView::fadeAtStop(9, width), 0.0);
    }
}

TEST(AmbientBackgroundView, PaintsBackgroundGlowsAndLineAndNothingWhenEmpty)
{
    AmbientBackgroundView view({400, Qt::white, 1.0, true});
    QImage image(400, 600, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        view.paintFrame(painter, QSizeF(0, 600), 0);
        view.paintFrame(painter, QSizeF(400, 0), 0);
    }
    EXPECT_EQ(image.pixelColor(200, 300), QColor(Qt::black));   // zero width or height draws nothing
    {
        QPainter painter(&image);
        view.paintFrame(painter, QSizeF(400, 600), 0);
    }
    const QColor corner = image.pixelColor(2, 2);
    EXPECT_GT(corner.red(), 200);                        // light, never the black underneath
    const QColor line = image.pixelColor(100, static_cast<int>(std::lround(AmbientBackgroundView::waveLinePoints(400, 600, 0)[24].y())));
    EXPECT_GT(line.blue(), line.red() + 40);             // the blue line
    const QColor glow = image.pixelColor(340, 480);      // inside the green glow
    EXPECT_LT(glow.blue(), 250);

    AmbientBackgroundView plain({std::nullopt, Qt::white, 0.0, false});
    QImage flat(100, 100, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&flat);
        plain.paintFrame(painter, QSizeF(100, 100), 0);
    }
    EXPECT_EQ(flat.pixelColor(50, 50), QColor(Qt::white));   // no glows, no line
}

TEST(AmbientBackgroundView, AnimatesOnlyWhileVisibleWithTheLineAndMotion)
{
    AmbientBackgroundView view({400, Qt::white, 1.0, true});
    view.resize(400, 600);
    EXPECT_FALSE(view.isAnimating());
    view.show();
    EXPECT_TRUE(view.isAnimating());
    view.setReduceMotion(true);
    EXPECT_FALSE(view.isAnimating());
    view.setReduceMotion(false);
    view.hide();
    EXPECT_FALSE(view.isAnimating());
    AmbientBackgroundView still({400, Qt::white, 1.0, false});
    still.resize(400, 600);
    still.show();
    EXPECT_FALSE(still.isAnimating());
}

} // namespace
} // namespace quillby
