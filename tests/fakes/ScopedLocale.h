#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <clocale>
#include <string>

namespace quillby::test {

// Switches one locale category of the C library to <language>.UTF-8 for its lifetime. When the
// system has not installed that locale, it is compiled into a temporary folder with localedef.
class ScopedLocale {
public:
    ScopedLocale(int category, const QString &language) : category_(category), previous_(std::setlocale(category, nullptr))
    {
        const QString name = language + QStringLiteral(".UTF-8");
        if (std::setlocale(category, name.toUtf8().constData()) != nullptr) {
            active_ = true;
            return;
        }
        if (!folder_.isValid()) {
            return;
        }
        QProcess::execute(QStringLiteral("localedef"),
                          {QStringLiteral("-i"), language, QStringLiteral("-f"), QStringLiteral("UTF-8"),
                           folder_.filePath(name)});
        qputenv("LOCPATH", QFile::encodeName(folder_.path()));
        active_ = std::setlocale(category, name.toUtf8().constData()) != nullptr;
        qunsetenv("LOCPATH");
    }
    ~ScopedLocale() { std::setlocale(category_, previous_.c_str()); }
    ScopedLocale(const ScopedLocale &) = delete;
    ScopedLocale &operator=(const ScopedLocale &) = delete;
    bool active() const { return active_; }

private:
    int category_;
    std::string previous_;
    QTemporaryDir folder_;
    bool active_ = false;
};

} // namespace quillby::test
