#include "HistoryTestSupport.h"
#include "WaitUntil.h"
#include "history/HistoryDigest.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <fcntl.h>
#include <algorithm>
#include <map>
#include <set>
#include <system_error>
#include <unistd.h>

namespace quillby::test {
namespace {

// The system calls with a recorder and scripted faults in between.
struct RecordingCalls {
    std::vector<int> openFlags;
    std::vector<mode_t> openModes;
    std::vector<std::string> openPaths;
    std::vector<std::string> syncedPaths;   // the path each fsync'ed descriptor was opened with
    std::map<int, std::string> pathOf;
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
            openPaths.push_back(path);
            const int fd = ::open(path, flags, mode);
            if (fd >= 0) {
                ++opens[fd];
                pathOf[fd] = path;
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
            syncedPaths.push_back(pathOf[fd]);
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

class LocalFileAccessTest : public HistoryRootFixture {
protected:
    static constexpr const char *kScope = "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a";

    // A history of account kScope with collection on and two readings, written by a store that
    // is gone when this returns.
    void writeTwoReadings()
    {
        auto store = makeCore();
        store->activateAccount(kScope, kNow);
        const auto snapshot = store->enableCollection(kNow);
        store->append({historyReading(kNow - 120, 110), historyReading(kNow - 60, 115)}, kNow - 5,
                      {kScope, snapshot.configuration.epoch}, kNow);
    }
};

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
    // Each new folder's parent is flushed after its mkdir (outermost first), then the file is
    // written, flushed, moved into place and its folder flushed.
    const std::vector<std::string> newFolderParents{root.parent_path().parent_path(), root.parent_path(), root,
                                                    root / "accounts"};
    ASSERT_EQ(recorder.openFlags.size(), newFolderParents.size() + 2);
    for (std::size_t i = 0; i < newFolderParents.size(); ++i) {
        EXPECT_EQ(recorder.openPaths[i], newFolderParents[i]);
        EXPECT_EQ(recorder.openFlags[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    const std::size_t file = newFolderParents.size();
    EXPECT_EQ(recorder.openFlags[file], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC);
    EXPECT_EQ(recorder.openModes[file], 0600u);
    EXPECT_EQ(recorder.openFlags[file + 1] & O_ACCMODE, O_RDONLY);   // the folder, for its flush
    std::vector<std::string> expectedSyncs = newFolderParents;
    expectedSyncs.push_back(recorder.openPaths[file]);
    expectedSyncs.push_back(target.parent_path());
    EXPECT_EQ(recorder.syncedPaths, expectedSyncs);
    EXPECT_TRUE(recorder.everyDescriptorClosedOnce());

    // Once the folders exist, a write flushes only the file and its folder.
    recorder.syncedPaths.clear();
    access.writeAtomically(QByteArray("{\"a\":1}"), target);
    EXPECT_EQ(recorder.syncedPaths.size(), 2u);
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

TEST_F(LocalFileAccessTest, ReadsGoThroughTheCallsAndLoopOverShortReadsAndInterruptions)
{
    const fs::path target = root / "day.history";
    QByteArray bytes(70'000, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    LocalGlucoseHistoryFileAccess().writeAtomically(bytes, target);

    RecordingCalls recorder;
    PosixFileCalls calls = recorder.calls();
    int reads = 0;
    int readFault = 0;   // errno to fail every read with; 0: short reads and EINTR only
    calls.read = [&](int fd, void *data, size_t size) -> ssize_t {
        if (readFault != 0) {
            errno = readFault;
            return -1;
        }
        if (++reads % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::read(fd, data, std::min<size_t>(size, 1000));
    };
    LocalGlucoseHistoryFileAccess access(calls);

    EXPECT_EQ(access.readFile(target), bytes);
    EXPECT_GT(reads, 140);   // every piece came through the calls
    HistoryReadBuffer buffer;
    const auto read = access.readFileUnlessKnown(target, buffer, [](const HistoryFileIdentity &) { return false; });
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->bytesRead);
    EXPECT_EQ(QByteArray(buffer.data(), static_cast<qsizetype>(buffer.size())), bytes);
    EXPECT_EQ(read->identity, access.fileIdentity(target));

    // A file whose identity the caller knows is opened, looked at and closed, not read.
    reads = 0;
    const auto known = access.readFileUnlessKnown(target, buffer, [&](const HistoryFileIdentity &identity) {
        return identity == read->identity;
    });
    ASSERT_TRUE(known);
    EXPECT_FALSE(known->bytesRead);
    EXPECT_EQ(reads, 0);

    readFault = EIO;
    try {
        access.readFile(target);
        ADD_FAILURE() << "a failed read must not give bytes";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EIO);
    }
    EXPECT_FALSE(access.readFileUnlessKnown(target, buffer, nullptr));
    EXPECT_FALSE(access.readFileUnlessKnown(root / "missing.history", buffer, nullptr));
    EXPECT_FALSE(access.fileIdentity(root / "missing.history"));
    EXPECT_TRUE(recorder.everyDescriptorClosedOnce());
}

// The store reads its manifest, settings and day files through the file access it was given,
// so a fault there reaches it as it would from the disk.
TEST_F(LocalFileAccessTest, StoreReadsThroughItsFileAccess)
{
    const std::string scope = kScope;
    writeTwoReadings();
    struct Case {
        const char *name;
        const char *failingExtension;
        GlucoseHistoryError::Case expected;
    };
    const Case cases[] = {
        {"day file", ".history", GlucoseHistoryError::Case::unreadableHistory},
        {"manifest and settings", ".json", GlucoseHistoryError::Case::invalidConfiguration},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RecordingCalls recorder;
        PosixFileCalls calls = recorder.calls();
        std::set<std::string> readPaths;
        calls.read = [&](int fd, void *data, size_t size) -> ssize_t {
            const std::string &path = recorder.pathOf[fd];
            readPaths.insert(fs::path(path).filename().string());
            if (hasExtension(path, c.failingExtension)) {
                errno = EIO;
                return -1;
            }
            return ::read(fd, data, size);
        };
        auto store = std::make_unique<GlucoseHistoryStoreCore>(root, legacyKeychain(), keychainFactory(),
                                                               &insightsMinimumDatasetReached,
                                                               std::make_shared<LocalGlucoseHistoryFileAccess>(calls));
        EXPECT_EQ(historyErrorOf([&] { store->activateAccount(scope, kNow); }), c.expected);
        EXPECT_FALSE(readPaths.empty());
        EXPECT_TRUE(recorder.everyDescriptorClosedOnce());
    }
    // The same files read well through the same calls.
    RecordingCalls recorder;
    auto store = std::make_unique<GlucoseHistoryStoreCore>(root, legacyKeychain(), keychainFactory(),
                                                           &insightsMinimumDatasetReached,
                                                           std::make_shared<LocalGlucoseHistoryFileAccess>(recorder.calls()));
    EXPECT_EQ(store->activateAccount(scope, kNow).readings.size(), 2u);
    EXPECT_TRUE(std::any_of(recorder.openPaths.begin(), recorder.openPaths.end(),
                            [](const std::string &path) { return hasExtension(path, ".history"); }));
}

// What can stand at a history file's path besides a file this program wrote. Each kind is made
// at `path` (which does not exist yet) by `make`.
struct ForeignItem {
    const char *name;
    std::function<void(const fs::path &path, const fs::path &original)> make;
};

std::vector<ForeignItem> foreignItems()
{
    return {
        {"FIFO", [](const fs::path &path, const fs::path &) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const fs::path &path, const fs::path &) { fs::create_symlink("/dev/zero", path); }},
        {"link to the file it replaced",
         [](const fs::path &path, const fs::path &original) { fs::create_symlink(original, path); }},
        {"folder", [](const fs::path &path, const fs::path &) { fs::create_directory(path); }},
        {"sparse file larger than any history file",
         [](const fs::path &path, const fs::path &) {
             const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
             ASSERT_GE(fd, 0);
             ASSERT_EQ(::ftruncate(fd, 1LL << 30), 0);
             ::close(fd);
         }},
    };
}

// What the item at `path` is, as lstat sees it: kind and size.
std::pair<mode_t, off_t> itemKind(const fs::path &path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return {0, -1};
    }
    return {info.st_mode & S_IFMT, info.st_size};
}

// Runs `work` on another thread and waits a generous while for it. A read stuck on a FIFO is
// released by opening its other end, so the test reports it instead of hanging.
template <typename Work>
bool finishes(Work work, const fs::path &maybeFifo)
{
    auto done = std::async(std::launch::async, std::move(work));
    if (done.wait_for(std::chrono::milliseconds(scaledTimeoutMs(20'000))) == std::future_status::ready) {
        done.get();
        return true;
    }
    // Stuck: each open of the FIFO waits for a writer, so give it one until the work ends.
    do {
        const int writer = ::open(maybeFifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) {
            ::close(writer);
        }
    } while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready);
    return false;
}

// A FIFO, a device behind a link, a folder or a huge file at a history file's path is refused
// at once, like a file that cannot be read, without a byte read from it: the read neither
// waits on a writer nor runs through gigabytes.
TEST_F(LocalFileAccessTest, ReadsOnlyRegularFilesUpToTheCapAndNothingThroughALink)
{
    const fs::path original = root / "kept.history";
    LocalGlucoseHistoryFileAccess().writeAtomically(QByteArray("sealed bytes"), original);
    for (const ForeignItem &item : foreignItems()) {
        SCOPED_TRACE(item.name);
        const fs::path path = root / "20431.history";
        fs::remove_all(path);
        item.make(path, original);
        const auto before = itemKind(path);

        RecordingCalls recorder;
        PosixFileCalls calls = recorder.calls();
        std::size_t bytesRead = 0;
        calls.read = [&](int fd, void *data, size_t size) -> ssize_t {
            const ssize_t count = ::read(fd, data, size);
            bytesRead += count > 0 ? static_cast<std::size_t>(count) : 0;
            return count;
        };
        LocalGlucoseHistoryFileAccess access(calls);
        std::optional<int> readFileError;
        std::optional<HistoryFileRead> read;
        ASSERT_TRUE(finishes(
            [&] {
                try {
                    access.readFile(path);
                } catch (const std::system_error &error) {
                    readFileError = error.code().value();
                }
                HistoryReadBuffer buffer;
                read = access.readFileUnlessKnown(path, buffer, nullptr);
            },
            path));
        ASSERT_TRUE(readFileError.has_value());
        EXPECT_NE(*readFileError, ENOENT);   // refused, not missing
        EXPECT_FALSE(read.has_value());
        EXPECT_EQ(bytesRead, 0u);
        for (int flags : recorder.openFlags) {
            EXPECT_EQ(flags & (O_NOFOLLOW | O_NONBLOCK), O_NOFOLLOW | O_NONBLOCK);
        }
        EXPECT_TRUE(recorder.everyDescriptorClosedOnce());
        EXPECT_EQ(itemKind(path), before);   // left as it was
        if (fs::is_symlink(path)) {
            EXPECT_NE(access.fileIdentity(path), access.fileIdentity(fs::read_symlink(path)));
        }
    }
    EXPECT_EQ(readHistoryFile(original), QByteArray("sealed bytes"));
}

// A regular file that grows past the cap while it is read is refused too.
TEST_F(LocalFileAccessTest, AFileThatGrowsPastTheCapWhileReadIsRefused)
{
    const fs::path path = root / "20431.history";
    LocalGlucoseHistoryFileAccess().writeAtomically(QByteArray("small"), path);
    PosixFileCalls calls = PosixFileCalls::system();
    std::size_t served = 0;
    calls.read = [&](int, void *data, size_t size) -> ssize_t {   // a file with no end
        std::memset(data, 0, size);
        served += size;
        return static_cast<ssize_t>(size);
    };
    LocalGlucoseHistoryFileAccess access(calls);
    try {
        access.readFile(path);
        ADD_FAILURE() << "read a file larger than the cap";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code().value(), EFBIG);
    }
    EXPECT_LE(served, LocalGlucoseHistoryFileAccess::kMaxFileBytes + 1);
}

// Through the store: a day file, the manifest or an account's settings replaced by something
// foreign makes the load end and report the history damaged, as a file that cannot be opened
// would; nothing is removed or written over, and the history reads again once the file is back.
TEST_F(LocalFileAccessTest, StoreReportsAForeignItemAsDamagedAndKeepsIt)
{
    const std::string scope = kScope;
    writeTwoReadings();
    const fs::path accountFolder = folder(sha256Digest(scope));
    fs::path dayFile;
    for (const auto &entry : fs::directory_iterator(accountFolder)) {
        if (hasExtension(entry.path(), ".history")) {
            dayFile = entry.path();
        }
    }
    ASSERT_FALSE(dayFile.empty());
    struct Target {
        const char *name;
        fs::path path;
        GlucoseHistoryError::Case expected;
    };
    const Target targets[] = {
        {"day file", dayFile, GlucoseHistoryError::Case::unreadableHistory},
        {"manifest", root / "manifest.json", GlucoseHistoryError::Case::invalidConfiguration},
        {"account settings", accountFolder / "configuration.json", GlucoseHistoryError::Case::invalidConfiguration},
    };
    for (const Target &target : targets) {
        for (const ForeignItem &item : foreignItems()) {
            SCOPED_TRACE(std::string(target.name) + ": " + item.name);
            const fs::path saved = temp.path().toStdString() + "/saved";
            fs::rename(target.path, saved);
            item.make(target.path, saved);
            const auto before = itemKind(target.path);
            const std::set<std::string> folderBefore = entries(accountFolder);

            std::optional<GlucoseHistoryError::Case> error;
            ASSERT_TRUE(finishes([&] { error = historyErrorOf([&] { makeCore()->activateAccount(scope, kNow); }); },
                                 target.path));
            EXPECT_EQ(error, target.expected);
            EXPECT_EQ(itemKind(target.path), before);
            EXPECT_EQ(entries(accountFolder), folderBefore);

            fs::remove_all(target.path);
            fs::rename(saved, target.path);
            EXPECT_EQ(makeCore()->activateAccount(scope, kNow).readings.size(), 2u);
        }
    }
}

} // namespace
} // namespace quillby::test
