// Appends one reading a minute (in simulated time) to saved history, forever, and prints the
// index of each reading once its append has returned. The crash test kills it at random moments.
//
//   history_crash_writer <history root> <keyring folder> <scope> <first index> <base time>

#include "FileKeychainItemStore.h"
#include "history/GlucoseHistoryStoreCore.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

using namespace quillby;

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: history_crash_writer root keyring scope first-index base-time\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const std::filesystem::path keyring = argv[2];
    const std::string scope = argv[3];
    const long first = std::atol(argv[4]);
    const double base = std::atof(argv[5]);
    try {
        GlucoseHistoryStoreCore store(
            root, std::make_shared<test::FileKeychainItemStore>(keyring, QStringLiteral("encryption-key-v1")),
            [keyring](const std::string &digest) -> std::unique_ptr<KeychainItemStoring> {
                return std::make_unique<test::FileKeychainItemStore>(keyring,
                                                                     QString::fromStdString("encryption-key-v2-" + digest));
            },
            std::make_shared<LocalGlucoseHistoryFileAccess>());
        const auto snapshot = store.activateAccount(scope, base + first * 60.0);
        const GlucoseHistoryCollectionToken token{scope, snapshot.configuration.epoch};
        for (long index = first;; ++index) {
            const Date date = base + index * 60.0;
            const GlucoseReading reading(100 + index % 50, "Flat", date, 60, GlucoseProvider::libreLinkUp);
            store.append({reading}, date + 5, token, date + 10);
            std::printf("%ld\n", index);
            std::fflush(stdout);
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "history_crash_writer: %s\n", error.what());
        return 1;
    }
}
