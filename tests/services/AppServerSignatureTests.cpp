#include "services/AliveAuthCredentials.h"
#include "services/AppServerAuthProvider.h"
#include "services/AppServerSignature.h"

#include "FakeClock.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <gtest/gtest.h>

namespace quillby {
namespace {

const QByteArray kSecret = "c2VjcmV0LWtleS1mb3ItdGVzdHMtMDEyMzQ1Njc4OQ==";   // "secret-key-for-tests-0123456789"
const QByteArray kBody =
    R"({"installationId":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","appVersion":"1.4.2","platform":"Linux"})";
const QByteArray kNonce = "6BA7B810-9DAD-11D1-80B4-00C04FD430C8";
const QByteArray kUserAgent = "Quillby/1.4.2 (Linux; Debian GNU/Linux 12 (bookworm))";

// HMAC-SHA256 in Base64, computed here with OpenSSL's one-shot call and nothing of ours.
QByteArray independentHmac(const QByteArray &key, const QByteArray &text)
{
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.constData(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char *>(text.constData()), static_cast<size_t>(text.size()), mac, &length);
    return QByteArray(reinterpret_cast<const char *>(mac), static_cast<qsizetype>(length)).toBase64();
}

TEST(AppServerSignature, TestVectorMatchesTheCanonicalTextAndAnIndependentHmac)
{
    const QByteArray expectedText = "POST\n/api/alive\n"
                                    "78a82c13161a4974e9d34e8a27f6b66d1c0540f9e8e7e4496bdc39d43ede6e99\n"
                                    "1800000000\n6BA7B810-9DAD-11D1-80B4-00C04FD430C8\n"
                                    "Quillby/1.4.2 (Linux; Debian GNU/Linux 12 (bookworm))";
    EXPECT_EQ(app_server::canonicalText("/api/alive", kBody, 1800000000, kNonce, kUserAgent), expectedText);

    const auto headers =
        app_server::signatureHeaders("key-7", kSecret, kBody, "/api/alive", kUserAgent, 1800000000, kNonce);
    ASSERT_TRUE(headers.has_value());
    EXPECT_EQ(headers->size(), 4u);
    EXPECT_EQ(headers->at("X-QB-Key-Id"), "key-7");
    EXPECT_EQ(headers->at("X-QB-Timestamp"), "1800000000");
    EXPECT_EQ(headers->at("X-QB-Nonce"), kNonce);
    EXPECT_EQ(headers->at("X-QB-Signature"), independentHmac("secret-key-for-tests-0123456789", expectedText));
    // The same value from Python's hmac module, for a check outside this process's OpenSSL too.
    EXPECT_EQ(headers->at("X-QB-Signature"), "K3ZQUGqjT7PHVKH4b5K4BULQhz5w1NlROGW22UwuTZw=");
}

TEST(AppServerSignature, ProviderSignsWithTheClockSecondsAndAFreshUpperCaseNonce)
{
    auto clock = std::make_shared<test::FakeClock>(1800000000.987);
    AppServerAuthProvider::Dependencies d;
    d.clock = clock;
    AppServerAuthProvider provider(std::move(d));
    const auto first = provider.signatureHeaders("key-7", kSecret, kBody, "/api/alive", kUserAgent);
    const auto second = provider.signatureHeaders("key-7", kSecret, kBody, "/api/alive", kUserAgent);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->at("X-QB-Timestamp"), "1800000000");   // truncated, not rounded
    const QByteArray nonce = first->at("X-QB-Nonce");
    EXPECT_EQ(nonce.size(), 36);
    EXPECT_EQ(nonce, nonce.toUpper());
    EXPECT_NE(nonce, second->at("X-QB-Nonce"));
    const QByteArray text = app_server::canonicalText("/api/alive", kBody, 1800000000, nonce, kUserAgent);
    EXPECT_EQ(first->at("X-QB-Signature"), independentHmac("secret-key-for-tests-0123456789", text));
    // A key identifier that cannot travel as a header value signs nothing.
    EXPECT_FALSE(provider.signatureHeaders("key\r\nX-Evil: 1", kSecret, kBody, "/api/alive", kUserAgent));
}

TEST(AppServerSignature, SecretMustBeStrictBase64)
{
    struct Case {
        const char *secret;
        bool usable;
    };
    const Case cases[] = {
        {"c2VjcmV0", true},        {"c2VjcmU=", true},     {"c2Vjcg==", true},  {"", false},
        {"c2VjcmV0\n", false},     {"c2Vj cmV0", false},   {"c2VjcmU", false},  {"c2Vj-mV0", false},
        {"c2VjcmU=c2Vj", false},   {"c2V===", false},      {"====", false},     {"not base64!", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.secret);
        EXPECT_EQ(AliveAuthCredentials::isUsableSecret(QString::fromLatin1(c.secret)), c.usable);
        EXPECT_EQ(app_server::signatureHeaders("k", c.secret, "", "/api/alive", "ua", 1, kNonce).has_value(), c.usable);
    }
}

TEST(AppServerSignature, KeyIdentifierMustBePrintableAscii)
{
    EXPECT_TRUE(AliveAuthCredentials::isUsableKeyId(QStringLiteral("key-7_AB.c")));
    for (const QString &bad : {QString(), QStringLiteral("key\r\n"), QStringLiteral("a\nb"),
                               QStringLiteral("a") + QChar(1), QStringLiteral("a\tb"), QStringLiteral("k\u00e9y")}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_FALSE(AliveAuthCredentials::isUsableKeyId(bad));
    }
}

TEST(AppServerRequests, OperatingSystemTextIsPrintableAscii)
{
    struct Case {
        QString input;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("Debian GNU/Linux 12 (bookworm)"), QStringLiteral("Debian GNU/Linux 12 (bookworm)")},
        {QStringLiteral("Fedora\r\nX-Injected: 1"), QStringLiteral("FedoraX-Injected: 1")},
        {QStringLiteral("  D\u00e9bian\u00a0\u2603 "), QStringLiteral("D?bian??")},
        {QStringLiteral("\t\n"), QStringLiteral("unknown")},
        {QString(300, QLatin1Char('x')), QString(128, QLatin1Char('x'))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input.toStdString());
        EXPECT_EQ(app_server::printableASCII(c.input), c.expected);
    }
    EXPECT_EQ(app_server::userAgent(QStringLiteral("1.4.2"), QStringLiteral("Debian 12")),
              QStringLiteral("Quillby/1.4.2 (Linux; Debian 12)"));
    EXPECT_EQ(app_server::shortIdentifier(QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301")), "3F2504E0\u2026");
}

TEST(AppServerRequests, PlainHttpOnlyToThisComputer)
{
    struct Case {
        const char *base;
        bool allowed;
    };
    const Case cases[] = {
        {"https://quillby.app", true},         {"https://quillby.app/", true},   {"http://127.0.0.1:8080", true},
        {"http://localhost:9", true},          {"http://[::1]:9", true},         {"http://quillby.app", false},
        {"http://10.0.0.1", false},            {"ftp://quillby.app", false},     {"", false},
        {"https://quillby.app/?q=1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.base);
        const QUrl url = app_server::endpointURL(QString::fromLatin1(c.base), app_server::kAlivePath);
        EXPECT_EQ(url.isValid(), c.allowed);
        if (c.allowed) {
            EXPECT_EQ(url.path(), QStringLiteral("/api/alive"));
        }
    }
}

} // namespace
} // namespace quillby
