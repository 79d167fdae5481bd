#include "history/GlucoseHistoryStoreCore.h"

#include "history/GlucoseHistoryAccountSupport.h"
#include "history/GlucoseHistoryError.h"
#include "history/HistoryDigest.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <algorithm>
#include <limits>

namespace quillby {

namespace fs = std::filesystem;

using namespace history_detail;

GlucoseHistoryStoreCore::GlucoseHistoryStoreCore(fs::path directory, std::shared_ptr<KeychainItemStoring> legacyKeychain,
                                                 HistoryScopeKeychainFactory keychainFactory,
                                                 InsightsUnlockRule unlockRule,
                                                 std::shared_ptr<GlucoseHistoryFileAccess> files)
    : directory_(std::move(directory)),
      keychain_(std::move(legacyKeychain)),
      keychainFactory_(std::move(keychainFactory)),
      unlockRule_(std::move(unlockRule)),
      files_(std::move(files))
{
}

fs::path GlucoseHistoryStoreCore::accountDirectory(const std::string &folderDigest) const
{
    return directory_ / history_files::accounts / folderDigest;
}

// MARK: - Manifest

void GlucoseHistoryStoreCore::loadManifest()
{
    if (manifest_) {
        return;
    }
    // Account folders without their manifest make the store unreadable.
    manifest_ = readPlainRecord<GlucoseHistoryManifest>(*files_, directory_ / history_files::manifest,
                                                        [this] { return !scopeDirectories().empty(); });
}

void GlucoseHistoryStoreCore::writeManifest(GlucoseHistoryManifest manifest)
{
    manifest_ = std::move(manifest);
    needsManifestWrite_ = true;
    mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] { files_->writeAtomically(history_json::encode(manifest_->toJSON()), directory_ / history_files::manifest); });
    needsManifestWrite_ = false;
}

void GlucoseHistoryStoreCore::registerScope(const std::string &folderDigest)
{
    loadManifest();
    if (std::find(manifest_->scopes.begin(), manifest_->scopes.end(), folderDigest) != manifest_->scopes.end()) {
        return;
    }
    GlucoseHistoryManifest manifest = *manifest_;
    manifest.scopes.push_back(folderDigest);
    std::sort(manifest.scopes.begin(), manifest.scopes.end());
    writeManifest(std::move(manifest));
}

void GlucoseHistoryStoreCore::setAttachedScopeID(const std::optional<std::string> &folderDigest)
{
    loadManifest();
    if (manifest_->attachedScopeID == folderDigest) {
        return;
    }
    GlucoseHistoryManifest manifest = *manifest_;
    manifest.attachedScopeID = folderDigest;
    writeManifest(std::move(manifest));
}

std::vector<std::string> GlucoseHistoryStoreCore::scopeDirectories() const
{
    return mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        std::vector<std::string> names;
        const fs::path accounts = directory_ / history_files::accounts;
        if (!pathExists(accounts)) {
            return names;
        }
        for (const auto &entry : fs::directory_iterator(accounts)) {
            const std::string name = entry.path().filename().native();
            if (isFolderDigest(name)) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    });
}

// MARK: - Preparation and accounts

void GlucoseHistoryStoreCore::prepareStorage()
{
    std::error_code error;
    if (fs::is_directory(directory_, error)) {
        files_->excludeFromBackup(directory_);   // restores the marks when someone removed them
    }
    loadManifest();
    if (needsManifestWrite_) {
        writeManifest(*manifest_);
    }
    if (manifest_->pendingDeletion) {
        purge();
    }
    mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        removeEntriesIn(directory_, *files_,
                        [](const fs::path &entry) { return hasExtension(entry, history_files::temporaryExtension); });
    });
}

std::unique_ptr<GlucoseHistoryAccount> GlucoseHistoryStoreCore::makeAccount(const std::string &scope)
{
    const std::string digest = sha256Digest(scope);
    registerScope(digest);
    return std::make_unique<GlucoseHistoryAccount>(accountDirectory(digest),
                                                   std::shared_ptr<KeychainItemStoring>(keychainFactory_(digest)),
                                                   files_, unlockRule_, &cache_);
}

GlucoseHistoryAccount &GlucoseHistoryStoreCore::requireActiveAccount(Date now)
{
    if (!activeScope_) {
        throw GlucoseHistoryError::accountRequired();
    }
    if (activeAccount_) {
        return *activeAccount_;
    }
    loadManifest();
    std::unique_ptr<GlucoseHistoryAccount> account = makeAccount(*activeScope_);
    account->attach(*activeScope_, manifest_->collectionCutoff, false, now);
    setAttachedScopeID(sha256Digest(*activeScope_));
    activeAccount_ = std::move(account);
    return *activeAccount_;
}

GlucoseHistorySnapshot GlucoseHistoryStoreCore::detachedSnapshot() const
{
    GlucoseHistorySnapshot snapshot;
    if (manifest_) {
        snapshot.configuration.collectionCutoff = manifest_->collectionCutoff;
        snapshot.configuration.pendingDeletion = manifest_->pendingDeletion;
    }
    return snapshot;
}

void GlucoseHistoryStoreCore::pruneInactiveAccounts(Date now)
{
    loadManifest();
    bool legacyConfigurationExists = true;
    try {
        legacyConfigurationExists = pathExists(directory_ / history_files::configuration);
    } catch (...) {
    }
    if (manifest_->legacyMigrationScope || legacyConfigurationExists) {
        return;   // an older layout is not moved yet
    }
    const std::optional<std::string> activeDigest =
        activeScope_ ? std::optional<std::string>(sha256Digest(*activeScope_)) : std::nullopt;
    const std::vector<std::string> scopes = manifest_->scopes;
    for (const std::string &digest : scopes) {
        if (digest == activeDigest) {
            continue;
        }
        try {
            GlucoseHistoryAccount account(accountDirectory(digest), std::shared_ptr<KeychainItemStoring>(keychainFactory_(digest)),
                                          files_, unlockRule_, &cache_);
            account.prepareFolder();
            account.prune(now);
        } catch (...) {
            // One unreadable folder does not keep the others from being pruned.
        }
    }
}

// MARK: - Operations

GlucoseHistorySnapshot GlucoseHistoryStoreCore::snapshot(Date now)
{
    prepareStorage();
    if (!activeScope_) {
        pruneInactiveAccounts(now);
        return detachedSnapshot();
    }
    migrateLegacyLayoutIfNeeded();
    GlucoseHistoryAccount &account = requireActiveAccount(now);
    account.prepareFolder();
    GlucoseHistorySnapshot result = account.snapshot(now);
    pruneInactiveAccounts(now);
    return result;
}

GlucoseHistorySnapshot GlucoseHistoryStoreCore::activateAccount(const std::optional<std::string> &scope, Date now)
{
    if (scope && activeScope_ && *scope == *activeScope_) {
        return snapshot(now);
    }

    // Detach: tokens of the old account become invalid and its collection interval ends.
    std::unique_ptr<GlucoseHistoryAccount> previous = std::move(activeAccount_);
    activeAccount_.reset();
    activeScope_.reset();
    if (previous) {
        previous->prepareFolder();
        previous->writeConfiguration(previous->configuration()->detached());
    }

    prepareStorage();
    if (!scope) {
        setAttachedScopeID(std::nullopt);
        return detachedSnapshot();
    }
    migrateLegacyLayoutIfNeeded();
    const std::string digest = sha256Digest(*scope);
    std::unique_ptr<GlucoseHistoryAccount> account = makeAccount(*scope);
    // The day files are opened while the configuration is written and flushed.
    account->prefetchDays(*scope);
    const bool continuesInterval = manifest_->attachedScopeID == digest;
    account->attach(*scope, manifest_->collectionCutoff, continuesInterval, now);
    account->prepareFolder();
    GlucoseHistorySnapshot result = account->snapshot(now);
    setAttachedScopeID(digest);
    activeScope_ = scope;
    activeAccount_ = std::move(account);
    pruneInactiveAccounts(now);
    return result;
}

GlucoseHistorySnapshot GlucoseHistoryStoreCore::enableCollection(Date now)
{
    prepareStorage();
    return requireActiveAccount(now).enableCollection(now);
}

GlucoseHistorySnapshot GlucoseHistoryStoreCore::setRetentionDays(int days, Date now)
{
    prepareStorage();
    return requireActiveAccount(now).setRetentionDays(days, now);
}

GlucoseHistorySnapshot GlucoseHistoryStoreCore::disableCollection(Date now)
{
    prepareStorage();
    if (!activeScope_) {
        return detachedSnapshot();
    }
    GlucoseHistoryAccount &account = requireActiveAccount(now);
    account.prepareFolder();
    account.writeConfiguration(account.configuration()->disabledForCollection());
    return account.snapshot(now);
}

void GlucoseHistoryStoreCore::append(const GlucoseReadings &readings, Date fetchedAt,
                                     const GlucoseHistoryCollectionToken &token, Date now)
{
    prepareStorage();
    if (activeScope_ && *activeScope_ == token.accountScope && activeAccount_) {
        activeAccount_->append(readings, fetchedAt, token, now);
    }
}

// MARK: - Deleting everything

GlucoseHistorySnapshot GlucoseHistoryStoreCore::deleteAllHistory(Date now)
{
    activeAccount_.reset();
    try {
        loadManifest();
    } catch (const GlucoseHistoryError &error) {
        if (error.kind != GlucoseHistoryError::Case::invalidConfiguration) {
            throw;
        }
        manifest_ = GlucoseHistoryManifest();   // an unreadable manifest is replaced
    }
    GlucoseHistoryManifest manifest = *manifest_;
    std::vector<std::string> scopes = manifest.scopes;
    for (const std::string &digest : scopeDirectories()) {
        scopes.push_back(digest);
    }
    std::sort(scopes.begin(), scopes.end());
    scopes.erase(std::unique(scopes.begin(), scopes.end()), scopes.end());
    manifest.scopes = std::move(scopes);
    manifest.collectionCutoff = std::max(now, manifest.collectionCutoff.value_or(-std::numeric_limits<double>::infinity()));
    manifest.pendingDeletion = true;
    writeManifest(std::move(manifest));   // recorded before anything is deleted

    purge();

    if (!activeScope_) {
        return detachedSnapshot();
    }
    GlucoseHistoryAccount &account = requireActiveAccount(now);
    account.prepareFolder();
    return account.snapshot(now);
}

void GlucoseHistoryStoreCore::purge()
{
    loadManifest();
    if (!manifest_->pendingDeletion) {
        return;
    }
    try {
        cache_.clear();
        const fs::path accounts = directory_ / history_files::accounts;
        for (const std::string &digest : manifest_->scopes) {
            const fs::path folder = accounts / digest;
            if (pathExists(folder)) {
                fs::remove_all(folder);
                files_->synchronizeDirectory(accounts);
            }
            const std::int32_t status = keychainFactory_(digest)->remove();
            if (status != keychain_status::success && status != keychain_status::itemNotFound) {
                throw GlucoseHistoryError::deletionIncomplete();
            }
        }
        removeEntriesIn(directory_, *files_,
                        [](const fs::path &entry) {
                            // The manifest and the backup marks stay: the folder is still ours.
                            const fs::path name = entry.filename();
                            return name != history_files::manifest && name != backup_exclusion::cacheDirectoryTag &&
                                   name != backup_exclusion::dejaDupIgnore;
                        });
        const std::int32_t legacyStatus = keychain_->remove();
        if (legacyStatus != keychain_status::success && legacyStatus != keychain_status::itemNotFound) {
            throw GlucoseHistoryError::deletionIncomplete();
        }
        GlucoseHistoryManifest manifest = *manifest_;
        manifest.pendingDeletion = false;
        manifest.scopes.clear();
        manifest.attachedScopeID.reset();
        manifest.legacyMigrationScope.reset();
        writeManifest(std::move(manifest));
    } catch (...) {
        throw GlucoseHistoryError::deletionIncomplete();
    }
}

} // namespace quillby
