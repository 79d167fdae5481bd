// The whole program over fakes: the tray's Settings entry opens the real Settings window, and
// signing in to Dexcom Share from its Account pane starts polling and shows the newest reading
// in the tray.

#include "AppHarness.h"

#include "menubar/StatusBarController.h"
#include "settings/SettingsLauncher.h"
#include "settings_window/SettingsView.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>

namespace quillby::test {
namespace {

QAction *trayAction(AppHarness &harness, const QString &name)
{
    auto &controller = static_cast<StatusBarController &>(harness.app->statusBarViewModel().controller());
    if (!controller.menu()) {
        return nullptr;
    }
    for (QAction *action : controller.menu()->actions()) {
        if (action->objectName() == name) {
            return action;
        }
    }
    return nullptr;
}

TEST(SettingsWindowEndToEnd, SigningInFromTheTraysSettingsWindowShowsTheNewestReading)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(131, "Flat", now() - 60),
                                FakeDexcomServer::record(127, "Flat", now() - 360)});
    harness.setOnboardingCompleted(true);
    harness.acceptTerms();
    harness.build();
    harness.launch();
    AppDelegate &delegate = harness.app->appDelegate();
    ASSERT_TRUE(harness.app->statusBarViewModel().hasController());

    // The tray's Settings entry opens the real window on the Account pane.
    QAction *settings = trayAction(harness, QStringLiteral("settingsButton"));
    ASSERT_NE(settings, nullptr);
    settings->trigger();
    QWidget *window = harness.app->settingsLauncher().settingsWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_NE(qobject_cast<SettingsView *>(window), nullptr) << "not the placeholder";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Settings"));
    EXPECT_EQ(qobject_cast<SettingsView *>(window)->shownTab(), SettingsTab::account);

    auto *username = window->findChild<QLineEdit *>(QStringLiteral("settingsUsernameField"));
    auto *password = window->findChild<QLineEdit *>(QStringLiteral("settingsPasswordField"));
    auto *region = window->findChild<QComboBox *>(QStringLiteral("settingsRegionPicker"));
    auto *signIn = window->findChild<QPushButton *>(QStringLiteral("settingsSignInButton"));
    ASSERT_TRUE(username && password && region && signIn);
    ASSERT_TRUE(waitUntil([&] { return username->isEnabled(); }, 10000));
    QTest::keyClicks(username, QStringLiteral("ada"));
    QTest::keyClicks(password, QStringLiteral("secret"));
    const int us = region->findText(QStringLiteral("United States"));
    region->setCurrentIndex(us);
    emit region->activated(us);
    ASSERT_TRUE(signIn->isEnabled());
    signIn->click();

    // The stored account restarts polling, and the tray shows the newest reading.
    ASSERT_TRUE(waitUntil([&] { return harness.app->statusBarViewModel().statusTitle() == QStringLiteral("131 →"); },
                                20000))
        << harness.app->statusBarViewModel().statusTitle().toStdString();
    ASSERT_TRUE(harness.configurationManager->configuration().has_value());
    EXPECT_EQ(harness.configurationManager->configuration()->account.username, "ada");
    EXPECT_TRUE(window->findChild<QPushButton *>(QStringLiteral("signOutButton"))->isVisible());

    // Settings again while it is open keeps the one window (the menu has been rebuilt since).
    settings = trayAction(harness, QStringLiteral("settingsButton"));
    ASSERT_NE(settings, nullptr);
    settings->trigger();
    EXPECT_EQ(harness.app->settingsLauncher().settingsWindow(), window);
    ASSERT_TRUE(waitUntil([&] { return !delegate.isAccountTaskRunning(); }, 20000));
}

} // namespace
} // namespace quillby::test
