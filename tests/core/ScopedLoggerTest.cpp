#include "core/ScopedLogger.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <syslog.h>
#include <utility>
#include <vector>

namespace {

// The test program is linked with --wrap=syslog: the logger's syslog(3) calls come here, are
// recorded, and go on to the system's log. Any thread may log.
std::mutex syslogMutex;
std::vector<std::pair<int, std::string>> syslogLines;

std::vector<std::pair<int, std::string>> takeSyslogEntries()
{
    std::lock_guard lock(syslogMutex);
    return std::exchange(syslogLines, {});
}

} // namespace

extern "C" void __wrap_syslog(int priority, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    char line[1024];
    std::vsnprintf(line, sizeof line, format, copy);
    va_end(copy);
    {
        std::lock_guard lock(syslogMutex);
        syslogLines.emplace_back(priority, line);
    }
    vsyslog(priority, format, arguments);
    va_end(arguments);
}

namespace quillby {
namespace {

class ScopedLoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ScopedLogger::setSinkForTesting([this](int priority, const std::string &line) {
            entries.emplace_back(priority, line);
        });
    }
    void TearDown() override
    {
        ScopedLogger::setSinkForTesting(nullptr);
        QCoreApplication::setOrganizationDomain(QString());
    }
    std::vector<std::pair<int, std::string>> entries;
};

TEST_F(ScopedLoggerTest, OneErrorEntryPerMessageWithComponentName)
{
    const ScopedLogger logger("ConfigurationManager");
    EXPECT_EQ(logger.subsystem(), "app") << "no organisation domain";
    EXPECT_EQ(logger.category(), "ConfigurationManager");
    logger.warning("Failed to load configuration: x");
    logger.error("");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], std::make_pair(LOG_ERR, std::string("[app/ConfigurationManager] Failed to load configuration: x")));
    EXPECT_EQ(entries[1], std::make_pair(LOG_ERR, std::string("[app/ConfigurationManager] ")));
}

TEST_F(ScopedLoggerTest, SubsystemIsTheReverseDomainIdentifier)
{
    QCoreApplication::setOrganizationDomain(QStringLiteral("quillby.app"));
    const ScopedLogger logger("UpdateChecker");
    EXPECT_EQ(logger.subsystem(), "app.quillby." + QCoreApplication::applicationName().toStdString());
}

TEST(ScopedLoggerSyslog, WritesWithoutASink)
{
    takeSyslogEntries();
    ScopedLogger("ScopedLoggerTest").error("test entry");
    const auto written = takeSyslogEntries();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], std::make_pair(LOG_ERR, std::string("[app/ScopedLoggerTest] test entry")));

    // Masked out: nothing is written.
    const int mask = setlogmask(LOG_UPTO(LOG_CRIT));
    ScopedLogger("ScopedLoggerTest").warning("masked entry");
    setlogmask(mask);
    EXPECT_TRUE(takeSyslogEntries().empty());
}

} // namespace
} // namespace quillby
