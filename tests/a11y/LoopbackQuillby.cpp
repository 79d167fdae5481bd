// The program as it starts from the desktop (production composition root, the user's keyring,
// settings, autostart folder and notification service), with Dexcom Share served on loopback:
// the account "ada" / "secret" with a reading every five minutes up to now. For driving the
// program end to end over the accessibility bus (tests/a11y/keyboard_walk.py).
#include "FakeDexcomServer.h"

#include "app/QuillbyApp.h"
#include "platform/ReducedMotionMonitor.h"
#include "platform/SleepWakeMonitor.h"
#include "providers/DexcomAPI.h"
#include "providers/GlucoseAPIClientFactory.h"

#include <QApplication>
#include <QSocketNotifier>

#include <chrono>
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

std::vector<nlohmann::json> readingsUpToNow()
{
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::vector<nlohmann::json> records;
    for (int i = 0; i < 36; ++i) {   // three hours, newest first
        records.push_back(quillby::test::FakeDexcomServer::record(108 - (i % 5), "Flat", now - i * 300.0));
    }
    return records;
}

} // namespace

int main(int argc, char **argv)
{
    using namespace quillby;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillby"));
    QApplication::setApplicationName(QStringLiteral("Quillby"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillby"));
    QApplication::setApplicationVersion(QStringLiteral("0.0.0-loopback"));
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("quillby"));

    test::FakeDexcomServer dexcom;
    dexcom.setAccount("ada", "secret", "8f2a6c1e-0000-4000-8000-000000000001");
    dexcom.setReadings(readingsUpToNow());
    const std::string origin = dexcom.origin();

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }

    SleepWakeMonitor sleepWake;
    ReducedMotionMonitor reducedMotion;
    QuillbyEnvironment environment = QuillbyEnvironment::production();
    environment.sleepWakeMonitor = &sleepWake;
    environment.reducedMotionMonitor = &reducedMotion;
    environment.makeAPIClient = [origin](const GlucoseAccountConfiguration &account) {
        DexcomAPIOptions options;
        options.baseURLs = DexcomAPI::baseURLsAt(origin);
        return std::make_shared<DexcomAPI>(account.username, account.password, account.region, options);
    };
    GlucoseAPIClientOptions settingsClients;
    settingsClients.dexcom.baseURLs = DexcomAPI::baseURLsAt(origin);
    environment.makeSettingsAPIClient = glucoseAPIFactory(std::move(settingsClients));
    QuillbyApp quillby(std::move(environment));
    AppDelegate &delegate = quillby.appDelegate();
    QObject::connect(&app, &QApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
    QMetaObject::invokeMethod(&delegate, [&delegate] { delegate.finishLaunching(); }, Qt::QueuedConnection);
    std::printf("dexcom %s\n", origin.c_str());
    std::fflush(stdout);
    return app.exec();
}
