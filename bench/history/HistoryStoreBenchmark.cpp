// Saved history at full size: 90 days of one-minute LibreLinkUp readings (129,600 readings in 90
// sealed day files, fetch times with the sub-second part of a system clock). Measures restoring a snapshot (cold: a new store opens every file; warm: the
// store's next snapshot) and appending one poll's batch, beside what the disk alone costs: the
// crash-safe writes of the very bytes an append writes. Counters: the append as a multiple of its
// own file-layer time, and the peak resident growth of a cold snapshot. Also the decoding of one
// full day file's plaintext (1440 readings) on its own.

#include "../ResidentMemory.h"
#include "insights/InsightsCollectionProgress.h"
#include "TaskRunner.h"
#include "history/AccountScope.h"
#include "history/GlucoseHistoryAccount.h"
#include "history/GlucoseHistoryStore.h"
#include "history/HistoryDayFileDecoder.h"
#include "history/HistoryDayFileEncoder.h"
#include "history/HistoryDigest.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
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

// The local file layer, timing its calls and (when asked) keeping what it was told to write.
class RecordingFileAccess final : public GlucoseHistoryFileAccess {
public:
    struct Write {
        QByteArray bytes;
        std::filesystem::path target;
    };

    void writeAtomically(const QByteArray &bytes, const std::filesystem::path &target) override
    {
        const auto start = std::chrono::steady_clock::now();
        local_.writeAtomically(bytes, target);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (recording) {
            writes.push_back({bytes, target});
        }
    }
    void removeItemIfExists(const std::filesystem::path &path) override
    {
        const auto start = std::chrono::steady_clock::now();
        local_.removeItemIfExists(path);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    void synchronizeDirectory(const std::filesystem::path &directory) override
    {
        const auto start = std::chrono::steady_clock::now();
        local_.synchronizeDirectory(directory);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    void removeItem(const std::filesystem::path &path) noexcept override { local_.removeItem(path); }
    QByteArray readFile(const std::filesystem::path &path) override { return local_.readFile(path); }
    std::optional<HistoryFileIdentity> fileIdentity(const std::filesystem::path &path) override
    {
        return local_.fileIdentity(path);
    }
    std::optional<HistoryFileRead> readFileUnlessKnown(const std::filesystem::path &path, HistoryReadBuffer &buffer,
                                                       const std::function<bool(const HistoryFileIdentity &)> &known) override
    {
        return local_.readFileUnlessKnown(path, buffer, known);
    }

    bool recording = false;
    std::vector<Write> writes;
    double seconds = 0;   // spent in the calls above

private:
    LocalGlucoseHistoryFileAccess local_;
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

// When the poll that delivered a reading finished: some seconds after it, with the sub-second
// part a system clock gives (written as 16 or 17 significant digits, as in real day files).
Date fetchTime(const GlucoseReading &reading, long index)
{
    return reading.date + 20 + static_cast<double>((index * 7919) % 1'000'003) / 1'000'003.0;
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
        GlucoseHistoryAccount account(root / "accounts" / digest, keychain, std::make_shared<LocalGlucoseHistoryFileAccess>(),
                                      &insightsMinimumDatasetReached);
        account.loadConfiguration();
        GlucoseHistoryStoredReadings readings;
        readings.reserve(kReadings);
        for (long i = 0; i < kReadings; ++i) {
            const GlucoseReading reading = minuteReading(i);
            readings.push_back({reading, fetchTime(reading, i)});
        }
        account.writeDayFiles(readings, {}, account.loadOrCreateKey(false));
        dayFiles = account.historyFileURLs().size();
    }
    std::size_t dayFiles = 0;

    std::unique_ptr<GlucoseHistoryStore> makeStore(std::shared_ptr<GlucoseHistoryFileAccess> files = nullptr)
    {
        auto legacy = std::make_shared<MemoryKeychain>(items, QStringLiteral("encryption-key-v1"));
        auto shared = items;
        return std::make_unique<GlucoseHistoryStore>(
            root, legacy,
            [shared](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                return std::make_unique<MemoryKeychain>(shared, QString::fromStdString("encryption-key-v2-" + digest));
            },
            &insightsMinimumDatasetReached, std::move(files));
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
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench::PeakResidentGrowth growth;
        growth.start();
        state.ResumeTiming();
        {
            auto store = history.makeStore();
            const auto snapshot = test::runTask(store->activateAccount(history.scope, kMidnight));
            if (snapshot.readings.size() != kReadings) {
                state.SkipWithError("unexpected reading count");
            }
            benchmark::DoNotOptimize(snapshot.readings.data());
            state.PauseTiming();
            peak = std::max(peak, growth.mebibytes());
            state.ResumeTiming();
        }
    }
    // The store keeps what it read (to answer the next snapshot without opening the files), and
    // the snapshot holds the readings it hands out.
    state.counters["peak_rss_growth_MiB"] = peak;
    state.counters["readings_MiB"] = kReadings * static_cast<double>(sizeof(GlucoseReading)) / (1024.0 * 1024.0);
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
long nextMinute = kReadings;   // the next minute to append, across all variants

GlucoseReadings pollBatch(long index, bool withGraph)
{
    GlucoseReadings batch;
    if (withGraph) {
        for (int k = 48; k >= 1; --k) {
            const long repeated = index - k * 15;
            batch.push_back(minuteReading(repeated - repeated % 15));
        }
    }
    batch.push_back(minuteReading(index));
    return batch;
}

// Appends one poll at nextMinute.
void appendPoll(GlucoseHistoryStore &store, const GlucoseHistoryCollectionToken &token, bool withGraph)
{
    const Date now = kMidnight - 90 * kDay + nextMinute * 60.0 + 10;
    test::runTask(store.append(pollBatch(nextMinute, withGraph), now, token, now));
    ++nextMinute;
}

void BM_AppendPoll(benchmark::State &state)
{
    FullHistory &history = fullHistory();
    auto files = std::make_shared<RecordingFileAccess>();
    auto store = history.makeStore(files);
    const auto activated = test::runTask(store->activateAccount(history.scope, kMidnight));
    const GlucoseHistoryCollectionToken token{history.scope, activated.configuration.epoch};
    const long first = nextMinute;
    double total = 0;
    files->seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        appendPoll(*store, token, state.range(0) == 1);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["polls"] = static_cast<double>(nextMinute - first);
    // The whole append as a multiple of the time its own crash-safe writes took.
    state.counters["x_own_writes"] = files->seconds > 0 ? total / files->seconds : 0;
}

// Only the crash-safe writes (temporary file, write, fsync, rename, folder fsync) of the bytes
// that one append of the same kind writes, into a folder of their own.
void BM_AppendPollWritesOnly(benchmark::State &state)
{
    FullHistory &history = fullHistory();
    auto files = std::make_shared<RecordingFileAccess>();
    auto store = history.makeStore(files);
    const auto activated = test::runTask(store->activateAccount(history.scope, kMidnight));
    const GlucoseHistoryCollectionToken token{history.scope, activated.configuration.epoch};
    files->recording = true;
    appendPoll(*store, token, state.range(0) == 1);
    files->recording = false;
    QTemporaryDir scratch;
    const std::filesystem::path folder = std::filesystem::path(scratch.path().toStdString());
    LocalGlucoseHistoryFileAccess local;
    std::size_t bytes = 0;
    for (const auto &write : files->writes) {
        bytes += static_cast<std::size_t>(write.bytes.size());
    }
    for (auto _ : state) {
        for (const auto &write : files->writes) {
            local.writeAtomically(write.bytes, folder / write.target.filename());
        }
    }
    state.counters["files"] = static_cast<double>(files->writes.size());
    state.counters["bytes"] = static_cast<double>(bytes);
}

// Decoding one full day file's plaintext (1440 one-minute readings), as the store does for
// every day file it opens: with fetch times as a system clock gives them (range(0) = 0), and
// with fetch times in whole seconds (range(0) = 1).
void BM_DecodeDayFile(benchmark::State &state)
{
    GlucoseHistoryStoredReadings day;
    for (long index = 0; index < 1440; ++index) {
        const GlucoseReading reading = minuteReading(index);
        day.push_back({reading, state.range(0) == 1 ? reading.date + 20 : fetchTime(reading, index)});
    }
    const QByteArray plaintext = encodeHistoryDayFile(1, history_files::daySource, std::string(64, 'a'), day);
    for (auto _ : state) {
        const std::optional<GlucoseHistoryDayFile> decoded = decodeHistoryDayFile(plaintext);
        if (!decoded || decoded->readings.size() != day.size()) {
            state.SkipWithError("the day file did not decode");
        }
        benchmark::DoNotOptimize(decoded->readings.data());
    }
    state.counters["bytes"] = static_cast<double>(plaintext.size());
}

BENCHMARK(BM_SnapshotCold)->Unit(benchmark::kMillisecond)->Iterations(10)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_SnapshotWarm)->Unit(benchmark::kMillisecond)->Iterations(20)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_AppendPollWritesOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(100)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_DecodeDayFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AppendPoll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(100)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
