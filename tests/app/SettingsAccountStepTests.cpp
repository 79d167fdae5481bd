// The settings model in the real composition root: signing out and in through it reruns the
// application delegate's account step, which stops polling or restarts it for the new account.

#include "AppHarness.h"

#include "history/HistoryCoordinator.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "settings/SettingsViewModelFactory.h"

#include "TaskRunner.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

TEST(SettingsAccountStep, SignOutStopsPollingAndSignInRestartsItForTheNewAccount)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(131, "Flat", now() - 60)});
    harness.buildOnboarded();
    AppDelegate &delegate = harness.app->appDelegate();
    StatusBarPollingCoordinator &poller = harness.app->pollingCoordinator();
    delegate.finishLaunching();
    ASSERT_TRUE(waitUntil([&] { return delegate.accountStepsStarted() == 1 && !delegate.isAccountTaskRunning(); }, 20000));
    ASSERT_TRUE(poller.isUpdateLoopRunning());
    ASSERT_EQ(harness.clientsMade, 1);

    std::unique_ptr<SettingsViewModel> model = makeSettingsViewModel(harness.app->settingsEnvironment());
    runTask(model->loadConfiguration());
    ASSERT_TRUE(model->isConfigurationValid());
    ASSERT_EQ(model->username(), "ada");

    // Sign-out: the stored account is cleared and the account step stops polling.
    model->signOut();
    ASSERT_TRUE(waitUntil([&] { return delegate.accountStepsStarted() == 2 && !delegate.isAccountTaskRunning(); }, 20000));
    EXPECT_FALSE(model->isConfigurationValid());
    EXPECT_FALSE(poller.isUpdateLoopRunning());
    EXPECT_EQ(harness.clientsMade, 1);
    EXPECT_EQ(harness.app->statusBarViewModel().currentError()->title, "Sign in required");

    // Sign-in as another person: a new client, polling for the new account's scope.
    harness.dexcom.setAccount("grace", "pw", "8f2a6c1e-0000-4000-8000-000000000002");
    harness.dexcom.setReadings({FakeDexcomServer::record(142, "SingleUp", now() - 30)});
    model->setUsername("grace");
    model->setPassword("pw");
    model->setRegion("us");
    ASSERT_TRUE(model->canSignIn());
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return delegate.accountStepsStarted() == 3 && !delegate.isAccountTaskRunning(); }, 20000));
    EXPECT_TRUE(model->isConfigurationValid());
    EXPECT_EQ(harness.clientsMade, 2);
    ASSERT_TRUE(harness.lastClientAccount);
    EXPECT_EQ(harness.lastClientAccount->username, "grace");
    EXPECT_TRUE(poller.isUpdateLoopRunning());
    EXPECT_TRUE(waitUntil([&] {
        return harness.history->selectedScope() ==
               HistoryCoordinator::accountScope(*harness.lastClientAccount);
    }, 20000));
    EXPECT_EQ(harness.app->statusBarViewModel().statusTitle(), QStringLiteral("142 \u2191"));
}

} // namespace
} // namespace quillby::test
