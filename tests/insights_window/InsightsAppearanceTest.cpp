// The Insights window and its sheets are light whatever the desktop's colour scheme, and every
// text in them stays readable when the desktop is dark. Under the test session's dark KDE
// scheme (ctest's InsightsDarkScheme) the desktop's own palette is used; elsewhere a dark one.

#include "InsightsWindowTestSupport.h"
#include "TextContrast.h"
#include "VirtualAnimationClock.h"

#include "insights_window/HistoryEnableDisclosureView.h"
#include "insights_window/InsightsAGPView.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsLauncher.h"
#include "insights_window/InsightsSurfaces.h"

#include <gtest/gtest.h>

#include <QApplication>

using namespace quillby;
using namespace quillby::test;

namespace {

constexpr double kDay = 86400;

struct Scene {
    VirtualAnimationClock clock;   // the pages' fades end before anything is measured
    InsightsHarness h;
    std::unique_ptr<InsightsLauncher> launcher;

    Scene(double collectedDays, bool unlocked, bool saving)
    {
        const std::string scope = h.signIn("mg/dL");
        const Date now = h.clock->now();
        auto &account = h.store->seed(
            scope, collectedDays > 0 ? waveReadings(now - collectedDays * kDay, now) : GlucoseReadings{}, saving);
        account.configuration.collectionStartedAt = now - collectedDays * kDay;
        if (unlocked) {
            account.configuration.insightsUnlockedAt = now - kDay;
        }
        launcher = std::make_unique<InsightsLauncher>(h.coordinator.get(), h.configurationManager.get(), [] {},
                                                      h.services());
        launcher->show();
        InsightsHarness::settle(*launcher->view());
        clock.run(400);
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }
};

void expectReadable(QWidget *window, const char *what)
{
    SCOPED_TRACE(what);
    expectReadableTexts(window, 2);
}

void expectWholeLightPalette(QWidget *window, const char *what)
{
    SCOPED_TRACE(what);
    const QPalette light = InsightsColors::palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            if (role == QPalette::NoRole) {
                continue;
            }
            const auto r = static_cast<QPalette::ColorRole>(role);
            EXPECT_EQ(window->palette().color(group, r), light.color(group, r)) << "group " << group << " role " << role;
        }
    }
}

} // namespace

TEST(InsightsAppearance, ReportAndSheetsAreLightAndReadableUnderADarkDesktop)
{
    DarkDesktopPalette dark;
    Scene scene(20, true, true);
    ASSERT_NE(scene.launcher->view()->findChild<InsightsAGPChart *>(), nullptr);
    expectWholeLightPalette(scene.launcher->window(), "window");
    expectReadable(scene.launcher->window(), "report");

    scene.launcher->view()->showExplanation();
    QApplication::processEvents();
    ASSERT_NE(scene.launcher->view()->explanationSheet(), nullptr);
    expectWholeLightPalette(scene.launcher->view()->explanationSheet(), "explanation sheet");
    expectReadable(scene.launcher->view()->explanationSheet(), "explanation sheet");
}

TEST(InsightsAppearance, CollectingCardAndConsentSheetAreReadableUnderADarkDesktop)
{
    DarkDesktopPalette dark;
    {
        Scene scene(1.5, false, true);
        expectReadable(scene.launcher->window(), "collecting");
    }
    Scene scene(0, false, false);
    scene.launcher->view()->showEnableNotice();
    QApplication::processEvents();
    auto *sheet = scene.launcher->view()->enableNoticeSheet();
    ASSERT_NE(sheet, nullptr);
    sheet->adjustSize();
    expectWholeLightPalette(sheet, "consent sheet");
    expectReadable(sheet, "consent sheet");
}
