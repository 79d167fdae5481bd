#include "LibreLinkUpTestSupport.h"

using namespace quillby;
using namespace quillby::test;

namespace {

using Case = LibreLinkUpError::Case;
using M = FakeLibreLinkUpServer;

constexpr double kTenOClock = 1704189600.0;   // 2024-01-02 10:00:00 UTC

TEST_F(LibreLinkUpTest, ReplyCheckOfSignedInRequests)
{
    struct Row {
        const char *name;
        ScriptedReply reply;
        std::optional<LibreLinkUpError> expected;   // nothing: the reply is used
    };
    const auto withStep = [](nlohmann::json data) {
        return ScriptedReply::json(200, {{"status", 4}, {"data", data}});
    };
    const std::vector<Row> rows = {
        {"200, status 0", ScriptedReply::json(200, {{"status", 0}, {"data", nlohmann::json::array()}}), std::nullopt},
        {"200, status 0.0", ScriptedReply::json(200, {{"status", 0.0}, {"data", nlohmann::json::array()}}),
         std::nullopt},
        {"200 without status", ScriptedReply::json(200, {{"data", nlohmann::json::array()}}),
         LibreLinkUpError(Case::invalidResponse)},
        {"200, status 1", ScriptedReply::json(200, {{"status", 1}, {"data", nlohmann::json::array()}}),
         LibreLinkUpError(Case::invalidResponse)},
        {"200, status as text", ScriptedReply::json(200, {{"status", "0"}, {"data", nlohmann::json::array()}}),
         LibreLinkUpError(Case::invalidResponse)},
        {"200, not JSON", ScriptedReply::text(200, "<html></html>", "text/html"),
         LibreLinkUpError(Case::invalidResponse)},
        {"200, JSON array", ScriptedReply::json(200, nlohmann::json::array()), LibreLinkUpError(Case::invalidResponse)},
        {"status 4, pp", withStep({{"step", {{"type", "pp"}}}}), LibreLinkUpError(Case::termsRequired)},
        {"status 4, tou", withStep({{"step", {{"type", "tou"}}}}), LibreLinkUpError(Case::termsRequired)},
        {"status 4, other step", withStep({{"step", {{"type", "verifyEmail"}}}}),
         LibreLinkUpError(Case::accountActionRequired)},
        {"status 4, no step", withStep(nlohmann::json::object()), LibreLinkUpError(Case::accountActionRequired)},
        {"status 4, patient not loaded", withStep({{"step", {{"type", "couldNotLoadPatient"}}}}),
         LibreLinkUpError::patientNotLoaded()},
        // The service also names it as its error's message, with status 4 or another one.
        {"status 4, patient not loaded as the error's message",
         ScriptedReply::json(200, {{"status", 4}, {"error", {{"message", "couldNotLoadPatient"}}}}),
         LibreLinkUpError::patientNotLoaded()},
        {"another status, patient not loaded as the error's message",
         ScriptedReply::json(200, {{"status", 911}, {"error", {{"message", "couldNotLoadPatient"}}}}),
         LibreLinkUpError::patientNotLoaded()},
        {"status 4, another error message", ScriptedReply::json(200, {{"status", 4}, {"error", {{"message", "x"}}}}),
         LibreLinkUpError(Case::accountActionRequired)},
        {"status 4, step type not text", withStep({{"step", {{"type", 3}}}}),
         LibreLinkUpError(Case::accountActionRequired)},
        {"HTTP 429 before JSON status 4", ScriptedReply::json(429, {{"status", 4}}), LibreLinkUpError::rateLimited(60)},
        {"JSON status 429", ScriptedReply::json(200, {{"status", 429}}), LibreLinkUpError::rateLimited(60)},
        {"426, status 0", ScriptedReply::json(426, {{"status", 0}}), LibreLinkUpError(Case::clientUpdateRequired)},
        {"426, no JSON", ScriptedReply::text(426, "Upgrade Required"), LibreLinkUpError(Case::clientUpdateRequired)},
        // The service's minimum-version answer, whatever the HTTP status: never session expiry.
        {"200, status 920", ScriptedReply::json(200, {{"status", 920}, {"data", {{"minimumVersion", "4.17.0"}}}}),
         LibreLinkUpError(Case::clientUpdateRequired)},
        {"403, status 920", ScriptedReply::json(403, {{"status", 920}, {"data", {{"minimumVersion", "4.17.0"}}}}),
         LibreLinkUpError(Case::clientUpdateRequired)},
        {"401, status 920", ScriptedReply::json(401, {{"status", 920}}), LibreLinkUpError(Case::clientUpdateRequired)},
        // A block page in the way says nothing about the ticket.
        {"403, HTML page", ScriptedReply::text(403, "<html>Access denied</html>", "text/html"),
         LibreLinkUpError(Case::invalidResponse)},
        {"401, empty", ScriptedReply::text(401, ""), LibreLinkUpError(Case::invalidResponse)},
        {"too large", ScriptedReply::text(200, "{\"status\":0,\"data\":[" + std::string(5 << 20, ' ') + "]}"),
         LibreLinkUpError(Case::invalidResponse)},
        {"500", ScriptedReply::text(500, "oops"), LibreLinkUpError::serverError(500)},
        {"503 with status 0", ScriptedReply::json(503, {{"status", 0}}), LibreLinkUpError::serverError(503)},
        {"404", ScriptedReply::json(404, {{"message", "Not Found"}}), LibreLinkUpError::serverError(404)},
        // A header the service now requires is missing: only a newer client sends it.
        {"400, required header missing", ScriptedReply::json(400, {{"message", "RequiredHeaderMissing"}}),
         LibreLinkUpError(Case::clientUpdateRequired)},
        {"400, another message", ScriptedReply::json(400, {{"message", "BadRequest"}}), LibreLinkUpError::serverError(400)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto api = signedInClient();
        server.enqueueReply("/llu/connections", row.reply);
        if (row.expected) {
            expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), *row.expected);
        } else {
            EXPECT_TRUE(runTask(api->fetchConnections()).empty());
        }
    }
}

TEST_F(LibreLinkUpTest, RejectionOnSignedInRequestIsSessionExpiredAfterOneRetry)
{
    struct Row {
        const char *name;
        ScriptedReply reply;
    };
    for (const Row &row : {Row{"401", ScriptedReply::json(401, {})}, Row{"403", ScriptedReply::json(403, {})},
                           Row{"JSON status 2", ScriptedReply::json(200, {{"status", 2}})}}) {
        SCOPED_TRACE(row.name);
        auto api = signedInClient();
        server.enqueueReply("/llu/connections", row.reply);
        server.enqueueReply("/llu/connections", row.reply);
        expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError(Case::sessionExpired));
        EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
    }
}

TEST_F(LibreLinkUpTest, RetryDelayFromHeaderAndLockout)
{
    struct Row {
        const char *name;
        std::optional<std::string> retryAfter;
        nlohmann::json body;
        double delay;
    };
    const nlohmann::json plain = {{"status", 429}};
    const std::vector<Row> rows = {
        {"seconds", "120", plain, 120},
        {"fewer than 60 seconds", "30", plain, 60},
        {"no header", std::nullopt, plain, 60},
        {"fraction", "90.5", plain, 90.5},
        {"lockout in data beats the header", "120", {{"status", 429}, {"data", {{"lockout", 900}}}}, 900},
        {"lockout in data.data", std::nullopt,
         {{"status", 429}, {"data", {{"code", 60}, {"data", {{"failures", 5}, {"lockout", 300}}}}}}, 300},
        {"lockout below the header", "120", {{"status", 429}, {"data", {{"lockout", 90}}}}, 120},
        {"lockout as text", "120", {{"status", 429}, {"data", {{"lockout", "900"}}}}, 120},
        {"capped at seven days", "1000000", plain, 604800},
        {"lockout capped at seven days", std::nullopt, {{"data", {{"lockout", 9e9}}}}, 604800},
        {"HTTP date ten minutes ahead", "Fri, 15 Jan 2027 08:10:00 GMT", plain, 600},
        {"HTTP date with offset", "Fri, 15 Jan 2027 09:10:00 +0100", plain, 600},
        {"HTTP date in the past", "Fri, 15 Jan 2027 07:00:00 GMT", plain, 60},
        {"unreadable", "soon", plain, 60},
        {"not JSON", "120", nullptr, 120},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        clock->setNow(kLibreNow);
        server.setTicketExpires(kLibreNow + 3600);
        auto api = signedInClient();
        ScriptedReply reply = row.body.is_null() ? ScriptedReply::text(429, "Too Many Requests")
                                                 : ScriptedReply::json(429, row.body);
        if (row.retryAfter) {
            reply.headers = {{"Retry-After", *row.retryAfter}};
        }
        server.enqueueReply("/llu/connections", reply);
        expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError::rateLimited(row.delay));
        EXPECT_EQ(api->throttleUntil(), kLibreNow + row.delay);
    }
}

TEST_F(LibreLinkUpTest, RateLimitedSignInThrottlesToo)
{
    ScriptedReply limited = ScriptedReply::json(
        429, {{"status", 429}, {"data", {{"code", 60}, {"data", {{"failures", 3}, {"interval", 60}, {"lockout", 300}}}}}});
    server.enqueueReply("/llu/auth/login", limited);
    auto api = client();
    expectError(errorOf<LibreLinkUpError>(api->authenticate()), LibreLinkUpError::rateLimited(300));
    expectError(errorOf<LibreLinkUpError>(api->authenticate()), LibreLinkUpError::rateLimited(300));
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
    EXPECT_STREQ(LibreLinkUpError::rateLimited(300).what(),
                 "LibreLinkUp is limiting requests. Quillby will wait before trying again.");
}

TEST_F(LibreLinkUpTest, ConnectionNames)
{
    server.setConnections({M::connection("a1", "Ann", "Smith"), M::connection("b2", std::nullopt, "Smith"),
                           M::connection("c3", std::nullopt, std::nullopt), M::connection("d4", "  Dee ", ""),
                           M::connection("E_5-x", "", " "), M::connection("f6", "\u00a0Fay", "\u2003")});
    const auto connections = runTask(client()->fetchConnections());
    const std::vector<LibreConnection> expected = {{"a1", "Ann Smith"},
                                                   {"b2", "Smith"},
                                                   {"c3", "LibreLinkUp connection"},
                                                   {"d4", "Dee"},
                                                   {"E_5-x", "LibreLinkUp connection"},
                                                   {"f6", "Fay"}};
    EXPECT_EQ(connections, expected);
}

TEST_F(LibreLinkUpTest, ConnectionListIsCheckedAsAWhole)
{
    auto missingId = M::connection("a1", "Ann", std::nullopt);
    missingId.erase("patientId");
    auto numericName = M::connection("a1", "Ann", std::nullopt);
    numericName["firstName"] = 7;
    auto badMeasurement = M::connection("a1", "Ann", std::nullopt, nlohmann::json{{"FactoryTimestamp", "x"}});
    struct Row {
        const char *name;
        std::vector<nlohmann::json> data;
    };
    const std::vector<Row> rows = {
        {"duplicate identifiers", {M::connection("a1", "A", std::nullopt), M::connection("a1", "B", std::nullopt)}},
        {"slash in identifier", {M::connection("a/1", "A", std::nullopt)}},
        {"space in identifier", {M::connection("a 1", "A", std::nullopt)}},
        {"dot in identifier", {M::connection("..", "A", std::nullopt)}},
        {"empty identifier", {M::connection("", "A", std::nullopt)}},
        {"non-ASCII identifier", {M::connection("\xc3\xa9", "A", std::nullopt)}},
        {"missing identifier", {M::connection("b2", "B", std::nullopt), missingId}},
        {"name not text", {numericName}},
        {"measurement without value", {badMeasurement}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.setConnections(row.data);
        auto api = client();
        expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError(Case::invalidResponse));
        expectError(errorOf<LibreLinkUpError>(api->fetchLatestReadings()), LibreLinkUpError(Case::invalidResponse));
    }

    SCOPED_TRACE("data not a list");
    server.enqueueReply("/llu/connections", ScriptedReply::json(200, {{"status", 0}, {"data", {{"patientId", "a1"}}}}));
    expectError(errorOf<LibreLinkUpError>(client()->fetchConnections()), LibreLinkUpError(Case::invalidResponse));
}

TEST_F(LibreLinkUpTest, ChoosingTheConnection)
{
    struct Row {
        const char *name;
        std::vector<nlohmann::json> connections;
        std::optional<std::string> patientID;
        std::optional<LibreLinkUpError> expected;
    };
    const auto a1 = M::connection("a1", "Ann", std::nullopt);
    const auto b2 = M::connection("b2", "Ben", std::nullopt);
    server.setGraph("a1", {M::measurement(100, "1/2/2024 10:00:00 AM")});
    server.setGraph("b2", {M::measurement(200, "1/2/2024 10:00:00 AM")});
    const std::vector<Row> rows = {
        {"chosen and listed", {a1, b2}, "b2", std::nullopt},
        {"only one, none chosen", {a1}, std::nullopt, std::nullopt},
        {"empty choice counts as none", {a1}, "", std::nullopt},
        {"chosen but no longer listed", {a1}, "b2", LibreLinkUpError(Case::connectionUnavailable)},
        {"chosen, empty list", {}, "a1", LibreLinkUpError(Case::connectionUnavailable)},
        {"none at all", {}, std::nullopt, LibreLinkUpError(Case::noConnections)},
        {"two, none chosen", {a1, b2}, std::nullopt, LibreLinkUpError(Case::connectionSelectionRequired)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.clearRequests();
        server.setConnections(row.connections);
        auto api = client(row.patientID);
        if (row.expected) {
            expectError(errorOf<LibreLinkUpError>(api->fetchLatestReadings()), *row.expected);
            EXPECT_EQ(server.requests().size(), 2u);   // sign-in and list; no graph request
        } else {
            const auto readings = runTask(api->fetchLatestReadings());
            ASSERT_EQ(readings.size(), 1u);
            const std::string chosen = row.patientID && !row.patientID->empty() ? *row.patientID : "a1";
            EXPECT_EQ(readings[0].mgdL, chosen == "a1" ? 100 : 200);
            EXPECT_EQ(server.requestCount(M::graphPath(chosen)), 1u);
        }
    }
}

TEST_F(LibreLinkUpTest, ReadingsMergeGraphAndCurrentMeasurementsOldestFirst)
{
    // Current measurement in the list at 10:05; the graph holds 10:00, 09:55 and a 10:05 point.
    server.setConnections({M::connection("a1", "Ann", std::nullopt, M::measurement(131, "1/2/2024 10:05:00 AM", 4))});
    server.setGraph("a1", {M::measurement(120, "1/2/2024 10:00:00 AM", 3), M::measurement(110, "1/2/2024 9:55:00 AM", 2),
                           M::measurement(130, "1/2/2024 10:05:00 AM", 3)});
    auto api = client();

    const auto readings = runTask(api->fetchLatestReadings());

    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[0].date, kTenOClock - 300);
    EXPECT_EQ(readings[0].mgdL, 110);
    EXPECT_EQ(readings[0].trendString, "FortyFiveDown");
    EXPECT_EQ(readings[0].sampleDuration, 300);
    EXPECT_EQ(readings[1].date, kTenOClock);
    EXPECT_EQ(readings[1].trendString, "Flat");
    EXPECT_EQ(readings[2].date, kTenOClock + 300);
    EXPECT_EQ(readings[2].mgdL, 131);
    EXPECT_EQ(readings[2].trendString, "FortyFiveUp");
    EXPECT_EQ(readings[2].sampleDuration, 60);
    for (const auto &reading : readings) {
        EXPECT_EQ(reading.source, GlucoseProvider::libreLinkUp);
    }

    const auto graphRequests = server.requests(M::graphPath("a1"));
    ASSERT_EQ(graphRequests.size(), 1u);
    EXPECT_EQ(graphRequests[0].method, "GET");
    EXPECT_EQ(graphRequests[0].header("Authorization"), "Bearer token-1");
    EXPECT_EQ(graphRequests[0].header("version"), "4.16.0");

    // Nothing is cached: every fetch asks for the list and the graph again.
    server.clearRequests();
    runTask(api->fetchLatestReadings());
    EXPECT_EQ(server.requestCount("/llu/connections"), 1u);
    EXPECT_EQ(server.requestCount(M::graphPath("a1")), 1u);
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 0u);
}

TEST_F(LibreLinkUpTest, GraphConnectionMeasurementAndGlucoseItem)
{
    auto listed = M::connection("a1", "Ann", std::nullopt);
    listed["glucoseItem"] = M::measurement(140, "2024-01-02T10:10:00Z", 5);
    auto graphConnection = M::connection("a1", "Ann", std::nullopt, M::measurement(150, "2024-01-02T10:15:00.250Z", 1));
    server.setConnections({listed});
    server.setGraph("a1", {M::measurement(100, "1/2/2024 10:00:00 AM")}, graphConnection);

    const auto readings = runTask(client()->fetchLatestReadings());

    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[1].mgdL, 140);
    EXPECT_EQ(readings[1].trendString, "SingleUp");
    EXPECT_EQ(readings[1].sampleDuration, 60);
    EXPECT_EQ(readings[2].mgdL, 150);
    EXPECT_EQ(readings[2].date, kTenOClock + 900.25);
    EXPECT_EQ(readings[2].trendString, "SingleDown");
}

TEST_F(LibreLinkUpTest, TrendArrowToTrendText)
{
    struct Row {
        std::optional<int> arrow;
        const char *trend;
    };
    for (const Row &row : {Row{1, "SingleDown"}, Row{2, "FortyFiveDown"}, Row{3, "Flat"}, Row{4, "FortyFiveUp"},
                           Row{5, "SingleUp"}, Row{0, "NotComputable"}, Row{6, "NotComputable"},
                           Row{std::nullopt, "NotComputable"}}) {
        SCOPED_TRACE(row.trend);
        server.setConnections({M::connection("a1", "Ann", std::nullopt)});
        server.setGraph("a1", {M::measurement(100, "1/2/2024 10:00:00 AM", row.arrow)});
        const auto readings = runTask(client()->fetchLatestReadings());
        ASSERT_EQ(readings.size(), 1u);
        EXPECT_EQ(readings[0].trendString, row.trend);
    }
}

TEST_F(LibreLinkUpTest, GraphFailures)
{
    struct Row {
        const char *name;
        nlohmann::json listed;
        std::vector<nlohmann::json> graphData;
        std::optional<nlohmann::json> graphConnection;
        LibreLinkUpError expected;
    };
    const auto a1 = M::connection("a1", "Ann", std::nullopt);
    const auto good = M::measurement(100, "1/2/2024 10:00:00 AM");
    const auto invalidReading = LibreLinkUpError(Case::invalidReading);
    const std::vector<Row> rows = {
        {"graph for another person", a1, {good}, M::connection("b2", "Ben", std::nullopt),
         LibreLinkUpError(Case::connectionUnavailable)},
        {"value zero", a1, {good, M::measurement(0, "1/2/2024 10:05:00 AM")}, std::nullopt, invalidReading},
        {"value below zero", a1, {M::measurement(-1, "1/2/2024 10:05:00 AM"), good}, std::nullopt, invalidReading},
        {"unreadable timestamp", a1, {good, M::measurement(100, "yesterday")}, std::nullopt, invalidReading},
        {"impossible date", a1, {M::measurement(100, "2/30/2024 10:00:00 AM")}, std::nullopt, invalidReading},
        {"bad current measurement", M::connection("a1", "Ann", std::nullopt, M::measurement(0, "1/2/2024 10:05:00 AM")),
         {good}, std::nullopt, invalidReading},
        {"empty graph, no current measurement", a1, {}, std::nullopt,
         LibreLinkUpError(Case::noReadingsAvailable)},
        {"graph point without value", a1, {nlohmann::json{{"FactoryTimestamp", "1/2/2024 10:00:00 AM"}}},
         std::nullopt, LibreLinkUpError(Case::invalidResponse)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.setConnections({row.listed});
        server.setGraph("a1", row.graphData, row.graphConnection);
        expectError(errorOf<LibreLinkUpError>(client()->fetchLatestReadings()), row.expected);
    }

    // Replies that are no graph: without a connection, or with graph data that is not a list.
    server.setConnections({a1});
    for (const nlohmann::json &data :
         {nlohmann::json{{"graphData", nlohmann::json::array({good})}},
          nlohmann::json{{"connection", a1}, {"graphData", good}}}) {
        SCOPED_TRACE(data.dump());
        server.enqueueReply(M::graphPath("a1"), ScriptedReply::json(200, {{"status", 0}, {"data", data}}));
        expectError(errorOf<LibreLinkUpError>(client()->fetchLatestReadings()), LibreLinkUpError(Case::invalidResponse));
    }
}

TEST(LibreLinkUpErrorTexts, EveryCaseHasItsUserText)
{
    struct Row {
        LibreLinkUpError error;
        const char *text;
    };
    const std::vector<Row> rows = {
        {LibreLinkUpError::serverError(503), "LibreLinkUp is unavailable (503). Try again later."},
        {LibreLinkUpError(Case::invalidRegion),
         "LibreLinkUp could not find a supported account region. Check the region in Settings."},
        {LibreLinkUpError(Case::authenticationFailed),
         "Unable to sign in to LibreLinkUp. Check your email and password in the LibreLinkUp app."},
        {LibreLinkUpError(Case::sessionExpired), "Your LibreLinkUp session has expired. Please sign in again."},
        {LibreLinkUpError(Case::termsRequired),
         "Open the LibreLinkUp app and review its updated terms or privacy notice, then try again."},
        {LibreLinkUpError(Case::accountActionRequired),
         "Open the LibreLinkUp app and complete the account setup shown there, then try again."},
        {LibreLinkUpError::patientNotLoaded(),
         "LibreLinkUp could not load this account. Sign in to the LibreLinkUp app with the same email and password "
         "and check that it shows the readings you follow, then try again."},
        {LibreLinkUpError(Case::clientUpdateRequired),
         "LibreLinkUp requires a newer connection version. Check for an update to Quillby."},
        {LibreLinkUpError(Case::noConnections),
         "No LibreLinkUp connections were found. Accept a sharing invitation in the LibreLinkUp app first."},
        {LibreLinkUpError(Case::connectionSelectionRequired),
         "Select the person whose readings you want to display in Settings."},
        {LibreLinkUpError(Case::connectionUnavailable),
         "The selected LibreLinkUp connection is no longer available. Check sharing in LibreLinkUp and select a "
         "connection in Settings."},
        {LibreLinkUpError(Case::noReadingsAvailable),
         "No Libre glucose readings are available. Check that readings appear in the LibreLinkUp app."},
        {LibreLinkUpError(Case::invalidResponse), "LibreLinkUp returned an unexpected response. Try again later."},
        {LibreLinkUpError(Case::invalidReading), "LibreLinkUp returned a reading with an invalid value or timestamp."},
    };
    for (const Row &row : rows) {
        EXPECT_STREQ(row.error.what(), row.text);
    }
    EXPECT_TRUE(LibreLinkUpError::rateLimited(60) == LibreLinkUpError::rateLimited(60));
    EXPECT_FALSE(LibreLinkUpError::rateLimited(60) == LibreLinkUpError::rateLimited(61));
    EXPECT_FALSE(LibreLinkUpError::serverError(500) == LibreLinkUpError::serverError(502));
    EXPECT_FALSE(LibreLinkUpError::patientNotLoaded() == LibreLinkUpError(Case::accountActionRequired));
}

} // namespace
