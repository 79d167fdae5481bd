#include "history/GlucoseHistoryAccount.h"

#include "history/GlucoseHistoryAccountSupport.h"
#include "history/HistorySealing.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <algorithm>
#include <limits>
#include <ranges>

namespace quillby {

namespace fs = std::filesystem;
using namespace history_detail;

fs::path GlucoseHistoryAccount::configurationURL() const
{
    return directory_ / history_files::configuration;
}

GlucoseHistoryConfiguration &GlucoseHistoryAccount::loaded()
{
    if (!configuration_) {
        loadConfiguration();
    }
    return *configuration_;
}

bool GlucoseHistoryAccount::readingOrder(const StoredReading &a, const StoredReading &b)
{
    if (a.fetchedAt != b.fetchedAt) {
        return a.fetchedAt < b.fetchedAt;
    }
    if (a.reading.date != b.reading.date) {
        return a.reading.date < b.reading.date;
    }
    if (a.reading.mgdL != b.reading.mgdL) {
        return a.reading.mgdL < b.reading.mgdL;
    }
    return a.reading.trendString < b.reading.trendString;
}

// MARK: - Configuration

void GlucoseHistoryAccount::loadConfiguration()
{
    if (configuration_) {
        return;
    }
    // Day files without their settings make the folder unreadable.
    configuration_ = readPlainRecord<GlucoseHistoryConfiguration>(*files_, configurationURL(),
                                                                  [this] { return !historyFileURLs().empty(); });
}

void GlucoseHistoryAccount::writeConfiguration(GlucoseHistoryConfiguration configuration)
{
    configuration_ = std::move(configuration);
    needsConfigurationWrite_ = true;
    mappingFailures(GlucoseHistoryError::Case::storageFailure,
                    [&] { files_->writeAtomically(history_json::encode(configuration_->toJSON()), configurationURL()); });
    needsConfigurationWrite_ = false;
}

void GlucoseHistoryAccount::prepareFolder()
{
    loadConfiguration();
    if (needsConfigurationWrite_) {
        writeConfiguration(*configuration_);
    }
    if (configuration_->pendingDeletion) {
        throw GlucoseHistoryError::deletionIncomplete();
    }
    mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        removeEntriesIn(directory_, *files_,
                        [](const fs::path &entry) { return hasExtension(entry, history_files::temporaryExtension); });
    });
}

// MARK: - Key

QByteArray GlucoseHistoryAccount::loadOrCreateKey(bool create)
{
    const KeychainItemReadResult result = keychain_->read();
    switch (result.kind) {
    case KeychainItemReadResult::Kind::status:
        throw GlucoseHistoryError::keychainFailure();
    case KeychainItemReadResult::Kind::data:
        if (result.bytes.size() != kHistoryKeySize) {
            throw GlucoseHistoryError::unavailableKey();
        }
        return result.bytes;
    case KeychainItemReadResult::Kind::notFound:
        break;
    }
    const bool neverConsented = !configuration_ || !configuration_->consentVersion.has_value();
    if (create && neverConsented && historyFileURLs().empty()) {
        const QByteArray key = mappingFailures(GlucoseHistoryError::Case::keychainFailure, [] { return makeHistoryKey(); });
        if (keychain_->write(key) != keychain_status::success) {
            throw GlucoseHistoryError::keychainFailure();
        }
        return key;
    }
    // An account that consented before, or that has sealed files, never gets a new key silently.
    throw GlucoseHistoryError::unavailableKey();
}

// MARK: - Operations

SharedGlucoseReadings GlucoseHistoryAccount::snapshotReadings(const FolderView &view)
{
    // The day lists are shared with the memo of opened files and replaced, never changed, when a
    // day changes: the same lists in the same order hold the same readings. They are remembered
    // weakly, and a remembered list is never mistaken for a newer one at its address.
    const auto same = [](const DayView &day, const std::weak_ptr<const StoredReadings> &source) {
        return !source.owner_before(day.readings) && !day.readings.owner_before(source);
    };
    const bool unchanged = snapshotSource_.size() == view.days.size() &&
                           std::equal(view.days.begin(), view.days.end(), snapshotSource_.begin(), same);
    if (unchanged) {
        return snapshotReadings_;
    }
    snapshotSource_.clear();
    snapshotReadings_ = SharedGlucoseReadings();   // the old list goes before the new one is built
    GlucoseReadings readings;
    readings.reserve(view.count());
    for (const auto &day : view.days) {
        const auto plain = std::views::transform(*day.readings, &StoredReading::reading);
        readings.insert(readings.end(), plain.begin(), plain.end());   // one size check a day
    }
    snapshotReadings_ = SharedGlucoseReadings(std::move(readings));
    snapshotSource_.reserve(view.days.size());
    for (const auto &day : view.days) {
        snapshotSource_.emplace_back(day.readings);
    }
    return snapshotReadings_;
}

GlucoseHistorySnapshot GlucoseHistoryAccount::snapshot(Date now)
{
    const FolderView view = prunedDays(now);
    GlucoseHistorySnapshot snapshot;
    snapshot.readings = snapshotReadings(view);
    GlucoseHistoryConfiguration &configuration = loaded();
    if (!configuration.insightsUnlockedAt &&
        unlockRule_(snapshot.readings, configuration.collectionStartedAt, now)) {
        GlucoseHistoryConfiguration unlocked = configuration;
        unlocked.insightsUnlockedAt = now;
        writeConfiguration(std::move(unlocked));
    }
    snapshot.configuration = *configuration_;
    return snapshot;
}

void GlucoseHistoryAccount::attach(const std::string &scope, std::optional<Date> collectionCutoff,
                                   bool continuesInterval, Date now)
{
    prepareFolder();
    const GlucoseHistoryConfiguration &configuration = *configuration_;
    if (configuration.accountScope && *configuration.accountScope != scope) {
        throw GlucoseHistoryError::invalidConfiguration();
    }
    if (configuration.consentVersion) {
        loadOrCreateKey(false);
    }
    writeConfiguration(configuration.attachedTo(scope, collectionCutoff, continuesInterval, now));
}

GlucoseHistorySnapshot GlucoseHistoryAccount::enableCollection(Date now)
{
    prepareFolder();
    if (!configuration_->accountScope) {
        throw GlucoseHistoryError::accountRequired();
    }
    if (configuration_->isEnabled) {
        return snapshot(now);
    }
    loadOrCreateKey(true);
    writeConfiguration(configuration_->enabledForCollection(now));
    return snapshot(now);
}

GlucoseHistorySnapshot GlucoseHistoryAccount::setRetentionDays(int days, Date now)
{
    if (!GlucoseHistoryConfiguration::isRetentionChoice(days)) {
        throw GlucoseHistoryError::invalidRetention();
    }
    prepareFolder();
    GlucoseHistoryConfiguration configuration = *configuration_;
    configuration.retentionDays = days;
    writeConfiguration(std::move(configuration));
    return snapshot(now);
}

void GlucoseHistoryAccount::append(const GlucoseReadings &readings, Date fetchedAt,
                                   const GlucoseHistoryCollectionToken &token, Date now)
{
    prepareFolder();
    const GlucoseHistoryConfiguration &configuration = *configuration_;
    if (!configuration.isEnabled || configuration.pendingDeletion || token.epoch != configuration.epoch ||
        !configuration.accountScope || *configuration.accountScope != token.accountScope ||
        !configuration.collectionIntervalStart || !std::isfinite(*configuration.collectionIntervalStart)) {
        return;
    }
    // A fetch time that is not finite could not be written as JSON; such a batch is not saved.
    if (!std::isfinite(fetchedAt)) {
        return;
    }
    StoredReadings accepted;
    for (const auto &reading : readings) {
        if (configuration.acceptsReading(reading, now)) {
            accepted.push_back(StoredReading{reading, fetchedAt});
            accepted.back().reading.sampleDuration = storedSampleDuration(reading.sampleDuration);
        }
    }
    if (accepted.empty()) {
        return;
    }
    const FolderView existing = prunedDays(now);
    if (existing.canonical) {
        // Merging is local: one reading per date, and the clean-up only compares a reading with
        // the one kept before it, 30 s at most. Re-merging the days the batch touches, with the
        // day before and after as context, gives what merging everything would give.
        std::int64_t first = std::numeric_limits<std::int64_t>::max();
        std::int64_t last = std::numeric_limits<std::int64_t>::min();
        for (const auto &stored : accepted) {
            const std::int64_t day = *historyDayNumber(stored.reading.date);
            first = std::min(first, day);
            last = std::max(last, day);
        }
        const DayMap previous = dayMap(existing);
        DayMap next = previous;
        StoredReadings window;
        for (auto day = next.lower_bound(first - 1); day != next.end() && day->first <= last + 1;) {
            window.insert(window.end(), day->second->begin(), day->second->end());
            day = next.erase(day);
        }
        window.insert(window.end(), std::make_move_iterator(accepted.begin()), std::make_move_iterator(accepted.end()));
        for (auto &[day, readings] : dayMap(mergeStoredReadings(std::move(window)))) {
            next[day] = std::move(readings);
        }
        writeDays(next, previous, loadOrCreateKey(true), true);
        return;
    }
    const StoredReadings existingReadings = existing.flattened();
    StoredReadings combined;
    combined.reserve(existingReadings.size() + accepted.size());
    combined.insert(combined.end(), existingReadings.begin(), existingReadings.end());
    combined.insert(combined.end(), std::make_move_iterator(accepted.begin()), std::make_move_iterator(accepted.end()));
    const StoredReadings merged = mergeStoredReadings(std::move(combined));
    writeDays(dayMap(merged), dayMap(existingReadings), loadOrCreateKey(true), false);
}

} // namespace quillby
