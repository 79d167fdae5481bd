#include "ServicesTestSupport.h"

#include "core/async/EventLoopTurn.h"

#include <QFile>
#include <QSignalSpy>

namespace quillby::test {
namespace {

AppServerAuthProvider::SigningInput input(const QString &id, QByteArray body = R"({"x":1})")
{
    return {id, QStringLiteral("1.4.2"), QStringLiteral("Quillby/1.4.2 (Linux; Debian)"), std::move(body),
            "/api/alive", {}};
}

TEST(AppServerAuthProvider, FirstUseRegistersStoresAndSignsThenUsesTheStoredCredentials)
{
    ServerFixture f;
    LogCapture logs;
    auto provider = f.makeProvider();
    const QString id = provider->installationIDProvider().installationID();
    ASSERT_EQ(id.size(), 36);

    const auto first = runTask(provider->signRequest(input(id), false));
    ASSERT_TRUE(first.has_value());
    const auto registrations = f.server.requests("/api/alive/register");
    ASSERT_EQ(registrations.size(), 1u);
    const auto &registration = registrations.front();
    EXPECT_EQ(registration.method, "POST");
    EXPECT_EQ(registration.body, R"({"installationId":")" + id.toStdString() +
                                     R"(","appVersion":"1.4.2","platform":"Linux"})");
    EXPECT_EQ(registration.header("X-Quillby-Registration"), "1");
    EXPECT_EQ(registration.header("X-Quillby-Platform"), "Linux");
    EXPECT_EQ(registration.header("X-Quillby-App-Version"), "1.4.2");
    EXPECT_EQ(registration.header("Content-Type"), "application/json");
    EXPECT_EQ(registration.header("User-Agent"), "Quillby/1.4.2 (Linux; Debian)");
    EXPECT_FALSE(registration.hasHeader("X-QB-Signature"));   // nothing stored yet: no proof

    const auto stored = f.storedCredentials(id);
    ASSERT_TRUE(stored.has_value());
    const auto credentials = AliveAuthCredentials::decode(*stored);
    ASSERT_TRUE(credentials.has_value());
    ASSERT_EQ(f.server.issued().size(), 1u);
    EXPECT_EQ(credentials->keyId.toStdString(), f.server.issued().front().keyId);
    EXPECT_EQ(credentials->secret.toStdString(), f.server.issued().front().secret);
    EXPECT_EQ(first->keyId, credentials->keyId);

    const auto second = runTask(provider->signRequest(input(id), false));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(f.server.requestCount("/api/alive/register"), 1u);
    EXPECT_NE(first->headers.at("X-QB-Nonce"), second->headers.at("X-QB-Nonce"));
    EXPECT_TRUE(logs.lines().empty());   // success logs nothing
}

TEST(AppServerAuthProvider, RegistrationCarriesProofOfPossessionOnlyWithUsableStoredCredentials)
{
    ServerFixture f;
    auto provider = f.makeProvider();
    const QString id = provider->installationIDProvider().installationID();
    ASSERT_TRUE(runTask(provider->signRequest(input(id), false)));

    // Forced: the stored credentials prove possession, and the server checks that proof.
    ASSERT_TRUE(runTask(provider->signRequest(input(id), true)));
    auto registrations = f.server.requests("/api/alive/register");
    ASSERT_EQ(registrations.size(), 2u);
    EXPECT_TRUE(registrations[1].hasHeader("X-QB-Signature"));
    EXPECT_TRUE(f.server.allSignaturesValid());
    ASSERT_FALSE(f.server.signatureChecks().empty());
    EXPECT_EQ(f.server.signatureChecks().back().path, "/api/alive/register");

    // A stored secret that is not Base64 is never used: the next request registers again, without proof.
    f.storeCredentials(id, QStringLiteral("key-old"), QStringLiteral("%%%not base64%%%"));
    ASSERT_TRUE(runTask(provider->signRequest(input(id), false)));
    registrations = f.server.requests("/api/alive/register");
    ASSERT_EQ(registrations.size(), 3u);
    EXPECT_FALSE(registrations[2].hasHeader("X-QB-Signature"));
    // Nor does a keyring item that is not the credentials JSON.
    f.keyring->setItem(QStringLiteral("Quillby"), QStringLiteral("alive-auth-") + id, "not json");
    ASSERT_TRUE(runTask(provider->signRequest(input(id), false)));
    EXPECT_EQ(f.server.requestCount("/api/alive/register"), 4u);
    EXPECT_TRUE(AliveAuthCredentials::decode(*f.storedCredentials(id)).has_value());
}

TEST(AppServerAuthProvider, GivenUpStatusesReplaceTheIdentifierAndDeleteItsCredentials)
{
    for (const int status : {401, 403, 409}) {
        SCOPED_TRACE(status);
        ServerFixture f;
        LogCapture logs;
        auto provider = f.makeProvider();
        const QString id = provider->installationIDProvider().installationID();
        f.storeCredentials(id, QStringLiteral("key-old"), QStringLiteral("c2VjcmV0"));
        f.server.enqueueReply("/api/alive/register", ScriptedReply::json(status, {{"error", "gone"}}));

        EXPECT_FALSE(runTask(provider->registerInstallation(id, QStringLiteral("1.4.2"), QStringLiteral("ua"))));
        EXPECT_NE(f.installationID(), id);
        EXPECT_EQ(f.installationID().size(), 36);
        EXPECT_FALSE(f.storedCredentials(id).has_value());
        EXPECT_EQ(logs.count("App auth registration failed (installation=" + id.left(8).toStdString() +
                             "\u2026, status=" + std::to_string(status) + ")"),
                  1);
    }
}

TEST(AppServerAuthProvider, OtherFailuresKeepTheIdentifierAndTheCredentials)
{
    ServerFixture f;
    LogCapture logs;
    auto provider = f.makeProvider();
    const QString id = provider->installationIDProvider().installationID();
    f.storeCredentials(id, QStringLiteral("key-old"), QStringLiteral("c2VjcmV0"));
    const auto before = f.storedCredentials(id);

    struct Case {
        const char *name;
        ScriptedReply reply;
        const char *logFragment;
    };
    ScriptedReply redirect = ScriptedReply::text(302, "");
    redirect.headers = {{"Location", "/elsewhere"}};
    const Case cases[] = {
        {"500", ScriptedReply::json(500, {{"error", "boom"}}), "status=500"},
        {"redirect", redirect, "status=302"},
        {"non-JSON 200", ScriptedReply::text(200, "<html>ok</html>", "text/html"), "could not be read"},
        {"200 without secret", ScriptedReply::json(200, {{"keyId", "k"}}), "could not be read"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int linesBefore = logs.count(c.logFragment);
        f.server.enqueueReply("/api/alive/register", c.reply);
        EXPECT_FALSE(runTask(provider->registerInstallation(id, QStringLiteral("1.4.2"), QStringLiteral("ua"))));
        EXPECT_EQ(f.installationID(), id);
        EXPECT_EQ(f.storedCredentials(id), before);
        EXPECT_EQ(logs.count(c.logFragment), linesBefore + 1);
    }
    EXPECT_EQ(f.server.requestCount("/elsewhere"), 0u);   // redirects are not followed
}

TEST(AppServerAuthProvider, UnusableIssuedCredentialsFailTheRegistrationAndStoreNothing)
{
    struct Case {
        const char *name;
        std::string keyId;
        std::string secret;
    };
    const Case cases[] = {
        {"CR LF in key id", "key\r\nX-Evil: 1", "c2VjcmV0"},
        {"control character in key id", std::string("key") + '\x01', "c2VjcmV0"},
        {"empty key id", "", "c2VjcmV0"},
        {"empty secret", "key-1", ""},
        {"secret not Base64", "key-1", "s3cr3t!"},
        {"secret with white space", "key-1", "c2Vj cmV0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ServerFixture f;
        LogCapture logs;
        auto provider = f.makeProvider();
        const QString id = provider->installationIDProvider().installationID();
        f.server.setNextCredentials(c.keyId, c.secret);
        EXPECT_FALSE(runTask(provider->signRequest(input(id), false)));
        EXPECT_EQ(f.keyring->itemCount(), 0u);
        EXPECT_EQ(logs.count("Failed to register app auth credentials"), 1);
    }
}

TEST(AppServerAuthProvider, TransportFailuresAndRefusedAddressesGiveNothing)
{
    ServerFixture f;
    LogCapture logs;
    f.timeout = std::chrono::milliseconds(2000);
    // A reply that takes longer than the time-out.
    auto provider = f.makeProvider();
    const QString id = provider->installationIDProvider().installationID();
    ScriptedReply slow = ScriptedReply::json(200, {{"keyId", "k"}, {"secret", "c2VjcmV0"}});
    slow.delaySeconds = 20;
    f.server.enqueueReply("/api/alive/register", slow);
    EXPECT_FALSE(runTask(provider->registerInstallation(id, QStringLiteral("1"), QStringLiteral("ua"))));
    EXPECT_EQ(logs.count("Failed to register app auth credentials (installation="), 1);

    // Plain http to another computer is refused before anything is sent.
    auto remote = f.makeProvider(QStringLiteral("http://quillby.app"));
    EXPECT_FALSE(runTask(remote->signRequest(input(id), false)));
    EXPECT_EQ(f.keyring->itemCount(), 0u);
}

QCoro::Task<void> signInto(std::shared_ptr<AppServerAuthProvider> provider, QString id,
                           std::optional<AppServerAuthProvider::SignedHeaders> *out, int *done)
{
    *out = co_await provider->signRequest(input(id), false);
    ++*done;
}

TEST(AppServerAuthProvider, TwoCallersOnFirstUseRegisterOnce)
{
    ServerFixture f;
    f.server.setDelay(0.2);   // both are under way before the first registration answers
    auto heartbeat = f.makeProvider();
    auto feedback = f.makeProvider();
    const QString id = heartbeat->installationIDProvider().installationID();
    ASSERT_EQ(feedback->installationIDProvider().installationID(), id);

    std::optional<AppServerAuthProvider::SignedHeaders> a, b;
    int done = 0;
    signInto(heartbeat, id, &a, &done);
    signInto(feedback, id, &b, &done);
    runTask([](int *d) -> QCoro::Task<void> {
        while (*d < 2) {
            co_await nextEventLoopTurn();
        }
    }(&done));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(f.server.requestCount("/api/alive/register"), 1u);
    EXPECT_EQ(a->keyId, b->keyId);
    EXPECT_EQ(f.keyring->itemCount(), 1u);
    EXPECT_EQ(f.installationID(), id);
}

TEST(AppServerAuthProvider, EmptyStoredIdentifierIsReplacedAndResetOnlyMatchesTheStoredOne)
{
    ServerFixture f;
    UserDefaultsInstallationIDProvider ids(f.defaults);
    ids.resetInstallationID(QStringLiteral("anything"));
    EXPECT_FALSE(f.defaults->contains(QStringLiteral("QuillbyInstallationID")));   // nothing stored: stores nothing
    f.defaults->setValue(QStringLiteral("QuillbyInstallationID"), QString());
    const QString made = ids.installationID();
    EXPECT_EQ(made.size(), 36);
    EXPECT_EQ(ids.installationID(), made);
    ids.resetInstallationID(QStringLiteral("another"));
    EXPECT_EQ(ids.installationID(), made);
    ids.resetInstallationID(made);
    EXPECT_NE(ids.installationID(), made);
}

// A settings file that cannot be written (a full disk, a read-only folder; here its folder is a
// file, which binds even for root) keeps no identifier: registering under one would happen
// again on every launch, each leaving a keyring item behind.
TEST(AppServerAuthProvider, IdentifierThatCouldNotBeSavedIsNeverRegistered)
{
    ServerFixture f;
    QStringList identifiers;
    for (int launch = 0; launch < 2; ++launch) {
        SCOPED_TRACE(launch);
        // A file of its own for each launch: QSettings shares unsaved values within a process.
        const QString folder = f.directory.filePath(QStringLiteral("config%1").arg(launch));
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        f.defaults = std::make_shared<QSettings>(folder + QStringLiteral("/Quillby.conf"), QSettings::IniFormat);
        auto provider = f.makeProvider();
        const QString id = provider->installationIDProvider().installationID();
        EXPECT_EQ(provider->installationIDProvider().installationID(), id) << "one identifier for the whole run";
        EXPECT_FALSE(provider->installationIDProvider().isInstallationIDSaved());
        EXPECT_FALSE(runTask(provider->signRequest(input(id), false)).has_value());
        EXPECT_FALSE(f.storedCredentials(id).has_value());
        identifiers << id;
    }
    EXPECT_EQ(f.server.requestCount("/api/alive/register"), 0u);

    // Once the file can be written, the identifier is kept and registered as usual.
    f.defaults = std::make_shared<QSettings>(f.directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    auto provider = f.makeProvider();
    const QString id = provider->installationIDProvider().installationID();
    EXPECT_TRUE(provider->installationIDProvider().isInstallationIDSaved());
    EXPECT_TRUE(runTask(provider->signRequest(input(id), false)).has_value());
    EXPECT_EQ(f.server.requestCount("/api/alive/register"), 1u);
}

} // namespace
} // namespace quillby::test
