#include "WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <csignal>
#include <set>
#include <unistd.h>

namespace {

using quillby::test::scaledTimeoutMs;
using quillby::test::waitUntil;

// Whether process `pid` listens on a local socket: the single-instance guard's, the only one the
// program opens, before it starts its event loop. (Its name cannot be checked: the kernel's table
// shows the path it was bound to, which Qt renames afterwards.)
bool listensForOtherLaunches(qint64 pid)
{
    QFile table(QStringLiteral("/proc/net/unix"));
    if (!table.open(QIODevice::ReadOnly)) {
        return false;
    }
    std::set<QString> listening;   // "socket:[inode]"
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // Num RefCount Protocol Flags Type St Inode [Path]; flag 0x10000 marks a listening socket.
        if (fields.size() >= 7 && (fields[3].toUInt(nullptr, 16) & 0x10000) != 0) {
            listening.insert(QStringLiteral("socket:[%1]").arg(QString::fromLatin1(fields[6])));
        }
    }
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &name : descriptors.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::AllEntries)) {
        char target[64] = {};
        const ssize_t size = ::readlink(descriptors.filePath(name).toLocal8Bit().constData(), target, sizeof target - 1);
        if (size > 0 && listening.count(QString::fromLatin1(target, size)) != 0) {
            return true;
        }
    }
    return false;
}

// Whether an X client owns the system tray selection of the display's first screen.
bool trayHostOwnsTheSelection()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    bool owned = false;
    if (xcb_connection_has_error(connection) == 0) {
        const char name[] = "_NET_SYSTEM_TRAY_S0";
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
        if (atom) {
            xcb_get_selection_owner_reply_t *owner =
                xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            owned = owner && owner->owner != XCB_NONE;
            free(owner);
            free(atom);
        }
    }
    xcb_disconnect(connection);
    return owned;
}

// The environment of a run in a private home: its own settings, data and local-socket folder.
QProcessEnvironment privateHome(const QTemporaryDir &home)
{
    for (const char *folder : {"config", "data", "tmp", "runtime"}) {
        QDir(home.path()).mkpath(QString::fromLatin1(folder));
    }
    // The single-instance socket lives in the runtime folder, which must be private.
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    return environment;
}

// Starts the real program with `environment` and waits until it listens for other launches;
// fails when it ends first.
void startRunningInstance(QProcess &app, const QProcessEnvironment &environment)
{
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(app.waitForStarted(scaledTimeoutMs(5000)));
    ASSERT_TRUE(waitUntil([&] { return app.state() != QProcess::Running || listensForOtherLaunches(app.processId()); }))
        << "the program never got up";
    ASSERT_EQ(app.state(), QProcess::Running) << app.readAll().toStdString();
}

// Starts the real program in a private home (its own settings, data and local-socket folder)
// and checks that, once it is up, it stays up and ends cleanly on SIGTERM.
void expectStaysUpAndEndsCleanly(bool withTrayHost)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs an X display and a session bus (scripts/with-session.sh)";
    }
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = privateHome(home);

    QProcess trayHost;
    if (withTrayHost) {
        const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        if (trayer.isEmpty()) {
            GTEST_SKIP() << "trayer is not installed";
        }
        trayHost.setProcessEnvironment(environment);
        trayHost.start(trayer, {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--height"),
                                QStringLiteral("24")});
        ASSERT_TRUE(trayHost.waitForStarted(scaledTimeoutMs(5000)));
        ASSERT_TRUE(waitUntil(trayHostOwnsTheSelection)) << "the tray host did not take the tray selection";
    }

    QProcess app;
    ASSERT_NO_FATAL_FAILURE(startRunningInstance(app, environment));
    // Up: it goes on running (a window to see a crash in the launch that follows; a slow machine
    // only makes it see less, never fail).
    EXPECT_FALSE(app.waitForFinished(3000)) << app.readAll().toStdString();
    ASSERT_EQ(app.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(scaledTimeoutMs(10000)));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAll().toStdString();

    if (withTrayHost) {
        trayHost.terminate();
        trayHost.waitForFinished(scaledTimeoutMs(5000));
    }
}

TEST(AppLaunch, StaysUpWithoutATrayHost)
{
    expectStaysUpAndEndsCleanly(false);
}

TEST(AppLaunch, StaysUpWithATrayHost)
{
    expectStaysUpAndEndsCleanly(true);
}

// Without a display that can be opened the program writes one line and exits with status 1,
// whether no display is named at all, the named one is served by nobody, or the chosen
// platform needs a display that is not named.
struct NoDisplayCase {
    const char *name;
    const char *variable;   // set for the run (nullptr: none)
    const char *value;
};

class AppLaunchWithoutDisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(AppLaunchWithoutDisplay, ExitsAtOnceWithOneLine)
{
    const NoDisplayCase &c = GetParam();
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    if (c.variable) {
        environment.insert(QString::fromLatin1(c.variable), QString::fromLatin1(c.value));
    }
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(app.waitForFinished(scaledTimeoutMs(10000)));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 1);
    EXPECT_EQ(app.readAllStandardError().toStdString(),
              "Quillby needs a graphical desktop session: no display was found.\n");
}

INSTANTIATE_TEST_SUITE_P(AppLaunch, AppLaunchWithoutDisplay,
                         ::testing::Values(NoDisplayCase{"noDisplayNamed", nullptr, nullptr},
                                           NoDisplayCase{"unservedXDisplay", "DISPLAY", ":9871"},
                                           NoDisplayCase{"xcbWithoutDisplay", "QT_QPA_PLATFORM", "xcb"}),
                         [](const auto &info) { return std::string(info.param.name); });

// A second launch in the same session asks the running program to reopen and ends at once with
// status 0; the first one keeps running.
TEST(AppLaunch, SecondLaunchHandsOverToTheRunningOne)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs an X display and a session bus (scripts/with-session.sh)";
    }
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = privateHome(home);

    QProcess first;
    // The second launch must find the first one listening.
    ASSERT_NO_FATAL_FAILURE(startRunningInstance(first, environment));

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(scaledTimeoutMs(10000)));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(scaledTimeoutMs(10000)));
    EXPECT_EQ(first.exitCode(), 0);
}

// A running program that is stopped keeps its launch lock: a later launch never becomes a second
// poller beside it. It says on standard error that the running one does not respond and ends
// with status 1; once the first one runs on, a launch hands over to it again.
TEST(AppLaunch, ALaunchNeverRunsBesideAStoppedInstance)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs an X display and a session bus (scripts/with-session.sh)";
    }
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = privateHome(home);

    QProcess first;
    ASSERT_NO_FATAL_FAILURE(startRunningInstance(first, environment));
    const pid_t firstPid = static_cast<pid_t>(first.processId());
    ::kill(firstPid, SIGSTOP);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(QUILLBY_BINARY), {});
    const bool secondEnded = second.waitForFinished(scaledTimeoutMs(60000));
    if (!secondEnded) {
        second.kill();
        second.waitForFinished();
    }
    ::kill(firstPid, SIGCONT);
    ASSERT_TRUE(secondEnded) << "the second launch kept running beside the first";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("Quillby is already running but does not respond"));

    QProcess third;
    third.setProcessEnvironment(environment);
    third.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(third.waitForFinished(scaledTimeoutMs(30000)));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(firstPid, SIGTERM);
    ASSERT_TRUE(first.waitForFinished(scaledTimeoutMs(10000)));
    EXPECT_EQ(first.exitCode(), 0);
}

} // namespace
