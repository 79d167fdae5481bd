// A day of polling in virtual time: how many requests each new reading costs and how long a
// reading waits on the server before it is shown, for the adaptive schedule (the real polling
// coordinator over fakes) and for pollers with a fixed 60 s or 300 s interval.
//
// The simulated service publishes a reading every 300 s (Dexcom Share) or 60 s (LibreLinkUp);
// each becomes visible 5-90 s after its timestamp. Sensor gaps drop readings altogether, and
// two 20-minute service outages fail every request; readings taken during an outage become
// visible shortly after it ends.

#include "FakeAlertDelivery.h"
#include "FakeClock.h"
#include "FakeKeychainItemStore.h"
#include "FakeNetworkMonitor.h"
#include "VirtualTimeSleeper.h"

#include "core/AppNotifications.h"
#include "core/ConfigurationManager.h"
#include "polling/StatusBarPollingCoordinator.h"

#include <QCoreApplication>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace quillby {
namespace {

using test::FakeClock;
using test::VirtualTimeSleeper;

constexpr Date kDayStart = 1'800'000'000.0;
constexpr double kDay = 86400;

struct ServerReading {
    Date date;
    Date appearsAt;
    GlucoseReading reading;
};

// The service's side: which readings exist and when each becomes visible.
class ServiceModel {
public:
    ServiceModel(GlucoseProvider provider, std::uint64_t seed) : provider_(provider)
    {
        std::mt19937_64 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        auto uniform = [&](double low, double high) { return low + (high - low) * unit(random); };

        outages_ = {{kDayStart + uniform(2, 10) * 3600, 0}, {kDayStart + uniform(13, 22) * 3600, 0}};
        for (auto &outage : outages_) {
            outage.second = outage.first + 1200;
        }
        // Sensor gaps: about four a day, 5 to 30 minutes each.
        std::vector<std::pair<Date, Date>> gaps;
        for (Date t = kDayStart - kDay; t < kDayStart + 2 * kDay;) {
            t += -std::log(1 - unit(random)) * (kDay / 4);
            const Date end = t + uniform(300, 1800);
            gaps.emplace_back(t, end);
            t = end;
        }
        const double cadence = interval();
        Date date = kDayStart - kDay + uniform(0, cadence);
        for (; date < kDayStart + kDay + 7200; date += cadence) {
            const bool inGap = std::any_of(gaps.begin(), gaps.end(),
                                           [date](const auto &g) { return date >= g.first && date < g.second; });
            if (inGap) {
                continue;
            }
            Date appearsAt = date + uniform(5, 90);
            for (const auto &[begin, end] : outages_) {
                if (appearsAt >= begin && appearsAt < end) {
                    appearsAt = end + uniform(5, 60);   // uploaded once the service is back
                }
            }
            const double sampleDuration = provider_ == GlucoseProvider::libreLinkUp ? 60 : 300;
            readings_.push_back({date, appearsAt,
                                 GlucoseReading(100 + std::fmod(date / 60, 80), "Flat", date, sampleDuration, provider_)});
        }
    }

    double interval() const { return provider_ == GlucoseProvider::libreLinkUp ? 60 : 300; }
    bool isDown(Date t) const
    {
        return std::any_of(outages_.begin(), outages_.end(), [t](const auto &o) { return t >= o.first && t < o.second; });
    }
    // What a fetch at `t` returns: the visible readings of the last 24 hours, oldest first.
    GlucoseReadings visible(Date t) const
    {
        GlucoseReadings result;
        // Readings are in date order and none appears later than a few minutes after its date.
        const auto first = std::lower_bound(readings_.begin(), readings_.end(), t - kDay,
                                            [](const ServerReading &r, Date d) { return r.date < d; });
        for (auto r = first; r != readings_.end() && r->date <= t; ++r) {
            if (r->appearsAt <= t) {
                result.push_back(r->reading);
            }
        }
        return result;
    }
    // Readings that appear inside the measured day.
    std::vector<ServerReading> appearingInDay() const
    {
        std::vector<ServerReading> result;
        for (const auto &r : readings_) {
            if (r.appearsAt >= kDayStart && r.appearsAt < kDayStart + kDay) {
                result.push_back(r);
            }
        }
        return result;
    }

private:
    GlucoseProvider provider_;
    std::vector<std::pair<Date, Date>> outages_;
    std::vector<ServerReading> readings_;
};

// A provider client over the model; every request is counted with its time.
class ModelAPI final : public GlucoseAPIProtocol {
public:
    ModelAPI(const ServiceModel &model, const Clock &clock) : model_(model), clock_(clock) {}
    QCoro::Task<void> authenticate(std::stop_token) override
    {
        requestTimes.push_back(clock_.now());
        if (model_.isDown(clock_.now())) {
            throw NetworkError(QNetworkReply::ConnectionRefusedError, false, "Connection refused");
        }
        co_return;
    }
    QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token) override
    {
        requestTimes.push_back(clock_.now());
        if (model_.isDown(clock_.now())) {
            throw NetworkError(QNetworkReply::ConnectionRefusedError, false, "Connection refused");
        }
        co_return model_.visible(clock_.now());
    }
    std::vector<Date> requestTimes;

private:
    const ServiceModel &model_;
    const Clock &clock_;
};

// Records when each reading (by date) first reached the menu.
class RecordingPresenter final : public StatusBarPollingPresenting {
public:
    explicit RecordingPresenter(const Clock &clock) : clock_(clock) {}
    void setActivity(std::optional<StatusBarActivity> activity, Date) override { activity_ = activity; }
    void setError(std::optional<ErrorInfo> error) override { error_ = std::move(error); }
    void present(const GlucoseReading &reading, Date) override { see(reading); }
    void refreshStatusItem() override {}
    void updateGlucoseHistory(const GlucoseReadings &readings) override
    {
        history_ = readings;
        for (const auto &reading : readings) {
            see(reading);
        }
    }
    void setNextRetryAt(std::optional<Date> date) override { retry_ = date; }
    void setAlertsSnoozedUntil(std::optional<Date> date) override { snooze_ = date; }
    void rebuildMenuIfBuilt() override {}
    std::optional<StatusBarActivity> activity() const override { return activity_; }
    std::optional<ErrorInfo> currentError() const override { return error_; }
    std::optional<Date> nextRetryAt() const override { return retry_; }
    std::optional<Date> alertsSnoozedUntil() const override { return snooze_; }
    const GlucoseReadings &glucoseHistory() const override { return history_; }

    std::map<Date, Date> firstShown;

private:
    void see(const GlucoseReading &reading) { firstShown.emplace(reading.date, clock_.now()); }
    const Clock &clock_;
    std::optional<StatusBarActivity> activity_;
    std::optional<ErrorInfo> error_;
    std::optional<Date> retry_, snooze_;
    GlucoseReadings history_;
};

struct DayResult {
    std::size_t requests = 0;
    std::size_t newReadings = 0;
    std::vector<double> delays;
};

void collect(const ServiceModel &model, const std::map<Date, Date> &firstShown, DayResult &result)
{
    for (const auto &reading : model.appearingInDay()) {
        ++result.newReadings;
        if (const auto shown = firstShown.find(reading.date); shown != firstShown.end()) {
            result.delays.push_back(shown->second - reading.appearsAt);
        }
    }
}

std::size_t countInDay(const std::vector<Date> &times)
{
    return static_cast<std::size_t>(std::count_if(times.begin(), times.end(),
                                                  [](Date t) { return t >= kDayStart && t < kDayStart + kDay; }));
}

DayResult simulateAdaptive(GlucoseProvider provider, std::uint64_t seed)
{
    const ServiceModel model(provider, seed);
    auto clock = std::make_shared<FakeClock>(kDayStart);
    auto sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    QTemporaryDir directory;
    auto defaults = std::make_shared<QSettings>(directory.filePath(QStringLiteral("d.ini")), QSettings::IniFormat);
    AppNotifications notifications;
    ConfigurationManager configuration(std::make_shared<test::FakeKeychainItemStore>(), defaults,
                                       QLocale(QLocale::English, QLocale::UnitedStates), clock,
                                       std::make_shared<EventLoopSleeper>(), notifications);
    RecordingPresenter presenter(*clock);
    test::FakeNetworkMonitor network(true);
    auto api = std::make_shared<ModelAPI>(model, *clock);
    auto jitter = std::make_shared<std::mt19937_64>(seed ^ 0x5eedULL);

    StatusBarPollingCoordinator::Dependencies dependencies;
    dependencies.configurationManager = &configuration;
    dependencies.statusBar = &presenter;
    dependencies.makeAPIClient = [api](const GlucoseAccountConfiguration &) { return api; };
    dependencies.networkMonitor = &network;
    dependencies.alertDelivery = std::make_shared<test::FakeAlertDelivery>();
    dependencies.clock = clock;
    dependencies.sleeper = sleeper;
    dependencies.randomUnit = [jitter] { return std::uniform_real_distribution<double>(-1.0, 1.0)(*jitter); };
    dependencies.defaults = defaults;
    {
        StatusBarPollingCoordinator coordinator(std::move(dependencies));
        coordinator.start(api, std::nullopt, provider);
        coordinator.requestRefresh();
        coordinator.startUpdateLoopIfNeeded();
        sleeper->runUntil(kDayStart + kDay + 3600);
        coordinator.cancelUpdateLoop();
        VirtualTimeSleeper::drain();
    }
    DayResult result;
    result.requests = countInDay(api->requestTimes);
    collect(model, presenter.firstShown, result);
    return result;
}

DayResult simulateFixed(GlucoseProvider provider, double interval, std::uint64_t seed)
{
    const ServiceModel model(provider, seed);
    std::map<Date, Date> firstShown;
    DayResult result;
    for (Date t = kDayStart; t < kDayStart + kDay + 3600; t += interval) {
        if (t < kDayStart + kDay) {
            ++result.requests;
        }
        if (model.isDown(t)) {
            continue;
        }
        for (const auto &reading : model.visible(t)) {
            firstShown.emplace(reading.date, t);
        }
    }
    collect(model, firstShown, result);
    return result;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    const double rank = p * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(std::floor(rank));
    const auto high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

// Arguments: provider (0 Dexcom Share, 1 LibreLinkUp), poller (0 adaptive, else the fixed interval in s).
void BM_PollingDay(benchmark::State &state)
{
    const auto provider = state.range(0) == 0 ? GlucoseProvider::dexcom : GlucoseProvider::libreLinkUp;
    const auto fixedInterval = static_cast<double>(state.range(1));
    std::uint64_t seed = 1;
    DayResult total;
    for (auto _ : state) {
        const DayResult day = fixedInterval > 0 ? simulateFixed(provider, fixedInterval, seed)
                                                : simulateAdaptive(provider, seed);
        ++seed;
        total.requests += day.requests;
        total.newReadings += day.newReadings;
        total.delays.insert(total.delays.end(), day.delays.begin(), day.delays.end());
    }
    state.counters["req_per_reading"] = static_cast<double>(total.requests) / static_cast<double>(total.newReadings);
    state.counters["delay_p50_s"] = percentile(total.delays, 0.5);
    state.counters["delay_p95_s"] = percentile(total.delays, 0.95);
    state.counters["shown_share"] = static_cast<double>(total.delays.size()) / static_cast<double>(total.newReadings);
    state.counters["days"] = static_cast<double>(seed - 1);
    state.SetLabel(std::string(provider == GlucoseProvider::dexcom ? "dexcom " : "libre ")
                   + (fixedInterval > 0 ? "fixed " + std::to_string(static_cast<int>(fixedInterval)) + " s" : "adaptive"));
}

BENCHMARK(BM_PollingDay)
    ->ArgsProduct({{0, 1}, {0, 60, 300}})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillby

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
