// The day files of one account folder: reading them (each opened once and then remembered
// until it changes), merging readings, pruning to the retention, and writing the days that changed.

#include "history/GlucoseHistoryAccount.h"

#include "history/GlucoseHistoryAccountSupport.h"
#include "history/HistoryDayFileDecoder.h"
#include "history/HistoryDayFileEncoder.h"
#include "history/HistorySealing.h"
#include "core/ReadingCleanup.h"

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

namespace quillby {

namespace fs = std::filesystem;
using namespace history_detail;

namespace {

// A day file to open, and what opening it gave.
struct PendingDayFile {
    std::size_t index = 0;   // in the caller's list
    fs::path file;
    std::string name;
    HistoryFileIdentity identity;
    SharedStoredReadings readings;   // null: unreadable
    bool read = false;               // false: the memo had it after all
};

// Opens the files: each is read, decrypted in place, decoded and checked in one go, on a few
// lanes side by side, each lane reading file after file into one buffer of its own, so that a
// file's bytes are still in the cache when they are decrypted and parsed and the memory touched
// is a few buffers, not the size of the folder. A file whose identity the memo (when given)
// knows is taken from it. Returns when every file is opened.
void openDayFiles(GlucoseHistoryFileAccess &files, std::vector<PendingDayFile> &pending, const QByteArray &key,
                  const std::string &scope, const GlucoseHistoryDayFileCache *memo)
{
    if (pending.empty()) {
        return;
    }
    // Each lane reads into a buffer and through a day-file reader of its own.
    struct Lane {
        HistoryReadBuffer buffer;
        HistoryDayFileReader reader;
    };
    const auto open = [&](PendingDayFile &item, Lane &lane) {
        HistoryReadBuffer &buffer = lane.buffer;
        try {
            SharedStoredReadings cached;
            const std::optional<HistoryFileRead> read =
                files.readFileUnlessKnown(item.file, buffer, [&](const HistoryFileIdentity &identity) {
                    cached = memo ? memo->find(item.file, identity, key, scope) : nullptr;
                    return cached != nullptr;
                });
            if (!read) {
                return;   // gone or not readable: unreadable
            }
            if (!read->bytesRead) {
                item.readings = std::move(cached);
                return;
            }
            item.identity = read->identity;
            item.read = true;
            const std::optional<std::size_t> length =
                openHistoryInPlace(buffer.data(), buffer.size(), key, historyAssociatedData(item.file));
            if (!length) {
                return;
            }
            std::optional<GlucoseHistoryDayFile> day =
                lane.reader.decode(std::string_view(buffer.data() + kHistoryNonceSize, *length));
            if (!day || day->schemaVersion != 1 ||
                (day->source != history_files::daySource && day->source != history_files::legacyDaySource) ||
                day->accountScope != scope) {
                return;
            }
            item.readings = std::make_shared<const GlucoseHistoryStoredReadings>(std::move(day->readings));
        } catch (...) {
            item.readings = nullptr;   // missing, unreadable, out of memory: unreadable all the same
        }
    };
    // The calling thread runs one lane; the others run only on threads of the pool that are free
    // now. Nothing here waits for work still queued on a pool: a caller that is itself pool work
    // (opening ahead) would otherwise wait for threads that it and its kind occupy.
    QThreadPool *pool = QThreadPool::globalInstance();
    const std::size_t laneCount =
        std::min<std::size_t>(pending.size(), static_cast<std::size_t>(std::max(1, pool->maxThreadCount())));
    std::vector<Lane> lanes(laneCount);
    std::atomic<std::size_t> next{0};
    const auto runLane = [&pending, &next, &open](Lane &lane) {
        for (std::size_t i = next.fetch_add(1); i < pending.size(); i = next.fetch_add(1)) {
            open(pending[i], lane);
        }
    };
    // A helper that starts after the caller is done does nothing: what it refers to is gone.
    struct Helpers {
        std::mutex mutex;
        std::condition_variable idle;
        int running = 0;
        bool closed = false;
    };
    const auto helpers = std::make_shared<Helpers>();
    for (std::size_t lane = 1; lane < laneCount; ++lane) {
        const bool started = pool->tryStart([helpers, &runLane, own = &lanes[lane]] {
            {
                const std::lock_guard hold(helpers->mutex);
                if (helpers->closed) {
                    return;
                }
                ++helpers->running;
            }
            runLane(*own);
            const std::lock_guard hold(helpers->mutex);
            --helpers->running;
            helpers->idle.notify_all();
        });
        if (!started) {
            break;
        }
    }
    runLane(lanes.front());
    std::unique_lock hold(helpers->mutex);
    helpers->closed = true;
    helpers->idle.wait(hold, [&] { return helpers->running == 0; });
}

} // namespace

// MARK: - Opening ahead

struct GlucoseHistoryAccount::Prefetch {
    QByteArray key;
    std::string scope;
    QFuture<std::vector<PendingDayFile>> files;
};

GlucoseHistoryAccount::GlucoseHistoryAccount(fs::path directory, std::shared_ptr<KeychainItemStoring> keychain,
                                             std::shared_ptr<GlucoseHistoryFileAccess> files,
                                             InsightsUnlockRule unlockRule, GlucoseHistoryDayFileCache *cache)
    : directory_(std::move(directory)), keychain_(std::move(keychain)), files_(std::move(files)),
      unlockRule_(std::move(unlockRule)), cache_(cache)
{
}

GlucoseHistoryAccount::~GlucoseHistoryAccount()
{
    if (prefetch_) {
        prefetch_->files.waitForFinished();   // its work refers to nothing of this account
    }
}

void GlucoseHistoryAccount::prefetchDays(const std::string &scope)
{
    if (!cache_ || prefetch_) {
        return;
    }
    try {
        const std::vector<fs::path> files = historyFileURLs();
        if (files.empty()) {
            return;
        }
        QByteArray key = loadOrCreateKey(false);
        std::vector<PendingDayFile> pending;
        for (const fs::path &file : files) {
            const std::string name = file.filename().native();
            // A file the memo has never opened is not looked at twice.
            if (cache_->remembers(file)) {
                const std::optional<HistoryFileIdentity> identity = files_->fileIdentity(file);
                if (identity && cache_->find(file, *identity, key, scope)) {
                    continue;
                }
            }
            pending.push_back(PendingDayFile{0, file, name, {}, nullptr, false});
        }
        if (pending.empty()) {
            return;
        }
        auto prefetch = std::make_unique<Prefetch>();
        prefetch->key = key;
        prefetch->scope = scope;
        // The memo belongs to this thread: the pool works without it.
        prefetch->files = QtConcurrent::run(QThreadPool::globalInstance(),
                                            [files = files_, pending = std::move(pending), key, scope]() mutable {
                                                try {
                                                    openDayFiles(*files, pending, key, scope, nullptr);
                                                } catch (...) {
                                                    pending.clear();   // nothing opened ahead
                                                }
                                                return std::move(pending);
                                            });
        prefetch_ = std::move(prefetch);
    } catch (...) {
        // Nothing is opened ahead; the read that follows reports what is wrong.
    }
}

void GlucoseHistoryAccount::joinPrefetch()
{
    if (!prefetch_) {
        return;
    }
    const std::unique_ptr<Prefetch> prefetch = std::move(prefetch_);
    prefetch->files.waitForFinished();
    std::vector<PendingDayFile> opened = prefetch->files.takeResult();
    // Into the memo under the identity each file had when read: readDays takes a file from there
    // only while it is still that file.
    bool stored = false;
    for (PendingDayFile &item : opened) {
        if (item.read && item.readings) {
            cache_->store(item.file, item.identity, prefetch->key, prefetch->scope, std::move(item.readings));
            stored = true;
        }
    }
    if (stored) {
        cache_->setCanonical(directory_, false);   // as for any file read anew
    }
}

std::vector<fs::path> GlucoseHistoryAccount::historyFileURLs() const
{
    return dayFilesIn(directory_);
}

std::size_t GlucoseHistoryAccount::FolderView::count() const
{
    std::size_t total = 0;
    for (const auto &day : days) {
        total += day.readings->size();
    }
    return total;
}

GlucoseHistoryAccount::StoredReadings GlucoseHistoryAccount::FolderView::flattened() const
{
    StoredReadings all;
    all.reserve(count());
    for (const auto &day : days) {
        all.insert(all.end(), day.readings->begin(), day.readings->end());
    }
    return all;
}

GlucoseHistoryAccount::FolderView GlucoseHistoryAccount::readDays()
{
    const std::vector<fs::path> files = historyFileURLs();
    if (files.empty()) {
        if (cache_) {
            cache_->retainOnly(directory_, {});
        }
        return FolderView{{}, true};   // nothing to merge: trivially canonical, and no key needed
    }
    const QByteArray key = loadOrCreateKey(false);
    if (!configuration_ || !configuration_->accountScope) {
        throw GlucoseHistoryError::unreadableHistory();
    }
    const std::string &scope = *configuration_->accountScope;

    // First the files' identities: a file whose identity, key and scope match the memo (or that
    // a prefetch opened meanwhile) is not opened again; then the rest, side by side.
    joinPrefetch();
    FolderView view;
    view.days.reserve(files.size());
    std::set<std::string> names;
    std::vector<PendingDayFile> pending;
    for (const fs::path &file : files) {
        const std::string name = file.filename().native();
        names.insert(name);
        SharedStoredReadings cached;
        if (cache_) {
            if (const std::optional<HistoryFileIdentity> identity = files_->fileIdentity(file)) {
                cached = cache_->find(file, *identity, key, scope);
            }
        }
        if (!cached) {
            pending.push_back(PendingDayFile{view.days.size(), file, name, {}, nullptr, false});
        }
        view.days.push_back(DayView{name, dayNumberOfFileName(name), std::move(cached)});
    }
    openDayFiles(*files_, pending, key, scope, cache_);
    bool anyRead = false;
    for (PendingDayFile &item : pending) {
        if (!item.readings) {
            throw GlucoseHistoryError::unreadableHistory();
        }
        if (cache_ && item.read) {
            cache_->store(item.file, item.identity, key, scope, item.readings);
        }
        anyRead = anyRead || item.read;
        view.days[item.index].readings = std::move(item.readings);
    }
    if (cache_) {
        cache_->retainOnly(directory_, names);
        if (anyRead) {
            cache_->setCanonical(directory_, false);
        }
        view.canonical = !anyRead && cache_->isCanonical(directory_);
    }
    return view;
}

GlucoseHistoryAccount::StoredReadings GlucoseHistoryAccount::readAllStoredReadings()
{
    return readDays().flattened();
}

GlucoseHistoryAccount::StoredReadings GlucoseHistoryAccount::mergeStoredReadings(StoredReadings readings)
{
    // Readings that the clean-up would drop never take part, so an invalid reading cannot
    // displace a valid one of the same date.
    std::erase_if(readings, [](const StoredReading &stored) {
        return !isStorableReading(stored.reading) || std::isnan(stored.fetchedAt);
    });

    // Sort by date, then reading order. Saved readings arrive sorted with a few new ones behind
    // them: sort only the unsorted tail and merge it in.
    const auto sortedEnd = std::is_sorted_until(readings.begin(), readings.end(), dateThenReadingOrder);
    if (sortedEnd != readings.end()) {
        std::sort(sortedEnd, readings.end(), dateThenReadingOrder);
        StoredReadings ordered;
        ordered.reserve(readings.size());
        std::merge(std::make_move_iterator(readings.begin()), std::make_move_iterator(sortedEnd),
                   std::make_move_iterator(sortedEnd), std::make_move_iterator(readings.end()),
                   std::back_inserter(ordered), dateThenReadingOrder);
        readings = std::move(ordered);
    }

    // Per reading date the last of its run is the one fetched last (then higher mgdL, then later
    // trend text).
    StoredReadings winners;
    winners.reserve(readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (i + 1 < readings.size() && readings[i + 1].reading.date == readings[i].reading.date) {
            continue;
        }
        winners.push_back(std::move(readings[i]));
    }

    // The shared clean-up decides what else to drop (repeats within 30 s).
    GlucoseReadings plain;
    plain.reserve(winners.size());
    for (const auto &stored : winners) {
        plain.push_back(stored.reading);
    }
    const GlucoseReadings cleaned = normalizedGlucoseReadings(plain);
    if (cleaned.size() == winners.size()) {
        return winners;
    }
    StoredReadings result;
    result.reserve(cleaned.size());
    std::size_t cursor = 0;
    for (const GlucoseReading &reading : cleaned) {
        while (cursor < winners.size() && winners[cursor].reading.date != reading.date) {
            ++cursor;
        }
        if (cursor == winners.size()) {
            break;
        }
        result.push_back(std::move(winners[cursor++]));
    }
    return result;
}

std::map<std::int64_t, GlucoseHistoryAccount::StoredReadings> GlucoseHistoryAccount::groupByDay(const StoredReadings &readings)
{
    std::map<std::int64_t, StoredReadings> days;
    for (const auto &stored : readings) {
        if (const auto day = historyDayNumber(stored.reading.date)) {
            days[*day].push_back(stored);
        }
    }
    return days;
}

GlucoseHistoryAccount::DayMap GlucoseHistoryAccount::dayMap(const StoredReadings &readings)
{
    DayMap days;
    for (auto &[day, list] : groupByDay(readings)) {
        days.emplace(day, std::make_shared<const StoredReadings>(std::move(list)));
    }
    return days;
}

GlucoseHistoryAccount::DayMap GlucoseHistoryAccount::dayMap(const FolderView &view)
{
    DayMap days;
    for (const auto &day : view.days) {
        if (day.day) {
            days.emplace(*day.day, day.readings);
        }
    }
    return days;
}

GlucoseHistoryAccount::FolderView GlucoseHistoryAccount::viewOf(const DayMap &days, bool canonical)
{
    FolderView view;
    view.canonical = canonical;
    for (const auto &[day, readings] : days) {
        view.days.push_back(DayView{historyDayFileName(day), day, readings});
    }
    return view;
}

bool GlucoseHistoryAccount::hasDayLayout(const FolderView &view)
{
    std::optional<std::int64_t> previous;
    for (const auto &day : view.days) {
        if (!day.day || (previous && *day.day <= *previous) || day.readings->empty()) {
            return false;
        }
        for (const auto &stored : *day.readings) {
            if (historyDayNumber(stored.reading.date) != day.day) {
                return false;
            }
        }
        previous = day.day;
    }
    return true;
}

void GlucoseHistoryAccount::writeDays(const DayMap &next, const DayMap &previous, const QByteArray &key,
                                      bool canonicalAfter)
{
    if (!configuration_ || !configuration_->accountScope) {
        throw GlucoseHistoryError::accountRequired();
    }
    const std::string scope = *configuration_->accountScope;
    mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        if (cache_) {
            cache_->setCanonical(directory_, false);   // until every step below has succeeded
        }
        std::set<std::string> noted;
        for (const auto &[day, readings] : next) {
            const std::string name = historyDayFileName(day);
            noted.insert(name);
            const auto before = previous.find(day);
            if (before != previous.end() && (before->second == readings || *before->second == *readings)) {
                continue;
            }
            const fs::path target = directory_ / name;
            const QByteArray plaintext = encodeHistoryDayFile(1, history_files::daySource, scope, *readings);
            const QByteArray sealed = sealHistory(plaintext, key, historyAssociatedData(target));
            if (cache_) {
                cache_->forget(target);
            }
            files_->writeAtomically(sealed, target);
            if (cache_) {
                if (const std::optional<HistoryFileIdentity> identity = files_->fileIdentity(target)) {
                    cache_->store(target, *identity, key, scope, readings);
                }
            }
        }
        for (const fs::path &file : historyFileURLs()) {
            if (noted.count(file.filename().native()) == 0 && pathExists(file)) {
                if (cache_) {
                    cache_->forget(file);
                }
                fs::remove_all(file);
                files_->synchronizeDirectory(directory_);
            }
        }
        if (cache_ && canonicalAfter) {
            cache_->setCanonical(directory_, true);
        }
    });
}

void GlucoseHistoryAccount::writeDayFiles(const StoredReadings &readings, const StoredReadings &previous,
                                          const QByteArray &key)
{
    writeDays(dayMap(readings), dayMap(previous), key, false);
}

GlucoseHistoryAccount::FolderView GlucoseHistoryAccount::prunedDays(Date now)
{
    FolderView view = readDays();
    const GlucoseHistoryConfiguration &configuration = loaded();
    const auto kept = [&](const StoredReading &stored) { return configuration.keepsReadingAt(stored.reading.date, now); };

    if (view.canonical) {
        // A merged list is ascending by date, and both bounds are lower bounds on the date: what
        // retention removes is a run at the front, and what stays is still merged.
        DayMap next = dayMap(view);
        bool changed = false;
        for (auto day = next.begin(); day != next.end();) {
            const StoredReadings &readings = *day->second;
            const auto first = std::find_if(readings.begin(), readings.end(), kept);
            if (first == readings.begin()) {
                break;
            }
            changed = true;
            if (first == readings.end()) {
                day = next.erase(day);
                continue;
            }
            day->second = std::make_shared<const StoredReadings>(first, readings.end());
            break;
        }
        if (!changed) {
            return view;
        }
        writeDays(next, dayMap(view), loadOrCreateKey(false), true);
        return viewOf(next, true);
    }

    // Usually the files already hold a merged list that retention leaves whole (the first read
    // after a start): confirm that in place, without merging a copy of everything.
    if (hasMergedDayLayout(view, kept)) {
        if (cache_) {
            cache_->setCanonical(directory_, true);
            view.canonical = true;
        }
        return view;
    }

    const StoredReadings all = view.flattened();
    StoredReadings survivors;
    survivors.reserve(all.size());
    std::copy_if(all.begin(), all.end(), std::back_inserter(survivors), kept);
    StoredReadings merged = mergeStoredReadings(std::move(survivors));
    const bool layout = hasDayLayout(view);
    if (layout && merged.size() == all.size()) {
        if (cache_ && merged == all) {
            cache_->setCanonical(directory_, true);   // verified: the files already hold a merged list
            view.canonical = true;
            return view;
        }
        // Nothing removed, and every file holds exactly its own day's readings: nothing to write.
        return viewOf(dayMap(merged), false);
    }
    // Rewrite into one file per day. The days are compared with what each file holds, not with
    // where its readings belong: a reading kept in another day's file (written elsewhere, or
    // moved from the older layout) is written into its own day's file before the file that held
    // it is replaced or removed, and is never lost.
    const DayMap next = dayMap(merged);
    writeDays(next, dayMap(view), loadOrCreateKey(false), true);
    return viewOf(next, cache_ != nullptr);
}

template <typename Kept>
bool GlucoseHistoryAccount::hasMergedDayLayout(const FolderView &view, Kept &&kept)
{
    // hasDayLayout, and what mergeStoredReadings returns unchanged: every reading storable, with
    // a fetch time and a sample duration that are numbers, dates strictly ascending (one reading
    // per date, nothing to sort) and no reading repeating the one before it within 30 s (nothing
    // to clean up). One pass over the readings for both.
    const StoredReading *previous = nullptr;
    std::optional<std::int64_t> previousDay;
    for (const auto &day : view.days) {
        if (!day.day || (previousDay && *day.day <= *previousDay) || day.readings->empty()) {
            return false;
        }
        previousDay = day.day;
        for (const StoredReading &stored : *day.readings) {
            const GlucoseReading &reading = stored.reading;
            if (historyDayNumber(reading.date) != day.day || !kept(stored) || !isStorableReading(reading) ||
                std::isnan(stored.fetchedAt) || std::isnan(reading.sampleDuration)) {
                return false;
            }
            if (previous) {
                const GlucoseReading &last = previous->reading;
                if (!(last.date < reading.date) ||
                    (reading.date - last.date <= 30.0 && reading.mgdL == last.mgdL &&
                     reading.trendString == last.trendString)) {
                    return false;
                }
            }
            previous = &stored;
        }
    }
    return true;
}

GlucoseHistoryAccount::StoredReadings GlucoseHistoryAccount::prune(Date now)
{
    return prunedDays(now).flattened();
}

} // namespace quillby
