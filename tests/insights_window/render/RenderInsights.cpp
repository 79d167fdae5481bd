// Renders the Insights window in its main states from fixed sample histories to PNG files, for
// review by eye:  quillby_render_insights <output folder>
// (Run it under Xvfb, e.g. scripts/with-session.sh, or with QT_QPA_PLATFORM=offscreen.)

#include "InsightsWindowTestSupport.h"
#include "VirtualAnimationClock.h"

#include "insights_window/HistoryEnableDisclosureView.h"
#include "insights_window/InsightsAGPView.h"
#include "insights_window/InsightsExplanationView.h"
#include "insights_window/InsightsReportView.h"

#include "RenderEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

using namespace quillby;
using namespace quillby::test;

namespace {

constexpr double kDay = 86400;

bool save(QWidget *widget, const QString &folder, const QString &name)
{
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();   // let pending layout passes finish
    }
    // Let a transition that a new result started (0.3 s) end before the picture is taken; under a
    // virtual animation clock this changes nothing.
    QEventLoop settling;
    QTimer::singleShot(500, &settling, &QEventLoop::quit);
    settling.exec();
    const QString path = QDir(folder).filePath(name);
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

struct Scene {
    InsightsHarness h;
    std::unique_ptr<InsightsLauncher> launcher;

    Scene(double collectedDays, double readingDays, bool unlocked, bool saving, const std::string &unit = "mg/dL")
    {
        const std::string scope = h.signIn(unit);
        const Date now = h.clock->now();
        auto &account = h.store->seed(scope, readingDays > 0 ? waveReadings(now - readingDays * kDay, now) : GlucoseReadings{},
                                      saving);
        account.configuration.collectionStartedAt = now - collectedDays * kDay;
        if (unlocked) {
            account.configuration.insightsUnlockedAt = now - kDay;
        }
        launcher = std::make_unique<InsightsLauncher>(h.coordinator.get(), h.configurationManager.get(),
                                                      [] {}, h.services());
        launcher->show();
        InsightsHarness::settle(*launcher->view());
    }
    bool selectPeriod(int days)
    {
        launcher->view()->selectPeriod(days);
        return InsightsHarness::settle(*launcher->view());
    }
    void select(int minute)
    {
        auto *chart = launcher->view()->findChild<InsightsAGPChart *>();
        if (!chart) {
            return;
        }
        const QRectF f = chart->plotFrame();
        chart->toggleSelection(QPointF(f.left() + (minute + 3) / 1440.0 * f.width(), f.center().y()));
    }
};

} // namespace

int main(int argc, char **argv)
{
    prepareRenderEnvironment(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    bool ok = true;
    {
        Scene scene(1.5, 1.5, false, true);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-collecting.png"));
    }
    {
        Scene scene(0, 0, false, false);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-get-started.png"));
        scene.launcher->view()->showEnableNotice();
        QApplication::processEvents();
        if (auto *sheet = scene.launcher->view()->enableNoticeSheet()) {
            sheet->adjustSize();
            ok &= save(sheet, folder, QStringLiteral("insights-consent-sheet.png"));
        }
    }
    {
        Scene scene(20, 20, true, true);
        scene.select(8 * 60);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-report-14-days.png"));
        scene.launcher->view()->showExplanation();
        QApplication::processEvents();
        if (auto *sheet = scene.launcher->view()->explanationSheet()) {
            ok &= save(sheet, folder, QStringLiteral("insights-explanation-sheet.png"));
        }
    }
    {
        Scene scene(95, 90, true, false, "mmol/L");
        ok &= scene.selectPeriod(90);
        scene.select(18 * 60 + 30);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-report-90-days-mmol.png"));
    }
    {
        Scene scene(20, 3, true, true);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-report-limited.png"));
        // Selected text in the report, as the mouse leaves it.
        if (auto *notice = scene.launcher->view()->findChild<QLabel *>(QStringLiteral("noticeText"))) {
            notice->setSelection(0, 12);
            ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-report-selected-text.png"));
        }
    }
    {
        // The unlock: the collecting card fades out as the report fades in (0.3 s), drawn at 0 %,
        // 50 % and 100 % of the change on a virtual animation clock.
        VirtualAnimationClock clock;
        Scene scene(3, 3, false, true);
        clock.run(400);
        const std::string scope = HistoryCoordinator::accountScope(testAccount());
        scene.h.store->accounts[scope].configuration.insightsUnlockedAt = scene.h.clock->now();
        runTask(scene.h.coordinator->requestSnapshotRefresh());
        waitUntil([&] { return scene.launcher->view()->state() == InsightsViewState::report; });
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-unlock-fade-000.png"));
        clock.step(150);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-unlock-fade-050.png"));
        clock.run(150);
        ok &= save(scene.launcher->window(), folder, QStringLiteral("insights-unlock-fade-100.png"));
    }
    return ok ? 0 : 1;
}
