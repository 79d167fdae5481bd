#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

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

// Starts the real program in a private home (its own settings, data and local-socket folder)
// and checks that it stays up for a few seconds and ends cleanly on SIGTERM.
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
        ASSERT_TRUE(trayHost.waitForStarted(5000));
        QThread::msleep(500);
    }

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(app.waitForStarted(5000));
    EXPECT_FALSE(app.waitForFinished(4000)) << app.readAll().toStdString();
    ASSERT_EQ(app.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAll().toStdString();

    if (withTrayHost) {
        trayHost.terminate();
        trayHost.waitForFinished(5000);
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
    ASSERT_TRUE(app.waitForFinished(10000));
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
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(first.waitForStarted(5000));
    EXPECT_FALSE(first.waitForFinished(2000)) << first.readAll().toStdString();

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitCode(), 0);
}

} // namespace
