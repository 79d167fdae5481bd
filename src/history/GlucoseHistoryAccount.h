#pragma once

#include "core/KeychainItemStoring.h"
#include "history/GlucoseHistoryConfiguration.h"
#include "history/GlucoseHistoryFileAccess.h"
#include "history/GlucoseHistoryRecords.h"
#include "history/GlucoseHistorySnapshot.h"
#include "history/GlucoseHistoryTypes.h"

#include <QByteArray>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillby {

class GlucoseHistoryDayFileCache;
using SharedStoredReadings = std::shared_ptr<const std::vector<GlucoseHistoryStoredReading>>;

// One account folder of the saved-history tree: its "configuration.json", its key in the
// keyring and its sealed day files. Decides which readings are accepted, how repeated polls
// merge, what retention removes and when the Insights minimum dataset is reached. Created and
// driven only by the history store, on its worker thread; every operation may throw
// GlucoseHistoryError.
class GlucoseHistoryAccount {
public:
    using StoredReading = GlucoseHistoryStoredReading;
    using StoredReadings = GlucoseHistoryStoredReadings;
    using DayFile = GlucoseHistoryDayFile;

    // unlockRule decides when a snapshot records the Insights unlock. The cache, when given, must
    // outlive the account.
    GlucoseHistoryAccount(std::filesystem::path directory, std::shared_ptr<KeychainItemStoring> keychain,
                          std::shared_ptr<GlucoseHistoryFileAccess> files, InsightsUnlockRule unlockRule,
                          GlucoseHistoryDayFileCache *cache = nullptr);

    // Waits for files still being opened ahead.
    ~GlucoseHistoryAccount();
    GlucoseHistoryAccount(const GlucoseHistoryAccount &) = delete;
    GlucoseHistoryAccount &operator=(const GlucoseHistoryAccount &) = delete;

    const std::filesystem::path &directory() const { return directory_; }
    // Empty until loaded; then the configuration as last loaded or set.
    const std::optional<GlucoseHistoryConfiguration> &configuration() const { return configuration_; }
    bool needsConfigurationWrite() const { return needsConfigurationWrite_; }

    void loadConfiguration();
    void writeConfiguration(GlucoseHistoryConfiguration configuration);
    // First step of every public operation: load, retry a failed configuration write, refuse a
    // folder pending deletion, remove leftovers of interrupted writes.
    void prepareFolder();
    QByteArray loadOrCreateKey(bool create);
    std::vector<std::filesystem::path> historyFileURLs() const;
    StoredReadings readAllStoredReadings();
    // One stored reading per reading date (the one fetched last wins), cleaned, ascending by date.
    static StoredReadings mergeStoredReadings(StoredReadings readings);
    static std::map<std::int64_t, StoredReadings> groupByDay(const StoredReadings &readings);
    void writeDayFiles(const StoredReadings &readings, const StoredReadings &previous, const QByteArray &key);
    StoredReadings prune(Date now);
    GlucoseHistorySnapshot snapshot(Date now);
    void attach(const std::string &scope, std::optional<Date> collectionCutoff, bool continuesInterval, Date now);
    GlucoseHistorySnapshot enableCollection(Date now);
    GlucoseHistorySnapshot setRetentionDays(int days, Date now);
    void append(const GlucoseReadings &readings, Date fetchedAt, const GlucoseHistoryCollectionToken &token, Date now);

    // The stored-reading order: fetchedAt, then reading date, then mgdL, then trend text.
    static bool readingOrder(const StoredReading &a, const StoredReading &b);

    // The day files of the folder as read, in file-name order, their readings shared with the
    // store's memo of opened files. Canonical: the files are the day-by-day split of one merged
    // list, so work on them can stay local to the days it touches.
    struct DayView {
        std::string name;
        std::optional<std::int64_t> day;   // when the name is a day file name
        SharedStoredReadings readings;
    };
    struct FolderView {
        std::vector<DayView> days;
        bool canonical = false;
        std::size_t count() const;
        StoredReadings flattened() const;
    };
    FolderView readDays();
    // Starts opening the day files (as readDays would, for `scope`) on the thread pool and
    // returns: the next readDays takes what was opened, and the work this thread does meanwhile
    // (writing the configuration) overlaps the reading. Needs the memo of opened files; does
    // nothing when the files cannot be listed or the key read (readDays then reports it).
    void prefetchDays(const std::string &scope);
    // prune(now) as a view: retention and cutoff applied, changed days written.
    FolderView prunedDays(Date now);

private:
    using DayMap = std::map<std::int64_t, SharedStoredReadings>;
    static DayMap dayMap(const StoredReadings &readings);
    static DayMap dayMap(const FolderView &view);
    static FolderView viewOf(const DayMap &days, bool canonical);
    // Each file named by its day and holding only that day's readings, days ascending.
    static bool hasDayLayout(const FolderView &view);
    // hasDayLayout, and the view's readings, in order, are a merged list (mergeStoredReadings
    // would give them back unchanged) that all pass `kept`.
    template <typename Kept>
    static bool hasMergedDayLayout(const FolderView &view, Kept &&kept);
    // Seals the days of `next` that differ from `previous`, then removes the day files that
    // `next` does not name. `canonicalAfter`: the folder then holds exactly `next`, a merged list.
    void writeDays(const DayMap &next, const DayMap &previous, const QByteArray &key, bool canonicalAfter);
    GlucoseHistoryConfiguration &loaded();
    std::filesystem::path configurationURL() const;
    // The readings of the view as one list; the list last built when the view holds the same
    // day lists.
    SharedGlucoseReadings snapshotReadings(const FolderView &view);

    std::filesystem::path directory_;
    std::shared_ptr<KeychainItemStoring> keychain_;
    std::shared_ptr<GlucoseHistoryFileAccess> files_;
    InsightsUnlockRule unlockRule_;
    GlucoseHistoryDayFileCache *cache_;
    std::optional<GlucoseHistoryConfiguration> configuration_;
    bool needsConfigurationWrite_ = false;
    void joinPrefetch();
    struct Prefetch;
    std::unique_ptr<Prefetch> prefetch_;
    std::vector<std::weak_ptr<const StoredReadings>> snapshotSource_;   // the day lists it was built from
    SharedGlucoseReadings snapshotReadings_;
};

} // namespace quillby
