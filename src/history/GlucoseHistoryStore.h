#pragma once

#include "history/GlucoseHistoryStoreCore.h"
#include "history/GlucoseHistoryStoring.h"

#include <QThreadPool>

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace quillby {

// The saved-history store actor. Owns the history root; every operation runs on one dedicated
// worker thread, in the order the calls were made, and is awaited from the main loop. The
// store must outlive the tasks it hands out; destroying it waits for work already queued.
class GlucoseHistoryStore final : public GlucoseHistoryStoring {
public:
    // directory: the history root; legacyKeychain: item "encryption-key-v1" of service
    // "Quillby.history"; keychainFactory: the item of one folder digest; unlockRule: when the
    // Insights unlock is recorded (insightsMinimumDatasetReached); files: crash-safe file
    // operations (LocalGlucoseHistoryFileAccess when not given).
    GlucoseHistoryStore(std::filesystem::path directory, std::shared_ptr<KeychainItemStoring> legacyKeychain,
                        HistoryScopeKeychainFactory keychainFactory, InsightsUnlockRule unlockRule,
                        std::shared_ptr<GlucoseHistoryFileAccess> files = nullptr);
    ~GlucoseHistoryStore() override;

    GlucoseHistoryStore(const GlucoseHistoryStore &) = delete;
    GlucoseHistoryStore &operator=(const GlucoseHistoryStore &) = delete;

    QCoro::Task<GlucoseHistorySnapshot> snapshot(Date now) override;
    QCoro::Task<GlucoseHistorySnapshot> activateAccount(std::optional<std::string> scope, Date now) override;
    QCoro::Task<GlucoseHistorySnapshot> enableCollection(Date now) override;
    QCoro::Task<GlucoseHistorySnapshot> disableCollection(Date now) override;
    QCoro::Task<GlucoseHistorySnapshot> setRetentionDays(int days, Date now) override;
    QCoro::Task<void> append(GlucoseReadings readings, Date fetchedAt, GlucoseHistoryCollectionToken token,
                             Date now) override;
    QCoro::Task<GlucoseHistorySnapshot> deleteAllHistory(Date now) override;
    QCoro::Task<void> prepareStorage() override;

    const std::filesystem::path &directory() const { return directory_; }

private:
    template <typename Result, typename Work>
    QCoro::Task<Result> run(Work work);

    std::filesystem::path directory_;
    std::unique_ptr<GlucoseHistoryStoreCore> core_;
    QThreadPool worker_;   // declared after core_: destroyed (and drained) first
};

// The history root of this user: the XDG data folder + "/Quillby/History".
std::filesystem::path defaultHistoryRootDirectory();

// The store of this user: the history root (under ~/.local/share when no data folder is
// reported) and its keys in the system keyring, service "Quillby.history".
std::shared_ptr<GlucoseHistoryStore> makeUserHistoryStore(InsightsUnlockRule unlockRule);

} // namespace quillby
