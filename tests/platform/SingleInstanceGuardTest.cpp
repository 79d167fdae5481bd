#include "platform/SingleInstanceGuard.h"
#include "FakeClock.h"
#include "VirtualTimeSleeper.h"
#include "WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <csignal>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace quillby {
namespace {

// Launches started together, each told to go only once all of them are ready.
TEST(SingleInstanceLaunches, ExactlyOneOfManySimultaneousLaunchesRuns)
{
    constexpr int kRounds = 4;
    constexpr int kLaunches = 12;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const QString socket = folder.filePath(QStringLiteral("round%1.socket").arg(round));
        std::vector<std::unique_ptr<QProcess>> launches;
        for (int i = 0; i < kLaunches; ++i) {
            auto process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process->start(QStringLiteral(QUILLBY_SINGLE_INSTANCE_LAUNCH), {socket});
            launches.push_back(std::move(process));
        }
        const auto lineOf = [](QProcess &process) { return process.canReadLine() ? process.readLine().trimmed() : QByteArray(); };
        for (auto &process : launches) {
            ASSERT_TRUE(test::waitUntil([&] { return process->canReadLine(); }, 60'000));
            ASSERT_EQ(lineOf(*process), "ready");
        }
        for (auto &process : launches) {
            process->write("go\n");
        }
        int won = 0;
        int lost = 0;
        for (auto &process : launches) {
            ASSERT_TRUE(test::waitUntil([&] { return process->canReadLine(); }, 60'000));
            const QByteArray outcome = lineOf(*process);
            won += outcome == "won";
            lost += outcome == "lost";
        }
        EXPECT_EQ(won, 1);
        EXPECT_EQ(lost, kLaunches - 1);
        for (auto &process : launches) {
            process->closeWriteChannel();
            if (process->state() != QProcess::NotRunning) {
                ASSERT_TRUE(process->waitForFinished(test::scaledTimeoutMs(30'000)));
            }
            EXPECT_EQ(process->exitCode(), 0);
        }
    }
}

// One launch of the single-instance check as a process of its own (single_instance_launch).
class Launch {
public:
    explicit Launch(const QString &socket, int answerTimeoutMs = 0)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{socket};
        if (answerTimeoutMs > 0) {
            arguments << QString::number(answerTimeoutMs);
        }
        process_.start(QStringLiteral(QUILLBY_SINGLE_INSTANCE_LAUNCH), arguments);
    }
    ~Launch()
    {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
            process_.kill();
            process_.waitForFinished(test::scaledTimeoutMs(10'000));
        }
    }
    // The next line it prints (empty when none comes within the bound).
    QByteArray nextLine()
    {
        if (!test::waitUntil([&] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; }, 60'000)) {
            return {};
        }
        return process_.canReadLine() ? process_.readLine().trimmed() : QByteArray();
    }
    // Tells it to check for a running instance and returns what it found.
    QByteArray go()
    {
        if (nextLine() != "ready") {
            return "not ready";
        }
        process_.write("go\n");
        return nextLine();
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    // Closes its input (a running instance then quits) and returns its exit code.
    int finish()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(test::scaledTimeoutMs(30'000))) {
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

private:
    QProcess process_;
};

// The running instance keeps the launch lock while it lives. Stopped, or without its socket, it
// cannot answer, and a new launch still never becomes a second instance: it says that the
// running one does not answer and ends. Once the running one answers again a launch hands over
// to it as usual, and when it has ended (however it ended) the next launch runs.
TEST(SingleInstanceLaunches, ALaunchNeverRunsBesideAnInstanceThatDoesNotAnswer)
{
    constexpr int kAnswerTimeoutMs = 1500;
    struct Case {
        const char *name;
        std::function<void(Launch &first, const QString &socket)> silence;
        std::function<void(Launch &first)> revive;   // null: it stays silent
        int endSignal;                                // how the first one ends; 0: its input closes
    };
    const std::vector<Case> cases = {
        {"stopped", [](Launch &first, const QString &) { first.signal(SIGSTOP); },
         [](Launch &first) { first.signal(SIGCONT); }, 0},
        {"socket removed", [](Launch &, const QString &socket) { ASSERT_TRUE(QFile::remove(socket)); }, nullptr,
         SIGKILL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        const QString socket = folder.filePath(QStringLiteral("quillby.socket"));
        Launch first(socket);
        ASSERT_EQ(first.go(), "won");
        c.silence(first, socket);

        Launch second(socket, kAnswerTimeoutMs);
        EXPECT_EQ(second.go(), "unanswered");
        EXPECT_EQ(second.finish(), 1);

        if (c.revive) {
            c.revive(first);
            Launch third(socket, kAnswerTimeoutMs);
            EXPECT_EQ(third.go(), "lost");
            EXPECT_EQ(first.nextLine(), "reopen");
            EXPECT_EQ(third.finish(), 0);
        }
        if (c.endSignal != 0) {
            first.signal(c.endSignal);
            first.finish();
        } else {
            EXPECT_EQ(first.finish(), 0);
        }
        Launch next(socket, kAnswerTimeoutMs);
        EXPECT_EQ(next.go(), "won");
        EXPECT_EQ(next.finish(), 0);
    }
}

class FallbackRuntimeFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temporary_.isValid());
        previousRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        previousTemporary_ = qgetenv("TMPDIR");
        hadTemporary_ = qEnvironmentVariableIsSet("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temporary_.path()));
    }
    void TearDown() override
    {
        qputenv("XDG_RUNTIME_DIR", previousRuntime_);
        if (hadTemporary_) {
            qputenv("TMPDIR", previousTemporary_);
        } else {
            qunsetenv("TMPDIR");
        }
    }
    QString fallback() const { return temporary_.filePath(QStringLiteral("quillby-runtime-%1").arg(::geteuid())); }

    QTemporaryDir temporary_;
    QByteArray previousRuntime_;
    QByteArray previousTemporary_;
    bool hadTemporary_ = false;
};

TEST_F(FallbackRuntimeFolder, OnlyAPrivateFolderOfThisUserHoldsTheSocket)
{
    const QString elsewhere = temporary_.filePath(QStringLiteral("elsewhere"));
    ASSERT_EQ(::mkdir(QFile::encodeName(elsewhere).constData(), 0700), 0);
    struct Case {
        const char *name;
        std::function<void()> prepare;   // with XDG_RUNTIME_DIR unset unless it sets it
        bool usesFallback;
    };
    const std::vector<Case> cases = {
        {"missing: made with mode 0700", [] {}, true},
        {"already there and private", [&] { ::mkdir(QFile::encodeName(fallback()).constData(), 0700); }, true},
        {"ours but open to others: narrowed to 0700",
         [&] {
             ::mkdir(QFile::encodeName(fallback()).constData(), 0700);
             ::chmod(QFile::encodeName(fallback()).constData(), 0777);
         },
         true},
        {"ours but the group may enter: narrowed to 0700",
         [&] {
             ::mkdir(QFile::encodeName(fallback()).constData(), 0700);
             ::chmod(QFile::encodeName(fallback()).constData(), 0750);
         },
         true},
        {"a link to a private folder", [&] { ::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(fallback()).constData()); }, false},
        {"a file", [&] { QFile file(fallback()); file.open(QIODevice::WriteOnly); }, false},
        {"runtime folder open to others falls back",
         [&] {
             const QString runtime = temporary_.filePath(QStringLiteral("runtime"));
             ::mkdir(QFile::encodeName(runtime).constData(), 0700);
             ::chmod(QFile::encodeName(runtime).constData(), 0755);
             qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
         },
         true},
        {"relative runtime folder falls back", [] { qputenv("XDG_RUNTIME_DIR", "relative"); }, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        qunsetenv("XDG_RUNTIME_DIR");
        QFile::remove(fallback());
        QDir(fallback()).removeRecursively();
        c.prepare();
        const QString name = SingleInstanceGuard::defaultSocketName();
        if (c.usesFallback) {
            EXPECT_EQ(name, fallback() + QStringLiteral("/quillby.socket"));
            struct stat info {};
            ASSERT_EQ(::lstat(QFile::encodeName(fallback()).constData(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        } else {
            EXPECT_TRUE(name.isEmpty()) << name.toStdString();
            struct stat info {};
            ::lstat(QFile::encodeName(fallback()).constData(), &info);
            EXPECT_NE(info.st_mode & 07777, 0700u);   // left as it was, not repaired
        }
    }
    // Without a private folder the launch runs, with nobody listening.
    SingleInstanceGuard guard(QString{});
    EXPECT_EQ(guard.acquire(), SingleInstanceGuard::Acquisition::running);
}

class SingleInstanceListener : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder_.isValid());
        ASSERT_EQ(guard_.acquire(), SingleInstanceGuard::Acquisition::running);
    }
    std::unique_ptr<QLocalSocket> connectClient()
    {
        auto client = std::make_unique<QLocalSocket>();
        client->connectToServer(socket_);
        EXPECT_TRUE(client->waitForConnected(test::scaledTimeoutMs(5000)));
        return client;
    }
    static bool closed(const QLocalSocket &client) { return client.state() == QLocalSocket::UnconnectedState; }

    QTemporaryDir folder_;
    QString socket_ = folder_.filePath(QStringLiteral("quillby.socket"));
    test::FakeClock clock_;
    std::shared_ptr<test::VirtualTimeSleeper> sleeper_ = std::make_shared<test::VirtualTimeSleeper>(clock_);
    SingleInstanceGuard guard_{socket_, sleeper_};
};

TEST_F(SingleInstanceListener, HoldsAFewConnectionsAndClosesIdleOnes)
{
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < 3 * SingleInstanceGuard::kMaxConnections; ++i) {
        clients.push_back(connectClient());
    }
    const auto closedCount = [&] {
        return std::count_if(clients.begin(), clients.end(), [](const auto &c) { return closed(*c); });
    };
    ASSERT_TRUE(test::waitUntil([&] { return closedCount() == 2 * SingleInstanceGuard::kMaxConnections; }));
    EXPECT_EQ(guard_.openConnectionCount(), SingleInstanceGuard::kMaxConnections);

    sleeper_->runFor(SingleInstanceGuard::kIdleSeconds - 0.5);
    EXPECT_EQ(guard_.openConnectionCount(), SingleInstanceGuard::kMaxConnections);
    sleeper_->runFor(1.0);
    ASSERT_TRUE(test::waitUntil([&] { return closedCount() == static_cast<long>(clients.size()); }));
    EXPECT_EQ(guard_.openConnectionCount(), 0);

    // The channel still answers a launch afterwards.
    QSignalSpy reopen(&guard_, &SingleInstanceGuard::reopenRequested);
    auto launch = connectClient();
    launch->write("reopen\n");
    ASSERT_TRUE(test::waitUntil([&] { return reopen.count() == 1; }));
}

TEST_F(SingleInstanceListener, ClosesAConnectionAfterOneLineOrAnOverlongOne)
{
    QSignalSpy reopen(&guard_, &SingleInstanceGuard::reopenRequested);
    auto flood = connectClient();
    const QByteArray newlines(1 << 20, '\n');
    flood->write(newlines);
    auto overlong = connectClient();
    overlong->write(QByteArray(SingleInstanceGuard::kMaxLineBytes + 1, 'x'));
    auto tooLongReopen = connectClient();
    tooLongReopen->write(QByteArray(SingleInstanceGuard::kMaxLineBytes, ' ') + "reopen\n");
    ASSERT_TRUE(test::waitUntil([&] { return closed(*flood) && closed(*overlong) && closed(*tooLongReopen); }));
    EXPECT_EQ(guard_.openConnectionCount(), 0);
    EXPECT_EQ(reopen.count(), 0);

    auto repeated = connectClient();
    repeated->write("reopen\nreopen\nreopen\n");
    ASSERT_TRUE(test::waitUntil([&] { return closed(*repeated); }));
    EXPECT_EQ(reopen.count(), 1);
}

} // namespace
} // namespace quillby
