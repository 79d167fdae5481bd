#include "MenubarTestSupport.h"
#include "menubar/StatusBarController.h"
#include "menubar/StatusBarIconRenderer.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <gtest/gtest.h>

using namespace quillby;
using namespace quillby::test;

// Runs on a real X display with a tray host (QT_QPA_PLATFORM=xcb and an XEmbed tray such as
// trayer); skipped elsewhere.
TEST(StatusBarTray, DocksIntoARunningTrayHostAndShowsTheReading)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        GTEST_SKIP() << "needs an X session with a tray host";
    }
    // run-with-tray-host.sh starts the tray host just before this test: wait for it to take the
    // tray selection.
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) << "no tray host appeared";
    ConfigurationFixture config;
    config.manager.setHasCompletedOnboarding(true);
    FakeUpdateAvailability updates;
    StatusBarViewModel model(config.manager, updates, config.clock, std::make_shared<VirtualTimeSleeper>(*config.clock));
    auto &controller = static_cast<StatusBarController &>(model.controller());
    ASSERT_TRUE(controller.hasStatusItem());
    EXPECT_TRUE(controller.isDocked());
    EXPECT_FALSE(controller.statusWindow()->isVisible());

    model.present(GlucoseReading(60, "DoubleDown", config.clock->now()), config.clock->now());
    ASSERT_TRUE(waitUntil([&] { return controller.trayIcon()->geometry().width() > 0; }));
    // The tray host paints the slot when it gets to it: wait until the red tile shows.
    auto redShare = [&controller] {
        const QRect geometry = controller.trayIcon()->geometry();
        const QImage shot = QGuiApplication::primaryScreen()
                                ->grabWindow(0, geometry.x(), geometry.y(), geometry.width(), geometry.height())
                                .toImage();
        int red = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                red += c.red() > 200 && c.green() < 90 && c.blue() < 90;
            }
        }
        return shot.width() * shot.height() > 0 ? double(red) / (shot.width() * shot.height()) : 0.0;
    };
    EXPECT_TRUE(waitUntil([&] { return redShare() > 0.25; }))
        << "the low reading's red tile should fill the tray slot; red share " << redShare();
}
