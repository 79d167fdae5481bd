#include "ServicesTestSupport.h"

#include "VirtualTimeSleeper.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace quillby::test {
namespace {

constexpr double kDay = 86400;
// 2027-01-15 00:00:00 UTC.
constexpr double kMidnight = 1'800'000'000.0 - 28800.0;

struct AliveFixture : ServerFixture {
    std::shared_ptr<VirtualTimeSleeper> sleeper = std::make_shared<VirtualTimeSleeper>(*clock);
    std::uint64_t jitterMs = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> draws;
    std::optional<QString> language = QStringLiteral("en-GB");

    std::shared_ptr<AlivePingService> makeService(QString base = {})
    {
        AlivePingService::Dependencies d;
        d.connection = connection();
        d.aliveURL = app_server::endpointURL(base.isEmpty() ? origin() : base, app_server::kAlivePath);
        d.authProvider = makeProvider(base);
        d.scheduleStore = std::make_shared<UserDefaultsAlivePingScheduleStore>(defaults);
        d.clock = clock;
        d.sleeper = sleeper;
        d.randomUInt64 = [this](std::uint64_t a, std::uint64_t b) {
            draws.emplace_back(a, b);
            return jitterMs;
        };
        d.systemLanguageProvider = [this] { return language; };
        return std::make_shared<AlivePingService>(std::move(d));
    }

    AlivePingResult send(AlivePingService &service) { return runTask(service.sendIfNeeded(QStringLiteral("1.4.2"))); }
};

TEST(AlivePingService, SendsOneSignedHeartbeatADay)
{
    AliveFixture f;
    LogCapture logs;
    auto service = f.makeService();
    EXPECT_EQ(f.send(*service), AlivePingResult::sent);
    const auto alive = f.server.requests("/api/alive");
    ASSERT_EQ(alive.size(), 1u);
    const QString id = f.installationID();
    EXPECT_EQ(alive[0].body, R"({"installationId":")" + id.toStdString() +
                                 R"x(","appVersion":"1.4.2","platform":"Linux","osVersion":"Debian GNU/Linux 12 (bookworm)","systemLanguage":"en-GB"})x");
    EXPECT_EQ(alive[0].header("X-Quillby-Heartbeat"), "1");
    EXPECT_EQ(alive[0].header("X-Quillby-Platform"), "Linux");
    EXPECT_EQ(alive[0].header("User-Agent"), "Quillby/1.4.2 (Linux; Debian GNU/Linux 12 (bookworm))");
    EXPECT_TRUE(f.server.allSignaturesValid());
    EXPECT_TRUE(f.defaults->contains(QStringLiteral("QuillbyLastAlivePingAt-") + id));

    f.clock->advance(3600);
    EXPECT_EQ(f.send(*service), AlivePingResult::skipped);   // same UTC day
    f.clock->setNow(kMidnight + kDay + 700);                  // next day, past the jitter window
    EXPECT_EQ(f.send(*service), AlivePingResult::sent);
    EXPECT_EQ(f.server.requestCount("/api/alive"), 2u);
    EXPECT_EQ(f.server.requestCount("/api/alive/register"), 1u);
    EXPECT_TRUE(logs.lines().empty());
}

TEST(AlivePingService, LanguageIsTrimmedCutAndLeftOutWhenEmpty)
{
    struct Case {
        std::optional<QString> language;
        const char *expected;   // nullptr: no key
    };
    const Case cases[] = {
        {QStringLiteral("  de-CH \n"), "de-CH"},
        {QString(70, QLatin1Char('a')), "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {QStringLiteral("   "), nullptr},
        {std::nullopt, nullptr},
    };
    for (const Case &c : cases) {
        AliveFixture f;
        f.language = c.language;
        auto service = f.makeService();
        ASSERT_EQ(f.send(*service), AlivePingResult::sent);
        const auto body = f.server.requests("/api/alive").front().json();
        if (c.expected) {
            EXPECT_EQ(body.at("systemLanguage"), c.expected);
        } else {
            EXPECT_FALSE(body.contains("systemLanguage"));
        }
    }
}

TEST(AlivePingService, JitterJustAfterUtcMidnight)
{
    AliveFixture f;
    auto service = f.makeService();
    f.jitterMs = 12345;
    EXPECT_EQ(service->midnightJitterDelay(kMidnight + 599), 12.345);
    EXPECT_EQ(f.draws.back(), std::make_pair(std::uint64_t{0}, std::uint64_t{60000}));
    EXPECT_TRUE(service->midnightJitterDelay(kMidnight + 600).has_value());
    EXPECT_FALSE(service->midnightJitterDelay(kMidnight + 601).has_value());
    f.jitterMs = 0;
    EXPECT_FALSE(service->midnightJitterDelay(kMidnight + 5).has_value());   // a draw of 0 sends at once

    // A send at 00:00:30 after one at 23:59 yesterday waits for its jitter, then goes.
    f.clock->setNow(kMidnight - 60);
    ASSERT_EQ(f.send(*service), AlivePingResult::sent);
    f.clock->setNow(kMidnight + 30);
    f.jitterMs = 42000;
    auto task = service->sendIfNeeded(QStringLiteral("1.4.2"));
    VirtualTimeSleeper::drain();
    ASSERT_EQ(f.sleeper->requests.back(), 42.0);
    EXPECT_EQ(f.server.requestCount("/api/alive"), 1u);   // nothing sent during the jitter
    f.sleeper->runNext();
    EXPECT_EQ(runTask(std::move(task)), AlivePingResult::sent);
    EXPECT_EQ(f.server.requestCount("/api/alive"), 2u);
}

TEST(AlivePingService, RetryBackOffIsCappedAndRestartsEachUtcDay)
{
    AliveFixture f;
    auto service = f.makeService();
    const double expected[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 21600, 21600, 21600};
    const Date start = kMidnight + 100;
    for (const double delay : expected) {
        service->scheduleRetry(AlivePingResult::failed, start);
        ASSERT_TRUE(service->nextRetryAt());
        EXPECT_EQ(*service->nextRetryAt() - start, delay);
    }
    service->scheduleRetry(AlivePingResult::failed, kMidnight + kDay + 5);   // first failure of a new day
    EXPECT_EQ(*service->nextRetryAt() - (kMidnight + kDay + 5), 300);
    service->scheduleRetry(AlivePingResult::skipped, kMidnight + kDay + 6);
    EXPECT_FALSE(service->nextRetryAt());
    EXPECT_EQ(service->retryAttempt(), 0);

    // Next wake-up: the earlier of UTC midnight and the retry, never below 1 s.
    EXPECT_EQ(service->delayUntilNextAttempt(kMidnight + kDay - 0.5), 1.0);
    EXPECT_EQ(service->delayUntilNextAttempt(kMidnight + 3600), kDay - 3600);
    service->scheduleRetry(AlivePingResult::failed, kMidnight + 3600);
    EXPECT_EQ(service->delayUntilNextAttempt(kMidnight + 3600), 300);
    EXPECT_EQ(service->delayUntilNextAttempt(kMidnight + 3600 + 299.8), 1.0);
}

TEST(AlivePingService, AuthRejectionLeadsToOneRegistrationWithProofAndOneResend)
{
    {
        AliveFixture f;
        LogCapture logs;
        auto service = f.makeService();
        ASSERT_EQ(f.send(*service), AlivePingResult::sent);   // registers
        const auto oldKey = f.server.issued().front().keyId;
        f.server.revokeKey(oldKey);                            // the server forgot the key: 401
        f.clock->advance(kDay);
        f.clock->setNow(kMidnight + kDay + 3600);
        EXPECT_EQ(f.send(*service), AlivePingResult::sent);
        const auto registrations = f.server.requests("/api/alive/register");
        ASSERT_EQ(registrations.size(), 2u);
        EXPECT_EQ(registrations[1].header("X-QB-Key-Id"), oldKey);   // proof made with the stored key
        EXPECT_EQ(f.server.requestCount("/api/alive"), 3u);
        EXPECT_EQ(logs.count("Alive ping auth rejected (installation="), 1);
    }
    {
        AliveFixture f;
        LogCapture logs;
        auto service = f.makeService();
        f.server.enqueueReply("/api/alive", ScriptedReply::json(401, {{"error", "no"}}));
        f.server.enqueueReply("/api/alive", ScriptedReply::json(403, {{"error", "no"}}));
        EXPECT_EQ(f.send(*service), AlivePingResult::failed);
        EXPECT_EQ(f.server.requestCount("/api/alive"), 2u);
        EXPECT_EQ(f.server.requestCount("/api/alive/register"), 2u);   // first use, then the one forced
        EXPECT_EQ(logs.count("Alive ping failed (installation="), 1);
        EXPECT_TRUE(f.server.allSignaturesValid());
    }
}

TEST(AlivePingService, FailuresAreNotRecorded)
{
    AliveFixture f;
    LogCapture logs;
    auto service = f.makeService();
    f.server.enqueueReply("/api/alive", ScriptedReply::json(500, {{"error", "down"}}));
    EXPECT_EQ(f.send(*service), AlivePingResult::failed);
    const QString key = QStringLiteral("QuillbyLastAlivePingAt-") + f.installationID();
    EXPECT_FALSE(f.defaults->contains(key));
    EXPECT_EQ(logs.count("status=500"), 1);

    // A time-out has no HTTP reply: a failure, never accepted.
    f.timeout = std::chrono::milliseconds(2000);
    auto impatient = f.makeService();
    ScriptedReply slow = ScriptedReply::json(200, nlohmann::json::object());
    slow.delaySeconds = 20;
    f.server.enqueueReply("/api/alive", slow);
    EXPECT_EQ(f.send(*impatient), AlivePingResult::failed);
    EXPECT_FALSE(f.defaults->contains(key));
    EXPECT_EQ(logs.count("Failed to send alive ping (installation="), 1);
}

TEST(AlivePingService, AReplyThatIsNotHttpIsAFailure)
{
    AliveFixture f;
    // Registration works; the heartbeat goes to a listener that answers with something else.
    auto provider = f.makeProvider();
    const QString id = provider->installationIDProvider().installationID();
    ASSERT_TRUE(runTask(provider->signRequest({id, "1", "ua", "{}", "/api/alive", {}}, false)));

    QTcpServer garbage;
    ASSERT_TRUE(garbage.listen(QHostAddress::LocalHost));
    QObject::connect(&garbage, &QTcpServer::newConnection, &garbage, [&garbage] {
        QTcpSocket *socket = garbage.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write("SSH-2.0-OpenSSH_9.2\r\n");
            socket->disconnectFromHost();
        });
    });
    AlivePingService::Dependencies d;
    d.connection = f.connection();
    d.aliveURL = QUrl(QStringLiteral("http://127.0.0.1:%1/api/alive").arg(garbage.serverPort()));
    d.authProvider = provider;
    d.scheduleStore = std::make_shared<UserDefaultsAlivePingScheduleStore>(f.defaults);
    d.clock = f.clock;
    d.sleeper = f.sleeper;
    auto service = std::make_shared<AlivePingService>(std::move(d));
    EXPECT_EQ(f.send(*service), AlivePingResult::failed);
    EXPECT_FALSE(f.defaults->contains(QStringLiteral("QuillbyLastAlivePingAt-") + id));
}

} // namespace
} // namespace quillby::test
