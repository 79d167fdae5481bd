#include "LibreLinkUpTestSupport.h"

#include <set>

using namespace quillby;
using namespace quillby::test;

namespace {

using Case = LibreLinkUpError::Case;

constexpr const char *kUserId = "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9";
constexpr const char *kUserAgent =
    "Mozilla/5.0 (iPhone; CPU OS 17_4.1 like Mac OS X) AppleWebKit/536.26 (KHTML, like Gecko) "
    "Version/17.4.1 Mobile/10A5355d Safari/8536.25";

void expectServiceHeaders(const RecordedRequest &request)
{
    EXPECT_EQ(request.header("Content-Type"), "application/json;charset=UTF-8");
    EXPECT_EQ(request.header("Accept"), "application/json");
    EXPECT_EQ(request.header("version"), "4.16.0");
    EXPECT_EQ(request.header("product"), "llu.ios");
    EXPECT_EQ(request.header("User-Agent"), kUserAgent);
}

TEST_F(LibreLinkUpTest, SignsInAndSendsTheTicketWithEverySignedInRequest)
{
    server.setConnections({FakeLibreLinkUpServer::connection("a1", "Ann", "Smith")});
    // The user name is trimmed at construction, Unicode spaces included.
    auto api = client(std::nullopt, "\u00a0 user@example.com\n\u2003");

    const auto connections = runTask(api->fetchConnections());
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(connections[0], (LibreConnection{"a1", "Ann Smith"}));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/llu/auth/login");
    EXPECT_EQ(requests[0].body, R"({"email":"user@example.com","password":"secret"})");
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].path, "/llu/connections");
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer token-1");
    EXPECT_EQ(requests[1].header("Account-Id"), FakeLibreLinkUpServer::accountIdFor(kUserId));
    EXPECT_EQ(requests[1].header("Account-Id")->size(), 64u);
    for (const auto &request : requests) {
        expectServiceHeaders(request);
    }
    EXPECT_EQ(api->ticketToken(), "token-1");
    EXPECT_EQ(api->accountHash(), FakeLibreLinkUpServer::accountIdFor(kUserId));
}

TEST(LibreLinkUpHosts, SixteenRegionsWithSharedHosts)
{
    const auto hosts = LibreLinkUpAPI::defaultHosts();
    EXPECT_EQ(hosts.size(), 16u);
    EXPECT_EQ(hosts.at("auto"), "https://api-eu.libreview.io");
    EXPECT_EQ(hosts.at("eu"), "https://api-eu.libreview.io");
    for (const char *code : {"eu2", "gb", "uk"}) {
        EXPECT_EQ(hosts.at(code), "https://api-eu2.libreview.io");
    }
    EXPECT_EQ(hosts.at("cn"), "https://api-cn.myfreestyle.cn");
    EXPECT_EQ(hosts.at("ru"), "https://api.libreview.ru");
    EXPECT_EQ(hosts.at("us"), "https://api-us.libreview.io");
    std::set<std::string> distinct;
    for (const auto &[code, host] : hosts) {
        distinct.insert(host);
    }
    EXPECT_EQ(distinct.size(), 13u);   // auto/eu and eu2/gb/uk share
}

TEST_F(LibreLinkUpTest, RegionIsLowerCasedAtConstruction)
{
    auto api = client(std::nullopt, "user@example.com", "secret", "AUTO");
    EXPECT_EQ(api->region(), "auto");
    runTask(api->authenticate());
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
}

TEST_F(LibreLinkUpTest, RedirectMovesTheClientToTheNamedRegionForGood)
{
    FakeLibreLinkUpServer us;
    us.setTicketExpires(kLibreNow + 3600);
    us.setConnections({FakeLibreLinkUpServer::connection("a1", "Ann", std::nullopt)});
    server.setRedirect("US");
    auto table = hosts();
    table["us"] = us.origin();
    LibreLinkUpAPIOptions options;
    options.clock = clock;
    options.hosts = table;
    auto api = std::make_shared<LibreLinkUpAPI>("user@example.com", "secret", "eu", std::nullopt, options);

    const auto connections = runTask(api->fetchConnections());
    ASSERT_EQ(connections.size(), 1u);
    EXPECT_EQ(api->region(), "us");
    EXPECT_EQ(server.requests().size(), 1u);
    ASSERT_EQ(us.requestCount("/llu/auth/login"), 1u);
    EXPECT_EQ(us.requests("/llu/auth/login")[0].body, server.requests()[0].body);

    // Later requests, sign-ins included, go to the new region's host.
    runTask(api->authenticate());
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(us.requestCount("/llu/auth/login"), 2u);
}

TEST_F(LibreLinkUpTest, RedirectsThatCannotBeFollowedFailWithInvalidRegion)
{
    FakeLibreLinkUpServer us, de, fr;
    auto table = hosts();
    table["us"] = us.origin();
    table["de"] = de.origin();
    table["fr"] = fr.origin();
    LibreLinkUpAPIOptions options;
    options.clock = clock;
    options.hosts = table;
    const auto makeClient = [&] {
        return std::make_shared<LibreLinkUpAPI>("user@example.com", "secret", "eu", std::nullopt, options);
    };
    const auto redirectTo = [](std::optional<std::string> region) {
        nlohmann::json data = {{"redirect", true}};
        if (region) {
            data["region"] = *region;
        }
        return ScriptedReply::json(200, {{"status", 0}, {"data", data}});
    };
    const LibreLinkUpError invalidRegion(Case::invalidRegion);

    {
        SCOPED_TRACE("back to a host already tried");
        server.enqueueReply("/llu/auth/login", redirectTo("auto"));
        auto api = makeClient();
        expectError(errorOf<LibreLinkUpError>(api->authenticate()), invalidRegion);
        EXPECT_EQ(api->region(), "auto");
        EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
    }
    {
        SCOPED_TRACE("third redirect");
        server.enqueueReply("/llu/auth/login", redirectTo("us"));
        us.enqueueReply("/llu/auth/login", redirectTo("de"));
        de.enqueueReply("/llu/auth/login", redirectTo("fr"));
        auto api = makeClient();
        expectError(errorOf<LibreLinkUpError>(api->authenticate()), invalidRegion);
        EXPECT_EQ(api->region(), "fr");
        EXPECT_EQ(us.requestCount("/llu/auth/login"), 1u);
        EXPECT_EQ(de.requestCount("/llu/auth/login"), 1u);
        EXPECT_EQ(fr.requests().size(), 0u);
    }
    {
        SCOPED_TRACE("redirect without region");
        server.enqueueReply("/llu/auth/login", redirectTo(std::nullopt));
        auto api = makeClient();
        expectError(errorOf<LibreLinkUpError>(api->authenticate()), invalidRegion);
        EXPECT_EQ(api->region(), "eu");
    }
    {
        SCOPED_TRACE("redirect to an unknown region");
        server.enqueueReply("/llu/auth/login", redirectTo("xx"));
        auto api = makeClient();
        expectError(errorOf<LibreLinkUpError>(api->authenticate()), invalidRegion);
        EXPECT_EQ(api->region(), "eu");
    }
}

TEST_F(LibreLinkUpTest, InputsRefusedBeforeAnyRequest)
{
    struct Row {
        const char *name;
        std::string username, password, region;
        Case kind;
    };
    for (const Row &row : {Row{"blank user name", " \n", "secret", "eu", Case::authenticationFailed},
                           Row{"user name of Unicode spaces", "\u00a0\u3000", "secret", "eu", Case::authenticationFailed},
                           Row{"empty password", "user@example.com", "", "eu", Case::authenticationFailed},
                           Row{"unknown region", "user@example.com", "secret", "zz", Case::invalidRegion}}) {
        SCOPED_TRACE(row.name);
        auto api = client(std::nullopt, row.username, row.password, row.region);
        expectError(errorOf<LibreLinkUpError>(api->authenticate()), LibreLinkUpError(row.kind));
        expectError(errorOf<LibreLinkUpError>(api->fetchLatestReadings()), LibreLinkUpError(row.kind));
    }
    // A host that is plain http but not local is refused as well.
    LibreLinkUpAPIOptions options;
    options.clock = clock;
    options.hosts = {{"eu", "http://api-eu.example.com"}};
    auto api = std::make_shared<LibreLinkUpAPI>("user@example.com", "secret", "eu", std::nullopt, options);
    expectError(errorOf<LibreLinkUpError>(api->authenticate()), LibreLinkUpError(Case::invalidRegion));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(LibreLinkUpTest, SignInRepliesWithoutAUsableTicketAreInvalid)
{
    const nlohmann::json user = {{"id", kUserId}};
    const auto ticket = [](nlohmann::json token, nlohmann::json expires) {
        return nlohmann::json{{"token", token}, {"expires", expires}};
    };
    const auto login = [](nlohmann::json data) { return ScriptedReply::json(200, {{"status", 0}, {"data", data}}); };
    struct Row {
        const char *name;
        ScriptedReply reply;
    };
    const std::vector<Row> rows = {
        {"no data", ScriptedReply::json(200, {{"status", 0}})},
        {"data not an object", login(nlohmann::json::array())},
        {"no ticket", login({{"user", user}})},
        {"no user", login({{"authTicket", ticket("t", kLibreNow + 3600)}})},
        {"user without id", login({{"user", {{"firstName", "Sam"}}}, {"authTicket", ticket("t", kLibreNow + 3600)}})},
        {"empty user id", login({{"user", {{"id", ""}}}, {"authTicket", ticket("t", kLibreNow + 3600)}})},
        {"empty token", login({{"user", user}, {"authTicket", ticket("", kLibreNow + 3600)}})},
        {"expired ticket", login({{"user", user}, {"authTicket", ticket("t", kLibreNow)}})},
        {"expires as text", login({{"user", user}, {"authTicket", ticket("t", "tomorrow")}})},
        {"redirect not a Boolean", login({{"redirect", "yes"}, {"user", user}, {"authTicket", ticket("t", kLibreNow + 3600)}})},
        // The token becomes a header value; line breaks would split the header.
        {"token with CR LF", login({{"user", user}, {"authTicket", ticket("t\r\nX-Injected: 1", kLibreNow + 3600)}})},
        {"token with LF", login({{"user", user}, {"authTicket", ticket("t\nX", kLibreNow + 3600)}})},
        {"body not JSON", ScriptedReply::text(200, "{")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        server.clearRequests();
        server.enqueueReply("/llu/auth/login", row.reply);
        auto api = client();
        expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError(Case::invalidResponse));
        EXPECT_FALSE(api->ticketToken());
        EXPECT_FALSE(api->accountHash());
        EXPECT_EQ(server.requestCount("/llu/connections"), 0u);
    }
}

TEST_F(LibreLinkUpTest, WrongCredentialsAndTermsOnSignIn)
{
    auto api = client(std::nullopt, "user@example.com", "wrong");
    expectError(errorOf<LibreLinkUpError>(api->authenticate()), LibreLinkUpError(Case::authenticationFailed));

    server.enqueueReply("/llu/auth/login", ScriptedReply::json(401, {{"message", "Unauthorized"}}));
    expectError(errorOf<LibreLinkUpError>(client()->authenticate()), LibreLinkUpError(Case::authenticationFailed));

    server.enqueueReply("/llu/auth/login",
                        ScriptedReply::json(200, {{"status", 4}, {"data", {{"step", {{"type", "tou"}}}}}}));
    expectError(errorOf<LibreLinkUpError>(client()->authenticate()), LibreLinkUpError(Case::termsRequired));

    // A CDN's block page is no verdict on the password.
    server.enqueueReply("/llu/auth/login", ScriptedReply::text(403, "<html>Access denied</html>", "text/html"));
    expectError(errorOf<LibreLinkUpError>(client()->authenticate()), LibreLinkUpError(Case::invalidResponse));
}

TEST_F(LibreLinkUpTest, MinimumVersionRaisedAtAnyStepIsClientUpdateRequired)
{
    for (int httpStatus : {200, 403}) {
        SCOPED_TRACE(httpStatus);
        server.setMinimumVersion("4.17.0", httpStatus);
        server.clearRequests();
        expectError(errorOf<LibreLinkUpError>(client()->fetchLatestReadings()),
                    LibreLinkUpError(Case::clientUpdateRequired));
        EXPECT_EQ(server.requests().size(), 1u);
    }
    // Raised while a ticket is held: no sign-in again, as a session expiry would cost.
    server.setMinimumVersion(std::nullopt);
    auto api = signedInClient();
    server.setMinimumVersion("4.17.0", 403);
    expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError(Case::clientUpdateRequired));
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 0u);
    EXPECT_TRUE(api->ticketToken());

    // The version this client sends is still accepted where it is the minimum.
    server.setMinimumVersion("4.16.0");
    EXPECT_TRUE(runTask(api->fetchConnections()).empty());
}

TEST_F(LibreLinkUpTest, TicketIsReusedUntilThirtySecondsBeforeItExpires)
{
    server.setConnections({});
    {
        SCOPED_TRACE("expires in 40 s: reused");
        server.setTicketExpires(kLibreNow + 40);
        auto api = client();
        runTask(api->fetchConnections());
        runTask(api->fetchConnections());
        EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
        EXPECT_EQ(server.requestCount("/llu/connections"), 2u);

        // Ten seconds later it has less than 30 s left: sign in first.
        clock->advance(10);
        server.setTicketExpires(kLibreNow + 3600);
        runTask(api->fetchConnections());
        EXPECT_EQ(server.requestCount("/llu/auth/login"), 2u);
        EXPECT_EQ(server.requests("/llu/connections").back().header("Authorization"), "Bearer token-2");
    }
    server.clearRequests();
    clock->setNow(kLibreNow);
    {
        SCOPED_TRACE("expires in 20 s: not reused");
        server.setTicketExpires(kLibreNow + 20);
        auto api = client();
        runTask(api->fetchConnections());
        runTask(api->fetchConnections());
        EXPECT_EQ(server.requestCount("/llu/auth/login"), 2u);
    }
}

TEST_F(LibreLinkUpTest, RejectedTicketSignsInOnceAndRetries)
{
    server.setConnections({});
    auto api = signedInClient();

    // The service forgot the ticket: one fresh sign-in, then the request goes through.
    server.revokeTickets();
    EXPECT_TRUE(runTask(api->fetchConnections()).empty());
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
    EXPECT_EQ(server.requestCount("/llu/connections"), 2u);
    EXPECT_EQ(api->ticketToken(), "token-2");

    // Rejected twice (HTTP 401, then JSON status 2): sessionExpired, ticket cleared.
    server.clearRequests();
    server.enqueueReply("/llu/connections", ScriptedReply::json(401, {{"message", "Unauthorized"}}));
    server.enqueueReply("/llu/connections", ScriptedReply::json(200, {{"status", 2}}));
    expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError(Case::sessionExpired));
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
    EXPECT_EQ(server.requestCount("/llu/connections"), 2u);
    EXPECT_FALSE(api->ticketToken());
    EXPECT_FALSE(api->accountHash());
}

TEST_F(LibreLinkUpTest, RateLimitThrottlesEveryLaterRequest)
{
    server.setConnections({});
    auto api = signedInClient();
    ScriptedReply limited = ScriptedReply::json(429, {{"status", 429}});
    limited.headers = {{"Retry-After", "120"}};
    server.enqueueReply("/llu/connections", limited);

    expectError(errorOf<LibreLinkUpError>(api->fetchConnections()), LibreLinkUpError::rateLimited(120));
    EXPECT_EQ(api->throttleUntil(), kLibreNow + 120);

    // Still throttled 20 s later: nothing is sent, the sign-in clears the ticket first.
    clock->advance(20);
    server.clearRequests();
    expectError(errorOf<LibreLinkUpError>(api->authenticate()), LibreLinkUpError::rateLimited(100));
    expectError(errorOf<LibreLinkUpError>(api->fetchLatestReadings()), LibreLinkUpError::rateLimited(100));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(api->ticketToken());

    clock->advance(100);
    EXPECT_TRUE(runTask(api->fetchConnections()).empty());
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
}

TEST_F(LibreLinkUpTest, RedirectReplyIsNotFollowed)
{
    ScriptedReply moved = ScriptedReply::text(302, "", "text/html");
    moved.headers = {{"Location", server.origin() + "/elsewhere"}};
    for (const char *path : {"/llu/auth/login", "/llu/connections"}) {
        SCOPED_TRACE(path);
        server.clearRequests();
        server.enqueueReply(path, moved);
        expectError(errorOf<LibreLinkUpError>(client()->fetchConnections()), LibreLinkUpError::serverError(302));
        EXPECT_EQ(server.requestCount("/elsewhere"), 0u);
    }
    EXPECT_STREQ(LibreLinkUpError::serverError(302).what(), "LibreLinkUp is unavailable (302). Try again later.");
}

TEST_F(LibreLinkUpTest, ConcurrentCallsShareOneSignIn)
{
    server.setConnections({FakeLibreLinkUpServer::connection("a1", "Ann", std::nullopt)});
    auto api = client();
    auto first = api->fetchConnections();
    auto second = api->fetchConnections();
    EXPECT_EQ(runTask(std::move(first)).size(), 1u);
    EXPECT_EQ(runTask(std::move(second)).size(), 1u);
    EXPECT_EQ(server.requestCount("/llu/auth/login"), 1u);
}

} // namespace
