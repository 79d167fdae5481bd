#include "ServicesTestSupport.h"

#include "VirtualTimeSleeper.h"

namespace quillby::test {
namespace {

// Every failure path of the signing stack, the heartbeat and the feedback service, with
// distinctive key identifiers and secrets; then not one log line may hold a secret, a key
// identifier or a whole installation identifier.
TEST(ServerLogging, NoSecretKeyIdOrFullInstallationIdentifierInAnyLine)
{
    ServerFixture f;
    LogCapture logs;
    const std::string keyId = "KEYID-SENTINEL-4242";
    const std::string secret = "U0VDUkVULVNFTlRJTkVMLTQyNDI=";
    std::vector<QString> identifiers;

    auto sleeper = std::make_shared<VirtualTimeSleeper>(*f.clock);
    AlivePingService::Dependencies d;
    d.connection = f.connection();
    d.aliveURL = app_server::endpointURL(f.origin(), app_server::kAlivePath);
    d.authProvider = f.makeProvider();
    d.scheduleStore = std::make_shared<UserDefaultsAlivePingScheduleStore>(f.defaults);
    d.clock = f.clock;
    d.sleeper = sleeper;
    auto alive = std::make_shared<AlivePingService>(std::move(d));
    auto feedback = f.makeFeedbackService();
    const auto sendAlive = [&] {
        identifiers.push_back(f.defaults->value(QStringLiteral("QuillbyInstallationID")).toString());
        (void)runTask(alive->sendIfNeeded(QStringLiteral("1.4.2")));
        f.clock->advance(86400);
    };
    const auto sendFeedback = [&] {
        try {
            runTask(feedback->submit(QStringLiteral("Ada"), QString(), QStringLiteral("hello")));
        } catch (const FeedbackSubmissionError &) {
        }
    };

    f.server.setNextCredentials(keyId, secret);
    sendAlive();                                                               // registers with the sentinels
    f.server.revokeKey(keyId);
    f.server.setNextCredentials(keyId + "-2", "U0VDUkVULVNFTlRJTkVMLTk5OTk=");
    sendAlive();                                                               // 401, proof, resend
    f.server.enqueueReply("/api/alive", ScriptedReply::json(500, {{"error", "down"}}));
    sendAlive();
    f.server.enqueueReply("/api/alive/register", ScriptedReply::json(409, {{"error", "gone"}}));
    f.storeCredentials(f.installationID(), QStringLiteral("bad"), QStringLiteral("!!"));
    sendAlive();                                                               // given up: new identifier
    f.server.enqueueReply("/api/alive/register",
                          ScriptedReply::text(200, R"({"keyId":")" + keyId + R"(","secret":")" + secret, "application/json"));
    sendAlive();                                                               // truncated reply quoting the secret
    f.server.setNextCredentials("bad\r\n" + keyId, secret);
    sendAlive();                                                               // unusable credentials
    f.keyring->failNextWrite(keychain_status::authFailed);
    sendAlive();                                                               // cannot persist
    sendFeedback();                                                            // registers, sends
    f.server.enqueueReply("/api/feedback", ScriptedReply::json(403, {}));
    f.server.enqueueReply("/api/feedback", ScriptedReply::json(403, {{"error", "device blocked"}}));
    sendFeedback();
    f.timeout = std::chrono::milliseconds(2000);
    ScriptedReply slow = ScriptedReply::json(200, {});
    slow.delaySeconds = 20;
    f.server.enqueueReply("/api/feedback", slow);
    auto impatient = f.makeFeedbackService();
    try {
        runTask(impatient->submit(QString(), QString(), QStringLiteral("x")));
    } catch (const FeedbackSubmissionError &) {
    }
    identifiers.push_back(f.installationID());

    const auto lines = logs.lines();
    ASSERT_GE(lines.size(), 8u);   // the scenario did reach the failure paths
    std::vector<std::string> forbidden = {keyId, secret, "U0VDUkVULVNFTlRJTkVMLTk5OTk=", "SECRET-SENTINEL"};
    for (const auto &issued : f.server.issued()) {
        forbidden.push_back(issued.keyId);
        forbidden.push_back(issued.secret);
    }
    for (const QString &id : identifiers) {
        forbidden.push_back(id.toStdString());
    }
    for (const auto &line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        for (const auto &secretText : forbidden) {
            if (!secretText.empty()) {
                EXPECT_EQ(line.find(secretText), std::string::npos) << secretText;
            }
        }
    }
}

} // namespace
} // namespace quillby::test
