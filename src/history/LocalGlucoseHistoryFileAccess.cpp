#include "history/LocalGlucoseHistoryFileAccess.h"

#include "history/GlucoseHistoryError.h"
#include "history/GlucoseHistoryRecords.h"

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quillby {

namespace fs = std::filesystem;

PosixFileCalls PosixFileCalls::system()
{
    PosixFileCalls calls;
    calls.open = [](const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); };
    calls.write = [](int fd, const void *data, size_t size) { return ::write(fd, data, size); };
    calls.fsync = [](int fd) { return ::fsync(fd); };
    calls.close = [](int fd) { return ::close(fd); };
    calls.rename = [](const char *from, const char *to) { return ::rename(from, to); };
    calls.fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); };
    calls.read = [](int fd, void *data, size_t size) { return ::read(fd, data, size); };
    calls.fstat = [](int fd, struct stat *info) { return ::fstat(fd, info); };
    calls.lstat = [](const char *path, struct stat *info) { return ::lstat(path, info); };
    return calls;
}

LocalGlucoseHistoryFileAccess::LocalGlucoseHistoryFileAccess(PosixFileCalls calls) : calls_(std::move(calls)) {}

void LocalGlucoseHistoryFileAccess::createDirectories(const fs::path &directory)
{
    std::vector<fs::path> missing;
    fs::path current = directory;
    while (!current.empty()) {
        std::error_code error;
        const fs::file_status status = fs::status(current, error);
        if (fs::exists(status)) {
            if (!fs::is_directory(status)) {
                throw fs::filesystem_error("not a folder", current, std::make_error_code(std::errc::not_a_directory));
            }
            break;
        }
        missing.push_back(current);
        if (current == current.parent_path()) {
            break;
        }
        current = current.parent_path();
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0700) != 0) {
            const int error = errno;
            std::error_code ignored;
            if (error != EEXIST || !fs::is_directory(*it, ignored)) {
                throw fs::filesystem_error("cannot create folder", *it, std::error_code(error, std::generic_category()));
            }
            continue;
        }
        // The mode given to mkdir is narrowed by the umask; make it exactly owner-only.
        ::chmod(it->c_str(), 0700);
        // The new folder is an entry of its parent: flush the parent, or a crash may lose the
        // folder together with every file already flushed into it.
        synchronizeDirectory(it->parent_path());
    }
}

void LocalGlucoseHistoryFileAccess::writeAtomically(const QByteArray &bytes, const fs::path &target)
{
    const fs::path directory = target.parent_path();
    createDirectories(directory);
    excludeFromBackup(directory);

    const fs::path temporary =
        directory / ("." + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString() + ".tmp");
    int fd = calls_.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw GlucoseHistoryError::storageFailure();
    }
    // Closes the descriptor exactly once, whichever way we leave.
    const auto closeOnce = [&]() -> bool {
        if (fd < 0) {
            return true;
        }
        const int descriptor = fd;
        fd = -1;
        return calls_.close(descriptor) == 0;   // no retry on EINTR: the descriptor is gone either way
    };
    const auto fail = [&]() {
        closeOnce();
        removeItem(temporary);
        throw GlucoseHistoryError::storageFailure();
    };

    if (calls_.fchmod(fd, 0600) != 0) {
        fail();
    }
    const char *data = bytes.constData();
    std::size_t remaining = static_cast<std::size_t>(bytes.size());
    while (remaining > 0) {
        const ssize_t written = calls_.write(fd, data, remaining);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail();
        }
        if (written == 0) {
            fail();   // no progress: the disk will not take more
        }
        data += written;
        remaining -= static_cast<std::size_t>(written);
    }
    int synced;
    do {
        synced = calls_.fsync(fd);
    } while (synced != 0 && errno == EINTR);
    if (synced != 0) {
        fail();
    }
    if (!closeOnce()) {
        fail();
    }
    if (calls_.rename(temporary.c_str(), target.c_str()) != 0) {
        fail();
    }
    try {
        synchronizeDirectory(directory);
    } catch (...) {
        removeItem(temporary);
        throw GlucoseHistoryError::storageFailure();
    }
    removeItem(temporary);   // nothing is left after a successful rename
}

void LocalGlucoseHistoryFileAccess::removeItemIfExists(const fs::path &path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (!fs::exists(status)) {
        if (error && error != std::errc::no_such_file_or_directory) {
            throw fs::filesystem_error("cannot inspect item", path, error);
        }
        return;
    }
    fs::remove_all(path);   // throws filesystem_error
    synchronizeDirectory(path.parent_path());
}

void LocalGlucoseHistoryFileAccess::synchronizeDirectory(const fs::path &directory)
{
    const int fd = calls_.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        throw GlucoseHistoryError::storageFailure();
    }
    int synced;
    do {
        synced = calls_.fsync(fd);
    } while (synced != 0 && errno == EINTR);
    const bool closed = calls_.close(fd) == 0;
    if (synced != 0) {
        throw GlucoseHistoryError::storageFailure();
    }
    (void)closed;   // the flush succeeded; a failed close of a read-only folder loses nothing
}

void LocalGlucoseHistoryFileAccess::removeItem(const fs::path &path) noexcept
{
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

namespace {

// Whether `path` is a regular file (not a link) whose text starts with `prefix`.
bool holdsMark(const fs::path &path, const std::string &prefix)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool holds = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (holds && !prefix.empty()) {
        std::string start(prefix.size(), '\0');
        std::size_t got = 0;
        while (got < start.size()) {
            const ssize_t count = ::read(fd, start.data() + got, start.size() - got);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                break;
            }
            got += static_cast<std::size_t>(count);
        }
        holds = got == start.size() && start == prefix;
    }
    ::close(fd);
    return holds;
}

// Writes a small file through a temporary file and a rename, so the mark is whole or absent.
void writeMark(const fs::path &directory, const char *name, const std::string &text)
{
    const fs::path temporary =
        directory / ("." + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString() + ".tmp");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    bool written = true;
    std::size_t done = 0;
    while (written && done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        written = count > 0;
        done += written ? static_cast<std::size_t>(count) : 0;
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), (directory / name).c_str()) != 0) {
        ::unlink(temporary.c_str());
    }
}

} // namespace

void LocalGlucoseHistoryFileAccess::excludeFromBackup(const fs::path &directory) noexcept
{
    try {
        const std::string signature = backup_exclusion::cacheDirectoryTagSignature;
        if (!holdsMark(directory / backup_exclusion::cacheDirectoryTag, signature)) {
            writeMark(directory, backup_exclusion::cacheDirectoryTag,
                      signature +
                          "\n# This folder holds Quillby's saved glucose history, which is kept out of backups.\n"
                          "# For information about cache directory tags see https://bford.info/cachedir/\n");
        }
        if (!holdsMark(directory / backup_exclusion::dejaDupIgnore, {})) {
            writeMark(directory, backup_exclusion::dejaDupIgnore, {});
        }
    } catch (...) {
        // Out of memory for a path: the marks wait for the next write.
    }
}

int LocalGlucoseHistoryFileAccess::openForReading(const fs::path &path, struct stat &info) const
{
    // No link is followed and no FIFO or device is waited on: neither ever belongs here.
    const int fd = calls_.open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int refusal = 0;
    if (calls_.fstat(fd, &info) != 0) {
        refusal = errno;
    } else if (!S_ISREG(info.st_mode)) {
        refusal = EINVAL;
    } else if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > kMaxFileBytes) {
        refusal = EFBIG;
    }
    if (refusal != 0) {
        calls_.close(fd);
        errno = refusal;
        return -1;
    }
    return fd;
}

QByteArray LocalGlucoseHistoryFileAccess::readFile(const fs::path &path)
{
    struct stat info {};
    const int fd = openForReading(path, info);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), path.string());
    }
    HistoryReadBuffer buffer;
    // One byte more than its size is asked for, so a file that grew meanwhile is read whole.
    if (!readToEnd(fd, static_cast<std::size_t>(info.st_size) + 1, buffer)) {
        const int error = errno;
        calls_.close(fd);
        throw std::system_error(error, std::generic_category(), path.string());
    }
    calls_.close(fd);
    return QByteArray(buffer.data(), static_cast<qsizetype>(buffer.size()));
}

std::optional<HistoryFileIdentity> LocalGlucoseHistoryFileAccess::fileIdentity(const fs::path &path)
{
    // What is at the path itself: a link is known by its own identity, never by its target's.
    struct stat info {};
    if (calls_.lstat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return HistoryFileIdentity::of(info);
}

std::optional<HistoryFileRead>
LocalGlucoseHistoryFileAccess::readFileUnlessKnown(const fs::path &path, HistoryReadBuffer &buffer,
                                                   const std::function<bool(const HistoryFileIdentity &)> &known)
{
    // The identity is taken from the open file that is read.
    struct stat info {};
    const int fd = openForReading(path, info);
    if (fd < 0) {
        return std::nullopt;
    }
    HistoryFileRead read{HistoryFileIdentity::of(info), false};
    if (known && known(read.identity)) {
        calls_.close(fd);
        return read;
    }
    const bool complete = readToEnd(fd, static_cast<std::size_t>(info.st_size) + 1, buffer);
    calls_.close(fd);
    if (!complete) {
        return std::nullopt;
    }
    read.bytesRead = true;
    return read;
}

bool LocalGlucoseHistoryFileAccess::readToEnd(int fd, std::size_t capacity, HistoryReadBuffer &buffer) const
{
    buffer.clear(std::clamp<std::size_t>(capacity, 1, kMaxFileBytes + 1));
    for (;;) {
        if (buffer.size() > kMaxFileBytes) {
            errno = EFBIG;   // grew past what a history file can be while it was read
            return false;
        }
        char *space = buffer.freeSpace();
        const std::size_t room = std::min(buffer.freeSize(), kMaxFileBytes + 1 - buffer.size());
        const ssize_t count = calls_.read(fd, space, room);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (count == 0) {
            return true;
        }
        buffer.grew(static_cast<std::size_t>(count));
    }
}

QByteArray readHistoryFile(const fs::path &path)
{
    return LocalGlucoseHistoryFileAccess().readFile(path);
}

} // namespace quillby
