// The decorative background: the line's points, drawing at any size, and animating only while
// it can be seen.

#include "onboarding/AmbientBackgroundView.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

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
    for (const double phase : {0.0, 12.5, 1e6}) {
        for (const auto &point : AmbientBackgroundView::waveLinePoints(800, 600, phase)) {
            EXPECT_GE(point.y(), 0.35 * 600 - 0.1 * 0.15 * 600);
            EXPECT_LE(point.y(), 0.65 * 600 + 0.1 * 0.15 * 600);
        }
    }
}

TEST(AmbientBackgroundViewTest, PaintsAtAnySizeAndAnimatesOnlyWhileVisible)
{
    AmbientBackgroundView view(std::nullopt, Qt::white, 1.0, true, false, nullptr, [] { return 0.0; });
    for (const QSize size : {QSize(0, 0), QSize(0, 300), QSize(300, 0), QSize(1, 1), QSize(400, 600)}) {
        SCOPED_TRACE(size.width() * 1000 + size.height());
        view.resize(size);
        QImage image(std::max(size.width(), 1), std::max(size.height(), 1), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view.render(&image);   // must not divide by zero or crash
    }
    EXPECT_FALSE(view.isAnimating());
    view.show();
    EXPECT_TRUE(view.isAnimating());
    view.setReduceMotion(true);
    EXPECT_FALSE(view.isAnimating());
    view.setReduceMotion(false);
    EXPECT_TRUE(view.isAnimating());
    view.hide();
    EXPECT_FALSE(view.isAnimating());

    AmbientBackgroundView still(400, Qt::white, 1.0, false, true);
    still.show();
    EXPECT_FALSE(still.isAnimating());
    EXPECT_EQ(still.width(), 400);
}

} // namespace
} // namespace quillby::test
