// Sign-in, reconnect and sign-out from the settings model, against Dexcom Share and
// LibreLinkUp at loopback servers.

#include "SettingsTestSupport.h"

#include "providers/LibreLinkUpError.h"

#include <gtest/gtest.h>

namespace quillby {
namespace {

using test::FakeDexcomServer;
using test::FakeLibreLinkUpServer;
using test::GatedCoordinator;
using test::ScriptedReply;
using test::SettingsFixture;
using test::runTask;
using test::waitUntil;

void typeDexcom(SettingsViewModel &model, const std::string &username = "ada", const std::string &password = "secret")
{
    model.setRegion("us");
    model.setUsername(username);
    model.setPassword(password);
}

void typeLibre(SettingsViewModel &model, const std::string &region = "eu")
{
    model.setProvider(GlucoseProvider::libreLinkUp);
    model.setRegion(region);
    model.setUsername("ada@example.com");
    model.setPassword("secret");
}

// Signs in and waits for the attempt to end.
void signIn(SettingsViewModel &model)
{
    model.signIn();
    ASSERT_TRUE(waitUntil([&] { return !model.isLoading(); }));
}

TEST(SettingsViewModelSignIn, DexcomSignInStoresTheTrimmedAccount)
{
    SettingsFixture f;
    f.acceptTerms();
    auto model = f.makeLoadedModel();
    typeDexcom(*model, "  ada \n");
    ASSERT_TRUE(model->canSignIn());

    model->signIn();
    EXPECT_TRUE(model->isLoading());
    EXPECT_FALSE(model->canSignIn());
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));

    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_TRUE(model->isConfigurationValid());
    EXPECT_FALSE(model->canSignIn());   // signed in: the button reconnects instead
    const auto stored = f.stored();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->account, (GlucoseAccountConfiguration{GlucoseProvider::dexcom, "ada", "secret", "us",
                                                              std::nullopt, std::nullopt}));
    EXPECT_EQ(stored->app.measurementUnit, "mg/dL");
    EXPECT_EQ(f.dexcom.requests(FakeDexcomServer::kAuthenticatePath).front().json()["accountName"], "ada");
    EXPECT_EQ(model->username(), "  ada \n");   // the typed text is not changed
    EXPECT_TRUE(waitUntil([&] { return f.configurationPosts == 1; }));
}

TEST(SettingsViewModelSignIn, DexcomFailuresShowTheServiceTextAfterThePrefix)
{
    const std::string zero = "\"00000000-0000-0000-0000-000000000000\"";
    struct Case {
        const char *name;
        std::string path;
        ScriptedReply reply;
        std::string region;
        std::string statusLine;
    };
    const Case cases[] = {
        {"rejected at step one", FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(401, {{"Code", "x"}}), "us",
         "Sign in failed: Please check your credentials."},
        {"zero account at step one", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(200, zero), "us",
         "Sign in failed: Please check your credentials."},
        {"rejected at step two", FakeDexcomServer::kLoginPath, ScriptedReply::json(403, {{"Code", "x"}}), "us",
         "Sign in failed: Please check your credentials."},
        {"zero session at step two", FakeDexcomServer::kLoginPath, ScriptedReply::text(200, zero), "us",
         "Sign in failed: Unable to start a Dexcom session."},
        {"service unavailable", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(503, "busy"), "us",
         "Sign in failed: Dexcom server error (503)"},
        {"throttled", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(429, "slow down"), "us",
         "Sign in failed: Dexcom server error (429)"},
        {"unexpected status", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(404, "nope"), "us",
         "Sign in failed: Invalid response from server"},
        {"unknown region", "", {}, "mars", "Sign in failed: Invalid region"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFixture f;
        f.acceptTerms();
        if (!c.path.empty()) {
            f.dexcom.enqueueReply(c.path, c.reply);
        }
        auto model = f.makeLoadedModel();
        typeDexcom(*model);
        model->setRegion(c.region);
        signIn(*model);
        EXPECT_EQ(model->statusMessage(), c.statusLine);
        EXPECT_FALSE(model->isConfigurationValid());
        EXPECT_FALSE(f.stored() && f.stored()->account.isComplete());
    }
}

TEST(SettingsViewModelSignIn, BlankFieldsStartNothing)
{
    struct Case {
        GlucoseProvider provider;
        std::string username;
        std::string password;
    };
    const Case cases[] = {
        {GlucoseProvider::dexcom, "   ", "secret"},
        {GlucoseProvider::libreLinkUp, " \t\n", "secret"},
        {GlucoseProvider::dexcom, "ada", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.username + "/" + c.password);
        SettingsFixture f;
        f.acceptTerms();
        auto model = f.makeLoadedModel();
        model->setProvider(c.provider);
        model->setUsername(c.username);
        model->setPassword(c.password);
        EXPECT_FALSE(model->canSignIn());
        model->signIn();
        EXPECT_FALSE(model->isLoading());
        test::SettingsFixture::settle();
        EXPECT_TRUE(f.dexcom.requests().empty());
        EXPECT_TRUE(f.libre.requests().empty());
        EXPECT_EQ(model->username(), c.username);   // the typed text is not changed
    }
}

TEST(SettingsViewModelSignIn, CanSignInRules)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    typeDexcom(*model, "ada", "   ");
    EXPECT_TRUE(model->canSignIn());   // a password of spaces is a password
    model->setUsername("  ");
    EXPECT_FALSE(model->canSignIn());
    model->setUsername("ada");
    model->setIsShowingTerms(true);
    EXPECT_FALSE(model->canSignIn());
    model->setIsShowingTerms(false);
    model->setLibreConnections({{"p-1", "Ada"}, {"p-2", "Grace"}});
    EXPECT_FALSE(model->canSignIn());   // a list is shown and nobody chosen
    model->setSelectedPatientID("p-2");
    EXPECT_TRUE(model->canSignIn());
    model->setSelectedPatientID("p-9");
    EXPECT_FALSE(model->canSignIn());
    model->setIsConfigurationValid(true);
    model->setLibreConnections({});
    EXPECT_FALSE(model->canSignIn());
}

TEST(SettingsViewModelSignIn, TermsSheetFirstThenAcceptingSignsIn)
{
    SettingsFixture f;
    auto model = f.makeLoadedModel();
    typeDexcom(*model);
    model->signIn();
    EXPECT_TRUE(model->isShowingTerms());
    EXPECT_FALSE(model->isLoading());
    EXPECT_TRUE(f.dexcom.requests().empty());

    model->acceptTerms();
    EXPECT_FALSE(model->isShowingTerms());
    EXPECT_TRUE(f.manager->hasAcceptedCurrentTerms());
    ASSERT_TRUE(waitUntil([&] { return model->isConfigurationValid() && !model->isLoading(); }));
    EXPECT_TRUE(f.stored()->account.isComplete());

    model->acceptTerms();   // no sheet shown: nothing happens
    EXPECT_EQ(f.dexcom.requestCount(FakeDexcomServer::kAuthenticatePath), 1u);
}

TEST(SettingsViewModelSignIn, LibreLinkUpWithOnePersonSignsInInOneStep)
{
    SettingsFixture f;
    f.acceptTerms();
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
    auto model = f.makeLoadedModel();
    typeLibre(*model);
    signIn(*model);
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_EQ(model->selectedPatientID(), "p-1");
    EXPECT_EQ(model->patientName(), "Ada Lovelace");
    EXPECT_TRUE(model->isConfigurationValid());
    EXPECT_EQ(f.stored()->account.patientID, "p-1");
}

TEST(SettingsViewModelSignIn, LibreLinkUpWithTwoPeopleWaitsForTheChoice)
{
    SettingsFixture f;
    f.acceptTerms();
    // Person names are the service's texts, handed on as they came (shown as plain text).
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace"),
                            FakeLibreLinkUpServer::connection("p-2", "<i>Grace</i>", "Hopper")});
    auto model = f.makeLoadedModel();
    typeLibre(*model);
    signIn(*model);
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_FALSE(model->isConfigurationValid());
    EXPECT_EQ(model->libreConnections(),
              (std::vector<LibreConnection>{{"p-1", "Ada Lovelace"}, {"p-2", "<i>Grace</i> Hopper"}}));
    EXPECT_FALSE(model->canSignIn());
    EXPECT_FALSE(f.stored() && f.stored()->account.isComplete());

    const auto listRequests = f.libre.requestCount(FakeLibreLinkUpServer::kConnectionsPath);
    model->setSelectedPatientID("p-2");
    ASSERT_TRUE(model->canSignIn());
    signIn(*model);
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_TRUE(model->isConfigurationValid());
    EXPECT_EQ(model->patientName(), "<i>Grace</i> Hopper");
    EXPECT_EQ(f.stored()->account.patientID, "p-2");
    EXPECT_EQ(f.stored()->account.patientName, "<i>Grace</i> Hopper");
    // The model used the list it had; only the account service's own check listed again.
    EXPECT_EQ(f.libre.requestCount(FakeLibreLinkUpServer::kConnectionsPath), listRequests + 1);
}

TEST(SettingsViewModelSignIn, LibreLinkUpRegionRedirectIsFollowed)
{
    SettingsFixture f;
    f.acceptTerms();
    test::FakeLibreLinkUpServer us;
    us.setAccount("ada@example.com", "secret", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9");
    us.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
    f.libre.setRedirect("us");
    f.libreHosts["us"] = us.origin();
    auto model = f.makeLoadedModel();
    typeLibre(*model, "eu");
    signIn(*model);
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_TRUE(model->isConfigurationValid());
    EXPECT_GE(us.requestCount(FakeLibreLinkUpServer::kLoginPath), 1u);
    EXPECT_EQ(f.stored()->account.patientID, "p-1");
}

TEST(SettingsViewModelSignIn, LibreLinkUpFailuresShowTheServiceText)
{
    struct Case {
        const char *name;
        ScriptedReply reply;
        std::string message;
    };
    const Case cases[] = {
        {"terms to accept in the app",
         ScriptedReply::json(200, {{"status", 4}, {"data", {{"step", {{"type", "tou"}}}}}}),
         LibreLinkUpError(LibreLinkUpError::Case::termsRequired).what()},
        {"account action required",
         ScriptedReply::json(200, {{"status", 4}, {"data", {{"step", {{"type", "verifyEmail"}}}}}}),
         LibreLinkUpError(LibreLinkUpError::Case::accountActionRequired).what()},
        {"wrong password", ScriptedReply::json(200, {{"status", 2}, {"error", {{"message", "notAuthenticated"}}}}),
         LibreLinkUpError(LibreLinkUpError::Case::authenticationFailed).what()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFixture f;
        f.acceptTerms();
        f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
        f.libre.enqueueReply(FakeLibreLinkUpServer::kLoginPath, c.reply);
        auto model = f.makeLoadedModel();
        typeLibre(*model);
        signIn(*model);
        EXPECT_EQ(model->statusMessage(), "Sign in failed: " + c.message);
        EXPECT_TRUE(model->libreConnections().empty());
    }

    // Nobody shared: the account service's own message.
    SettingsFixture f;
    f.acceptTerms();
    auto model = f.makeLoadedModel();
    typeLibre(*model);
    signIn(*model);
    EXPECT_EQ(model->statusMessage(),
              "Sign in failed: No shared readings were found. Accept the sharing invitation in LibreLinkUp and "
              "confirm that you can see the person's readings, then try again.");
}

TEST(SettingsViewModelSignIn, FailedSignInForgetsThePersonList)
{
    SettingsFixture f;
    f.acceptTerms();
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace"),
                            FakeLibreLinkUpServer::connection("p-2", "Grace", "Hopper")});
    auto model = f.makeLoadedModel();
    typeLibre(*model);
    signIn(*model);
    ASSERT_EQ(model->libreConnections().size(), 2u);
    // The second person stops sharing before the user signs in with them.
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
    model->setSelectedPatientID("p-2");
    signIn(*model);
    EXPECT_EQ(model->statusMessage(), "Sign in failed: The selected person is no longer available. Check sharing in "
                                      "LibreLinkUp, then sign in again.");
    EXPECT_TRUE(model->libreConnections().empty());
    EXPECT_EQ(model->selectedPatientID(), "");
}

TEST(SettingsViewModelSignIn, EditingDuringASignInAbandonsIt)
{
    for (const bool succeeds : {true, false}) {
        SCOPED_TRACE(succeeds ? "late success" : "late failure");
        SettingsFixture f;
        f.acceptTerms();
        auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
        auto model = f.makeLoadedModel(gated);
        typeDexcom(*model, "ada", succeeds ? "secret" : "wrong");
        gated->signInGate.close();
        model->signIn();
        ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
        const QUuid attempt = model->authenticationAttempt();

        model->setPassword("typed-again");
        EXPECT_NE(model->authenticationAttempt(), attempt);
        EXPECT_FALSE(model->isLoading());
        model->setStatusCategory(StatusMessageCategory::none());
        gated->signInGate.open();
        ASSERT_TRUE(waitUntil([&] { return gated->signInsFinished == 1; }));
        test::SettingsFixture::settle();
        // The abandoned attempt's outcome changes nothing the user sees.
        EXPECT_EQ(model->statusMessage(), "");
        EXPECT_FALSE(model->isConfigurationValid());
        EXPECT_FALSE(model->isLoading());
        EXPECT_EQ(model->password(), "typed-again");
    }
}

TEST(SettingsViewModelSignIn, EditMadeDuringASignInIsWrittenAfterIt)
{
    SettingsFixture f;
    f.acceptTerms();
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    typeDexcom(*model);
    gated->signInGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
    model->setAlertOnRapidFall(false);
    model->recordAppSettingsEdit();
    f.elapseDebounce(*model);
    EXPECT_EQ(gated->saves, 0);   // held back while the sign-in runs

    gated->signInGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
    f.elapseDebounce(*model);
    EXPECT_EQ(gated->saves, 1);
    EXPECT_FALSE(f.stored()->app.alertOnRapidFall);
    EXPECT_TRUE(f.stored()->account.isComplete());
}

// The person list of a LibreLinkUp sign-in given up while it was being fetched is not shown.
TEST(SettingsViewModelSignIn, LatePersonListOfAnAbandonedSignInIsDropped)
{
    SettingsFixture f;
    f.acceptTerms();
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace"),
                            FakeLibreLinkUpServer::connection("p-2", "Grace", "Hopper")});
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    typeLibre(*model);
    gated->listGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->listGate.waiting == 1; }));

    model->setRegion("de");   // abandons the attempt
    gated->listGate.open();
    ASSERT_TRUE(waitUntil([&] { return gated->listingsFinished == 1; }));
    test::SettingsFixture::settle();
    EXPECT_TRUE(model->libreConnections().empty());
    EXPECT_EQ(model->selectedPatientID(), "");
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_FALSE(model->isLoading());
    EXPECT_EQ(gated->signIns, 0);
}

// The end of an abandoned sign-in does not end the one that replaced it.
TEST(SettingsViewModelSignIn, AbandonedSignInEndingLeavesTheNewOneRunning)
{
    SettingsFixture f;
    f.acceptTerms();
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    typeLibre(*model);
    gated->listGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->listGate.waiting == 1; }));

    model->setProvider(GlucoseProvider::dexcom);   // abandons it
    typeDexcom(*model);
    gated->signInGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
    gated->listGate.open();
    ASSERT_TRUE(waitUntil([&] { return gated->listingsFinished == 1; }));
    test::SettingsFixture::settle();
    EXPECT_TRUE(model->isLoading());
    gated->signInGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
    EXPECT_TRUE(model->isConfigurationValid());
}

// An app-settings edit held back by a sign-in is written once the sign-in fails, and at once when
// the sign-in is abandoned by an account edit (the abandoned one never resumes it).
TEST(SettingsViewModelSignIn, EditHeldBackByASignInIsWrittenWhenItFailsOrIsAbandoned)
{
    for (const bool abandoned : {false, true}) {
        SCOPED_TRACE(abandoned ? "abandoned" : "failed");
        SettingsFixture f;
        f.acceptTerms();
        auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
        auto model = f.makeLoadedModel(gated);
        typeDexcom(*model, "ada", "wrong");
        gated->signInGate.close();
        model->signIn();
        ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
        model->editAppSetting(&SettingsViewModel::setAlertOnRapidFall, false);
        f.elapseDebounce(*model);
        ASSERT_EQ(gated->saves, 0);

        if (abandoned) {
            model->setPassword("secret");
            f.elapseDebounce(*model);
            EXPECT_EQ(gated->saves, 1);   // while the abandoned sign-in is still under way
            gated->signInGate.open();
            ASSERT_TRUE(waitUntil([&] { return gated->signInsFinished == 1; }));
            test::SettingsFixture::settle();
            EXPECT_EQ(model->statusMessage(), "");
        } else {
            gated->signInGate.open();
            ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
            f.elapseDebounce(*model);
            EXPECT_EQ(gated->saves, 1);
            EXPECT_EQ(model->statusCategory().kind, StatusMessageCategory::Kind::signInError);
        }
        EXPECT_FALSE(f.stored()->app.alertOnRapidFall);
        EXPECT_EQ(model->savedAppSettingsRevision(), model->appSettingsRevision());
        EXPECT_FALSE(model->isConfigurationValid());
    }
}

// An edit still waiting for its debounce when Sign In is pressed is written before the sign-in
// goes out, not only once it ends.
TEST(SettingsViewModelSignIn, EditWaitingForItsDebounceIsWrittenBeforeTheSignIn)
{
    SettingsFixture f;
    f.acceptTerms();
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    typeDexcom(*model);
    model->editAppSetting(&SettingsViewModel::setAlertOnRapidRise, false);
    gated->signInGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
    EXPECT_EQ(gated->saves, 1);
    EXPECT_FALSE(f.stored()->app.alertOnRapidRise);
    gated->signInGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
    EXPECT_TRUE(model->isConfigurationValid());
}

// A sign-in abandoned while it writes the edits before it never goes out.
TEST(SettingsViewModelSignIn, SignInAbandonedWhileEditsAreWrittenNeverGoesOut)
{
    SettingsFixture f;
    f.acceptTerms();
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    typeDexcom(*model);
    model->editAppSetting(&SettingsViewModel::setAlertOnRapidRise, false);
    gated->saveGate.close();
    model->signIn();
    ASSERT_TRUE(waitUntil([&] { return gated->saveGate.waiting == 1; }));
    model->setPassword("typed-again");
    gated->saveGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->isSaving(); }));
    test::SettingsFixture::settle();
    EXPECT_EQ(gated->signIns, 0);
    EXPECT_FALSE(f.stored()->account.isComplete());
    EXPECT_FALSE(model->isConfigurationValid());
    EXPECT_FALSE(f.stored()->app.alertOnRapidRise);
}

TEST(SettingsViewModelReconnect, UsesTheStoredDexcomPasswordAndTheTypedLibrePassword)
{
    {
        SettingsFixture f;
        f.acceptTerms();
        f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
        auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
        auto model = f.makeLoadedModel(gated);
        ASSERT_TRUE(model->isConfigurationValid());
        model->setPassword("something else");
        model->reconnect();
        ASSERT_TRUE(waitUntil([&] { return gated->signIns == 1 && !model->isLoading(); }));
        EXPECT_EQ(gated->signedInWith.front().password, "secret");
        EXPECT_EQ(model->statusMessage(), "");
    }
    {
        SettingsFixture f;
        f.acceptTerms();
        f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
        f.storeConfiguration(SettingsFixture::configuration({GlucoseProvider::libreLinkUp, "ada@example.com", "old", "de",
                                                std::string("p-1"), std::string("Ada")}));
        auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
        auto model = f.makeLoadedModel(gated);
        model->setPassword("secret");
        model->setRegion("eu");
        model->reconnect();
        ASSERT_TRUE(waitUntil([&] { return gated->signIns == 1 && !model->isLoading(); }));
        EXPECT_EQ(gated->signedInWith.front().password, "secret");
        EXPECT_EQ(gated->signedInWith.front().region, "eu");
        EXPECT_EQ(model->statusMessage(), "");
        EXPECT_EQ(model->selectedPatientID(), "p-1");
        EXPECT_EQ(model->patientName(), "Ada Lovelace");   // the name now stored
    }
    {
        // Wrong password: the reconnect line.
        SettingsFixture f;
        f.acceptTerms();
        f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
        f.dexcom.enqueueReply(FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(401, {{"Code", "x"}}));
        auto model = f.makeLoadedModel();
        model->reconnect();
        ASSERT_TRUE(waitUntil([&] { return !model->isLoading() && !model->statusMessage().empty(); }));
        EXPECT_EQ(model->statusMessage(), "Could not reconnect: Please check your credentials.");
        EXPECT_TRUE(model->isConfigurationValid());
    }
}

// A reconnect given up by an account edit while it ran leaves no trace of its outcome.
TEST(SettingsViewModelReconnect, LateResultOfAnAbandonedReconnectChangesNothing)
{
    SettingsFixture f;
    f.acceptTerms();
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    f.dexcom.enqueueReply(FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(401, {{"Code", "x"}}));
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    gated->signInGate.close();
    model->reconnect();
    ASSERT_TRUE(waitUntil([&] { return gated->signInGate.waiting == 1; }));
    model->setPassword("typed-again");   // abandons the reconnect
    gated->signInGate.open();
    ASSERT_TRUE(waitUntil([&] { return gated->signInsFinished == 1; }));
    test::SettingsFixture::settle();
    EXPECT_EQ(model->statusMessage(), "");
    EXPECT_FALSE(model->isLoading());
}

TEST(SettingsViewModelReconnect, NothingCompleteStoredDoesNothing)
{
    SettingsFixture f;
    f.acceptTerms();
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    typeDexcom(*model);
    model->setIsConfigurationValid(true);   // stale: nothing complete is stored
    model->reconnect();
    test::SettingsFixture::settle();
    EXPECT_EQ(gated->signIns, 0);
    EXPECT_FALSE(model->isLoading());
    EXPECT_EQ(model->statusMessage(), "");
}

TEST(SettingsViewModelSignOut, ClearsCredentialsKeepsProviderAndRegion)
{
    SettingsFixture f;
    f.acceptTerms();
    f.libre.setConnections({FakeLibreLinkUpServer::connection("p-1", "Ada", "Lovelace")});
    f.storeConfiguration(SettingsFixture::configuration({GlucoseProvider::libreLinkUp, "ada@example.com", "secret", "eu",
                                            std::string("p-1"), std::string("Ada Lovelace")}));
    auto model = f.makeLoadedModel();
    ASSERT_TRUE(model->isConfigurationValid());
    ASSERT_EQ(model->username(), "ada@example.com");

    model->signOut();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading() && !model->isConfigurationValid(); }));
    EXPECT_EQ(model->provider(), GlucoseProvider::libreLinkUp);
    EXPECT_EQ(model->region(), "eu");
    EXPECT_EQ(model->username(), "");
    EXPECT_EQ(model->password(), "");
    EXPECT_EQ(model->selectedPatientID(), "");
    EXPECT_EQ(model->patientName(), std::nullopt);
    EXPECT_EQ(f.stored()->account, GlucoseAccountConfiguration::empty());
    EXPECT_TRUE(waitUntil([&] { return f.configurationPosts == 1; }));

    // The stored account is now incomplete: applying it leaves what the user types alone.
    model->setUsername("grace@example.com");
    model->apply(f.manager->configuration());
    EXPECT_EQ(model->username(), "grace@example.com");
}

TEST(SettingsViewModelSignOut, EditMadeDuringASignOutIsWrittenAfterIt)
{
    SettingsFixture f;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    auto model = f.makeLoadedModel(gated);
    gated->signOutGate.close();
    model->signOut();
    ASSERT_TRUE(waitUntil([&] { return gated->signOutGate.waiting == 1; }));
    model->editAppSetting(&SettingsViewModel::setAlertOnRapidFall, false);
    f.elapseDebounce(*model);
    EXPECT_EQ(gated->saves, 0);   // held back while the sign-out runs

    gated->signOutGate.open();
    ASSERT_TRUE(waitUntil([&] { return !model->isLoading(); }));
    f.elapseDebounce(*model);
    EXPECT_EQ(gated->saves, 1);
    EXPECT_FALSE(f.stored()->app.alertOnRapidFall);
    EXPECT_EQ(f.stored()->account, GlucoseAccountConfiguration::empty());
}

TEST(SettingsViewModelSignOut, FailureShowsTheFixedLine)
{
    SettingsFixture f;
    f.storeConfiguration(SettingsFixture::configuration(SettingsFixture::dexcomAccount()));
    auto gated = std::make_shared<GatedCoordinator>(f.makeCoordinator());
    gated->failSignOut = true;
    auto model = f.makeLoadedModel(gated);
    model->signOut();
    ASSERT_TRUE(waitUntil([&] { return gated->signOuts == 1 && !model->isLoading(); }));
    EXPECT_EQ(model->statusMessage(), "Could not sign out. Please try again.");
    EXPECT_EQ(model->username(), "ada");
    EXPECT_TRUE(model->isConfigurationValid());
}

} // namespace
} // namespace quillby
