#pragma once

#include "RecordingHttpServer.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quillby::test {

// The product's server on 127.0.0.1: "/api/alive/register" issues credentials (a key
// identifier and a Base64 secret), "/api/alive" accepts heartbeats (200) and "/api/feedback"
// feedback (201). Every request's signature is checked on its own, from the raw request target,
// the raw body bytes and the headers, with OpenSSL and nothing of the client's code: a request to
// "/api/alive" or "/api/feedback" without a valid signature is answered 401, a reused nonce
// too. Scripted replies (enqueueReply) answer instead, and are checked all the same.
class FakeProductServer final : public RecordingHttpServer {
public:
    struct SignatureCheck {
        std::string path;
        bool present = false;   // all four headers were there
        bool valid = false;
        std::string keyId;
        std::string failure;    // why it is not valid
    };
    struct Issued {
        std::string installationId;
        std::string keyId;
        std::string secret;
    };

    FakeProductServer() { start(); }
    ~FakeProductServer() override { stop(); }

    // Every signature the server saw (registrations only when they carried one).
    std::vector<SignatureCheck> signatureChecks() const;
    // True when every signature seen was valid and every heartbeat and feedback request had one.
    bool allSignaturesValid() const;
    std::vector<Issued> issued() const;
    // The credentials the next registration hands out (default: "key-<n>" and 32 random bytes).
    void setNextCredentials(std::string keyId, std::string secret);
    // The key is no longer accepted.
    void revokeKey(const std::string &keyId);

    // The text the client's HMAC must have been computed over, by the server's reading.
    static std::string canonicalText(const std::string &path, const std::string &body, const std::string &timestamp,
                                     const std::string &nonce, const std::string &userAgent);
    static std::string hmacBase64(const std::string &base64Key, const std::string &text);

protected:
    ScriptedReply respond(const RecordedRequest &request) override;
    void observe(const RecordedRequest &request) override;

private:
    SignatureCheck check(const RecordedRequest &request);

    std::vector<SignatureCheck> checks_;
    std::map<std::string, Issued> keys_;   // by key identifier
    std::set<std::string> nonces_;
    std::optional<std::pair<std::string, std::string>> nextCredentials_;
    int issuedCount_ = 0;
};

} // namespace quillby::test
