#include "app/QuillbyApp.h"
#include "platform/SingleInstanceGuard.h"
#include "platform/SleepWakeMonitor.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// SIGTERM and SIGINT end the application through the normal quit path.
void installTerminationHandlers(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    if (!hasDisplay()) {
        std::fputs("Quillby needs a graphical desktop session: no display was found.\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillby"));
    QApplication::setApplicationName(QStringLiteral("Quillby"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillby"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLBY_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    quillby::SingleInstanceGuard instanceGuard;
    if (!instanceGuard.acquire()) {
        return 0;   // the running instance was asked to reopen
    }
    installTerminationHandlers(app);

    quillby::SleepWakeMonitor sleepWake;
    quillby::QuillbyEnvironment environment = quillby::QuillbyEnvironment::production();
    environment.sleepWakeMonitor = &sleepWake;
    quillby::QuillbyApp quillby(std::move(environment));
    quillby::AppDelegate &delegate = quillby.appDelegate();

    QObject::connect(&instanceGuard, &quillby::SingleInstanceGuard::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(); });
    QObject::connect(&app, &QApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
    QMetaObject::invokeMethod(&delegate, [&delegate] { delegate.finishLaunching(); }, Qt::QueuedConnection);
    return app.exec();
}
