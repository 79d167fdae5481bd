#include "core/SettingsWriteMonitor.h"
#include "WaitUntil.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quillby {
namespace {

// Writes that QSettings makes later by itself and writes flushed at once both report a file
// that cannot be written (its folder is a file here: that binds even for root), once per run.
TEST(SettingsWriteMonitor, ReportsTheFirstWriteThatFailsOnce)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile blocker(directory.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    for (const bool flushAtOnce : {false, true}) {
        SCOPED_TRACE(flushAtOnce ? "flushed at once" : "written later by QSettings");
        QSettings settings(directory.filePath(QStringLiteral("config/Quillby.conf")), QSettings::IniFormat);
        SettingsWriteMonitor monitor(settings);
        QSignalSpy failed(&monitor, &SettingsWriteMonitor::writeFailed);
        settings.setValue(QStringLiteral("hasCompletedOnboarding"), true);
        if (flushAtOnce) {
            EXPECT_FALSE(monitor.flush());
        }
        ASSERT_TRUE(test::waitUntil([&] { return failed.count() == 1; }));
        EXPECT_TRUE(monitor.hasFailed());
        settings.setValue(QStringLiteral("acceptedTermsVersion"), QStringLiteral("2026-10-07"));
        EXPECT_FALSE(monitor.flush());
        QCoreApplication::processEvents();
        EXPECT_EQ(failed.count(), 1);
    }

    QSettings writable(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    SettingsWriteMonitor monitor(writable);
    QSignalSpy failed(&monitor, &SettingsWriteMonitor::writeFailed);
    writable.setValue(QStringLiteral("hasCompletedOnboarding"), true);
    EXPECT_TRUE(monitor.flush());
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 0);
    EXPECT_TRUE(QFile::exists(writable.fileName()));
}

} // namespace
} // namespace quillby
