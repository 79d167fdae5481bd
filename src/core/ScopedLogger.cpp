#include "core/ScopedLogger.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <mutex>
#include <syslog.h>

namespace quillby {

namespace {

std::mutex &sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

ScopedLogger::Sink &testSink()
{
    static ScopedLogger::Sink sink;
    return sink;
}

void openSyslogOnce()
{
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("Quillby", LOG_PID, LOG_USER); });
}

// The application's reverse-DNS identifier ("quillby.app" + "Quillby" -> "app.quillby.Quillby"),
// the counterpart of a bundle identifier; "app" when there is none.
std::string applicationIdentifier()
{
    if (QCoreApplication::instance() == nullptr) {
        return "app";
    }
    const QString domain = QCoreApplication::organizationDomain();
    if (domain.isEmpty()) {
        return "app";
    }
    QStringList parts = domain.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    std::reverse(parts.begin(), parts.end());
    const QString name = QCoreApplication::applicationName();
    if (!name.isEmpty()) {
        parts.append(name);
    }
    return parts.join(QLatin1Char('.')).toStdString();
}

} // namespace

ScopedLogger::ScopedLogger(std::string category) : subsystem_(applicationIdentifier()), category_(std::move(category)) {}

void ScopedLogger::error(const std::string &text) const
{
    write(text);
}

void ScopedLogger::warning(const std::string &text) const
{
    write(text);
}

void ScopedLogger::write(const std::string &text) const
{
    {
        std::lock_guard lock(sinkMutex());
        if (testSink()) {
            testSink()(LOG_ERR, "[" + subsystem_ + "/" + category_ + "] " + text);
            return;
        }
    }
    openSyslogOnce();
    if ((setlogmask(0) & LOG_MASK(LOG_ERR)) == 0) {
        return;
    }
    const std::string line = "[" + subsystem_ + "/" + category_ + "] " + text;
    syslog(LOG_ERR, "%s", line.c_str());
}

void ScopedLogger::setSinkForTesting(Sink sink)
{
    std::lock_guard lock(sinkMutex());
    testSink() = std::move(sink);
}

} // namespace quillby
