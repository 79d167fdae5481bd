// Saved history at full size: 90 days of one-minute LibreLinkUp readings (129,600 readings in 90
// sealed day files). Measures restoring a snapshot (cold: a new store opens every file; warm: the
// store's next snapshot) and appending one poll's batch.

#include "TaskRunner.h"
#include "history/AccountScope.h"
#include "history/GlucoseHistoryAccount.h"
#include "history/GlucoseHistoryStore.h"
#include "history/HistoryDigest.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <mutex>

using namespace quillby;

namespace {

constexpr double kDay = 86400;
const Date kMidnight = std::floor(1'800'000'000.0 / kDay) * kDay;   // the store's "now" at the start
constexpr int kReadings = 90 * 1440;

class MemoryKeychain final : public KeychainItemStoring {
public:
    MemoryKeychain(std::shared_ptr<std::map<QString, QByteArray>> items, QString account)
        : items_(std::move(items)), account_(std::move(account))
    {
    }
    QString service() const override { return QStringLiteral("Quillby.history"); }
    QString account() const override { return account_; }
    KeychainItemReadResult read() override
    {
        std::lock_guard lock(mutex());
        const auto found = items_->find(account_);
        return found == items_->end() ? KeychainItemReadResult::missing() : KeychainItemReadResult::found(found->second);
    }
    std::int32_t write(const QByteArray &bytes) override
    {
        std::lock_guard lock(mutex());
        (*items_)[account_] = bytes;
        return keychain_status::success;
    }
    std::int32_t remove() override
    {
        std::lock_guard lock(mutex());
        items_->erase(account_);
        return keychain_status::success;
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    std::shared_ptr<std::map<QString, QByteArray>> items_;
    QString account_;
};

GlucoseAccountConfiguration libreAccount()
{
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::libreLinkUp;
    account.username = "bench@example.com";
    account.patientID = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
    return account;
}

GlucoseReading minuteReading(long index)
{
    static const char *trends[] = {"Flat", "FortyFiveUp", "SingleUp", "FortyFiveDown", "SingleDown"};
    const double mgdL = 110 + 60 * std::sin(index / 90.0) + (index % 7);
    return GlucoseReading(std::round(mgdL), trends[(index / 30) % 5], kMidnight - 90 * kDay + index * 60.0, 60,
                          GlucoseProvider::libreLinkUp);
}

// A history root holding the full 90 days, and a store over it.
struct FullHistory {
    QTemporaryDir temp;
    std::filesystem::path root = std::filesystem::path(temp.path().toStdString()) / "Quillby" / "History";
    std::shared_ptr<std::map<QString, QByteArray>> items = std::make_shared<std::map<QString, QByteArray>>();
    std::string scope = historyAccountScope(libreAccount());
    GlucoseHistoryCollectionToken token;

    FullHistory()
    {
        auto store = makeStore();
        test::runTask(store->activateAccount(scope, kMidnight));
        token = {scope, test::runTask(store->enableCollection(kMidnight)).configuration.epoch};
        const std::string digest = sha256Digest(scope);
        auto keychain = std::make_shared<MemoryKeychain>(items, QString::fromStdString("encryption-key-v2-" + digest));
        GlucoseHistoryAccount account(root / "accounts" / digest, keychain, std::make_shared<LocalGlucoseHistoryFileAccess>());
        account.loadConfiguration();
        GlucoseHistoryStoredReadings readings;
        readings.reserve(kReadings);
        for (long i = 0; i < kReadings; ++i) {
            const GlucoseReading reading = minuteReading(i);
            readings.push_back({reading, reading.date + 20});
        }
        account.writeDayFiles(readings, {}, account.loadOrCreateKey(false));
        dayFiles = account.historyFileURLs().size();
    }
    std::size_t dayFiles = 0;

    std::unique_ptr<GlucoseHistoryStore> makeStore()
    {
        auto legacy = std::make_shared<MemoryKeychain>(items, QStringLiteral("encryption-key-v1"));
        auto shared = items;
        return std::make_unique<GlucoseHistoryStore>(
            root, legacy, [shared](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                return std::make_unique<MemoryKeychain>(shared, QString::fromStdString("encryption-key-v2-" + digest));
            });
    }
};

FullHistory &fullHistory()
{
    static FullHistory history;
    return history;
}

void BM_SnapshotCold(benchmark::State &state)
{
    FullHistory &history = fullHistory();
    state.counters["day_files"] = static_cast<double>(history.dayFiles);
    for (auto _ : state) {
        auto store = history.makeStore();
        const auto snapshot = test::runTask(store->activateAccount(history.scope, kMidnight));
        if (snapshot.readings.size() != kReadings) {
            state.SkipWithError("unexpected reading count");
        }
        benchmark::DoNotOptimize(snapshot.readings.data());
    }
}

void BM_SnapshotWarm(benchmark::State &state)
{
    FullHistory &history = fullHistory();
    auto store = history.makeStore();
    test::runTask(store->activateAccount(history.scope, kMidnight));
    for (auto _ : state) {
        const auto snapshot = test::runTask(store->snapshot(kMidnight));
        if (snapshot.readings.size() != kReadings) {
            state.SkipWithError("unexpected reading count");
        }
        benchmark::DoNotOptimize(snapshot.readings.data());
    }
}

// One poll: the newest one-minute reading, and (with range(0) = 1) the 48 quarter-hour graph
// points of the last 12 hours that LibreLinkUp sends again with every poll.
void BM_AppendPoll(benchmark::State &state)
{
    FullHistory &history = fullHistory();
    auto store = history.makeStore();
    const auto activated = test::runTask(store->activateAccount(history.scope, kMidnight));
    const GlucoseHistoryCollectionToken token{history.scope, activated.configuration.epoch};
    static long index = kReadings;   // the next minute, across both variants
    const long first = index;
    for (auto _ : state) {
        const Date now = kMidnight - 90 * kDay + index * 60.0 + 10;
        GlucoseReadings batch;
        if (state.range(0) == 1) {
            for (int k = 48; k >= 1; --k) {
                const long repeated = index - k * 15;
                batch.push_back(minuteReading(repeated - repeated % 15));
            }
        }
        batch.push_back(minuteReading(index));
        test::runTask(store->append(std::move(batch), now, token, now));
        ++index;
    }
    state.counters["polls"] = static_cast<double>(index - first);
}

BENCHMARK(BM_SnapshotCold)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SnapshotWarm)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_AppendPoll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(100);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
