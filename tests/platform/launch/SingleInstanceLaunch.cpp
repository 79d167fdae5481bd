// A launch of the single-instance check for tests that start launches as separate processes.
// Usage:
//   single_instance_launch <socket name> [answer time-out in ms]
// Prints "ready" once it is set up, waits for a line on standard input, then checks for a
// running instance and prints "won" (this is the running instance), "lost" (another one
// answered and was asked to reopen) or "unanswered" (another one holds the launch lock but did
// not answer). A winner prints "reopen" for each reopen request and stays the running instance
// until standard input closes.
#include "platform/SingleInstanceGuard.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        return 2;
    }
    quillby::SingleInstanceGuard guard(QString::fromLocal8Bit(argv[1]));
    if (argc == 3) {
        guard.setAnswerTimeout(std::chrono::milliseconds(std::stoi(argv[2])));
    }
    std::cout << "ready" << std::endl;
    std::string go;
    if (!std::getline(std::cin, go)) {
        return 2;
    }
    switch (guard.acquire()) {
    case quillby::SingleInstanceGuard::Acquisition::reopened:
        std::cout << "lost" << std::endl;
        return 0;
    case quillby::SingleInstanceGuard::Acquisition::notAnswering:
        std::cout << "unanswered" << std::endl;
        return 1;
    case quillby::SingleInstanceGuard::Acquisition::running:
        break;
    }
    std::cout << "won" << std::endl;
    QObject::connect(&guard, &quillby::SingleInstanceGuard::reopenRequested, &app,
                     [] { std::cout << "reopen" << std::endl; });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            app.quit();
        }
    });
    return app.exec();
}
