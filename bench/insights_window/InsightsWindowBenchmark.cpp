// The Insights window over 90 days of one-minute readings (129,600 saved readings): opening it
// until the 14-day report it opens on is computed and shown, and switching the open window to
// the 90-day report until that one is computed and shown. Opening and showing the 90-day report
// is the sum of the two. Run pinned to one core (taskset -c 0) for the one-core figure; the
// calculation then shares that core with the window.

#include "InsightsWindowTestSupport.h"

#include "insights_window/InsightsReportView.h"

#include <QApplication>
#include <QThreadPool>

#include <benchmark/benchmark.h>

using namespace quillby;
using namespace quillby::test;

namespace {

constexpr double kDay = 86400;

struct NinetyDays {
    InsightsHarness h;
    NinetyDays()
    {
        const std::string scope = h.signIn();
        const Date now = h.clock->now();
        auto &account = h.store->seed(scope, waveReadings(now - 90 * kDay, now, 60), true);
        account.configuration.collectionStartedAt = now - 95 * kDay;
        account.configuration.insightsUnlockedAt = now - 80 * kDay;
        runTask(h.coordinator->requestSnapshotRefresh());
    }
};

bool reportShown(InsightsView &view, int days)
{
    return waitUntil([&] {
        // Cheap checks only: comparing whole inputs would cost more than what is measured.
        return !view.isRefreshing() && !view.isRebuildScheduled() && !view.calculation().isUpdating() &&
               view.state() == InsightsViewState::report && view.reportView() && view.calculation().publishedInput() &&
               view.calculation().publishedInput()->interval.duration() == days * kDay;
    }, 60000);
}

void BM_OpenWindowWith14DayReport(benchmark::State &state)
{
    NinetyDays data;
    for (auto _ : state) {
        auto launcher = std::make_unique<InsightsLauncher>(data.h.coordinator.get(), data.h.configurationManager.get(),
                                                           [] {}, data.h.services());
        launcher->show();
        if (!reportShown(*launcher->view(), 14)) {
            state.SkipWithError("the report did not appear");
            break;
        }
        state.PauseTiming();
        launcher.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["readings"] = static_cast<double>(data.h.store->accounts.begin()->second.readings.size());
}

// The open window switches to 90 days: a new input, the 90-day calculation, the new report.
void BM_Show90DayReport(benchmark::State &state)
{
    NinetyDays data;
    InsightsLauncher launcher(data.h.coordinator.get(), data.h.configurationManager.get(), [] {}, data.h.services());
    launcher.show();
    if (!reportShown(*launcher.view(), 14)) {
        state.SkipWithError("the report did not appear");
        return;
    }
    for (auto _ : state) {
        launcher.view()->selectPeriod(90);
        if (!reportShown(*launcher.view(), 90)) {
            state.SkipWithError("the 90-day report did not appear");
            break;
        }
        state.PauseTiming();
        launcher.view()->selectPeriod(14);
        reportShown(*launcher.view(), 14);
        state.ResumeTiming();
    }
}

// For scale: one copy of the 90-day history, which every new calculation input needs.
void BM_CopyNinetyDaysOfReadings(benchmark::State &state)
{
    const GlucoseReadings readings = waveReadings(1'800'000'000.0 - 90 * kDay, 1'800'000'000.0, 60);
    for (auto _ : state) {
        GlucoseReadings copy = readings;
        benchmark::DoNotOptimize(copy.data());
    }
}

BENCHMARK(BM_OpenWindowWith14DayReport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Show90DayReport)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyNinetyDaysOfReadings)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
