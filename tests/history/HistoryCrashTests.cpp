#include "FileKeychainItemStore.h"
#include "HistoryTestSupport.h"

#include "history/HistoryDigest.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace quillby::test {
namespace {

const std::string kScope = "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4";

// Starts the writer with its standard output on a pipe; returns pid and the read end.
std::pair<pid_t, int> spawnWriter(const std::vector<std::string> &arguments)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        return {-1, -1};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char *> argv;
    for (const auto &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (result != 0) {
        ::close(fds[0]);
        return {-1, -1};
    }
    return {pid, fds[0]};
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    return text;
}

class HistoryCrash : public HistoryRootFixture {
protected:
    fs::path keyringFolder = fs::path(temp.path().toStdString()) / "keyring";

    std::unique_ptr<GlucoseHistoryStoreCore> fileBackedStore()
    {
        const fs::path keys = keyringFolder;
        return std::make_unique<GlucoseHistoryStoreCore>(
            root, std::make_shared<FileKeychainItemStore>(keys, QStringLiteral("encryption-key-v1")),
            [keys](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                return std::make_unique<FileKeychainItemStore>(keys, QString::fromStdString("encryption-key-v2-" + digest));
            },
            std::make_shared<LocalGlucoseHistoryFileAccess>());
    }
};

TEST_F(HistoryCrash, KilledWritersNeverLoseAcknowledgedReadingsOrLeaveUnreadableFiles)
{
    // Start 30 minutes before a UTC midnight so the runs cross into a new day file.
    const Date base = std::floor(kNow / kDaySeconds) * kDaySeconds + kDaySeconds - 30 * 60;
    {
        auto store = fileBackedStore();
        store->activateAccount(kScope, base);
        store->enableCollection(base);
    }
    const std::string digest = sha256Digest(kScope);
    const fs::path account = folder(digest);
    const QByteArray key = readHistoryFile(keyringFolder / ("encryption-key-v2-" + digest));

    std::mt19937 random(20260207);
    std::uniform_int_distribution<int> delayMs(1, 45);
    std::set<long> acknowledged;
    long next = 0;
    int kills = 0;
    // At least 60 kills; more (up to 300) while fewer than 60 appends were acknowledged, so a
    // slow machine still tests what it should.
    for (int run = 0; run < 300 && (run < 60 || acknowledged.size() < 60); ++run) {
        auto [pid, output] = spawnWriter({QUILLBY_HISTORY_CRASH_WRITER, root.string(), keyringFolder.string(), kScope,
                                          std::to_string(next), std::to_string(base)});
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer stopped on its own, run " << run;
        ++kills;
        std::istringstream lines(readAll(output));
        long index = -1;
        while (lines >> index) {
            acknowledged.insert(index);
            next = std::max(next, index + 1);
        }

        // The manifest and the configuration parse; every day file opens.
        const auto manifest = GlucoseHistoryManifest::fromJSON(readJSON(root / "manifest.json"));
        ASSERT_TRUE(manifest.isAcceptable()) << "run " << run;
        const auto configuration = GlucoseHistoryConfiguration::fromJSON(readJSON(account / "configuration.json"));
        ASSERT_TRUE(configuration.isAcceptable()) << "run " << run;
        for (const auto &name : entries(account)) {
            if (name.ends_with(".history")) {
                const auto day = GlucoseHistoryDayFile::fromJSON(openDayFile(account / name, key));
                ASSERT_EQ(day.accountScope, kScope) << name << ", run " << run;
            }
        }

        // Every acknowledged reading is there.
        auto store = fileBackedStore();
        const auto snapshot = store->activateAccount(kScope, base + next * 60.0 + 10);
        std::set<Date> saved;
        for (const auto &reading : snapshot.readings) {
            saved.insert(reading.date);
        }
        for (const long acked : acknowledged) {
            ASSERT_EQ(saved.count(base + acked * 60.0), 1u) << "reading " << acked << " lost after run " << run;
        }
    }
    EXPECT_GE(kills, 50);
    EXPECT_GT(acknowledged.size(), 50u) << "the writer hardly ever got an append done";
    EXPECT_GT(next, 30) << "the runs did not reach the second day";
    RecordProperty("acknowledged", static_cast<int>(acknowledged.size()));
}

} // namespace
} // namespace quillby::test
