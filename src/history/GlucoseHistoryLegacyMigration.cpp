// The move of the older single-account layout: "configuration.json" and sealed day files kept
// directly in the history root, sealed with the key of item "encryption-key-v1". The move copies
// the key to the scope's item and the files into the scope's folder, records the finished copy
// in the manifest ("legacyMigrationScope"), deletes the old files and key, and clears the record.
// Until the record is written nothing of the old layout changes, and every copying step can be
// repeated, so a crash at any point loses nothing and the next run completes the move.

#include "history/GlucoseHistoryStoreCore.h"

#include "history/GlucoseHistoryAccountSupport.h"
#include "history/GlucoseHistoryError.h"
#include "history/HistoryDigest.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <algorithm>
#include <limits>
#include <set>

namespace quillby {

namespace fs = std::filesystem;

using namespace history_detail;

std::vector<fs::path> GlucoseHistoryStoreCore::listHistoryFiles(const fs::path &directory) const
{
    return dayFilesIn(directory);
}

void GlucoseHistoryStoreCore::migrateLegacyLayoutIfNeeded()
{
    loadManifest();
    if (manifest_->legacyMigrationScope) {
        // The copy finished earlier; only the deletion may be left.
        deleteLegacyFiles();
        GlucoseHistoryManifest manifest = *manifest_;
        manifest.legacyMigrationScope.reset();
        writeManifest(std::move(manifest));
        return;
    }

    const std::vector<fs::path> legacyDayFiles = listHistoryFiles(directory_);
    const fs::path legacyConfigurationURL = directory_ / history_files::configuration;
    bool hasConfiguration = false;
    try {
        hasConfiguration = pathExists(legacyConfigurationURL);
    } catch (...) {
        throw GlucoseHistoryError::invalidConfiguration();
    }
    if (!hasConfiguration && legacyDayFiles.empty()) {
        return;
    }

    // From here a missing configuration is unreadable: day files without their settings, or
    // settings removed since they were seen.
    const GlucoseHistoryConfiguration legacy =
        readPlainRecord<GlucoseHistoryConfiguration>(*files_, legacyConfigurationURL, [] { return true; });

    if (!legacy.pendingDeletion && legacy.accountScope) {
        // Every legacy day file must open with the legacy key and belong to the legacy scope.
        GlucoseHistoryAccount legacyAccount(directory_, keychain_, files_, unlockRule_);
        legacyAccount.loadConfiguration();
        legacyAccount.readAllStoredReadings();

        const std::string digest = sha256Digest(*legacy.accountScope);
        const fs::path folder = accountDirectory(digest);
        registerScope(digest);
        migrateLegacyKey(digest, legacy.consentVersion.has_value() || !legacyDayFiles.empty());
        copyLegacyDayFiles(legacyDayFiles, legacyConfigurationURL, folder);

        GlucoseHistoryManifest marked = *manifest_;
        marked.legacyMigrationScope = digest;
        writeManifest(std::move(marked));

        deleteLegacyFiles();

        GlucoseHistoryManifest finished = *manifest_;
        finished.legacyMigrationScope.reset();
        writeManifest(std::move(finished));
        return;
    }

    if (legacy.pendingDeletion || legacyDayFiles.empty()) {
        // Nothing to move: carry a deletion cutoff forward and remove the old layout.
        if (legacy.collectionCutoff) {
            GlucoseHistoryManifest manifest = *manifest_;
            const Date stored = manifest.collectionCutoff.value_or(-std::numeric_limits<double>::infinity());
            manifest.collectionCutoff = std::max(*legacy.collectionCutoff, stored);
            writeManifest(std::move(manifest));
        }
        deleteLegacyFiles();
        return;
    }

    throw GlucoseHistoryError::invalidConfiguration();   // day files of no known account
}

void GlucoseHistoryStoreCore::migrateLegacyKey(const std::string &folderDigest, bool required)
{
    const KeychainItemReadResult legacy = keychain_->read();
    if (legacy.kind == KeychainItemReadResult::Kind::status) {
        throw GlucoseHistoryError::keychainFailure();
    }
    if (legacy.kind == KeychainItemReadResult::Kind::notFound) {
        if (required) {
            throw GlucoseHistoryError::unavailableKey();
        }
        return;
    }
    if (legacy.bytes.size() != 32) {
        throw GlucoseHistoryError::unavailableKey();
    }
    const std::unique_ptr<KeychainItemStoring> target = keychainFactory_(folderDigest);
    const KeychainItemReadResult current = target->read();
    switch (current.kind) {
    case KeychainItemReadResult::Kind::data:
        if (current.bytes != legacy.bytes) {
            throw GlucoseHistoryError::unavailableKey();   // never written over a different key
        }
        return;
    case KeychainItemReadResult::Kind::notFound:
        if (target->write(legacy.bytes) != keychain_status::success) {
            throw GlucoseHistoryError::keychainFailure();
        }
        return;
    case KeychainItemReadResult::Kind::status:
        throw GlucoseHistoryError::keychainFailure();
    }
}

void GlucoseHistoryStoreCore::copyLegacyDayFiles(const std::vector<fs::path> &legacyDayFiles,
                                                 const fs::path &legacyConfiguration, const fs::path &folder)
{
    mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        std::set<std::string> names;
        for (const auto &file : legacyDayFiles) {
            names.insert(file.filename().native());
        }
        if (pathExists(folder)) {
            for (const auto &entry : fs::directory_iterator(folder)) {
                if (hasExtension(entry.path(), history_files::dayFileExtension) &&
                    names.count(entry.path().filename().native()) == 0) {
                    throw GlucoseHistoryError::unreadableHistory();   // the folder has days the old layout lacks
                }
            }
        }
        std::vector<fs::path> sources{legacyConfiguration};
        sources.insert(sources.end(), legacyDayFiles.begin(), legacyDayFiles.end());
        for (const auto &source : sources) {
            const QByteArray bytes = files_->readFile(source);
            const fs::path destination = folder / source.filename();
            if (!pathExists(destination)) {
                files_->writeAtomically(bytes, destination);
            } else if (files_->readFile(destination) != bytes) {
                throw GlucoseHistoryError::unreadableHistory();
            }
        }
    });
}

void GlucoseHistoryStoreCore::deleteLegacyFiles()
{
    mappingFailures(GlucoseHistoryError::Case::storageFailure, [&] {
        removeEntriesIn(directory_, *files_, [](const fs::path &entry) {
            return hasExtension(entry, history_files::dayFileExtension) ||
                   hasExtension(entry, history_files::temporaryExtension);
        });
        const std::int32_t status = keychain_->remove();
        if (status != keychain_status::success && status != keychain_status::itemNotFound) {
            throw GlucoseHistoryError::keychainFailure();
        }
        // Last: while any old day file or the old key remains, the old configuration stays too.
        files_->removeItemIfExists(directory_ / history_files::configuration);
    });
}

} // namespace quillby
