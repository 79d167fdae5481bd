#pragma once

#include "history/GlucoseHistoryFileAccess.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>

namespace quillby {

// The POSIX calls the file access makes, replaceable so tests can inject short writes and reads,
// EINTR and failures. Each has the signature and errno behaviour of the system call.
struct PosixFileCalls {
    std::function<int(const char *path, int flags, mode_t mode)> open;
    std::function<ssize_t(int fd, const void *data, size_t size)> write;
    std::function<int(int fd)> fsync;
    std::function<int(int fd)> close;
    std::function<int(const char *from, const char *to)> rename;
    std::function<int(int fd, mode_t mode)> fchmod;
    std::function<ssize_t(int fd, void *data, size_t size)> read;
    std::function<int(int fd, struct stat *info)> fstat;
    std::function<int(const char *path, struct stat *info)> lstat;

    static PosixFileCalls system();
};

// Saved-history file access over the local file system.
//
// Every file of saved history is one this program wrote through a temporary file and a rename,
// so a read takes only such a file: it opens the path without following a symbolic link and
// without waiting on a FIFO or device (O_NOFOLLOW | O_NONBLOCK), and reads it only when the open
// file is a regular file of at most kMaxFileBytes. Anything else at the path is refused like a
// file that cannot be read (errno ELOOP, EINVAL or EFBIG), and left where it is.
class LocalGlucoseHistoryFileAccess final : public GlucoseHistoryFileAccess {
public:
    // Far above any file saved history writes: a day file of 1,440 readings is a few hundred
    // kilobytes, the manifest and an account's settings less than a kilobyte.
    static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

    explicit LocalGlucoseHistoryFileAccess(PosixFileCalls calls = PosixFileCalls::system());

    QByteArray readFile(const std::filesystem::path &path) override;
    std::optional<HistoryFileIdentity> fileIdentity(const std::filesystem::path &path) override;
    std::optional<HistoryFileRead> readFileUnlessKnown(const std::filesystem::path &path, HistoryReadBuffer &buffer,
                                                       const std::function<bool(const HistoryFileIdentity &)> &known) override;
    void writeAtomically(const QByteArray &bytes, const std::filesystem::path &target) override;
    void removeItemIfExists(const std::filesystem::path &path) override;
    void synchronizeDirectory(const std::filesystem::path &directory) override;
    void removeItem(const std::filesystem::path &path) noexcept override;
    // Places the marks Linux backup tools honour in the folder: a cache directory tag
    // ("CACHEDIR.TAG" with the standard signature; tar --exclude-caches, restic and borg
    // --exclude-caches, Deja Dup) and Deja Dup's own ".deja-dup-ignore". A mark already there is
    // left alone; a missing or damaged one is written again.
    void excludeFromBackup(const std::filesystem::path &directory) noexcept override;

    // Creates the folder and every missing parent with permissions 0700, flushing each new
    // folder's parent so the new entry survives a crash as the files written into it do.
    void createDirectories(const std::filesystem::path &directory);

private:
    // Opens `path` for reading as described above and fills `info` from the open file. The
    // descriptor, or -1 with errno set (nothing is left open then).
    int openForReading(const std::filesystem::path &path, struct stat &info) const;
    // Reads the open file to its end into `buffer`, starting with room for `capacity` bytes and
    // looping over short reads and EINTR. False, with errno set, when a read fails or the file
    // grows past kMaxFileBytes (EFBIG).
    bool readToEnd(int fd, std::size_t capacity, HistoryReadBuffer &buffer) const;

    PosixFileCalls calls_;
};

namespace backup_exclusion {
inline constexpr const char *cacheDirectoryTag = "CACHEDIR.TAG";
inline constexpr const char *cacheDirectoryTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";
inline constexpr const char *dejaDupIgnore = ".deja-dup-ignore";
} // namespace backup_exclusion

// The whole file, read through the local file access; throws std::system_error.
QByteArray readHistoryFile(const std::filesystem::path &path);

} // namespace quillby
