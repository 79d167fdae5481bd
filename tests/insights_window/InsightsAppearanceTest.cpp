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
#include <QDir>
#include <QIcon>
#include <QTemporaryDir>
#include <QToolButton>

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

void expectReadable(QWidget *window, const char *what, std::size_t controls = 1)
{
    SCOPED_TRACE(what);
    expectReadableTexts(window, 2);
    expectVisibleControlBoundaries(window, controls);
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

TEST(InsightsAppearance, ReportAndSheetsAreLightAndReadableOnLightAndDarkDesktops)
{
    underLightAndDarkDesktops([] {
        Scene scene(20, true, true);
        ASSERT_NE(scene.launcher->view()->findChild<InsightsAGPChart *>(), nullptr);
        expectWholeLightPalette(scene.launcher->window(), "window");
        expectReadable(scene.launcher->window(), "report");

        scene.launcher->view()->showExplanation();
        QApplication::processEvents();
        ASSERT_NE(scene.launcher->view()->explanationSheet(), nullptr);
        expectWholeLightPalette(scene.launcher->view()->explanationSheet(), "explanation sheet");
        expectReadable(scene.launcher->view()->explanationSheet(), "explanation sheet");
    });
}

TEST(InsightsAppearance, CollectingCardAndConsentSheetAreReadableOnLightAndDarkDesktops)
{
    underLightAndDarkDesktops([] {
        {
            Scene scene(1.5, false, true);
            expectReadable(scene.launcher->window(), "collecting", 0);
        }
        Scene scene(0, false, false);
        scene.launcher->view()->showEnableNotice();
        QApplication::processEvents();
        auto *sheet = scene.launcher->view()->enableNoticeSheet();
        ASSERT_NE(sheet, nullptr);
        sheet->adjustSize();
        expectWholeLightPalette(sheet, "consent sheet");
        expectReadable(sheet, "consent sheet");
    });
}

// The header's symbols are the program's own, in the palette's button text colour, whatever icon
// theme the desktop has (here one whose counterparts are red squares).
TEST(InsightsAppearance, HeaderSymbolsAreTheProgramsOwnInThePalettesColour)
{
    QTemporaryDir themes;
    ASSERT_TRUE(themes.isValid());
    QDir folder(themes.path());
    ASSERT_TRUE(folder.mkpath(QStringLiteral("red/apps")));
    QFile index(folder.filePath(QStringLiteral("red/index.theme")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=red\nDirectories=apps\n\n[apps]\nSize=48\nType=Scalable\nMinSize=8\nMaxSize=512\n");
    index.close();
    for (const char *name : {"help-about", "preferences-system", "dialog-information", "emblem-system"}) {
        QFile icon(folder.filePath(QStringLiteral("red/apps/%1.svg").arg(QString::fromLatin1(name))));
        ASSERT_TRUE(icon.open(QIODevice::WriteOnly));
        icon.write("<svg xmlns='http://www.w3.org/2000/svg' width='48' height='48'><rect width='48' height='48' "
                   "fill='#ff0000'/></svg>");
    }
    const QStringList savedPaths = QIcon::themeSearchPaths();
    const QString savedTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("red"));
    ASSERT_FALSE(QIcon::fromTheme(QStringLiteral("help-about")).isNull()) << "the test theme is not found";
    {
        Scene scene(20, true, true);
        const QColor ink = InsightsColors::palette().color(QPalette::ButtonText);
        for (const char *name : {"insightsAboutButton", "insightsSettingsButton"}) {
            SCOPED_TRACE(name);
            auto *button = scene.launcher->window()->findChild<QToolButton *>(QString::fromLatin1(name));
            ASSERT_NE(button, nullptr);
            const QImage image = button->icon().pixmap(QSize(18, 18)).toImage().convertToFormat(QImage::Format_ARGB32);
            int drawn = 0, off = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor pixel = image.pixelColor(x, y);
                    if (pixel.alpha() > 128) {
                        ++drawn;
                        off += std::abs(pixel.red() - ink.red()) + std::abs(pixel.green() - ink.green()) +
                                       std::abs(pixel.blue() - ink.blue()) > 24;
                    }
                }
            }
            EXPECT_GT(drawn, 10);
            EXPECT_LT(drawn, image.width() * image.height() * 3 / 4) << "a symbol, not a filled square";
            EXPECT_EQ(off, 0) << "pixels not in the button text colour";
        }
    }
    QIcon::setThemeName(savedTheme);
    QIcon::setThemeSearchPaths(savedPaths);
}
