// The account service against Dexcom Share and LibreLinkUp at loopback servers, a real
// configuration manager over an in-memory keyring item, and a real history coordinator.

#include "SettingsTestSupport.h"

#include "core/OperationCancelledError.h"

#include <gtest/gtest.h>

namespace quillby {
namespace {

using test::SettingsFixture;
using test::runTask;
using SignInError = SettingsCoordinator::SignInError;

template <typename Error>
std::string failureOf(auto task)
{
    try {
        runTask(std::move(task));
    } catch (const Error &error) {
        return error.what();
    } catch (const std::exception &error) {
        return std::string("unexpected error: ") + error.what();
    }
    return "no error";
}

// The LibreLinkUp account whose people are listed, before one is chosen.
GlucoseAccountConfiguration libreListing()
{
    return {GlucoseProvider::libreLinkUp, "ada@example.com", "secret", "eu", std::nullopt, std::nullopt};
}

TEST(SettingsCoordinator, DexcomSignInStoresTheAccountAsGivenAndPostsLater)
{
    SettingsFixture f;
    f.acceptTerms();
    auto coordinator = f.makeCoordinator();
    // Spaces around the name: trimming is the model's business, the account is stored as given.
    GlucoseAccountConfiguration account{GlucoseProvider::dexcom, "ada", "secret", "us", std::nullopt, std::nullopt};

    runTask(coordinator->signIn(account, "mmol/L"));
    EXPECT_EQ(f.configurationPosts, 0);   // posted on a later turn
    ASSERT_TRUE(test::waitUntil([&] { return f.configurationPosts == 1; }));

    const auto stored = f.stored();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->account, account);
    // Nothing was stored before: the other settings are the first-run ones with the given unit.
    AppSettings expected = AppSettings::defaults();
    expected.measurementUnit = "mmol/L";
    EXPECT_EQ(stored->app, expected);
    EXPECT_EQ(f.dexcom.requestCount(test::FakeDexcomServer::kAuthenticatePath), 1u);
    EXPECT_EQ(f.dexcom.requestCount(test::FakeDexcomServer::kLoginPath), 1u);
    EXPECT_EQ(f.appSettingsPosts, 0);
}

TEST(SettingsCoordinator, TermsNotAcceptedStopsBeforeAnyRequest)
{
    SettingsFixture f;
    auto coordinator = f.makeCoordinator();
    const std::string message = "Please agree to the terms of use before signing in.";
    EXPECT_EQ(failureOf<SignInError>(coordinator->signIn(SettingsFixture::dexcomAccount(), "mg/dL")), message);
    EXPECT_EQ(failureOf<SignInError>(coordinator->fetchConnections(libreListing())), message);
    EXPECT_TRUE(f.dexcom.requests().empty());
    EXPECT_TRUE(f.libre.requests().empty());
    EXPECT_FALSE(f.stored());
}

TEST(SettingsCoordinator, LibreLinkUpSignInTakesThePersonFromTheServiceList)
{
    SettingsFixture f;
    f.acceptTerms();
    f.libre.setConnections({test::FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace"),
                            test::FakeLibreLinkUpServer::connection("p-2", "<b>Grace</b>", "Hopper & co")});
    auto coordinator = f.makeCoordinator();

    // The second person; the name passed in is ignored, the service's is stored as it came.
    GlucoseAccountConfiguration account{GlucoseProvider::libreLinkUp, "ada@example.com", "secret", "eu",
                                        std::string("p-2"), std::string("Someone else")};
    runTask(coordinator->signIn(account, "mg/dL"));
    const auto stored = f.stored();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->account.patientID, "p-2");
    EXPECT_EQ(stored->account.patientName, "<b>Grace</b> Hopper & co");
    EXPECT_TRUE(test::waitUntil([&] { return f.configurationPosts == 1; }));

    // A person no longer in the list: refused although the password was right; nothing stored.
    account.patientID = "p-9";
    EXPECT_EQ(failureOf<SignInError>(coordinator->signIn(account, "mg/dL")),
              "The selected person is no longer available. Check sharing in LibreLinkUp, then sign in again.");
    account.patientID.reset();
    EXPECT_EQ(failureOf<SignInError>(coordinator->signIn(account, "mg/dL")),
              "The selected person is no longer available. Check sharing in LibreLinkUp, then sign in again.");
    EXPECT_EQ(f.stored()->account.patientID, "p-2");
}

TEST(SettingsCoordinator, ListingLibreLinkUpPeople)
{
    SettingsFixture f;
    f.acceptTerms();
    auto coordinator = f.makeCoordinator();

    EXPECT_EQ(failureOf<SignInError>(coordinator->fetchConnections(libreListing())),
              "No shared readings were found. Accept the sharing invitation in LibreLinkUp and confirm that you can "
              "see the person's readings, then try again.");

    f.libre.setConnections({test::FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace"),
                            test::FakeLibreLinkUpServer::connection("p-2", std::nullopt, std::nullopt)});
    const auto people = runTask(coordinator->fetchConnections(libreListing()));
    EXPECT_EQ(people, (std::vector<LibreConnection>{{"p-1", "Ada Lovelace"}, {"p-2", "LibreLinkUp connection"}}));
    EXPECT_FALSE(f.stored());   // nothing stored, nothing posted
    test::SettingsFixture::settle();
    EXPECT_EQ(f.configurationPosts, 0);
}

TEST(SettingsCoordinator, SignOutClearsTheAccountAndKeepsTheSettings)
{
    SettingsFixture f;
    AppSettings app = AppSettings::defaults();
    app.measurementUnit = "mg/dL";
    app.lowGlucoseThreshold = 80;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount(), app));
    f.load();
    auto coordinator = f.makeCoordinator();

    runTask(coordinator->signOut());
    const auto stored = f.stored();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->account, GlucoseAccountConfiguration::empty());
    EXPECT_EQ(stored->account.region, "ous");
    EXPECT_EQ(stored->app, app);
    EXPECT_TRUE(test::waitUntil([&] { return f.configurationPosts == 1; }));
    EXPECT_TRUE(f.dexcom.requests().empty());

    // Nothing stored before: the configuration manager loads first and hands the transform its
    // first-run configuration, so the first-run settings of the locale are kept.
    SettingsFixture empty;
    runTask(empty.makeCoordinator(false)->signOut());
    ASSERT_TRUE(empty.stored());
    EXPECT_EQ(empty.stored()->app, empty.manager->firstRunSettings());
    EXPECT_EQ(empty.stored()->account, GlucoseAccountConfiguration::empty());
}

TEST(SettingsCoordinator, BusyHistoryRefusesAccountChangesAndNothingIsPosted)
{
    SettingsFixture f;
    f.acceptTerms();
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    f.load();
    auto coordinator = f.makeCoordinator();

    // Another history operation is under way (its store call is held).
    f.historyStore->hold(test::FakeHistoryStore::Op::deleteAllHistory);
    auto deletion = f.history->deleteAllHistory();
    ASSERT_TRUE(f.history->isBusy());
    const std::string busy = "A history operation is still in progress. Please try again when it finishes.";

    GlucoseAccountConfiguration other = SettingsFixture::dexcomAccount();
    other.username = "grace";
    f.dexcom.setAccount("grace", "secret", "8f2a6c1e-0000-4000-8000-000000000002");
    EXPECT_EQ(failureOf<HistoryCoordinationError>(coordinator->signIn(other, "mg/dL")), busy);
    EXPECT_EQ(failureOf<HistoryCoordinationError>(coordinator->signOut()), busy);
    EXPECT_EQ(f.stored()->account, SettingsFixture::dexcomAccount());

    f.historyStore->release(test::FakeHistoryStore::Op::deleteAllHistory);
    runTask(std::move(deletion));
    test::SettingsFixture::settle();
    EXPECT_EQ(f.configurationPosts, 0);
}

TEST(SettingsCoordinator, KeyringFailureReachesTheCallerAndNothingIsPosted)
{
    SettingsFixture f;
    f.acceptTerms();
    f.load();
    auto coordinator = f.makeCoordinator(false);
    f.keychain->failNextWrite(keychain_status::authFailed);
    EXPECT_EQ(failureOf<ConfigurationError>(coordinator->signIn(SettingsFixture::dexcomAccount(), "mg/dL")),
              ConfigurationError::keychainError(keychain_status::authFailed).what());
    f.keychain->failNextWrite(keychain_status::authFailed);
    EXPECT_EQ(failureOf<ConfigurationError>(coordinator->saveAppSettings(AppSettings::defaults())),
              ConfigurationError::keychainError(keychain_status::authFailed).what());
    test::SettingsFixture::settle();
    EXPECT_EQ(f.configurationPosts, 0);
    EXPECT_EQ(f.appSettingsPosts, 0);

    // Saving the app settings keeps the account and posts before returning.
    runTask(coordinator->signIn(SettingsFixture::dexcomAccount(), "mg/dL"));
    AppSettings app = AppSettings::defaults();
    app.alertOnRapidRise = false;
    runTask(coordinator->saveAppSettings(app));
    EXPECT_EQ(f.appSettingsPosts, 1);
    EXPECT_EQ(f.stored()->app, app);
    EXPECT_EQ(f.stored()->account, SettingsFixture::dexcomAccount());
}

TEST(SettingsCoordinator, CancelledSignInStoresNothing)
{
    SettingsFixture f;
    f.acceptTerms();
    auto coordinator = f.makeCoordinator();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf<OperationCancelledError>(coordinator->signIn(SettingsFixture::dexcomAccount(), "mg/dL",
                                                                     stop.get_token())),
              "The operation was cancelled.");
    EXPECT_FALSE(f.stored());
    EXPECT_TRUE(f.dexcom.requests().empty());
}

} // namespace
} // namespace quillby
