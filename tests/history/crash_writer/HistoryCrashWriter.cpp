// The child process of the history crash tests. Appends one reading a minute (in simulated
// time) to saved history and prints the index of each reading once its append has returned.
//
//   history_crash_writer <root> <keyring folder> <scope> <first index> <base time>
//       appends forever; the smoke test kills it at random moments.
//   history_crash_writer <root> <keyring folder> <scope> <first index> <base time> <readings> <stop at call>
//       appends the given number of readings in one batch, counting the file layer's system
//       calls from the start of the append. At call number <stop at call> (from 1; 0: never) it
//       stops dead with _exit(3) instead of making the call. When the append returns it prints
//       the indexes, then "calls" and the name of each call it made, and exits with 0.
//
// Writes go through in pieces of at most kWritePiece bytes, so an append makes several write
// calls and a stop can fall between two of them.

#include "FileKeychainItemStore.h"
#include "insights/InsightsCollectionProgress.h"
#include "history/GlucoseHistoryStoreCore.h"
#include "history/LocalGlucoseHistoryFileAccess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace quillby;

namespace {

constexpr size_t kWritePiece = 128;

struct CallCounter {
    bool armed = false;
    long stopAt = 0;
    std::vector<const char *> calls;

    // Counts one call; stops the process dead when it is the chosen one.
    void count(const char *name)
    {
        if (!armed) {
            return;
        }
        calls.push_back(name);
        if (static_cast<long>(calls.size()) == stopAt) {
            ::_exit(3);
        }
    }
};

PosixFileCalls countedCalls(const std::shared_ptr<CallCounter> &counter)
{
    const PosixFileCalls system = PosixFileCalls::system();
    PosixFileCalls calls = system;   // reads and looks at files as they are; what writes is counted
    calls.open = [counter, system](const char *path, int flags, mode_t mode) {
        counter->count("open");
        return system.open(path, flags, mode);
    };
    calls.write = [counter, system](int fd, const void *data, size_t size) {
        counter->count("write");
        return system.write(fd, data, std::min(size, kWritePiece));
    };
    calls.fsync = [counter, system](int fd) {
        counter->count("fsync");
        return system.fsync(fd);
    };
    calls.close = [counter, system](int fd) {
        counter->count("close");
        return system.close(fd);
    };
    calls.rename = [counter, system](const char *from, const char *to) {
        counter->count("rename");
        return system.rename(from, to);
    };
    calls.fchmod = [counter, system](int fd, mode_t mode) {
        counter->count("fchmod");
        return system.fchmod(fd, mode);
    };
    return calls;
}

GlucoseReading readingAt(long index, double base)
{
    return GlucoseReading(100 + index % 50, "Flat", base + index * 60.0, 60, GlucoseProvider::libreLinkUp);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6 && argc != 8) {
        std::fprintf(stderr, "usage: history_crash_writer root keyring scope first-index base-time [readings stop-at-call]\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::filesystem::path keyring = argv[2];
    const std::string scope = argv[3];
    const long first = std::atol(argv[4]);
    const double base = std::atof(argv[5]);
    const bool oneBatch = argc == 8;
    auto counter = std::make_shared<CallCounter>();
    if (oneBatch) {
        counter->stopAt = std::atol(argv[7]);
    }
    try {
        GlucoseHistoryStoreCore store(
            root, std::make_shared<test::FileKeychainItemStore>(keyring, QStringLiteral("encryption-key-v1")),
            [keyring](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                return std::make_unique<test::FileKeychainItemStore>(keyring,
                                                                     QString::fromStdString("encryption-key-v2-" + digest));
            },
            &insightsMinimumDatasetReached, std::make_shared<LocalGlucoseHistoryFileAccess>(countedCalls(counter)));
        const auto snapshot = store.activateAccount(scope, base + first * 60.0);
        const GlucoseHistoryCollectionToken token{scope, snapshot.configuration.epoch};

        if (oneBatch) {
            const long count = std::atol(argv[6]);
            GlucoseReadings batch;
            for (long index = first; index < first + count; ++index) {
                batch.push_back(readingAt(index, base));
            }
            const Date last = base + (first + count - 1) * 60.0;
            counter->armed = true;
            store.append(batch, last + 5, token, last + 10);
            counter->armed = false;
            for (long index = first; index < first + count; ++index) {
                std::printf("%ld\n", index);
            }
            std::printf("calls");
            for (const char *call : counter->calls) {
                std::printf(" %s", call);
            }
            std::printf("\n");
            std::fflush(stdout);
            return 0;
        }

        for (long index = first;; ++index) {
            const GlucoseReading reading = readingAt(index, base);
            store.append({reading}, reading.date + 5, token, reading.date + 10);
            std::printf("%ld\n", index);
            std::fflush(stdout);
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "history_crash_writer: %s\n", error.what());
        return 1;
    }
}
