#include "ServicesTestSupport.h"

namespace quillby::test {
namespace {

using Case = FeedbackSubmissionError::Case;

std::optional<Case> submit(FeedbackSubmissionService &service, QString name = QStringLiteral("Ada"),
                           QString email = QStringLiteral("ada@example.org"), QString message = QStringLiteral("Hi"))
{
    try {
        runTask(service.submit(std::move(name), std::move(email), std::move(message)));
        return std::nullopt;
    } catch (const FeedbackSubmissionError &error) {
        return error.kind;
    }
}

TEST(FeedbackSubmissionService, SendsTheSignedFeedback)
{
    ServerFixture f;
    LogCapture logs;
    auto service = f.makeFeedbackService();
    EXPECT_EQ(submit(*service, QStringLiteral("  Ada \n"), QStringLiteral(" \n "), QStringLiteral("  Two\n\nlines  ")),
              std::nullopt);
    const auto sent = f.server.requests("/api/feedback");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, R"x({"installationId":")x" + f.installationID().toStdString() +
                                R"x(","appVersion":"1.4.2","platform":"Linux","osVersion":"Debian GNU/Linux 12 (bookworm)","name":"Ada","message":"  Two\n\nlines  "})x");
    EXPECT_EQ(sent[0].header("X-Quillby-Feedback"), "1");
    EXPECT_EQ(sent[0].header("X-Quillby-App-Version"), "1.4.2");
    EXPECT_TRUE(f.server.allSignaturesValid());
    EXPECT_TRUE(logs.lines().empty());
}

TEST(FeedbackSubmissionService, EveryOutcomeIsSuccessOrOneOfFourMessages)
{
    struct Row {
        const char *name;
        std::vector<ScriptedReply> replies;   // to "/api/feedback", in order
        std::optional<Case> expected;
        std::size_t feedbackRequests;
        std::size_t registrations;            // beyond the first use
        const char *logFragment;              // nullptr: none expected from the service
    };
    ScriptedReply redirect = ScriptedReply::text(302, "");
    redirect.headers = {{"Location", "/api/elsewhere"}};
    const Row rows[] = {
        {"201", {ScriptedReply::json(201, {{"ok", true}})}, std::nullopt, 1, 0, nullptr},
        {"400", {ScriptedReply::json(400, {{"error", "bad"}})}, Case::failedToPrepare, 1, 0, "rejected: bad"},
        {"429", {ScriptedReply::json(429, {{"error", "slow down"}})}, Case::rateLimited, 1, 0, "rejected: slow down"},
        {"403 twice", {ScriptedReply::json(403, {}), ScriptedReply::json(403, {{"error", "banned"}})}, Case::rejected, 2, 1,
         "auth rejected"},
        {"401 then 201", {ScriptedReply::json(401, {}), ScriptedReply::json(201, {})}, std::nullopt, 2, 1,
         "retrying with refreshed credentials"},
        {"500 JSON", {ScriptedReply::json(500, {{"error", "db down"}})}, Case::unavailable, 1, 0, "rejected: db down"},
        {"500 HTML", {ScriptedReply::text(500, "<html>oops</html>", "text/html")}, Case::unavailable, 1, 0, nullptr},
        {"302", {redirect}, Case::unavailable, 1, 0, nullptr},
        {"304", {ScriptedReply::text(304, "")}, Case::unavailable, 1, 0, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ServerFixture f;
        LogCapture logs;
        auto service = f.makeFeedbackService();
        for (const auto &reply : row.replies) {
            f.server.enqueueReply("/api/feedback", reply);
        }
        EXPECT_EQ(submit(*service), row.expected);
        if (row.expected) {
            EXPECT_EQ(FeedbackSubmissionError(*row.expected).what(), FeedbackSubmissionError::message(*row.expected));
        }
        EXPECT_EQ(f.server.requestCount("/api/feedback"), row.feedbackRequests);
        EXPECT_EQ(f.server.requestCount("/api/alive/register"), 1 + row.registrations);
        EXPECT_EQ(f.server.requestCount("/api/elsewhere"), 0u);
        EXPECT_TRUE(f.server.allSignaturesValid());
        if (row.logFragment) {
            EXPECT_EQ(logs.count(row.logFragment), 1);
        } else {
            EXPECT_EQ(logs.count("Feedback submission"), 0);
        }
    }
}

// A signed request redirected to another server is not sent there: the redirect is a failure.
TEST(FeedbackSubmissionService, RedirectToAnotherServerSendsNothingThere)
{
    FakeProductServer elsewhere;
    for (const int status : {307, 308}) {
        SCOPED_TRACE(status);
        ServerFixture f;
        LogCapture logs;
        auto service = f.makeFeedbackService();
        ScriptedReply redirect = ScriptedReply::text(status, "");
        redirect.headers = {{"Location", elsewhere.origin() + "/api/feedback"}};
        f.server.enqueueReply("/api/feedback", redirect);
        EXPECT_EQ(submit(*service), Case::unavailable);
        EXPECT_EQ(f.server.requestCount("/api/feedback"), 1u);
    }
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST(FeedbackSubmissionService, MessagesAreTheFixedTexts)
{
    EXPECT_EQ(FeedbackSubmissionError::message(Case::failedToPrepare), "Feedback could not be prepared right now.");
    EXPECT_EQ(FeedbackSubmissionError::message(Case::rateLimited), "Feedback was sent too recently. Please try again later.");
    EXPECT_EQ(FeedbackSubmissionError::message(Case::rejected), "Feedback could not be submitted from this device right now.");
    EXPECT_EQ(FeedbackSubmissionError::message(Case::unavailable),
              "Feedback could not be submitted right now. Please try again later.");
}

TEST(FeedbackSubmissionService, PreparationAndTransportFailures)
{
    {
        ServerFixture f;
        auto service = f.makeFeedbackService();
        // A retry whose registration fails cannot be signed: not "rejected" but "could not be prepared".
        ASSERT_EQ(submit(*service), std::nullopt);   // registers
        f.server.enqueueReply("/api/feedback", ScriptedReply::json(401, {}));
        f.server.enqueueReply("/api/alive/register", ScriptedReply::json(500, {}));
        EXPECT_EQ(submit(*service), Case::failedToPrepare);
    }
    {
        ServerFixture f;
        auto service = f.makeFeedbackService();
        f.keyring->setWriteFailure(keychain_status::authFailed);   // new credentials cannot be kept
        LogCapture logs;
        EXPECT_EQ(submit(*service), Case::failedToPrepare);
        EXPECT_EQ(f.server.requestCount("/api/feedback"), 0u);
        EXPECT_EQ(logs.count("Failed to persist app auth credentials (installation="), 1);
    }
    {
        ServerFixture f;
        auto service = f.makeFeedbackService(QStringLiteral("http://quillby.app"));   // plain http elsewhere
        EXPECT_EQ(submit(*service), Case::failedToPrepare);
    }
    {
        ServerFixture f;
        LogCapture logs;
        f.timeout = std::chrono::milliseconds(2000);
        auto service = f.makeFeedbackService();
        ASSERT_EQ(submit(*service), std::nullopt);
        ScriptedReply slow = ScriptedReply::json(201, {});
        slow.delaySeconds = 20;
        f.server.enqueueReply("/api/feedback", slow);
        EXPECT_EQ(submit(*service), Case::unavailable);
        EXPECT_EQ(logs.count("Feedback submission failed (installation="), 1);
    }
}

} // namespace
} // namespace quillby::test
