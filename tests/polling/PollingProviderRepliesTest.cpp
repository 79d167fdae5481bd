// The real provider clients, talking to the loopback fake services, inside the poller: each
// reply shape the services really send ends in the right user text and the right poller state.

#include "PollingCoordinatorFixture.h"

#include "fakes/FakeDexcomServer.h"
#include "fakes/FakeLibreLinkUpServer.h"
#include "providers/DexcomAPI.h"
#include "providers/LibreLinkUpAPI.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace quillby::test {
namespace {

// Forwards to a real client and remembers the text of the last error it threw: the text a
// person sees in Settings and in the menu's unexpected-error message.
class ErrorRecordingClient final : public GlucoseAPIProtocol {
public:
    ErrorRecordingClient(std::shared_ptr<GlucoseAPIProtocol> inner, std::shared_ptr<std::string> lastError)
        : inner_(std::move(inner)), lastError_(std::move(lastError)) {}

    QCoro::Task<void> authenticate(std::stop_token stop) override
    {
        try {
            co_await inner_->authenticate(stop);
        } catch (const std::exception &error) {
            *lastError_ = error.what();
            throw;
        }
    }
    QCoro::Task<GlucoseReadings> fetchLatestReadings(std::stop_token stop) override
    {
        try {
            co_return co_await inner_->fetchLatestReadings(stop);
        } catch (const std::exception &error) {
            *lastError_ = error.what();
            throw;
        }
    }

private:
    std::shared_ptr<GlucoseAPIProtocol> inner_;
    std::shared_ptr<std::string> lastError_;
};

// What a row expects of the poller after one refresh.
struct PollerState {
    std::optional<ErrorInfo> error;   // none: a reading is shown without an error
    bool stopsUntilSettingsChange;    // requiresAccountAction: no request until a new start
    StatusBarPollOutcome outcome;
    std::optional<TimeInterval> retryIn;   // nextRetryAt - now, when shown
};

// Builds Dexcom clients for user@example.com (password "secret") that talk to `origin`.
std::function<std::shared_ptr<GlucoseAPIProtocol>()> dexcomClientsAt(std::string origin)
{
    return [origin] {
        DexcomAPIOptions options;
        options.baseURLs = DexcomAPI::baseURLsAt(origin);
        return std::make_shared<DexcomAPI>("user@example.com", "secret", "us", options);
    };
}

class PollingProviderRepliesTest : public PollingCoordinatorTest {
protected:
    // Starts polling `account` with clients built by `build` (wrapped to record their errors).
    void startWith(const GlucoseAccountConfiguration &account,
                   std::function<std::shared_ptr<GlucoseAPIProtocol>()> build)
    {
        lastError = std::make_shared<std::string>();
        clientFactory = [build, error = lastError](const GlucoseAccountConfiguration &) {
            return std::make_shared<ErrorRecordingClient>(build(), error);
        };
        configure(account);
        scope = historyAccountScope(account);
        history.savedScope = scope;
        makeCoordinator();
        runOverNetwork(coordinator->start(clientFactory(account), scope, account.provider));
    }

    // Runs a task that waits for loopback HTTP as well as for virtual-time sleeps.
    void runOverNetwork(QCoro::Task<void> task)
    {
        bool done = false;
        auto wrapper = [](QCoro::Task<void> inner, bool *finished) -> QCoro::Task<void> {
            co_await std::move(inner);
            *finished = true;
        };
        wrapper(std::move(task), &done);
        const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!done) {
            VirtualTimeSleeper::drain();
            if (done) {
                break;
            }
            if (sleeper->pendingCount() > 0) {
                sleeper->runNext();
                continue;
            }
            // Waiting for the fake server: sleep in the event loop until something arrives.
            QEventLoop loop;
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.processEvents(QEventLoop::WaitForMoreEvents);
            ASSERT_LT(std::chrono::steady_clock::now(), giveUpAt) << "the refresh never finished";
        }
        VirtualTimeSleeper::drain();
    }

    void refreshOverNetwork() { runOverNetwork(coordinator->requestRefresh()); }

    // Nothing more is sent until Settings change (so a service never gets to lock the account).
    void expectNothingSentUntilSettingsChange(RecordingHttpServer &server)
    {
        server.clearRequests();
        refreshOverNetwork();
        EXPECT_TRUE(server.requests().empty());
    }

    const StatusBarPollingSchedule &schedule() const { return coordinator->pollingSchedule(); }

    void expectPollerState(const std::optional<std::string> &clientText, const PollerState &state)
    {
        if (clientText) {
            EXPECT_EQ(*lastError, *clientText);
        }
        EXPECT_EQ(error(), state.error);
        EXPECT_EQ(coordinator->requiresAccountAction(), state.stopsUntilSettingsChange);
        EXPECT_EQ(schedule().lastOutcome, state.outcome);
        if (state.retryIn) {
            ASSERT_TRUE(presenter.nextRetryAt());
            EXPECT_NEAR(*presenter.nextRetryAt() - now(), *state.retryIn, 0.5);
        } else {
            EXPECT_FALSE(presenter.nextRetryAt());
        }
    }

    // One row of a reply table: how the fake service is scripted, and what the client and the
    // poller show after one refresh.
    template <typename Server>
    struct ReplyRow {
        const char *name;
        std::function<void(Server &)> script;
        std::optional<std::string> clientText;   // the client's error text; "" none; unset: not checked
        PollerState state;
        std::size_t signIns;                     // sign-in requests (`signInPath`) during the refresh
    };

    // Runs each row with a new poller over `server`: `reset` puts the service back to its
    // account, the row scripts it, `build` makes the client for `account`. Then the poller state,
    // the sign-ins, the reading shown when the row expects no error (`checkReading`), and that
    // nothing is sent where the poller waits for new Settings.
    template <typename Server>
    void runReplyRows(Server &server, const std::vector<ReplyRow<Server>> &rows, const char *signInPath,
                      const std::function<void(Server &)> &reset, const GlucoseAccountConfiguration &account,
                      const std::function<std::shared_ptr<GlucoseAPIProtocol>()> &build,
                      const std::function<void(const GlucoseReading &)> &checkReading)
    {
        for (const ReplyRow<Server> &row : rows) {
            SCOPED_TRACE(row.name);
            coordinator.reset();
            server.clearScriptedReplies();
            reset(server);
            row.script(server);
            server.clearRequests();
            presenter.presentedReading.reset();
            startWith(account, build);
            refreshOverNetwork();

            expectPollerState(row.clientText, row.state);
            EXPECT_EQ(server.requestCount(signInPath), row.signIns);
            if (!row.state.error) {
                ASSERT_TRUE(presenter.presentedReading);
                checkReading(*presenter.presentedReading);
            }
            if (row.state.stopsUntilSettingsChange) {
                expectNothingSentUntilSettingsChange(server);
            }
        }
        coordinator.reset();   // its clients' connections close before the server stops
        VirtualTimeSleeper::drain();
    }

    std::shared_ptr<std::string> lastError;
};

const ErrorInfo kDexcomAuthenticationRequired{"Authentication required", "Cannot authenticate with Dexcom servers.",
                                              "Verify your credentials in Settings."};
const ErrorInfo kUnexpected{"Error", "An unexpected error occurred.",
                            "Check Settings and ensure your glucose account is active."};
const ErrorInfo kOffline{"Offline", "No internet connection available.",
                         "Connect to the internet to retrieve glucose data."};
const ErrorInfo kDexcomLocked{"Dexcom account locked",
                              "Dexcom Share has temporarily locked the account after too many sign-in attempts.",
                              "Quillby will sign in again at the retry time shown. Signing in sooner, here or in "
                              "another app, keeps the account locked longer."};
const std::string kDexcomLockedText =
    "Dexcom Share has temporarily locked this account after too many sign-in attempts. "
    "Wait 30 minutes before signing in again: every attempt before then keeps it locked.";
ErrorInfo libreNeedsAttention(const std::string &message)
{
    return {"LibreLinkUp needs attention", message, "Resolve the issue, then choose Reconnect in Account settings."};
}

TEST_F(PollingProviderRepliesTest, DexcomReplyShapes)
{
    FakeDexcomServer server;
    const double readingAt = kStart - 60;
    server.setReadings({FakeDexcomServer::record(120, 4, readingAt)});
    const std::string checkCredentials = "Authentication failed: Please check your credentials.";

    using Row = ReplyRow<FakeDexcomServer>;   // sign-ins: step 1 requests
    const auto twice = [](const char *path, ScriptedReply reply) {
        return [path, reply](FakeDexcomServer &s) {
            s.enqueueReply(path, reply);
            s.enqueueReply(path, reply);
        };
    };
    // A refused password is tried again on the slow session interval, without signing in again
    // at once.
    const PollerState refused{kDexcomAuthenticationRequired, false, StatusBarPollOutcome::sessionExpired(), 2700};
    const std::vector<Row> rows = {
        {"wrong password: the service's fault, never a 401",
         [](FakeDexcomServer &s) { s.setAccount("user@example.com", "other", "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f"); },
         checkCredentials, refused, 1},
        {"SSO password fault on step 1",
         twice(FakeDexcomServer::kAuthenticatePath,
               FakeDexcomServer::fault("SSO_AuthenticatePasswordInvalid", "Password invalid")),
         checkCredentials, refused, 1},
        {"unknown account name, as an internal fault",
         twice(FakeDexcomServer::kAuthenticatePath,
               FakeDexcomServer::fault("SSO_InternalError", "Cannot Authenticate by AccountName")),
         checkCredentials, refused, 1},
        // Locked after too many sign-in attempts: no password fault, and no sign-in until it ends.
        {"account locked, on step 2",
         twice(FakeDexcomServer::kLoginPath,
               FakeDexcomServer::fault("SSO_AuthenticateMaxAttemptsExceeed", "Maximum authentication attempts exceeded")),
         "Login failed: " + kDexcomLockedText,
         {kDexcomLocked, false, StatusBarPollOutcome::sessionExpired(), 1800}, 1},
        {"empty readings, then the account is locked when signing in again",
         [](FakeDexcomServer &s) {
             s.enqueueReply(FakeDexcomServer::kReadingsPath, ScriptedReply::json(200, nlohmann::json::array()));
             s.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                            ScriptedReply::json(200, "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f"));
             s.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                            FakeDexcomServer::fault("SSO_AuthenticateMaxAttemptsExceeed", "Maximum attempts exceeded"));
         },
         "Authentication failed: " + kDexcomLockedText,
         {kDexcomLocked, false, StatusBarPollOutcome::sessionExpired(), 1800}, 2},
        {"empty readings, then the password is refused when signing in again",
         [](FakeDexcomServer &s) {
             s.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                            ScriptedReply::json(200, "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f"));
             s.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                            FakeDexcomServer::fault("AccountPasswordInvalid", "Publisher account password failed"));
             s.enqueueReply(FakeDexcomServer::kReadingsPath, ScriptedReply::json(200, nlohmann::json::array()));
         },
         checkCredentials, refused, 2},
        {"invalid argument at sign-in: one re-sign-in, then the session back-off",
         twice(FakeDexcomServer::kAuthenticatePath, FakeDexcomServer::fault("InvalidArgument", "accountName invalid")),
         "Login failed: Unable to start a Dexcom session.",
         {kDexcomAuthenticationRequired, false, StatusBarPollOutcome::sessionExpired(), 2700}, 2},
        {"unknown session on the readings request: signs in again and reads",
         [](FakeDexcomServer &s) {
             s.enqueueReply(FakeDexcomServer::kReadingsPath, FakeDexcomServer::fault("SessionIdNotFound", "Session ID not found"));
         },
         "Session expired", {std::nullopt, false, StatusBarPollOutcome::newData(), std::nullopt}, 2},
        {"another fault at sign-in stays a server error",
         twice(FakeDexcomServer::kAuthenticatePath, FakeDexcomServer::fault("InternalError", "Something broke")),
         "Dexcom server error (500)",
         {kUnexpected, false, StatusBarPollOutcome::httpError(std::nullopt), 30}, 1},
        {"a proxy's HTML page with 403 at sign-in",
         twice(FakeDexcomServer::kAuthenticatePath, ScriptedReply::text(403, "<html><h1>Forbidden</h1></html>", "text/html")),
         "Invalid response from server",
         {kUnexpected, false, StatusBarPollOutcome::httpError(std::nullopt), 30}, 1},
        {"readings reply larger than any real one",
         [](FakeDexcomServer &s) {
             s.enqueueReply(FakeDexcomServer::kReadingsPath,
                            ScriptedReply::text(200, "[" + std::string(5 * 1024 * 1024, ' ') + "]", "application/json"));
         },
         "Invalid response from server", {kUnexpected, false, StatusBarPollOutcome::httpError(std::nullopt), 30}, 1},
        {"numeric trend", [](FakeDexcomServer &) {}, "",
         {std::nullopt, false, StatusBarPollOutcome::newData(), std::nullopt}, 1},
        // Last: Qt may resend a request whose connection closed early, after the row is over.
        {"sign-in reply cut short after the status line",
         [](FakeDexcomServer &s) {
             s.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                            ScriptedReply::json(200, "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f").cutShortAfter(12));
         },
         std::nullopt, {kOffline, false, StatusBarPollOutcome::networkError(), 30}, 1},
    };
    runReplyRows<FakeDexcomServer>(
        server, rows, FakeDexcomServer::kAuthenticatePath,
        [](FakeDexcomServer &s) { s.setAccount("user@example.com", "secret", "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f"); },
        dexcomAccount("user@example.com"), dexcomClientsAt(server.origin()),
        [](const GlucoseReading &shown) {
            EXPECT_EQ(shown.trendString, "Flat");
            EXPECT_EQ(shown.trendArrow, "→");
        });
}

TEST_F(PollingProviderRepliesTest, LibreLinkUpReplyShapes)
{
    FakeLibreLinkUpServer server;
    server.setConnections({FakeLibreLinkUpServer::connection("p1", "Ann", "Lee")});
    server.setGraph("p1", {FakeLibreLinkUpServer::measurement(120, "1/15/2027 7:59:00 AM", 3)});
    const std::string updateRequired =
        "LibreLinkUp requires a newer connection version. Check for an update to Quillby.";
    const std::string unexpectedReply = "LibreLinkUp returned an unexpected response. Try again later.";
    const auto blockPage = ScriptedReply::text(403, "<html><body>Access denied</body></html>", "text/html");
    const std::string patientNotLoaded =
        "LibreLinkUp could not load this account. Sign in to the LibreLinkUp app with the same email and password "
        "and check that it shows the readings you follow, then try again.";

    using Row = ReplyRow<FakeLibreLinkUpServer>;
    const std::vector<Row> rows = {
        {"minimum version raised, HTTP 200",
         [](FakeLibreLinkUpServer &s) { s.setMinimumVersion("4.17.0", 200); }, updateRequired,
         {libreNeedsAttention(updateRequired), true, StatusBarPollOutcome::noNewData(), std::nullopt}, 1},
        {"minimum version raised, HTTP 403",
         [](FakeLibreLinkUpServer &s) { s.setMinimumVersion("4.17.0", 403); }, updateRequired,
         {libreNeedsAttention(updateRequired), true, StatusBarPollOutcome::noNewData(), std::nullopt}, 1},
        {"minimum version on a signed-in request: no extra sign-ins",
         [](FakeLibreLinkUpServer &s) {
             s.enqueueReply(FakeLibreLinkUpServer::kConnectionsPath,
                            ScriptedReply::json(403, {{"status", 920}, {"data", {{"minimumVersion", "4.17.0"}}}}));
         },
         updateRequired, {libreNeedsAttention(updateRequired), true, StatusBarPollOutcome::noNewData(), std::nullopt}, 1},
        {"wrong password",
         [](FakeLibreLinkUpServer &s) { s.setAccount("ann@example.com", "other", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9"); },
         "Unable to sign in to LibreLinkUp. Check your email and password in the LibreLinkUp app.",
         {libreNeedsAttention("Unable to sign in to LibreLinkUp. Check your email and password in the LibreLinkUp app."),
          true, StatusBarPollOutcome::noNewData(), std::nullopt},
         1},
        {"a header the service requires is missing",
         [](FakeLibreLinkUpServer &s) {
             s.enqueueReply(FakeLibreLinkUpServer::kConnectionsPath,
                            ScriptedReply::json(400, {{"message", "RequiredHeaderMissing"}}));
         },
         updateRequired, {libreNeedsAttention(updateRequired), true, StatusBarPollOutcome::noNewData(), std::nullopt}, 1},
        {"the service could not load the account at sign-in",
         [](FakeLibreLinkUpServer &s) {
             s.enqueueReply(FakeLibreLinkUpServer::kLoginPath,
                            ScriptedReply::json(200, {{"status", 4}, {"data", {{"step", {{"type", "couldNotLoadPatient"}}}}}}));
         },
         patientNotLoaded,
         {libreNeedsAttention(patientNotLoaded), true, StatusBarPollOutcome::noNewData(), std::nullopt}, 1},
        {"the service could not load the account, said in the error's message",
         [](FakeLibreLinkUpServer &s) {
             s.enqueueReply(FakeLibreLinkUpServer::kLoginPath,
                            ScriptedReply::json(200, {{"status", 4}, {"error", {{"message", "couldNotLoadPatient"}}}}));
         },
         patientNotLoaded,
         {libreNeedsAttention(patientNotLoaded), true, StatusBarPollOutcome::noNewData(), std::nullopt}, 1},
        {"a CDN's HTML block page with 403 at sign-in",
         [blockPage](FakeLibreLinkUpServer &s) { s.enqueueReply(FakeLibreLinkUpServer::kLoginPath, blockPage); },
         unexpectedReply, {kUnexpected, false, StatusBarPollOutcome::httpError(std::nullopt), 30}, 1},
        {"a CDN's HTML block page with 403 on the connection list",
         [blockPage](FakeLibreLinkUpServer &s) { s.enqueueReply(FakeLibreLinkUpServer::kConnectionsPath, blockPage); },
         unexpectedReply, {kUnexpected, false, StatusBarPollOutcome::httpError(std::nullopt), 30}, 1},
        {"connection list larger than any real one",
         [](FakeLibreLinkUpServer &s) {
             s.enqueueReply(FakeLibreLinkUpServer::kConnectionsPath,
                            ScriptedReply::text(200, "{\"status\":0,\"data\":[" + std::string(5 * 1024 * 1024, ' ') + "]}",
                                                "application/json"));
         },
         unexpectedReply, {kUnexpected, false, StatusBarPollOutcome::httpError(std::nullopt), 30}, 1},
        {"readings", [](FakeLibreLinkUpServer &) {}, "",
         {std::nullopt, false, StatusBarPollOutcome::newData(), std::nullopt}, 1},
        // Last: Qt may resend a request whose connection closed early, after the row is over.
        {"graph reply cut short after the status line",
         [](FakeLibreLinkUpServer &s) {
             s.enqueueReply(FakeLibreLinkUpServer::graphPath("p1"),
                            ScriptedReply::json(200, {{"status", 0}, {"data", {{"graphData", nlohmann::json::array()}}}})
                                .cutShortAfter(20));
         },
         std::nullopt, {kOffline, false, StatusBarPollOutcome::networkError(), 30}, 1},
    };
    const std::string origin = server.origin();
    const std::shared_ptr<FakeClock> wallClock = clock;
    runReplyRows<FakeLibreLinkUpServer>(
        server, rows, FakeLibreLinkUpServer::kLoginPath,
        [](FakeLibreLinkUpServer &s) {
            s.setMinimumVersion(std::nullopt);
            s.setAccount("ann@example.com", "secret", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9");
        },
        libreAccount("p1"),
        [origin, wallClock] {
            LibreLinkUpAPIOptions options;
            options.clock = wallClock;
            for (const auto &[code, host] : LibreLinkUpAPI::defaultHosts()) {
                options.hosts[code] = origin;
            }
            return std::make_shared<LibreLinkUpAPI>("ann@example.com", "secret", "eu", "p1", options);
        },
        [](const GlucoseReading &shown) { EXPECT_EQ(shown.mgdL, 120); });
}

// A locked Dexcom account is left alone until the lock has passed: no refresh signs in before
// then; afterwards one sign-in brings the readings back.
TEST_F(PollingProviderRepliesTest, DexcomLockoutIsWaitedOut)
{
    FakeDexcomServer server;
    server.enqueueReply(FakeDexcomServer::kAuthenticatePath,
                        FakeDexcomServer::fault("SSO_AuthenticateMaxAttemptsExceeed",
                                                "Maximum authentication attempts exceeded"));
    startWith(dexcomAccount("user@example.com"), dexcomClientsAt(server.origin()));
    refreshOverNetwork();
    expectPollerState("Authentication failed: " + kDexcomLockedText,
                      {kDexcomLocked, false, StatusBarPollOutcome::sessionExpired(), 1800});

    server.clearRequests();
    clock->advance(1799);
    refreshOverNetwork();
    EXPECT_TRUE(server.requests().empty());

    clock->advance(1);
    server.setReadings({FakeDexcomServer::record(120, 4, now() - 60)});
    refreshOverNetwork();
    EXPECT_EQ(server.requestCount(FakeDexcomServer::kAuthenticatePath), 1u);
    EXPECT_EQ(error(), std::nullopt);
    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_EQ(presenter.presentedReading->mgdL, 120);
    coordinator.reset();
    VirtualTimeSleeper::drain();
}

// Two unlabelled server faults in a row on a session in use: the first may be an expired
// session, so the poller signs in again once; the second comes right after a successful sign-in
// and is the service failing. It backs off as a server error, not as a refused password, and
// the readings come back on the next poll.
TEST_F(PollingProviderRepliesTest, DexcomServerFaultRightAfterSigningInAgainIsAServerError)
{
    FakeDexcomServer server;
    server.setAccount("user@example.com", "secret", "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f");
    server.setReadings({FakeDexcomServer::record(120, 4, kStart - 60)});
    startWith(dexcomAccount("user@example.com"), dexcomClientsAt(server.origin()));
    refreshOverNetwork();
    ASSERT_EQ(error(), std::nullopt);

    clock->advance(330);
    server.clearRequests();
    for (int fault = 0; fault < 2; ++fault) {
        server.enqueueReply(FakeDexcomServer::kReadingsPath,
                            FakeDexcomServer::fault("InternalError", "An internal error occurred"));
    }
    refreshOverNetwork();
    EXPECT_EQ(server.requestCount(FakeDexcomServer::kAuthenticatePath), 1u);
    EXPECT_EQ(server.requestCount(FakeDexcomServer::kReadingsPath), 2u);
    expectPollerState("Dexcom server error (500)",
                      {ErrorInfo{"Error", "An unexpected error occurred: Dexcom server error (500)",
                                 "The app will retry automatically."},
                       false, StatusBarPollOutcome::httpError(std::nullopt), 30});
    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_EQ(presenter.presentedReading->mgdL, 120);   // held under the error

    // The fault has cleared: the poll planned 30 s later reads again, without signing in.
    const Date clearedAt = now();
    server.setReadings({FakeDexcomServer::record(64, 6, now())});
    clock->advance(*presenter.nextRetryAt() - now());
    refreshOverNetwork();
    EXPECT_EQ(error(), std::nullopt);
    EXPECT_EQ(presenter.presentedReading->mgdL, 64);
    EXPECT_NEAR(now() - clearedAt, 30, 0.01);
    EXPECT_EQ(server.requestCount(FakeDexcomServer::kAuthenticatePath), 1u);
    coordinator.reset();
    VirtualTimeSleeper::drain();
}

// A block page on the readings request keeps the session: each back-off retry repeats the
// request without signing in again, which would only make a block worse. A session the service
// ends (HTTP 401) still signs in again.
TEST_F(PollingProviderRepliesTest, LibreLinkUpBlockPageKeepsTheSession)
{
    FakeLibreLinkUpServer server;
    server.setAccount("ann@example.com", "secret", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9");
    server.setConnections({FakeLibreLinkUpServer::connection("p1", "Ann", "Lee")});
    server.setGraph("p1", {FakeLibreLinkUpServer::measurement(120, "1/15/2027 7:59:00 AM", 3)});
    const std::string origin = server.origin();
    const std::shared_ptr<FakeClock> wallClock = clock;
    startWith(libreAccount("p1"), [origin, wallClock] {
        LibreLinkUpAPIOptions options;
        options.clock = wallClock;
        for (const auto &[code, host] : LibreLinkUpAPI::defaultHosts()) {
            options.hosts[code] = origin;
        }
        return std::make_shared<LibreLinkUpAPI>("ann@example.com", "secret", "eu", "p1", options);
    });

    const std::string graph = FakeLibreLinkUpServer::graphPath("p1");
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        server.enqueueReply(graph, ScriptedReply::text(403, "<html><body>Access denied</body></html>", "text/html"));
        refreshOverNetwork();
        EXPECT_EQ(error(), kUnexpected);
        ASSERT_TRUE(presenter.nextRetryAt());
        clock->advance(*presenter.nextRetryAt() - now());
    }
    refreshOverNetwork();
    EXPECT_EQ(error(), std::nullopt);
    ASSERT_TRUE(presenter.presentedReading);
    EXPECT_EQ(server.requestCount(FakeLibreLinkUpServer::kLoginPath), 1u);
    EXPECT_EQ(server.requestCount(graph), 4u);

    server.revokeTickets();
    clock->advance(60);
    refreshOverNetwork();
    EXPECT_EQ(server.requestCount(FakeLibreLinkUpServer::kLoginPath), 2u);
    coordinator.reset();
    VirtualTimeSleeper::drain();
}

} // namespace
} // namespace quillby::test
