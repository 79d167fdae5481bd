#include "app/QuillbyApp.h"
#include "widgets/AccessibilityMarks.h"
#include "platform/DesktopNotifications.h"
#include "platform/SingleInstanceGuard.h"
#include "platform/ReducedMotionMonitor.h"
#include "platform/SleepWakeMonitor.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QSocketNotifier>

#include <QCoroTask>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const kNoDisplayMessage = "Quillby needs a graphical desktop session: no display was found.\n";

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

// A display named in the environment may still be unreachable (nobody serves it, or the chosen
// platform needs another one). Qt then ends the process with a fatal message while the
// application object is made. Until that has succeeded its messages are held back: a fatal one
// becomes our one line and exit status 1, the others are passed on afterwards.
class DisplayConnectionGuard {
public:
    DisplayConnectionGuard() { previous_ = qInstallMessageHandler(&DisplayConnectionGuard::hold); }

    // The display is open: later messages go straight out, held ones are passed on.
    void release()
    {
        qInstallMessageHandler(previous_);
        std::vector<Held> held;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
        }
        for (const Held &message : held) {
            const QMessageLogContext context(message.file.c_str(), message.line, message.function.c_str(),
                                             message.category.c_str());
            qt_message_output(message.type, context, message.text);
        }
    }

private:
    struct Held {
        QtMsgType type;
        std::string file;
        int line;
        std::string function;
        std::string category;
        QString text;
    };

    static void hold(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtFatalMsg) {
            std::fputs(kNoDisplayMessage, stderr);
            std::fflush(stderr);
            std::_Exit(1);
        }
        std::lock_guard lock(mutex_);
        held_.push_back({type, context.file ? context.file : "", context.line,
                         context.function ? context.function : "", context.category ? context.category : "",
                         text});
    }

    QtMessageHandler previous_ = nullptr;
    static inline std::mutex mutex_;
    static inline std::vector<Held> held_;
};

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

// Another instance holds the launch lock but did not answer: this launch does not run beside it.
// It says so on standard error and in one desktop notification, then the caller exits.
void reportRunningInstanceNotAnswering()
{
    const QString title = quillby::SingleInstanceGuard::notAnsweringTitle();
    const QString message = quillby::SingleInstanceGuard::notAnsweringMessage();
    std::fputs(qPrintable(title + QStringLiteral(". ") + message + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
    quillby::DesktopNotificationRequest request;
    request.identifier = QStringLiteral("quillby-instance-not-answering");
    request.title = title;
    request.body = message;
    quillby::DesktopNotifications notifications;
    // waitFor does not return when the task throws: the task keeps its failure to itself.
    QCoro::waitFor([](quillby::DesktopNotifications *center, quillby::DesktopNotificationRequest shown) -> QCoro::Task<void> {
        try {
            co_await center->notify(std::move(shown), 5000);
        } catch (const quillby::DesktopNotificationError &) {
            // No notification service: standard error is all there is.
        }
    }(&notifications, std::move(request)));
}

} // namespace

int main(int argc, char **argv)
{
    if (!hasDisplay()) {
        std::fputs(kNoDisplayMessage, stderr);
        return 1;
    }
    DisplayConnectionGuard displayGuard;
    QApplication app(argc, argv);
    displayGuard.release();
    QApplication::setOrganizationName(QStringLiteral("Quillby"));
    QApplication::setApplicationName(QStringLiteral("Quillby"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillby"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLBY_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    // The desktop entry names the program for the panel, the autostart entry and notifications.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillby"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quillby"), QIcon(QStringLiteral(":/quillby.svg"))));
    // Before any window: headings, hidden images and combo box names reach assistive technologies.
    quillby::installAccessibilityInterfaces();

    // The installed program's path, taken before an update can replace the file.
    const QByteArray executable = QFile::encodeName(QCoreApplication::applicationFilePath());
    bool relaunch = false;
    int exitCode = 0;
    {
        quillby::SingleInstanceGuard instanceGuard;
        switch (instanceGuard.acquire()) {
        case quillby::SingleInstanceGuard::Acquisition::running:
            break;
        case quillby::SingleInstanceGuard::Acquisition::reopened:
            return 0;   // the running instance was asked to reopen
        case quillby::SingleInstanceGuard::Acquisition::notAnswering:
            reportRunningInstanceNotAnswering();
            return 1;
        }
        installTerminationHandlers(app);

        quillby::SleepWakeMonitor sleepWake;
        quillby::ReducedMotionMonitor reducedMotion;
        quillby::QuillbyEnvironment environment = quillby::QuillbyEnvironment::production();
        environment.relaunch = [&relaunch] {
            relaunch = true;
            QApplication::quit();
        };
        environment.sleepWakeMonitor = &sleepWake;
        environment.reducedMotionMonitor = &reducedMotion;
        quillby::QuillbyApp quillby(std::move(environment));
        quillby::AppDelegate &delegate = quillby.appDelegate();

        QObject::connect(&instanceGuard, &quillby::SingleInstanceGuard::reopenRequested, &delegate,
                         [&delegate] { delegate.applicationShouldHandleReopen(); });
        QObject::connect(&app, &QApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
        QMetaObject::invokeMethod(&delegate, [&delegate] { delegate.finishLaunching(); }, Qt::QueuedConnection);
        exitCode = app.exec();
    }
    // After an installed update: every object above is gone (the single-instance lock released,
    // the history written), so the new version starts in this process's place.
    if (relaunch && !executable.isEmpty()) {
        char *const arguments[] = {const_cast<char *>(executable.constData()), nullptr};
        ::execv(executable.constData(), arguments);
        std::fprintf(stderr, "Quillby could not start the updated program.\n");
    }
    return exitCode;
}
