// Announces each line read from standard input through the production announcer, so a client
// on the accessibility bus (a listener, Orca) can be checked against known texts. Prints
// "ready" once the application is up and "announced N" after the N-th line. Ends at end of input.
#include "platform/AccessibleNotificationAnnouncer.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillby-announcement-probe"));
    quillby::AccessibleNotificationAnnouncer announcer;
    // A window, as the program has while it speaks (Orca follows the active application).
    QWidget window;
    window.setWindowTitle(QStringLiteral("Announcement probe"));
    window.resize(200, 100);
    window.show();

    int count = 0;
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QApplication::quit();
            return;
        }
        pending.append(buffer, got);
        int newline = 0;
        while ((newline = pending.indexOf('\n')) >= 0) {
            announcer.announce(QString::fromUtf8(pending.left(newline)));
            pending.remove(0, newline + 1);
            std::printf("announced %d\n", ++count);
            std::fflush(stdout);
        }
    });
    QMetaObject::invokeMethod(&app, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    }, Qt::QueuedConnection);
    return app.exec();
}
