#include "core/ScopedLogger.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <syslog.h>
#include <vector>

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
    // Goes to syslog(3); nothing to observe here beyond not failing.
    ScopedLogger("ScopedLoggerTest").error("test entry");
}

} // namespace
} // namespace quillby
