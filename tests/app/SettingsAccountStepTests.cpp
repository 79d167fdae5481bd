// The settings model in the real composition root: signing out and in through it reruns the
// application delegate's account step, which stops polling or restarts it for the new account.

#include "AppHarness.h"

#include "history/HistoryCoordinator.h"
#include "polling/StatusBarPollingCoordinator.h"
#include "settings/SettingsViewModel.h"
#include "settings/SettingsViewModelFactory.h"

#include "TaskRunner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

namespace quillby::test {
namespace {

double now()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

template <typename Predicate>
bool waitFor(Predicate done, int boundMs = 20000)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < boundMs) {
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

TEST(SettingsAccountStep, SignOutStopsPollingAndSignInRestartsItForTheNewAccount)
{
    AppHarness harness;
    harness.dexcom.setReadings({FakeDexcomServer::record(131, "Flat", now() - 60)});
    harness.storeAccount(AppHarness::dexcomAccount());
    harness.setOnboardingCompleted(true);
    harness.setAcceptedTerms(QStringLiteral("2026-10-07"));
    harness.build();
    AppDelegate &delegate = harness.app->appDelegate();
    StatusBarPollingCoordinator &poller = harness.app->pollingCoordinator();
    delegate.finishLaunching();
    ASSERT_TRUE(waitFor([&] { return delegate.accountStepsStarted() == 1 && !delegate.isAccountTaskRunning(); }));
    ASSERT_TRUE(poller.isUpdateLoopRunning());
    ASSERT_EQ(harness.clientsMade, 1);

    std::unique_ptr<SettingsViewModel> model = makeSettingsViewModel(harness.app->settingsEnvironment());
    runTask(model->loadConfiguration());
    ASSERT_TRUE(model->isConfigurationValid());
    ASSERT_EQ(model->username(), "ada");

    // Sign-out: the stored account is cleared and the account step stops polling.
    model->signOut();
    ASSERT_TRUE(waitFor([&] { return delegate.accountStepsStarted() == 2 && !delegate.isAccountTaskRunning(); }));
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
    ASSERT_TRUE(waitFor([&] { return delegate.accountStepsStarted() == 3 && !delegate.isAccountTaskRunning(); }));
    EXPECT_TRUE(model->isConfigurationValid());
    EXPECT_EQ(harness.clientsMade, 2);
    ASSERT_TRUE(harness.lastClientAccount);
    EXPECT_EQ(harness.lastClientAccount->username, "grace");
    EXPECT_TRUE(poller.isUpdateLoopRunning());
    EXPECT_TRUE(waitFor([&] {
        return harness.historyCoordinator->selectedScope() ==
               HistoryCoordinator::accountScope(*harness.lastClientAccount);
    }));
    EXPECT_EQ(harness.app->statusBarViewModel().statusTitle(), QStringLiteral("142 \u2191"));
}

} // namespace
} // namespace quillby::test
