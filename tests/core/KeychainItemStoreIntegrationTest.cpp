// Runs against the real system keyring (the Secret Service of the desktop session), so it
// needs scripts/with-session.sh; without a session bus it is skipped.
#include "core/KeychainItemStore.h"
#include "WaitUntil.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#include <cstdio>
#include <thread>
#include <vector>

namespace quillby {
namespace {

using namespace std::chrono_literals;

bool hasSessionBus()
{
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}

QString uniqueService()
{
    return QStringLiteral("QuillbyTests-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

class KeychainItemStoreIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!hasSessionBus() || qEnvironmentVariableIsSet("QUILLBY_KEYRING_PROBE")) {
            GTEST_SKIP() << "needs a desktop session with a keyring (scripts/with-session.sh)";
        }
    }
    void TearDown() override
    {
        for (auto &store : created) {
            store->remove();
        }
    }
    KeychainItemStore &makeStore(const QString &service, const QString &account)
    {
        created.push_back(std::make_unique<KeychainItemStore>(service, account, 10s));
        return *created.back();
    }
    std::vector<std::unique_ptr<KeychainItemStore>> created;
};

TEST_F(KeychainItemStoreIntegrationTest, MissingItemReadsAsNotFoundAndDeletesAsSuccess)
{
    auto &store = makeStore(uniqueService(), QStringLiteral("configuration"));
    EXPECT_EQ(store.read().kind, KeychainItemReadResult::Kind::notFound);
    EXPECT_EQ(store.remove(), keychain_status::success);
    EXPECT_EQ(store.remove(), keychain_status::success);
}

TEST_F(KeychainItemStoreIntegrationTest, WriteReplacesAndDeleteRemoves)
{
    auto &store = makeStore(uniqueService(), QStringLiteral("configuration"));
    ASSERT_EQ(store.write("first"), keychain_status::success);
    ASSERT_EQ(store.write("second"), keychain_status::success);
    const auto read = store.read();
    ASSERT_EQ(read.kind, KeychainItemReadResult::Kind::data);
    EXPECT_EQ(read.bytes, QByteArray("second"));
    EXPECT_EQ(store.remove(), keychain_status::success);
    EXPECT_EQ(store.read().kind, KeychainItemReadResult::Kind::notFound);
    EXPECT_EQ(store.remove(), keychain_status::success);
}

TEST_F(KeychainItemStoreIntegrationTest, BytesRoundTripExactly)
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i) {
        binary.append(static_cast<char>(i));
    }
    for (const QByteArray &bytes : {QByteArray(), binary, QByteArray(R"({"account":{"username":"ä"}})")}) {
        auto &store = makeStore(uniqueService(), QStringLiteral("item"));
        ASSERT_EQ(store.write(bytes), keychain_status::success);
        const auto read = store.read();
        ASSERT_EQ(read.kind, KeychainItemReadResult::Kind::data) << bytes.size();
        EXPECT_EQ(read.bytes, bytes);
    }
}

TEST_F(KeychainItemStoreIntegrationTest, AccountsNameDifferentItems)
{
    const QString service = uniqueService();
    auto &first = makeStore(service, QStringLiteral("a"));
    auto &second = makeStore(service, QStringLiteral("b"));
    ASSERT_EQ(first.write("one"), keychain_status::success);
    EXPECT_EQ(second.read().kind, KeychainItemReadResult::Kind::notFound);
    ASSERT_EQ(second.write("two"), keychain_status::success);
    EXPECT_EQ(first.read().bytes, QByteArray("one"));
    EXPECT_EQ(second.read().bytes, QByteArray("two"));
}

TEST_F(KeychainItemStoreIntegrationTest, CallsFromManyThreadsAllComplete)
{
    const QString service = uniqueService();
    std::vector<KeychainItemStore *> stores;
    for (int i = 0; i < 4; ++i) {
        stores.push_back(&makeStore(service, QString::number(i)));
    }
    std::vector<std::thread> threads;
    std::vector<int> failures(stores.size(), 0);
    for (std::size_t i = 0; i < stores.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                const QByteArray bytes = QByteArray::number(static_cast<int>(i * 10 + round));
                if (stores[i]->write(bytes) != 0 || stores[i]->read().bytes != bytes) {
                    ++failures[i];
                }
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(stores.size(), 0));
}

// --- Keyrings that cannot answer: each case runs this test program again in a session of
// its own, where one keyring operation is probed with a short time-out. ---

// The probe itself: only active in the child process.
TEST(KeychainItemStoreProbe, Run)
{
    const QByteArray operation = qgetenv("QUILLBY_KEYRING_PROBE");
    if (operation.isEmpty()) {
        GTEST_SKIP() << "only runs as the child of the keyring failure tests";
    }
    KeychainItemStore store(QStringLiteral("QuillbyProbe"), QStringLiteral("configuration"), 3s);
    const auto started = std::chrono::steady_clock::now();
    int kind = -1;
    std::int32_t status = 0;
    if (operation == "read") {
        const auto result = store.read();
        kind = static_cast<int>(result.kind);
        status = result.status;
    } else if (operation == "write") {
        status = store.write("probe");
    } else {
        status = store.remove();
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("PROBE %s kind=%d status=%d seconds=%.1f\n", operation.constData(), kind, status, seconds);
    std::fflush(stdout);
}

struct ProbeResult {
    bool ran = false;
    int kind = -1;
    int status = 0;
    double seconds = 0;
};

// Runs the probe in a session bus of its own, after `setup` (a shell snippet) prepared the
// keyring there; `cleanup` runs after the probe. The child runs in its own process group, so
// a child that overruns is ended with everything it started.
ProbeResult probe(const QString &operation, const QString &setup, const QString &cleanup = QString())
{
    QTemporaryDir home;
    const QString program = QCoreApplication::applicationFilePath();
    const QString script = QStringLiteral("exec >/dev/null 2>&1 3>&1; ") + setup +
                           QStringLiteral("; \"$0\" --gtest_filter=KeychainItemStoreProbe.Run >%1 2>&1; ")
                               .arg(home.filePath(QStringLiteral("probe.log"))) +
                           cleanup;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLBY_KEYRING_PROBE"), operation);
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.remove(QStringLiteral("DISPLAY"));   // no unlock prompt can be shown
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([] { ::setsid(); });
    process.start(QStringLiteral("dbus-run-session"),
                  {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"), script, program});
    if (!process.waitForFinished(test::scaledTimeoutMs(60'000))) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
        ADD_FAILURE() << "the probe did not finish";
        return {};
    }
    QFile log(home.filePath(QStringLiteral("probe.log")));
    log.open(QIODevice::ReadOnly);
    const QString output = QString::fromUtf8(log.readAll());
    ProbeResult result;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("PROBE "))) {
            result.ran = std::sscanf(line.toUtf8().constData(), "PROBE %*s kind=%d status=%d seconds=%lf",
                                     &result.kind, &result.status, &result.seconds) == 3;
        }
    }
    if (!result.ran) {
        ADD_FAILURE() << output.toStdString();
    }
    return result;
}

const QString kStartUnlockedKeyring = QStringLiteral(
    "eval \"$(printf pw | gnome-keyring-daemon --unlock --components=secrets)\"; "
    "printf x | timeout 10 secret-tool store --label=probe server QuillbyProbe user configuration");
const QString kSecretServicePid = QStringLiteral(
    "$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
    "org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets | awk '/uint32/ {print $2}')");

class KeyringFailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!hasSessionBus() || qEnvironmentVariableIsSet("QUILLBY_KEYRING_PROBE")) {
            GTEST_SKIP() << "needs a desktop session with a keyring (scripts/with-session.sh)";
        }
    }
};

TEST_F(KeyringFailureTest, NoSecretServiceIsAStatusNotAMissingItem)
{
    // A bus address nobody listens on: no keyring can be reached at all.
    const auto result = probe(QStringLiteral("read"),
                              QStringLiteral("export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/quillby"));
    ASSERT_TRUE(result.ran);
    EXPECT_EQ(result.kind, static_cast<int>(KeychainItemReadResult::Kind::status));
    EXPECT_NE(result.status, keychain_status::success);
    EXPECT_NE(result.status, keychain_status::itemNotFound);
    EXPECT_LT(result.seconds, 10 * test::timeoutScale());
}

TEST_F(KeyringFailureTest, LockedKeyringIsAStatusNeverMissingOrDone)
{
    // The item exists, but its collection is locked and no unlock prompt can be shown.
    const QString setup = kStartUnlockedKeyring + QStringLiteral(
        "; timeout 10 dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
        "org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login");
    for (const char *operation : {"read", "write", "remove"}) {
        SCOPED_TRACE(operation);
        const auto result = probe(QString::fromLatin1(operation), setup);
        ASSERT_TRUE(result.ran);
        EXPECT_NE(result.status, keychain_status::success);
        EXPECT_NE(result.status, keychain_status::itemNotFound);
        if (std::string(operation) == "read") {
            EXPECT_EQ(result.kind, static_cast<int>(KeychainItemReadResult::Kind::status));
            EXPECT_EQ(result.status, keychain_status::locked);
        }
        if (std::string(operation) == "remove") {
            EXPECT_EQ(result.status, keychain_status::locked);
        }
        EXPECT_LT(result.seconds, 10 * test::timeoutScale());
    }
}

TEST_F(KeyringFailureTest, KeyringThatNeverAnswersTimesOut)
{
    // The keyring daemon of the child's session is stopped, so no call is ever answered.
    const QString setup = kStartUnlockedKeyring + QStringLiteral("; keyring=") + kSecretServicePid +
                          QStringLiteral("; kill -STOP \"$keyring\"");
    const QString cleanup = QStringLiteral("kill -CONT \"$keyring\"; kill \"$keyring\"");
    for (const char *operation : {"read", "write", "remove"}) {
        SCOPED_TRACE(operation);
        const auto result = probe(QString::fromLatin1(operation), setup, cleanup);
        ASSERT_TRUE(result.ran);
        EXPECT_EQ(result.status, keychain_status::timedOut);
        if (std::string(operation) == "read") {
            EXPECT_EQ(result.kind, static_cast<int>(KeychainItemReadResult::Kind::status));
        }
        EXPECT_GE(result.seconds, 2.9);
        EXPECT_LT(result.seconds, 10 * test::timeoutScale());
    }
}

} // namespace
} // namespace quillby
