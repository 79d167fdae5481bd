#include "HistoryTestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace quillby::test {
namespace {

// The system calls with a recorder and scripted faults in between.
struct RecordingCalls {
    std::vector<int> openFlags;
    std::vector<mode_t> openModes;
    std::map<int, int> opens;          // descriptor number -> times returned by open
    std::map<int, int> closes;         // descriptor number -> times closed
    std::vector<int> fsyncs;
    std::vector<size_t> writeSizes;
    std::function<ssize_t(int, const void *, size_t)> writeFault;   // returns -2 to pass through
    bool failFsync = false;
    bool failRename = false;
    bool failClose = false;

    PosixFileCalls calls()
    {
        PosixFileCalls calls = PosixFileCalls::system();
        calls.open = [this](const char *path, int flags, mode_t mode) {
            openFlags.push_back(flags);
            openModes.push_back(mode);
            const int fd = ::open(path, flags, mode);
            if (fd >= 0) {
                ++opens[fd];
            }
            return fd;
        };
        calls.write = [this](int fd, const void *data, size_t size) -> ssize_t {
            writeSizes.push_back(size);
            if (writeFault) {
                const ssize_t result = writeFault(fd, data, size);
                if (result != -2) {
                    return result;
                }
            }
            return ::write(fd, data, size);
        };
        calls.fsync = [this](int fd) {
            fsyncs.push_back(fd);
            if (failFsync) {
                errno = EIO;
                return -1;
            }
            return ::fsync(fd);
        };
        calls.close = [this](int fd) {
            ++closes[fd];
            const int result = ::close(fd);
            if (failClose) {
                errno = EIO;
                return -1;
            }
            return result;
        };
        calls.rename = [this](const char *from, const char *to) {
            if (failRename) {
                errno = EXDEV;
                return -1;
            }
            return ::rename(from, to);
        };
        return calls;
    }
    // Numbers are reused after a close, so compare opens and closes per number.
    bool everyDescriptorClosedOnce() const { return opens == closes; }
};

class LocalFileAccessTest : public HistoryRootFixture {};

TEST_F(LocalFileAccessTest, CreatesOwnerOnlyFoldersAndFilesWithSymbolicFlags)
{
    RecordingCalls recorder;
    LocalGlucoseHistoryFileAccess access(recorder.calls());
    const fs::path target = root / "accounts" / std::string(64, 'a') / "configuration.json";
    ::umask(022);
    access.writeAtomically(QByteArray("{}"), target);

    EXPECT_EQ(readHistoryFile(target), QByteArray("{}"));
    for (const fs::path &folder : {root.parent_path(), root, root / "accounts", target.parent_path()}) {
        EXPECT_EQ(mode(folder), 0700u) << folder;
    }
    EXPECT_EQ(mode(target), 0600u);
    ASSERT_GE(recorder.openFlags.size(), 2u);
    EXPECT_EQ(recorder.openFlags[0], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
    EXPECT_EQ(recorder.openModes[0], 0600u);
    EXPECT_EQ(recorder.openFlags[1] & O_ACCMODE, O_RDONLY);   // the folder, for its flush
    EXPECT_EQ(recorder.fsyncs.size(), 2u);                    // file, then folder
    EXPECT_TRUE(recorder.everyDescriptorClosedOnce());
    EXPECT_EQ(entries(target.parent_path()), (std::set<std::string>{"configuration.json"}));
}

TEST_F(LocalFileAccessTest, WriteLoopsOverShortWritesAndInterruptions)
{
    RecordingCalls recorder;
    int call = 0;
    recorder.writeFault = [&](int fd, const void *data, size_t size) -> ssize_t {
        ++call;
        if (call % 3 == 1) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, std::min<size_t>(size, 7));   // at most 7 bytes at a time
    };
    LocalGlucoseHistoryFileAccess access(recorder.calls());
    QByteArray bytes;
    for (int i = 0; i < 100; ++i) {
        bytes.append(static_cast<char>(i));
    }
    const fs::path target = root / "day.history";
    access.writeAtomically(bytes, target);
    EXPECT_EQ(readHistoryFile(target), bytes);
    EXPECT_GT(recorder.writeSizes.size(), 15u);
    EXPECT_TRUE(recorder.everyDescriptorClosedOnce());
}

TEST_F(LocalFileAccessTest, FailuresKeepTheOldContentAndLeaveNoTemporaryFile)
{
    const fs::path target = root / "manifest.json";
    LocalGlucoseHistoryFileAccess().writeAtomically(QByteArray("old"), target);

    struct Case {
        const char *name;
        std::function<void(RecordingCalls &)> arrange;
    };
    const std::vector<Case> cases = {
        {"write fails half way",
         [](RecordingCalls &r) {
             int call = 0;
             r.writeFault = [call](int fd, const void *data, size_t size) mutable -> ssize_t {
                 if (++call == 1) {
                     return ::write(fd, data, size / 2);
                 }
                 errno = ENOSPC;
                 return -1;
             };
         }},
        {"write makes no progress", [](RecordingCalls &r) { r.writeFault = [](int, const void *, size_t) -> ssize_t { return 0; }; }},
        {"fsync fails", [](RecordingCalls &r) { r.failFsync = true; }},
        {"close fails", [](RecordingCalls &r) { r.failClose = true; }},
        {"rename fails", [](RecordingCalls &r) { r.failRename = true; }},
    };
    for (const auto &c : cases) {
        RecordingCalls recorder;
        c.arrange(recorder);
        LocalGlucoseHistoryFileAccess access(recorder.calls());
        EXPECT_HISTORY_ERROR(access.writeAtomically(QByteArray("new content that is longer"), target), storageFailure)
            << c.name;
        EXPECT_EQ(readHistoryFile(target), QByteArray("old")) << c.name;
        EXPECT_EQ(entries(root), (std::set<std::string>{"manifest.json"})) << c.name;
        EXPECT_TRUE(recorder.everyDescriptorClosedOnce()) << c.name;
    }
}

TEST_F(LocalFileAccessTest, OpenFailureTouchesNothing)
{
    RecordingCalls recorder;
    PosixFileCalls calls = recorder.calls();
    calls.open = [](const char *, int, mode_t) {
        errno = EACCES;
        return -1;
    };
    LocalGlucoseHistoryFileAccess access(calls);
    EXPECT_HISTORY_ERROR(access.writeAtomically(QByteArray("x"), root / "a.json"), storageFailure);
    EXPECT_TRUE(recorder.closes.empty());
    EXPECT_EQ(entries(root), std::set<std::string>{});
}

TEST_F(LocalFileAccessTest, EmptyBytesAndRemovals)
{
    LocalGlucoseHistoryFileAccess access;
    const fs::path target = root / "empty.json";
    access.writeAtomically(QByteArray(), target);
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(fs::file_size(target), 0u);

    RecordingCalls recorder;
    LocalGlucoseHistoryFileAccess recording(recorder.calls());
    recording.removeItemIfExists(root / "missing");
    EXPECT_TRUE(recorder.fsyncs.empty());   // nothing removed, folder not touched
    const fs::path nested = root / "folder" / "inner";
    fs::create_directories(nested);
    recording.removeItemIfExists(root / "folder");
    EXPECT_FALSE(fs::exists(root / "folder"));
    EXPECT_EQ(recorder.fsyncs.size(), 1u);
    EXPECT_NO_THROW(access.removeItem(root / "missing"));
    EXPECT_HISTORY_ERROR(access.synchronizeDirectory(root / "missing"), storageFailure);
}

} // namespace
} // namespace quillby::test
