// The whole Insights report (clean-up, weighting, summary statistics, coverage of the period,
// the collection and the latest three days, the profile, GMI and progress) on one thread, for
// one-minute readings in a zone whose period crosses a daylight-saving change.

#include "../ResidentMemory.h"
#include "insights/InsightsCalculation.h"
#include "core/ReadingCleanup.h"
#include "providers/GlucoseProviderDescription.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace quillby;

// 2024-11-05 12:00 UTC: 14 days back covers the fall-back of 27 October in Berlin, 90 days
// back covers it as well as the whole summer time before it.
constexpr Date kEnd = 1730808000;

// `decimals`: values in tenths of a mg/dL (about 3,600 distinct ones over 90 days) instead of
// whole ones. `historyDays`: days of readings before the end (default: the period).
InsightsCalculationInput makeInput(int days, GlucoseProvider source, bool decimals = false, int historyDays = 0)
{
    InsightsCalculationInput input;
    input.interval = DateInterval(kEnd - days * 86400.0, kEnd);
    const int readingDays = std::max(days, historyDays);
    const Date first = kEnd - readingDays * 86400.0;
    input.collectionStartedAt = kEnd - days * 86400.0 - 3600;
    input.calendar = LocalCalendar("Europe/Berlin");
    input.accountScope = "bench";
    input.fixedCadence = &readingIsOnFixedCadence;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> step(-3, 3);
    std::uniform_int_distribution<int> tenthStep(-30, 30);
    double value = 120;
    int tenths = 1200;
    const int count = readingDays * 1440;
    GlucoseReadings readings;
    readings.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (decimals) {
            tenths = std::clamp(tenths + tenthStep(random), 400, 4000);
            value = tenths / 10.0;
        } else {
            value = std::clamp(value + step(random), 45.0, 330.0);
        }
        const double duration = source == GlucoseProvider::dexcom ? 300 : 60;
        readings.emplace_back(value, "Flat", first + i * 60.0, duration, source);
    }
    input.readings = std::move(readings);
    return input;
}

void BM_WholeReport(benchmark::State &state)
{
    const auto source = state.range(1) == 0 ? GlucoseProvider::libreLinkUp : GlucoseProvider::dexcom;
    const InsightsCalculationInput input = makeInput(static_cast<int>(state.range(0)), source, state.range(2) != 0);
    {
        // The working memory of one report (the readings themselves are the caller's).
        bench::PeakResidentGrowth growth;
        growth.start();
        InsightsCalculationResult result = InsightsCalculationResult::calculate(input);
        benchmark::DoNotOptimize(result);
        state.counters["peak_rss_growth_MiB"] = growth.mebibytes();
    }
    for (auto _ : state) {
        InsightsCalculationResult result = InsightsCalculationResult::calculate(input);
        benchmark::DoNotOptimize(result);
    }
    state.counters["readings"] = static_cast<double>(input.readings.size());
    state.counters["readings_MiB"] =
        static_cast<double>(input.readings.size() * sizeof(GlucoseReading)) / (1024.0 * 1024.0);
}
// Second argument: 0 = LibreLinkUp (weighted quantiles), 1 = Dexcom Share (equal weights).
// Third: 0 = whole mg/dL values, 1 = tenths of a mg/dL.
BENCHMARK(BM_WholeReport)
    ->ArgsProduct({{14, 30, 90, 365}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The Insights window's report of the last 14 days over 90 days of saved readings.
void BM_ShortReportOfLongHistory(benchmark::State &state)
{
    const InsightsCalculationInput input = makeInput(14, GlucoseProvider::libreLinkUp, false, 90);
    for (auto _ : state) {
        InsightsCalculationResult result = InsightsCalculationResult::calculate(input);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ShortReportOfLongHistory)->Unit(benchmark::kMillisecond);

void BM_ReadingCleanup(benchmark::State &state)
{
    const InsightsCalculationInput input = makeInput(static_cast<int>(state.range(0)), GlucoseProvider::libreLinkUp);
    for (auto _ : state) {
        GlucoseReadings cleaned = normalizedGlucoseReadings(input.readings);
        benchmark::DoNotOptimize(cleaned);
    }
}
BENCHMARK(BM_ReadingCleanup)->Arg(90)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
