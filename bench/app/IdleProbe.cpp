// Measures the real program at rest: the production composition root with one signed-in
// Dexcom account (served by quillby_fake_dexcom on loopback), terms accepted and onboarding
// complete. After a warm-up it samples memory, threads and CPU time, waits a window and samples
// again, then prints the figures and exits. With --open it keeps one of the windows with the
// animated background open the whole time: the onboarding window (onboarding not completed),
// the terms window (terms not accepted) or the Insights window (no saved history yet, so it
// shows its collecting view).
//
//   quillby_idle_probe --origin http://127.0.0.1:PORT [--warmup 60] [--window 60]
//                      [--open onboarding|terms|insights]
//
// Run it inside scripts/with-session.sh (a throwaway keyring, bus and display).
#include "app/QuillbyApp.h"
#include "core/ConfigurationManager.h"
#include "platform/ReducedMotionMonitor.h"
#include "platform/SleepWakeMonitor.h"
#include "providers/DexcomAPI.h"
#include "insights_window/InsightsLauncher.h"
#include "menubar/StatusBarViewModel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QFile>
#include <QTimer>
#include <QCoroSignal>
#include <qcorotask.h>

#include <cstdio>
#include <algorithm>
#include <map>
#include <utility>
#include <vector>
#include <sys/resource.h>

namespace {

using namespace quillby;

// The "Key: value" lines of a /proc file, values in kB (Threads: a count).
std::map<QString, long> procFields(const QString &path)
{
    std::map<QString, long> fields;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fields;
    }
    for (const QByteArray &line : file.readAll().split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0) {
            continue;
        }
        const QString key = QString::fromLatin1(line.left(colon));
        const QList<QByteArray> words = line.mid(colon + 1).simplified().split(' ');
        if (!words.isEmpty()) {
            bool ok = false;
            const long value = words.first().toLong(&ok);
            if (ok) {
                fields[key] = value;
            }
        }
    }
    return fields;
}

// /proc/self/status with the proportional and private sizes of /proc/self/smaps_rollup.
std::map<QString, long> processStatus()
{
    std::map<QString, long> fields = procFields(QStringLiteral("/proc/self/status"));
    fields.merge(procFields(QStringLiteral("/proc/self/smaps_rollup")));
    return fields;
}

// The resident kB of each mapped file, largest first (anonymous memory under "[anonymous]").
std::vector<std::pair<long, QString>> residentByFile()
{
    std::map<QString, long> byFile;
    QFile file(QStringLiteral("/proc/self/smaps"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString current;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 5 && words[0].contains('-') && !words[0].endsWith(':')) {
            current = words.size() >= 6 ? QString::fromUtf8(words[5]) : QStringLiteral("[anonymous]");
        } else if (words.size() >= 2 && words[0] == "Rss:") {
            byFile[current] += words[1].toLong();
        }
    }
    std::vector<std::pair<long, QString>> sorted;
    for (const auto &[name, kb] : byFile) {
        sorted.emplace_back(kb, name);
    }
    std::sort(sorted.rbegin(), sorted.rend());
    return sorted;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The serial number in a new connection's unique name (":1.N"): how many connections the
// session bus has accepted so far, this one included.
long busConnectionsSoFar()
{
    const QString name = QStringLiteral("quillby-idle-probe-%1").arg(QDateTime::currentMSecsSinceEpoch());
    QDBusConnection connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    const QString unique = connection.baseService();
    QDBusConnection::disconnectFromBus(name);
    return unique.section(QLatin1Char('.'), -1).toLong();
}

QCoro::Task<void> signIn(ConfigurationManager &manager, QString open)
{
    if (open != QStringLiteral("terms") && open != QStringLiteral("onboarding")) {
        manager.acceptCurrentTerms();
    }
    manager.defaults().setValue(ConfigurationManager::kOnboardingCompletedKey, open != QStringLiteral("onboarding"));
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::dexcom;
    account.username = "idle@example.com";
    account.password = "secret";
    account.region = "ous";
    co_await manager.updateConfiguration([account](const std::optional<AppConfiguration> &current) {
        return ConfigurationManager::configurationWithAccount(current, account, "mg/dL");
    });
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillby"));
    QApplication::setApplicationName(QStringLiteral("Quillby"));
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("quillby"));

    QCommandLineParser parser;
    parser.addOption({QStringLiteral("origin"), QStringLiteral("The fake Dexcom service."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("warmup"), QStringLiteral("Seconds before the window."), QStringLiteral("s"),
                      QStringLiteral("60")});
    parser.addOption({QStringLiteral("window"), QStringLiteral("Seconds measured."), QStringLiteral("s"),
                      QStringLiteral("60")});
    parser.addOption({QStringLiteral("maps"), QStringLiteral("Also list the largest resident mappings.")});
    parser.addOption({QStringLiteral("open"), QStringLiteral("A window to keep open: onboarding, terms or insights."),
                      QStringLiteral("window")});
    parser.process(app);
    const bool listMaps = parser.isSet(QStringLiteral("maps"));
    const std::string origin = parser.value(QStringLiteral("origin")).toStdString();
    const int warmup = parser.value(QStringLiteral("warmup")).toInt();
    const int window = parser.value(QStringLiteral("window")).toInt();
    const QString open = parser.value(QStringLiteral("open"));
    const bool knownWindow = open.isEmpty() || open == QStringLiteral("onboarding") || open == QStringLiteral("terms") ||
                             open == QStringLiteral("insights");
    if (origin.empty() || warmup < 0 || window <= 0 || !knownWindow) {
        std::fputs("usage: quillby_idle_probe --origin URL [--warmup S] [--window S]\n", stderr);
        return 2;
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
    ConfigurationManager &manager = *environment.configurationManager;
    QCoro::waitFor(manager.loadConfiguration());
    QCoro::waitFor(signIn(manager, open));

    QuillbyApp quillby(std::move(environment));
    AppDelegate &delegate = quillby.appDelegate();
    QObject::connect(&app, &QApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
    QMetaObject::invokeMethod(&delegate, [&delegate] { delegate.finishLaunching(); }, Qt::QueuedConnection);
    if (open == QStringLiteral("insights")) {
        QTimer::singleShot(1000, &app, [&quillby] { quillby.insightsLauncher().show(); });
    }

    struct Sample {
        std::map<QString, long> status;
        double cpu = 0;
        long bus = 0;
    } start;
    QTimer::singleShot(warmup * 1000, &app, [&] {
        start = {processStatus(), cpuSeconds(), busConnectionsSoFar()};
        QTimer::singleShot(window * 1000, &app, [&] {
            const Sample end{processStatus(), cpuSeconds(), busConnectionsSoFar()};
            auto mb = [&](const char *key) { return static_cast<double>(end.status.at(QString::fromLatin1(key))) / 1024.0; };
            std::printf("tray title: %s\n", quillby.statusBarViewModel().statusTitle().toUtf8().constData());
            if (!open.isEmpty()) {
                // Which animated backgrounds were on screen, so a figure is never of the wrong window.
                int shown = 0;
                for (QWidget *top : QApplication::topLevelWidgets()) {
                    for (const QWidget *panel : top->findChildren<QWidget *>()) {
                        if (panel->inherits("quillby::AmbientBackgroundView") && panel->isVisible()) {
                            std::printf("open: %s, animated background %dx%d in \"%s\"\n", open.toUtf8().constData(),
                                        panel->width(), panel->height(), top->windowTitle().toUtf8().constData());
                            ++shown;
                        }
                    }
                }
                if (shown == 0) {
                    std::printf("open: %s, but no animated background is visible\n", open.toUtf8().constData());
                }
            }
            std::printf("resident: %.1f MB (anonymous %.1f, file-backed %.1f, shared memory %.1f); peak %.1f MB\n",
                        mb("VmRSS"), mb("RssAnon"), mb("RssFile"), mb("RssShmem"), mb("VmHWM"));
            std::printf("proportional (shared pages split among their users): %.1f MB; private: %.1f MB\n",
                        mb("Pss"), mb("Private_Clean") + mb("Private_Dirty"));
            std::printf("threads: %ld\n", end.status.at(QStringLiteral("Threads")));
            std::printf("cpu: %.3f %% of a core over %d s\n", 100.0 * (end.cpu - start.cpu) / window, window);
            // Our own two probe connections are not the program's.
            std::printf("new session-bus connections: %ld\n", end.bus - start.bus - 1);
            if (listMaps) {
                const auto files = residentByFile();
                for (std::size_t i = 0; i < files.size() && i < 20; ++i) {
                    std::printf("  %7.1f MB  %s\n", static_cast<double>(files[i].first) / 1024.0,
                                files[i].second.toUtf8().constData());
                }
            }
            QApplication::quit();
        });
    });
    return app.exec();
}
