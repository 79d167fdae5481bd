#include "HistoryTestSupport.h"
#include "WaitUntil.h"
#include "insights/InsightsCollectionProgress.h"

#include "history/GlucoseHistoryAccount.h"
#include "history/GlucoseHistoryDayFileCache.h"
#include "history/HistoryDigest.h"

#include <QThreadPool>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

namespace quillby::test {
namespace {

const std::string kScopeA = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";
const std::string kScopeB = "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4";

class HistoryCollection : public HistoryRootFixture {
protected:
    std::unique_ptr<GlucoseHistoryStoreCore> store = makeCore();

    GlucoseHistoryCollectionToken tokenOf(const GlucoseHistorySnapshot &snapshot)
    {
        return {snapshot.configuration.accountScope.value_or(""), snapshot.configuration.epoch};
    }
    GlucoseHistoryCollectionToken enabled(const std::string &scope, Date now = kNow)
    {
        store->activateAccount(scope, now);
        return tokenOf(store->enableCollection(now));
    }
    static std::vector<Date> datesOf(const GlucoseHistorySnapshot &snapshot)
    {
        std::vector<Date> dates;
        for (const auto &reading : snapshot.readings) {
            dates.push_back(reading.date);
        }
        return dates;
    }
};

TEST_F(HistoryCollection, AcceptsOnlyValidReadingsInsideTheCollectionWindow)
{
    const auto token = enabled(kScopeA);
    const GlucoseReadings batch = {
        historyReading(kNow - kDaySeconds - 1, 100),   // before the first-enable backfill of 24 h
        historyReading(kNow - kDaySeconds, 101),       // exactly at the interval start: kept
        historyReading(kNow - 600, 0),                 // zero
        historyReading(kNow - 540, -4),                // negative
        historyReading(kNow - 480, std::nan("")),      // not a number
        historyReading(kNow - 420, INFINITY),          // not finite
        historyReading(std::nan(""), 120),             // no date
        historyReading(kNow - 300, 130),
        historyReading(kNow, 131),                     // exactly now: kept
        historyReading(kNow + 1, 132),                 // one second in the future
    };
    store->append(batch, kNow, token, kNow);
    EXPECT_EQ(datesOf(store->snapshot(kNow)), (std::vector<Date>{kNow - kDaySeconds, kNow - 300, kNow}));
}

TEST_F(HistoryCollection, StaleTokensAndOtherScopesSaveNothingSilently)
{
    const auto token = enabled(kScopeA);
    const auto reading = historyReading(kNow - 60);

    store->append({reading}, kNow, {kScopeB, token.epoch}, kNow);                 // another scope
    store->append({reading}, kNow, {kScopeA, QUuid::createUuid()}, kNow);         // another epoch
    EXPECT_TRUE(store->snapshot(kNow).readings.empty());

    const auto disabled = store->disableCollection(kNow + 10);
    store->append({reading}, kNow + 10, token, kNow + 10);                       // token from before the disable
    store->append({reading}, kNow + 10, tokenOf(disabled), kNow + 10);           // saving off
    EXPECT_TRUE(store->snapshot(kNow + 10).readings.empty());

    const auto reenabled = store->enableCollection(kNow + 20);
    store->activateAccount(kScopeB, kNow + 30);                                   // switching away and back
    store->activateAccount(kScopeA, kNow + 30);                                   // renews the epoch
    store->append({historyReading(kNow + 25)}, kNow + 30, tokenOf(reenabled), kNow + 30);
    EXPECT_TRUE(store->snapshot(kNow + 30).readings.empty());
}

TEST_F(HistoryCollection, DisableKeepsReadingsAndReEnableStartsWithoutBackfill)
{
    auto token = enabled(kScopeA);
    store->append({historyReading(kNow - 3600), historyReading(kNow - 60)}, kNow, token, kNow);

    const auto disabled = store->disableCollection(kNow + 100);
    EXPECT_FALSE(disabled.configuration.isEnabled);
    EXPECT_FALSE(disabled.configuration.collectionIntervalStart);
    EXPECT_NE(disabled.configuration.epoch, token.epoch);
    EXPECT_EQ(disabled.readings.size(), 2u);
    EXPECT_TRUE(scopeKey(sha256Digest(kScopeA)));

    const Date later = kNow + 7200;
    const auto reenabled = store->enableCollection(later);
    EXPECT_EQ(reenabled.configuration.collectionIntervalStart, later);    // no 24 h backfill any more
    EXPECT_EQ(reenabled.configuration.collectionStartedAt, kNow);         // first enable stays recorded
    token = tokenOf(reenabled);
    store->append({historyReading(later - 1800), historyReading(later)}, later, token, later);
    EXPECT_EQ(datesOf(store->snapshot(later)), (std::vector<Date>{kNow - 3600, kNow - 60, later}));
}

TEST_F(HistoryCollection, RepeatedPollsKeepOneReadingPerDateTheOneFetchedLast)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - 120, 100, "Flat"), historyReading(kNow - 60, 101)}, kNow - 50, token, kNow - 50);
    store->append({historyReading(kNow - 120, 104, "SingleUp")}, kNow - 10, token, kNow - 10);
    store->append({historyReading(kNow - 120, 999, "DoubleUp")}, kNow - 30, token, kNow);   // fetched earlier: loses
    const auto snapshot = store->snapshot(kNow);
    ASSERT_EQ(snapshot.readings.size(), 2u);
    EXPECT_EQ(snapshot.readings[0].mgdL, 104);
    EXPECT_EQ(snapshot.readings[0].trendString, "SingleUp");

    // A repeat of the same value and trend within 30 s is cleaned away.
    store->append({historyReading(kNow - 45, 101)}, kNow, token, kNow);
    EXPECT_EQ(store->snapshot(kNow).readings.size(), 2u);
}

// The snapshot of the store that wrote the readings equals what a later read of the files gives.
TEST_F(HistoryCollection, SavedReadingsReadBackAsTheyWereKept)
{
    const auto token = enabled(kScopeA);
    struct Case {
        double sampleDuration;
        double kept;
    };
    const std::vector<Case> cases = {
        {300, 300}, {60, 60}, {900, 900}, {1200, 900}, {0, 60}, {-5, 60}, {std::nan(""), 300}, {INFINITY, 300},
    };
    GlucoseReadings batch;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        batch.push_back(historyReading(kNow - 3600 + 300.0 * static_cast<double>(i), 100 + static_cast<double>(i), "Flat",
                                       cases[i].sampleDuration));
    }
    store->append(batch, kNow, token, kNow);
    const auto written = store->snapshot(kNow);
    const auto reread = makeCore()->activateAccount(kScopeA, kNow);
    ASSERT_EQ(written.readings.size(), cases.size());
    ASSERT_EQ(reread.readings.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(written.readings[i].sampleDuration, cases[i].kept) << cases[i].sampleDuration;
        EXPECT_EQ(written.readings[i], reread.readings[i]) << cases[i].sampleDuration;
    }
}

// A snapshot of unchanged days hands out the list it handed out before; any change, by this store,
// by another writer of the folder or by retention, gives a new list with the change in it.
TEST_F(HistoryCollection, UnchangedDaysShareOneListAndEveryChangeIsSeen)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - kDaySeconds + 60), historyReading(kNow - 600)}, kNow, token, kNow);
    const auto first = store->snapshot(kNow);
    const auto again = store->snapshot(kNow);
    EXPECT_TRUE(again.readings.sharesListWith(first.readings));

    store->append({historyReading(kNow - 300)}, kNow, token, kNow);
    const auto appended = store->snapshot(kNow);
    EXPECT_FALSE(appended.readings.sharesListWith(first.readings));
    EXPECT_EQ(datesOf(appended), (std::vector<Date>{kNow - kDaySeconds + 60, kNow - 600, kNow - 300}));
    EXPECT_EQ(datesOf(first), (std::vector<Date>{kNow - kDaySeconds + 60, kNow - 600}));   // handed out: unchanged

    // Another store writes into the same folder (as a second process would).
    auto other = makeCore();
    const auto otherSnapshot = other->activateAccount(kScopeA, kNow);
    other->append({historyReading(kNow - 120)}, kNow, tokenOf(otherSnapshot), kNow);
    EXPECT_EQ(datesOf(store->snapshot(kNow)),
              (std::vector<Date>{kNow - kDaySeconds + 60, kNow - 600, kNow - 300, kNow - 120}));

    // Retention drops the oldest reading a day later.
    const Date later = kNow + 90 * kDaySeconds - 3600;
    EXPECT_EQ(datesOf(store->snapshot(later)), (std::vector<Date>{kNow - 600, kNow - 300, kNow - 120}));
}

// Day files opened ahead are taken only while each is still the file that was opened: a file
// rewritten, added or removed after the prefetch is read as it is now.
TEST_F(HistoryCollection, FilesOpenedAheadAreNotTakenOnceChanged)
{
    const auto token = enabled(kScopeA);
    store->append({historyReading(kNow - kDaySeconds + 60), historyReading(kNow - 600)}, kNow, token, kNow);
    const fs::path folderPath = folder(sha256Digest(kScopeA));
    GlucoseHistoryDayFileCache memo;
    GlucoseHistoryAccount account(folderPath, std::shared_ptr<KeychainItemStoring>(keychainFactory()(sha256Digest(kScopeA))), files, &insightsMinimumDatasetReached,
                                  &memo);
    account.prefetchDays(kScopeA);

    // Meanwhile another writer adds a reading, rewriting the file of its day.
    auto other = makeCore();
    const auto otherSnapshot = other->activateAccount(kScopeA, kNow);
    other->append({historyReading(kNow - 300)}, kNow, tokenOf(otherSnapshot), kNow);

    account.prepareFolder();
    const auto snapshot = account.snapshot(kNow);
    std::vector<Date> dates;
    for (const auto &reading : snapshot.readings) {
        dates.push_back(reading.date);
    }
    EXPECT_EQ(dates, (std::vector<Date>{kNow - kDaySeconds + 60, kNow - 600, kNow - 300}));

    // An account dropped while its files are still being opened waits for them.
    {
        GlucoseHistoryAccount dropped(folderPath, std::shared_ptr<KeychainItemStoring>(keychainFactory()(sha256Digest(kScopeA))), files,
                                      &insightsMinimumDatasetReached, &memo);
        dropped.prefetchDays(kScopeA);
    }
}

// The global pool limited to a number of threads, with some of them held by other long work
// until the end of the scope.
class LimitedGlobalPool {
public:
    LimitedGlobalPool(int threads, int held) : previous_(pool().maxThreadCount())
    {
        pool().setMaxThreadCount(threads);
        const std::shared_future<void> release = release_.get_future().share();
        for (int i = 0; i < held; ++i) {
            pool().start([this, release] {
                {
                    const std::lock_guard hold(mutex_);
                    ++holding_;
                }
                started_.notify_all();
                release.wait();
            });
        }
        std::unique_lock hold(mutex_);
        started_.wait(hold, [&] { return holding_ == held; });
    }
    ~LimitedGlobalPool()
    {
        release_.set_value();
        pool().waitForDone();
        pool().setMaxThreadCount(previous_);
    }

private:
    static QThreadPool &pool() { return *QThreadPool::globalInstance(); }
    int previous_;
    std::promise<void> release_;
    std::mutex mutex_;
    std::condition_variable started_;
    int holding_ = 0;
};

// Ends the test program when the work of its scope has not finished within the bound: a thread
// waiting on itself never comes back to fail a test.
class HangGuard {
public:
    explicit HangGuard(std::string what) : what_(std::move(what)), watcher_([this] { watch(); }) {}
    ~HangGuard()
    {
        {
            const std::lock_guard hold(mutex_);
            done_ = true;
        }
        finished_.notify_all();
        watcher_.join();
    }

private:
    void watch()
    {
        std::unique_lock hold(mutex_);
        if (!finished_.wait_for(hold, std::chrono::milliseconds(test::scaledTimeoutMs(60'000)), [&] { return done_; })) {
            std::fprintf(stderr, "HUNG: %s did not finish\n", what_.c_str());
            std::fflush(stderr);
            std::_Exit(1);
        }
    }
    std::string what_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread watcher_;
};

// Day files are opened side by side on the global pool, from the caller's thread and from work
// on that pool (opening ahead): however few threads the pool has, and however many of them other
// work holds, opening never waits for work queued behind itself.
TEST_F(HistoryCollection, OpeningDayFilesFinishesWhateverThePoolCanRun)
{
    // Four days of readings in each of two accounts, one file per day.
    const Date start = kNow - 3 * kDaySeconds;
    for (const std::string &scope : {kScopeA, kScopeB}) {
        const auto token = enabled(scope, start);
        for (int day = 0; day < 4; ++day) {
            const Date date = start + day * kDaySeconds;
            store->append({historyReading(date)}, date, token, date);
        }
    }
    struct Case {
        int threads;
        int held;   // threads busy with other work meanwhile
    };
    for (const Case c : {Case{1, 0}, Case{1, 1}, Case{2, 0}, Case{2, 1}, Case{2, 2}, Case{3, 1}}) {
        const std::string name = std::to_string(c.threads) + " threads, " + std::to_string(c.held) + " held";
        SCOPED_TRACE(name);
        const LimitedGlobalPool pool(c.threads, c.held);
        const HangGuard guard(name);
        GlucoseHistoryDayFileCache memo;
        std::vector<std::unique_ptr<GlucoseHistoryAccount>> accounts;
        for (const std::string &scope : {kScopeA, kScopeB}) {
            const std::string digest = sha256Digest(scope);
            accounts.push_back(std::make_unique<GlucoseHistoryAccount>(
                folder(digest), std::shared_ptr<KeychainItemStoring>(keychainFactory()(digest)), files,
                &insightsMinimumDatasetReached, &memo));
            accounts.back()->prefetchDays(scope);   // both accounts open ahead at once
        }
        for (const auto &account : accounts) {
            account->prepareFolder();
            EXPECT_EQ(account->snapshot(kNow).readings.size(), 4u);
        }
        // A store of its own opens every file anew, on the caller and the free threads.
        EXPECT_EQ(makeCore()->activateAccount(kScopeA, kNow).readings.size(), 4u);
    }
}

TEST_F(HistoryCollection, MergeOrderBreaksTiesByValueThenTrend)
{
    using Stored = GlucoseHistoryStoredReading;
    const Date date = kNow - 60;
    const auto merged = GlucoseHistoryAccount::mergeStoredReadings({
        Stored{historyReading(date, 120, "Flat"), kNow},
        Stored{historyReading(date, 110, "SingleUp"), kNow},
        Stored{historyReading(date, 120, "DoubleDown"), kNow},
        Stored{historyReading(date - 300, 90), kNow - 100},
        Stored{historyReading(date - 600, -1), kNow + 100},   // invalid: never displaces anything
    });
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0].reading.date, date - 300);
    EXPECT_EQ(merged[1].reading.mgdL, 120);
    EXPECT_EQ(merged[1].reading.trendString, "Flat");   // "Flat" sorts after "DoubleDown"
}

TEST_F(HistoryCollection, LoweringRetentionPrunesAtOnceAndRewritesTheBoundaryDay)
{
    // Build 40 days of history: one reading every 6 hours.
    const Date start = kNow - 40 * kDaySeconds;
    enabled(kScopeA, start);
    for (int i = 0; i < 40 * 4; ++i) {
        const Date date = start + i * 6 * 3600.0;
        const auto current = store->snapshot(date).configuration;
        store->append({historyReading(date, 100 + i % 50)}, date, {kScopeA, current.epoch}, date);
    }
    const fs::path account = folder(sha256Digest(kScopeA));
    const auto before = store->snapshot(kNow);
    EXPECT_EQ(before.readings.size(), 160u);

    const auto after = store->setRetentionDays(30, kNow);
    EXPECT_EQ(after.configuration.retentionDays, 30);
    for (const auto &reading : after.readings) {
        EXPECT_GE(reading.date, kNow - 30 * kDaySeconds);
    }
    EXPECT_EQ(after.readings.size(), 120u);
    const std::int64_t boundaryDay = *historyDayNumber(kNow - 30 * kDaySeconds);
    std::set<std::string> expectedDays;
    for (std::int64_t day = boundaryDay; day <= *historyDayNumber(kNow); ++day) {
        expectedDays.insert(historyDayFileName(day));
    }
    std::set<std::string> dayFiles;
    for (const auto &name : entries(account)) {
        if (name.ends_with(".history")) {
            dayFiles.insert(name);
        }
    }
    EXPECT_EQ(dayFiles, expectedDays);
    const auto boundary = openDayFile(account / historyDayFileName(boundaryDay), *scopeKey(sha256Digest(kScopeA)));
    for (const auto &stored : boundary["readings"]) {
        EXPECT_GE(stored["reading"]["date"].get<double>() + kReferenceDateOffset, kNow - 30 * kDaySeconds);
    }
    EXPECT_HISTORY_ERROR(store->setRetentionDays(60, kNow), invalidRetention);
    EXPECT_EQ(store->snapshot(kNow).configuration.retentionDays, 30);
}

TEST_F(HistoryCollection, InactiveAccountsArePrunedToo)
{
    const Date start = kNow - 95 * kDaySeconds;
    const auto tokenB = enabled(kScopeB, start);
    store->append({historyReading(start - 60), historyReading(start)}, start, tokenB, start);
    store->activateAccount(kScopeA, kNow);
    const fs::path accountB = folder(sha256Digest(kScopeB));
    for (const auto &name : entries(accountB)) {
        EXPECT_FALSE(name.ends_with(".history")) << name;   // older than 90 days: gone
    }
}

TEST_F(HistoryCollection, SwitchingAccountsRestartsIntervalsButARestartContinuesThem)
{
    enabled(kScopeA, kNow);
    const Date firstStart = kNow - kDaySeconds;
    EXPECT_EQ(store->snapshot(kNow).configuration.collectionIntervalStart, firstStart);

    store->activateAccount(kScopeB, kNow + 100);
    const auto aAgain = store->activateAccount(kScopeA, kNow + 200);
    EXPECT_EQ(aAgain.configuration.collectionIntervalStart, kNow + 200);   // restarted at activation

    // A restart: a new store activates the account that was attached last.
    auto restarted = makeCore();
    const auto continued = restarted->activateAccount(kScopeA, kNow + 900);
    EXPECT_EQ(continued.configuration.collectionIntervalStart, kNow + 200);
    EXPECT_NE(continued.configuration.epoch, aAgain.configuration.epoch);

    // Detaching (no account) ends the interval of the account that was active.
    restarted->activateAccount(std::nullopt, kNow + 1000);
    const auto configuration = readJSON(folder(sha256Digest(kScopeA)) / "configuration.json");
    EXPECT_FALSE(configuration.contains("collectionIntervalStart"));
    EXPECT_FALSE(readJSON(root / "manifest.json").contains("attachedScopeID"));
    EXPECT_HISTORY_ERROR(restarted->enableCollection(kNow), accountRequired);
    const auto detached = restarted->snapshot(kNow + 1000);
    EXPECT_TRUE(detached.readings.empty());
    EXPECT_FALSE(detached.configuration.accountScope);
}

TEST_F(HistoryCollection, InsightsUnlockNeedsThreeDaysAndSeventyPercentCoverage)
{
    struct Case {
        const char *name;
        double collected;        // seconds since the first enable
        int coveredMinutes;      // one-minute readings ending at now
        bool unlocked;
    };
    const std::vector<Case> cases = {
        {"exactly three days at exactly 70 %", 259200, 3024, true},
        {"coverage just below 70 %", 259200, 3023, false},
        {"collection just below three days", 259199, 3024, false},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const fs::path folderPath = fs::path(dir.path().toStdString()) / "account";
        auto key = std::make_shared<FakeKeychainItemStore>();
        GlucoseHistoryAccount account(folderPath, key, files, &insightsMinimumDatasetReached);
        account.loadConfiguration();
        const QByteArray folderKey = account.loadOrCreateKey(true);   // before the consent is recorded
        GlucoseHistoryConfiguration configuration = *account.configuration();
        configuration.accountScope = kScopeA;
        configuration.isEnabled = true;
        configuration.consentVersion = 1;
        configuration.collectionStartedAt = kNow - c.collected;
        configuration.collectionIntervalStart = kNow - c.collected;
        account.writeConfiguration(configuration);
        GlucoseHistoryStoredReadings stored;
        for (int i = c.coveredMinutes; i >= 1; --i) {
            stored.push_back({historyReading(kNow - i * 60.0, 100 + i % 7, "Flat", 60), kNow});
        }
        account.writeDayFiles(stored, {}, folderKey);
        const auto snapshot = account.snapshot(kNow);
        EXPECT_EQ(snapshot.readings.size(), static_cast<std::size_t>(c.coveredMinutes)) << c.name;
        EXPECT_EQ(snapshot.configuration.insightsUnlocked(), c.unlocked) << c.name;
        if (c.unlocked) {
            EXPECT_EQ(snapshot.configuration.insightsUnlockedAt, kNow);
            GlucoseHistoryAccount reread(folderPath, key, files, &insightsMinimumDatasetReached);
            reread.loadConfiguration();
            EXPECT_EQ(reread.configuration()->insightsUnlockedAt, kNow) << c.name;
        }
    }
}

TEST_F(HistoryCollection, ANewEnabledAccountNeedsNoKeyToReadItsEmptyFolder)
{
    store->activateAccount(kScopeA, kNow);
    keyring->setReadFailure(keychain_status::authFailed);   // the keyring refuses access
    EXPECT_TRUE(store->snapshot(kNow).readings.empty());
    EXPECT_HISTORY_ERROR(store->enableCollection(kNow), keychainFailure);
    keyring->setReadFailure(std::nullopt);
    keyring->failNextWrite(keychain_status::authFailed);
    EXPECT_HISTORY_ERROR(store->enableCollection(kNow), keychainFailure);
    EXPECT_FALSE(store->snapshot(kNow).configuration.isEnabled);
    EXPECT_TRUE(store->enableCollection(kNow).configuration.isEnabled);
}

} // namespace
} // namespace quillby::test
