#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// Starts the real program in a private home (its own settings, data and local-socket folder)
// and checks that it stays up for a few seconds and ends cleanly on SIGTERM.
void expectStaysUpAndEndsCleanly(bool withTrayHost)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs an X display and a session bus (scripts/with-session.sh)";
    }
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    for (const char *folder : {"config", "data", "tmp"}) {
        ASSERT_TRUE(QDir(home.path()).mkpath(QString::fromLatin1(folder)));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));

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

TEST(AppLaunch, WithoutADisplayExitsAtOnceWithOneLine)
{
    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(QUILLBY_BINARY), {});
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitCode(), 1);
    EXPECT_EQ(app.readAllStandardError().toStdString(),
              "Quillby needs a graphical desktop session: no display was found.\n");
}

} // namespace
