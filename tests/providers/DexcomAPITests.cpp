#include "providers/DexcomAPI.h"

#include "FakeClock.h"
#include "fakes/FakeDexcomServer.h"
#include "ProviderTestSupport.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <functional>

using namespace quillby;
using namespace quillby::test;

namespace {

// The identifiers every recorded sign-in to the real service carries.
constexpr const char *kUsOusApplicationId = "d89443d2-327c-4a6f-89e5-496bbb0317db";
constexpr const char *kJpApplicationId = "d8665ade-9673-4e27-9ff6-92db4ce13d13";
constexpr double kTenOClock = 1704189600.0;   // 2024-01-02 10:00:00 UTC

class DexcomAPITest : public ::testing::Test {
protected:
    std::shared_ptr<DexcomAPI> client(std::string username = "user@example.com", std::string password = "secret",
                                      std::string region = "ous",
                                      std::chrono::milliseconds timeout = std::chrono::milliseconds(60000))
    {
        DexcomAPIOptions options;
        options.baseURLs = DexcomAPI::baseURLsAt(server.origin());
        options.requestTimeout = timeout;
        return std::make_shared<DexcomAPI>(std::move(username), std::move(password), std::move(region), options);
    }

    // A client that has signed in once.
    std::shared_ptr<DexcomAPI> signedInClient()
    {
        auto api = client();
        runTask(api->authenticate());
        server.clearRequests();
        return api;
    }

    // A client whose session has already served a readings request.
    std::shared_ptr<DexcomAPI> clientWithSessionInUse()
    {
        auto api = signedInClient();
        runTask(api->fetchLatestReadings());
        server.clearRequests();
        return api;
    }

    FakeDexcomServer server;
};

TEST_F(DexcomAPITest, SignsInThenFetchesReadingsOldestFirstOverTheWireFormat)
{
    server.setReadings({FakeDexcomServer::record(130, "FortyFiveUp", kTenOClock + 600),
                        FakeDexcomServer::record(120, "Flat", kTenOClock + 300),
                        FakeDexcomServer::record(110, "SingleDown", kTenOClock)});
    auto api = client();

    const GlucoseReadings readings = runTask(api->fetchLatestReadings());

    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0].mgdL, 110);
    EXPECT_EQ(readings[0].date, kTenOClock);
    EXPECT_EQ(readings[0].trendString, "SingleDown");
    EXPECT_EQ(readings[2].mgdL, 130);
    EXPECT_EQ(readings[2].date, kTenOClock + 600);
    for (const auto &reading : readings) {
        EXPECT_EQ(reading.sampleDuration, 300);
        EXPECT_EQ(reading.source, GlucoseProvider::dexcom);
    }

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].path, FakeDexcomServer::kAuthenticatePath);
    EXPECT_EQ(requests[1].path, FakeDexcomServer::kLoginPath);
    EXPECT_EQ(requests[2].path, FakeDexcomServer::kReadingsPath);
    for (const auto &request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        EXPECT_EQ(request.header("Accept"), "application/json");
    }
    EXPECT_EQ(requests[0].json(), (nlohmann::json{{"applicationId", kUsOusApplicationId},
                                                  {"accountName", "user@example.com"},
                                                  {"password", "secret"}}));
    EXPECT_EQ(requests[1].json(), (nlohmann::json{{"applicationId", kUsOusApplicationId},
                                                  {"accountId", "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f"},
                                                  {"password", "secret"}}));
    const std::string session = server.issuedSessions().at(0);
    // The service reads the readings parameters from the query string.
    EXPECT_EQ(requests[2].param("sessionId"), session);
    EXPECT_EQ(requests[2].param("minutes"), "1440");
    EXPECT_EQ(requests[2].param("maxCount"), "288");
    EXPECT_EQ(requests[2].json(), (nlohmann::json{{"sessionId", session}, {"minutes", 1440}, {"maxCount", 288}}));
    EXPECT_EQ(api->sessionId(), session);
    EXPECT_EQ(api->accountId(), "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f");

    // The session is reused: the next fetch posts only the readings request.
    server.clearRequests();
    EXPECT_EQ(runTask(api->fetchLatestReadings()).size(), 3u);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, FakeDexcomServer::kReadingsPath);
}

TEST_F(DexcomAPITest, RegionsChooseApplicationIdentifierAndEndpointURL)
{
    struct Row {
        const char *region;
        const char *applicationId;
    };
    for (const Row &row : {Row{"us", kUsOusApplicationId}, Row{"ous", kUsOusApplicationId},
                           Row{"jp", kJpApplicationId}}) {
        SCOPED_TRACE(row.region);
        server.clearRequests();
        runTask(client("user@example.com", "secret", row.region)->fetchLatestReadings());
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 3u);
        // The "jp" base ends with "/"; its endpoints still have a single "/" before the path.
        EXPECT_EQ(requests[0].path, FakeDexcomServer::kAuthenticatePath);
        EXPECT_EQ(requests[2].path, FakeDexcomServer::kReadingsPath);
        EXPECT_EQ(requests[0].json()["applicationId"], row.applicationId);
        EXPECT_EQ(requests[1].json()["applicationId"], row.applicationId);
    }
    EXPECT_EQ(DexcomAPI::defaultBaseURLs().at("jp"), "https://share.dexcom.jp/ShareWebServices/Services/");
    EXPECT_EQ(DexcomAPI::defaultBaseURLs().at("us"), "https://share2.dexcom.com/ShareWebServices/Services");
    EXPECT_EQ(DexcomAPI::defaultBaseURLs().at("ous"), "https://shareous1.dexcom.com/ShareWebServices/Services");
}

TEST_F(DexcomAPITest, InvalidInputsFailBeforeAnyRequest)
{
    struct Row {
        const char *name;
        std::string username, password, region;
        std::map<std::string, std::string> baseURLs;
        const char *message;
        DexcomError::Case kind;
    };
    const std::vector<Row> rows = {
        {"blank user name", "  \n ", "secret", "ous", {}, "Authentication failed: Username is required",
         DexcomError::Case::authenticationFailed},
        {"user name of Unicode spaces", "\u00a0\u2003\t", "secret", "ous", {},
         "Authentication failed: Username is required", DexcomError::Case::authenticationFailed},
        {"empty password", "user@example.com", "", "ous", {}, "Authentication failed: Password is required",
         DexcomError::Case::authenticationFailed},
        {"unknown region", "user@example.com", "secret", "eu", {}, "Invalid region", DexcomError::Case::invalidRegion},
        {"region missing from the table", "user@example.com", "secret", "us",
         {{"ous", server.baseURL()}}, "Invalid region", DexcomError::Case::invalidRegion},
        {"plain http to a remote host", "user@example.com", "secret", "ous",
         {{"ous", "http://share.example.com/ShareWebServices/Services"}},
         "Invalid AuthenticatePublisherAccount URL", DexcomError::Case::invalidURL},
        {"not a URL", "user@example.com", "secret", "ous", {{"ous", "https://exa mple.com/x"}},
         "Invalid AuthenticatePublisherAccount URL", DexcomError::Case::invalidURL},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DexcomAPIOptions options;
        options.baseURLs = row.baseURLs.empty() ? DexcomAPI::baseURLsAt(server.origin()) : row.baseURLs;
        for (bool viaFetch : {false, true}) {
            auto api = std::make_shared<DexcomAPI>(row.username, row.password, row.region, options);
            const auto error = viaFetch ? errorOf<DexcomError>(api->fetchLatestReadings())
                                        : errorOf<DexcomError>(api->authenticate());
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, row.kind);
            EXPECT_STREQ(error->what(), row.message);
        }
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(DexcomAPITest, SignInFailuresMapToTheirErrors)
{
    struct Row {
        const char *name;
        const char *path;
        ScriptedReply reply;
        const char *message;
        bool credentialsRejected = false;   // the poller must not sign in again with them
        bool accountLocked = false;         // the poller must not sign in again for a while
    };
    const std::string locked = "Dexcom Share has temporarily locked this account after too many sign-in attempts. "
                               "Wait 30 minutes before signing in again: every attempt before then keeps it locked.";
    const std::string lockedOnStep1 = "Authentication failed: " + locked;
    const std::string lockedOnStep2 = "Login failed: " + locked;
    using Fake = FakeDexcomServer;
    const std::string zeroUUID = "\"00000000-0000-0000-0000-000000000000\"";
    const std::vector<Row> rows = {
        {"401 on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(401, {}),
         "Authentication failed: Please check your credentials."},
        {"403 on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(403, {}),
         "Authentication failed: Please check your credentials."},
        {"zero account on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(200, zeroUUID),
         "Authentication failed: Please check your credentials."},
        {"empty account on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(200, "\"\""),
         "Authentication failed: Please check your credentials."},
        {"401 on step 2", FakeDexcomServer::kLoginPath, ScriptedReply::json(401, {}),
         "Login failed: Please check your credentials."},
        {"zero session on step 2", FakeDexcomServer::kLoginPath, ScriptedReply::text(200, zeroUUID),
         "Login failed: Unable to start a Dexcom session."},
        {"empty session on step 2", FakeDexcomServer::kLoginPath, ScriptedReply::text(200, ""),
         "Login failed: Unable to start a Dexcom session."},
        {"500 on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(500, {}),
         "Dexcom server error (500)"},
        {"429 on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(429, {}),
         "Dexcom server error (429)"},
        {"500 on step 2", FakeDexcomServer::kLoginPath, ScriptedReply::json(500, {}), "Dexcom server error (500)"},
        {"503 on step 2", FakeDexcomServer::kLoginPath, ScriptedReply::json(503, {}), "Dexcom server error (503)"},
        {"404 on step 1", FakeDexcomServer::kAuthenticatePath, ScriptedReply::json(404, {}),
         "Invalid response from server"},
        {"step 1 reply not UTF-8", FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(200, "\"\xff\xfe\""),
         "Invalid response from server"},
        {"step 1 identifier without its closing quote", FakeDexcomServer::kAuthenticatePath,
         ScriptedReply::text(200, "\"5d9c8f3e-1b2a"), "Invalid response from server"},
        // The service's faults: HTTP 500 with a JSON body naming the cause.
        {"password fault on step 1", Fake::kAuthenticatePath, Fake::fault("AccountPasswordInvalid", "failed"),
         "Authentication failed: Please check your credentials.", true},
        {"SSO password fault on step 1", Fake::kAuthenticatePath, Fake::fault("SSO_AuthenticatePasswordInvalid", "x"),
         "Authentication failed: Please check your credentials.", true},
        {"lockout on step 1", Fake::kAuthenticatePath, Fake::fault("SSO_AuthenticateMaxAttemptsExceeed", "x"),
         lockedOnStep1.c_str(), false, true},
        {"password fault on step 2", Fake::kLoginPath, Fake::fault("AccountPasswordInvalid", "failed"),
         "Login failed: Please check your credentials.", true},
        {"lockout on step 2", Fake::kLoginPath, Fake::fault("SSO_AuthenticateMaxAttemptsExceeed", "x"),
         lockedOnStep2.c_str(), false, true},
        {"invalid argument on step 1", Fake::kAuthenticatePath, Fake::fault("InvalidArgument", "accountName"),
         "Login failed: Unable to start a Dexcom session."},
        {"invalid argument on step 2", Fake::kLoginPath, Fake::fault("InvalidArgument", "UUID"),
         "Login failed: Unable to start a Dexcom session."},
        {"session fault on step 2", Fake::kLoginPath, Fake::fault("SessionNotValid", "x"), "Session expired"},
        {"other fault on step 1", Fake::kAuthenticatePath, Fake::fault("SSO_InternalError", "x"),
         "Dexcom server error (500)"},
        // An unknown account name is refused credentials, however the service words it.
        {"account name unknown, as an internal fault", Fake::kAuthenticatePath,
         Fake::fault("SSO_InternalError", "Cannot Authenticate by AccountName: user@example.com"),
         "Authentication failed: Please check your credentials.", true},
        {"account not found", Fake::kAuthenticatePath, Fake::fault("SSO_AuthenticateAccountNotFound", "x"),
         "Authentication failed: Please check your credentials.", true},
        {"internal fault about the account identifier", Fake::kAuthenticatePath,
         Fake::fault("SSO_InternalError", "Cannot Authenticate by AccountId"), "Dexcom server error (500)"},
        {"fault code that is not text", Fake::kAuthenticatePath, ScriptedReply::json(500, {{"Code", 7}}),
         "Dexcom server error (500)"},
        // A proxy's page in the way says nothing about the credentials.
        {"HTML 403 on step 1", Fake::kAuthenticatePath, ScriptedReply::text(403, "<html>Forbidden</html>", "text/html"),
         "Invalid response from server"},
        {"empty 401 on step 2", Fake::kLoginPath, ScriptedReply::text(401, ""), "Invalid response from server"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.clearScriptedReplies();
        server.enqueueReply(row.path, row.reply);
        const auto error = errorOf<DexcomError>(client()->authenticate());
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), row.message);
        EXPECT_EQ(error->credentialsRejected, row.credentialsRejected);
        EXPECT_EQ(error->accountLocked, row.accountLocked);
    }
}

TEST_F(DexcomAPITest, WrongPasswordIsRejectedCredentialsNotAServerError)
{
    // The service answers a wrong password with HTTP 500 and the AccountPasswordInvalid fault.
    const auto error = errorOf<DexcomError>(client("user@example.com", "wrong")->fetchLatestReadings());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, DexcomError::Case::authenticationFailed);
    EXPECT_TRUE(error->credentialsRejected);
    EXPECT_STREQ(error->what(), "Authentication failed: Please check your credentials.");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, FakeDexcomServer::kAuthenticatePath);
}

TEST_F(DexcomAPITest, FailedLoginKeepsTheNewAccountBesideTheOldSession)
{
    auto api = signedInClient();
    const auto oldSession = api->sessionId();
    server.setAccount("user@example.com", "secret", "99999999-1b2a-4c6d-9e8f-0a1b2c3d4e5f");
    server.enqueueReply(FakeDexcomServer::kLoginPath, ScriptedReply::json(503, {}));

    EXPECT_TRUE(errorOf<DexcomError>(api->authenticate()));
    EXPECT_EQ(api->accountId(), "99999999-1b2a-4c6d-9e8f-0a1b2c3d4e5f");
    EXPECT_EQ(api->sessionId(), oldSession);
}

TEST_F(DexcomAPITest, ReadingsRequestFailures)
{
    struct Row {
        const char *name;
        ScriptedReply reply;
        const char *message;
        bool sessionKept;
    };
    const std::vector<Row> rows = {
        {"401", ScriptedReply::json(401, {}), "Session expired", false},
        {"403", ScriptedReply::json(403, {}), "Session expired", false},
        {"500", ScriptedReply::json(500, {{"Code", "SessionNotValid"}}), "Session expired", false},
        {"500 with another fault", FakeDexcomServer::fault("SSO_InternalError", "x"), "Session expired", false},
        {"500 without a body", ScriptedReply::text(500, ""), "Session expired", false},
        {"HTML 403: dropped, but no session verdict", ScriptedReply::text(403, "<html>blocked</html>", "text/html"),
         "Invalid response from server", false},
        {"too large", ScriptedReply::text(200, "[" + std::string(5 * 1024 * 1024, ' ') + "]"),
         "Invalid response from server", true},
        {"503", ScriptedReply::json(503, {}), "Dexcom server error (503)", true},
        {"501", ScriptedReply::json(501, {}), "Dexcom server error (501)", true},
        {"429", ScriptedReply::json(429, {}), "Dexcom server error (429)", true},
        {"404", ScriptedReply::json(404, {}), "Invalid response from server", true},
        {"object instead of array", ScriptedReply::json(200, {{"Value", 100}}),
         "Unable to process server response: Expected an array of glucose readings", true},
        {"array of numbers", ScriptedReply::json(200, {1, 2}),
         "Unable to process server response: Expected an array of glucose readings", true},
        {"not JSON", ScriptedReply::text(200, "<html>"), "Unable to process server response: The reply is not valid JSON.",
         true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto api = clientWithSessionInUse();
        server.enqueueReply(FakeDexcomServer::kReadingsPath, row.reply);
        const auto error = errorOf<DexcomError>(api->fetchLatestReadings());
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), row.message);
        EXPECT_EQ(api->sessionId().has_value(), row.sessionKept);
        EXPECT_EQ(api->accountId().has_value(), row.sessionKept);

        // The next fetch signs in again only when the session was dropped.
        server.clearRequests();
        runTask(api->fetchLatestReadings());
        EXPECT_EQ(server.requestCount(FakeDexcomServer::kAuthenticatePath), row.sessionKept ? 0u : 1u);
        EXPECT_EQ(server.requestCount(FakeDexcomServer::kReadingsPath), 1u);
    }
}

// The service does not always label an expired session, so a 500 on a session in use counts as
// one. On a session it issued a moment ago it cannot: the service itself is failing.
TEST_F(DexcomAPITest, ServerFaultOnAFreshSessionIsAServerError)
{
    struct Row {
        const char *name;
        bool signInWithinTheFetch;   // else authenticate() first, as the poller's re-sign-in does
        ScriptedReply reply;
        const char *message;
        bool sessionKept;
    };
    using Fake = FakeDexcomServer;
    const std::vector<Row> rows = {
        {"unlabelled fault after authenticate()", false, Fake::fault("InternalError", "Something broke"),
         "Dexcom server error (500)", true},
        {"unlabelled fault after signing in within the fetch", true, Fake::fault("InternalError", "x"),
         "Dexcom server error (500)", true},
        {"500 without a body", false, ScriptedReply::text(500, ""), "Dexcom server error (500)", true},
        {"the service names the session", false, Fake::fault("SessionIdNotFound", "Session ID not found"),
         "Session expired", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto api = row.signInWithinTheFetch ? client() : signedInClient();
        server.enqueueReply(FakeDexcomServer::kReadingsPath, row.reply);
        const auto error = errorOf<DexcomError>(api->fetchLatestReadings());
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), row.message);
        EXPECT_EQ(api->sessionId().has_value(), row.sessionKept);

        // Once used, the session is like any other: the next unlabelled fault drops it.
        if (row.sessionKept) {
            server.enqueueReply(FakeDexcomServer::kReadingsPath, row.reply);
            const auto next = errorOf<DexcomError>(api->fetchLatestReadings());
            ASSERT_TRUE(next);
            EXPECT_EQ(next->kind, DexcomError::Case::sessionExpired);
        }
    }
}

TEST_F(DexcomAPITest, TooManyRequestsSaysHowLongToWait)
{
    struct Row {
        const char *name;
        std::optional<std::string> retryAfter;
        std::optional<double> seconds;
    };
    const auto clock = std::make_shared<FakeClock>(1'700'000'000.0);   // Tue, 14 Nov 2023 22:13:20 GMT
    const std::vector<Row> rows = {
        {"seconds", "120", 120},
        {"a date ten minutes ahead", "Tue, 14 Nov 2023 22:23:20 GMT", 600},
        {"a date in the past", "Tue, 14 Nov 2023 22:03:20 GMT", std::nullopt},
        {"more than a week", "1000000", 604800},
        {"not a time", "soon", std::nullopt},
        {"no header", std::nullopt, std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedReply reply = ScriptedReply::json(429, {});
        if (row.retryAfter) {
            reply.headers = {{"Retry-After", *row.retryAfter}};
        }
        DexcomAPIOptions options;
        options.baseURLs = DexcomAPI::baseURLsAt(server.origin());
        options.clock = clock;
        auto api = std::make_shared<DexcomAPI>("user@example.com", "secret", "ous", options);
        runTask(api->authenticate());
        server.enqueueReply(FakeDexcomServer::kReadingsPath, reply);
        const auto error = errorOf<DexcomError>(api->fetchLatestReadings());
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), "Dexcom server error (429)");
        EXPECT_EQ(error->retryAfter, row.seconds);
    }
}

// A redirect would post the account name and password, or the session, to another host.
TEST_F(DexcomAPITest, RedirectsAreNeverFollowed)
{
    FakeDexcomServer elsewhere;
    for (const char *path : {FakeDexcomServer::kAuthenticatePath, FakeDexcomServer::kReadingsPath}) {
        SCOPED_TRACE(path);
        for (const int status : {307, 308, 302}) {
            SCOPED_TRACE(status);
            ScriptedReply redirect = ScriptedReply::text(status, "");
            redirect.headers = {{"Location", elsewhere.origin() + path}};
            auto api = std::string(path) == FakeDexcomServer::kReadingsPath ? signedInClient() : client();
            server.enqueueReply(path, redirect);
            const auto error = errorOf<DexcomError>(api->fetchLatestReadings());
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, DexcomError::Case::invalidResponse);
        }
    }
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(DexcomAPITest, SessionForgottenByTheServiceExpiresAndTheNextFetchSignsIn)
{
    server.setReadings({FakeDexcomServer::record(100, "Flat", kTenOClock)});
    auto api = signedInClient();
    server.expireSessions();

    const auto error = errorOf<DexcomError>(api->fetchLatestReadings());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, DexcomError::Case::sessionExpired);
    EXPECT_EQ(runTask(api->fetchLatestReadings()).size(), 1u);
    EXPECT_EQ(server.issuedSessions().size(), 2u);
}

TEST_F(DexcomAPITest, AnyMalformedRecordFailsTheWholeFetch)
{
    struct Row {
        const char *name;
        nlohmann::json record;
        const char *message;
    };
    const auto good = FakeDexcomServer::record(100, "Flat", kTenOClock);
    auto withValue = [&](nlohmann::json value) {
        auto record = good;
        record["Value"] = value;
        return record;
    };
    auto without = [&](const char *key) {
        auto record = good;
        record.erase(key);
        return record;
    };
    nlohmann::json badDates = good;
    badDates["ST"] = "yesterday";
    badDates["WT"] = "Date(abc)";
    badDates["DT"] = 12;
    const std::vector<Row> rows = {
        {"value missing", without("Value"), "Missing glucose value"},
        {"value as text", withValue("120"), "Missing glucose value"},
        {"trend missing", without("Trend"), "Missing trend information"},
        {"no readable timestamp", badDates, "Missing or invalid glucose reading timestamp"},
        {"value zero", withValue(0), "Invalid glucose reading format"},
        {"value below zero", withValue(-40), "Invalid glucose reading format"},
        {"value tiny negative", withValue(-1e-300), "Invalid glucose reading format"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.setReadings({good, row.record, good});
        const auto error = errorOf<GlucoseReadingError>(client()->fetchLatestReadings());
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), row.message);
    }
}

TEST_F(DexcomAPITest, NumericTrendsAreNamed)
{
    // Older replies send the trend as a number in the service's own order.
    const std::vector<std::pair<nlohmann::json, std::string>> named = {
        {0, "None"},          {1, "DoubleUp"},   {2, "SingleUp"},   {3, "FortyFiveUp"},   {4, "Flat"},
        {5, "FortyFiveDown"}, {6, "SingleDown"}, {7, "DoubleDown"}, {8, "NotComputable"}, {9, "RateOutOfRange"},
    };
    std::vector<nlohmann::json> records;
    for (std::size_t i = 0; i < named.size(); ++i) {
        records.insert(records.begin(), FakeDexcomServer::record(100 + i, named[i].first, kTenOClock + 300.0 * i));
    }
    server.setReadings(records);
    const GlucoseReadings readings = runTask(client()->fetchLatestReadings());
    ASSERT_EQ(readings.size(), named.size());
    for (std::size_t i = 0; i < named.size(); ++i) {
        SCOPED_TRACE(named[i].second);
        EXPECT_EQ(readings[i].trendString, named[i].second);
        EXPECT_EQ(readings[i].trendArrow, GlucoseReading::trendArrowFor(named[i].second));
    }
    EXPECT_EQ(readings[4].trendArrow, "→");

    // A number outside the table, or not a whole number, is no trend.
    for (const nlohmann::json &bad : {nlohmann::json(10), nlohmann::json(-1), nlohmann::json(4.5)}) {
        SCOPED_TRACE(bad.dump());
        server.setReadings({FakeDexcomServer::record(100, bad, kTenOClock)});
        const auto error = errorOf<GlucoseReadingError>(client()->fetchLatestReadings());
        ASSERT_TRUE(error);
        EXPECT_STREQ(error->what(), "Missing trend information");
    }
}

TEST_F(DexcomAPITest, CloseDuplicatesAreDroppedAndAnEmptyReplyIsAnEmptyList)
{
    const auto record = [](double value, double offset) {
        return FakeDexcomServer::record(value, "Flat", kTenOClock + offset);
    };
    auto api = client();

    server.setReadings({record(100, 300), record(100, 20), record(100, 0)});
    auto readings = runTask(api->fetchLatestReadings());
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].date, kTenOClock);
    EXPECT_EQ(readings[1].date, kTenOClock + 300);

    server.setReadings({record(100, 300), record(101, 20), record(100, 0)});
    readings = runTask(api->fetchLatestReadings());
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[1].date, kTenOClock + 20);

    server.setReadings({});
    EXPECT_TRUE(runTask(api->fetchLatestReadings()).empty());
}

TEST(DexcomRemoveCloseDuplicates, KeepsBoundariesAndEarlierReadings)
{
    const auto at = [](double offset, double value = 100, std::string trend = "Flat") {
        return GlucoseReading(value, std::move(trend), kTenOClock + offset);
    };
    struct Row {
        const char *name;
        GlucoseReadings input;
        std::vector<double> keptOffsets;
    };
    const std::vector<Row> rows = {
        {"exactly 30 s apart is a duplicate", {at(0), at(30)}, {0}},
        {"31 s apart stays", {at(0), at(31)}, {0, 31}},
        {"same time is a duplicate", {at(0), at(0)}, {0}},
        {"earlier reading stays", {at(10), at(0)}, {10, 0}},
        {"other trend stays", {at(0), at(10, 100, "SingleUp")}, {0, 10}},
        {"compared with the last kept reading", {at(0), at(20), at(40)}, {0, 40}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<double> offsets;
        for (const auto &reading : DexcomAPI::removeCloseDuplicates(row.input)) {
            offsets.push_back(reading.date - kTenOClock);
        }
        EXPECT_EQ(offsets, row.keptOffsets);
    }
}

TEST_F(DexcomAPITest, CallsRunOneAtATimeSoConcurrentFetchesSignInOnce)
{
    server.setReadings({FakeDexcomServer::record(100, "Flat", kTenOClock)});
    auto api = client();
    auto first = api->fetchLatestReadings();
    auto second = api->fetchLatestReadings();
    EXPECT_EQ(runTask(std::move(first)).size(), 1u);
    EXPECT_EQ(runTask(std::move(second)).size(), 1u);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].path, FakeDexcomServer::kAuthenticatePath);
    EXPECT_EQ(requests[1].path, FakeDexcomServer::kLoginPath);
    EXPECT_EQ(requests[2].path, FakeDexcomServer::kReadingsPath);
    EXPECT_EQ(requests[3].path, FakeDexcomServer::kReadingsPath);
}

TEST_F(DexcomAPITest, CallInFlightKeepsItsClientAlive)
{
    server.setReadings({FakeDexcomServer::record(100, "Flat", kTenOClock)});
    server.setDelay(0.05);
    auto api = client();
    auto fetch = api->fetchLatestReadings();
    api.reset();   // the owner replaces its client while the fetch waits
    EXPECT_EQ(runTask(std::move(fetch)).size(), 1u);
}

TEST_F(DexcomAPITest, TransportFailuresAreNetworkErrors)
{
    // A reply that takes far longer than the time-out (the server's wait ends when it stops).
    server.setDelay(600.0);
    auto slow = client("user@example.com", "secret", "ous", std::chrono::milliseconds(200));
    const auto timeout = errorOf<NetworkError>(slow->authenticate());
    ASSERT_TRUE(timeout);
    EXPECT_TRUE(timeout->timedOut);
    EXPECT_STREQ(timeout->what(), "The request timed out.");
    server.setDelay(0);

    // A sign-in reply cut short after the status line: never an account id cut in half.
    server.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                        ScriptedReply::json(200, "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f").cutShortAfter(10));
    auto cut = client();
    const auto cutShort = errorOf<NetworkError>(cut->authenticate());
    ASSERT_TRUE(cutShort);
    EXPECT_FALSE(cutShort->timedOut);
    EXPECT_FALSE(cut->accountId());

    // Nobody listening.
    auto unreachable = client();
    server.stop();
    const auto refused = errorOf<NetworkError>(unreachable->authenticate());
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->timedOut);
    EXPECT_EQ(refused->code, QNetworkReply::ConnectionRefusedError);
}

TEST_F(DexcomAPITest, StopRequestCancelsTheCallInFlightAndTheCallsWaiting)
{
    server.setDelay(600.0);
    auto api = client();
    std::stop_source stop;
    auto inFlight = api->authenticate(stop.get_token());
    auto waiting = api->fetchLatestReadings(stop.get_token());
    // Stop once the first call has reached the service.
    QTimer trigger;
    QObject::connect(&trigger, &QTimer::timeout, [&] {
        if (!server.requests().empty()) {
            stop.request_stop();
            trigger.stop();
        }
    });
    trigger.start(1);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(errorOf<OperationCancelledError>(std::move(inFlight)));
    EXPECT_TRUE(errorOf<OperationCancelledError>(std::move(waiting)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, scaledTimeout(std::chrono::seconds(10)));
    EXPECT_EQ(server.requests().size(), 1u);

    // The client is free again for a caller that was not cancelled.
    server.setDelay(0);
    runTask(api->authenticate());
    EXPECT_TRUE(api->sessionId());
}

} // namespace
