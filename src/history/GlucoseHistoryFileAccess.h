#pragma once

#include "history/HistoryFileIdentity.h"
#include "history/HistoryReadBuffer.h"

#include <QByteArray>

#include <filesystem>
#include <functional>
#include <optional>

namespace quillby {

// What opening a file for reading gave: the identity of the file opened, and whether its
// bytes were read (not when the caller already knew that identity).
struct HistoryFileRead {
    HistoryFileIdentity identity;
    bool bytesRead = false;
};

// The file operations of saved history: its crash-safe writes and the reads of what they wrote.
// Synchronous; the writes are called from the history store's worker thread only, the reads
// also from the threads it opens day files on, side by side.
class GlucoseHistoryFileAccess {
public:
    virtual ~GlucoseHistoryFileAccess() = default;

    // The whole file. Throws std::system_error (errno ENOENT when nothing is there).
    virtual QByteArray readFile(const std::filesystem::path &path) = 0;
    // The identity of what is at `path` now (links followed); nothing when it cannot be looked at.
    virtual std::optional<HistoryFileIdentity> fileIdentity(const std::filesystem::path &path) = 0;
    // Opens the file and takes its identity from the open file; then, unless `known` says the
    // caller already has the bytes of that identity, reads the file to its end into `buffer`.
    // Nothing when the file cannot be opened or read.
    virtual std::optional<HistoryFileRead>
    readFileUnlessKnown(const std::filesystem::path &path, HistoryReadBuffer &buffer,
                        const std::function<bool(const HistoryFileIdentity &)> &known) = 0;

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
