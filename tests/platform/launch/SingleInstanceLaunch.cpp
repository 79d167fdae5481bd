// A launch of the single-instance check for tests that start many at once. Usage:
//   single_instance_launch <socket name>
// Prints "ready" once it is set up, waits for a line on standard input, then checks for a
// running instance and prints "won" (this is the running instance) or "lost" (another one
// answered). A winner stays the running instance until standard input closes.
#include "platform/SingleInstanceGuard.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <iostream>
#include <string>

#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        return 2;
    }
    quillby::SingleInstanceGuard guard(QString::fromLocal8Bit(argv[1]));
    std::cout << "ready" << std::endl;
    std::string go;
    if (!std::getline(std::cin, go)) {
        return 2;
    }
    if (!guard.acquire()) {
        std::cout << "lost" << std::endl;
        return 0;
    }
    std::cout << "won" << std::endl;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            app.quit();
        }
    });
    return app.exec();
}
