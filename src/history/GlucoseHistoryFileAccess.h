#pragma once

#include <QByteArray>

#include <filesystem>

namespace quillby {

// The crash-safe file operations of saved history. Synchronous; called from the history
// store's worker thread only.
class GlucoseHistoryFileAccess {
public:
    virtual ~GlucoseHistoryFileAccess() = default;

    // Writes the bytes to a new hidden temporary file beside the target, flushes it, renames it
    // over the target and flushes the folder. The target holds either its old bytes or all of
    // the new ones. Creates missing folders (0700). Throws GlucoseHistoryError::storageFailure,
    // or std::filesystem::filesystem_error when a folder cannot be created.
    virtual void writeAtomically(const QByteArray &bytes, const std::filesystem::path &target) = 0;
    // Removes a file or folder (with its contents) when something exists there, then flushes the
    // parent folder. Throws std::filesystem::filesystem_error or GlucoseHistoryError.
    virtual void removeItemIfExists(const std::filesystem::path &path) = 0;
    // Opens the folder read-only, fsyncs it and closes it; storageFailure on failure.
    virtual void synchronizeDirectory(const std::filesystem::path &directory) = 0;
    // Removes an item, ignoring every error.
    virtual void removeItem(const std::filesystem::path &path) noexcept = 0;
    // Marks an existing folder (with everything below it) as excluded from backups, restoring
    // the marks when they are missing; a failure is ignored.
    virtual void excludeFromBackup(const std::filesystem::path &directory) noexcept { (void)directory; }
};

} // namespace quillby
