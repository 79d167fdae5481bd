#pragma once

#include "core/KeychainItemStoring.h"
#include "history/GlucoseHistoryAccount.h"
#include "history/GlucoseHistoryDayFileCache.h"
#include "history/GlucoseHistoryFileAccess.h"
#include "history/GlucoseHistoryRecords.h"
#include "history/GlucoseHistorySnapshot.h"
#include "history/GlucoseHistoryTypes.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillby {

// Makes the keyring item of one account folder (service "Quillby.history", account
// "encryption-key-v2-" + folder digest) from the folder digest.
using HistoryScopeKeychainFactory = std::function<std::unique_ptr<KeychainItemStoring>(const std::string &folderDigest)>;

// The saved-history root and its state: the manifest, the active account folder, deletion of
// everything, recovery from interrupted writes and deletions, and the move of the older
// single-account layout. Synchronous and not thread-safe: GlucoseHistoryStore runs every call
// on its one worker thread. Every operation may throw GlucoseHistoryError.
class GlucoseHistoryStoreCore {
public:
    GlucoseHistoryStoreCore(std::filesystem::path directory, std::shared_ptr<KeychainItemStoring> legacyKeychain,
                            HistoryScopeKeychainFactory keychainFactory, InsightsUnlockRule unlockRule,
                            std::shared_ptr<GlucoseHistoryFileAccess> files);

    // The operations of the store.
    GlucoseHistorySnapshot snapshot(Date now);
    GlucoseHistorySnapshot activateAccount(const std::optional<std::string> &scope, Date now);
    GlucoseHistorySnapshot enableCollection(Date now);
    GlucoseHistorySnapshot disableCollection(Date now);
    GlucoseHistorySnapshot setRetentionDays(int days, Date now);
    void append(const GlucoseReadings &readings, Date fetchedAt, const GlucoseHistoryCollectionToken &token, Date now);
    GlucoseHistorySnapshot deleteAllHistory(Date now);
    void prepareStorage();

    // Internal steps, public for tests.
    void loadManifest();
    void writeManifest(GlucoseHistoryManifest manifest);
    void registerScope(const std::string &folderDigest);
    void setAttachedScopeID(const std::optional<std::string> &folderDigest);
    GlucoseHistoryAccount &requireActiveAccount(Date now);
    std::unique_ptr<GlucoseHistoryAccount> makeAccount(const std::string &scope);
    GlucoseHistorySnapshot detachedSnapshot() const;
    std::vector<std::string> scopeDirectories() const;
    void purge();
    void pruneInactiveAccounts(Date now);

    // The move of the older single-account layout (configuration and day files in the root).
    void migrateLegacyLayoutIfNeeded();
    std::vector<std::filesystem::path> listHistoryFiles(const std::filesystem::path &directory) const;
    void migrateLegacyKey(const std::string &folderDigest, bool required);
    void copyLegacyDayFiles(const std::vector<std::filesystem::path> &legacyDayFiles,
                            const std::filesystem::path &legacyConfiguration,
                            const std::filesystem::path &folder);
    void deleteLegacyFiles();

    const std::filesystem::path &directory() const { return directory_; }
    const std::optional<GlucoseHistoryManifest> &manifest() const { return manifest_; }
    bool needsManifestWrite() const { return needsManifestWrite_; }
    const std::optional<std::string> &activeScope() const { return activeScope_; }
    GlucoseHistoryAccount *activeAccount() const { return activeAccount_.get(); }
    std::filesystem::path accountDirectory(const std::string &folderDigest) const;

private:
    std::filesystem::path directory_;
    std::shared_ptr<KeychainItemStoring> keychain_;
    HistoryScopeKeychainFactory keychainFactory_;
    InsightsUnlockRule unlockRule_;
    std::shared_ptr<GlucoseHistoryFileAccess> files_;
    std::optional<GlucoseHistoryManifest> manifest_;
    bool needsManifestWrite_ = false;
    std::optional<std::string> activeScope_;
    std::unique_ptr<GlucoseHistoryAccount> activeAccount_;
    GlucoseHistoryDayFileCache cache_;
};

} // namespace quillby
