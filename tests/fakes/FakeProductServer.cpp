#include "FakeProductServer.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <cctype>

namespace quillby::test {

namespace {

std::string base64(const unsigned char *data, std::size_t length)
{
    std::string out(4 * ((length + 2) / 3), '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), data, static_cast<int>(length));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::optional<std::string> unbase64(const std::string &text)
{
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out(text.size() / 4 * 3, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                        reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
    if (written < 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it) {
        ++padding;
    }
    out.resize(static_cast<std::size_t>(written) - padding);
    return out;
}

std::string sha256Hex(const std::string &bytes)
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest {};
    SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), digest.data());
    static const char *hex = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

bool isUpperUUID(const std::string &text)
{
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') {
                return false;
            }
        } else if (!std::isxdigit(static_cast<unsigned char>(c)) || std::islower(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::string pathOf(const RecordedRequest &request)
{
    return request.target.substr(0, request.target.find('?'));
}

} // namespace

std::string FakeProductServer::canonicalText(const std::string &path, const std::string &body,
                                             const std::string &timestamp, const std::string &nonce,
                                             const std::string &userAgent)
{
    return "POST\n" + path + "\n" + sha256Hex(body) + "\n" + timestamp + "\n" + nonce + "\n" + userAgent;
}

std::string FakeProductServer::hmacBase64(const std::string &base64Key, const std::string &text)
{
    const auto key = unbase64(base64Key);
    if (!key) {
        return {};
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac {};
    unsigned int length = 0;
    HMAC(EVP_sha256(), key->data(), static_cast<int>(key->size()), reinterpret_cast<const unsigned char *>(text.data()),
         text.size(), mac.data(), &length);
    return base64(mac.data(), length);
}

FakeProductServer::SignatureCheck FakeProductServer::check(const RecordedRequest &request)
{
    SignatureCheck result;
    result.path = request.path;
    const auto keyId = request.header("X-QB-Key-Id");
    const auto timestamp = request.header("X-QB-Timestamp");
    const auto nonce = request.header("X-QB-Nonce");
    const auto signature = request.header("X-QB-Signature");
    result.present = keyId && timestamp && nonce && signature;
    if (!result.present) {
        result.failure = "missing signature headers";
        return result;
    }
    result.keyId = *keyId;
    const auto key = keys_.find(*keyId);
    if (key == keys_.end()) {
        result.failure = "unknown key";
        return result;
    }
    if (!isUpperUUID(*nonce)) {
        result.failure = "nonce is not an upper-case UUID";
        return result;
    }
    if (timestamp->empty() || timestamp->find_first_not_of("0123456789") != std::string::npos) {
        result.failure = "timestamp is not whole seconds";
        return result;
    }
    if (!nonces_.insert(*nonce).second) {
        result.failure = "nonce reused";
        return result;
    }
    const std::string text =
        canonicalText(pathOf(request), request.body, *timestamp, *nonce, request.header("User-Agent").value_or(""));
    if (hmacBase64(key->second.secret, text) != *signature) {
        result.failure = "signature does not match";
        return result;
    }
    result.valid = true;
    return result;
}

void FakeProductServer::observe(const RecordedRequest &request)
{
    if (request.path == "/api/alive/register" && !request.hasHeader("X-QB-Signature")) {
        return;
    }
    checks_.push_back(check(request));
}

ScriptedReply FakeProductServer::respond(const RecordedRequest &request)
{
    if (request.path == "/api/alive/register") {
        nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        if (body.is_discarded() || !body.contains("installationId") || !body["installationId"].is_string()) {
            return ScriptedReply::json(400, {{"error", "bad registration"}});
        }
        Issued issued;
        issued.installationId = body["installationId"].get<std::string>();
        if (nextCredentials_) {
            issued.keyId = nextCredentials_->first;
            issued.secret = nextCredentials_->second;
            nextCredentials_.reset();
        } else {
            std::array<unsigned char, 32> secret {};
            RAND_bytes(secret.data(), static_cast<int>(secret.size()));
            issued.keyId = "key-" + std::to_string(++issuedCount_);
            issued.secret = base64(secret.data(), secret.size());
        }
        // A new registration replaces the installation's earlier key.
        std::erase_if(keys_, [&](const auto &entry) { return entry.second.installationId == issued.installationId; });
        keys_[issued.keyId] = issued;
        return ScriptedReply::json(200, {{"keyId", issued.keyId}, {"secret", issued.secret}});
    }
    if (request.path == "/api/alive" || request.path == "/api/feedback") {
        if (checks_.empty() || !checks_.back().valid) {
            return ScriptedReply::json(401, {{"error", "bad signature"}});
        }
        return request.path == "/api/alive" ? ScriptedReply::json(200, nlohmann::json::object())
                                            : ScriptedReply::json(201, {{"ok", true}});
    }
    return ScriptedReply::json(404, {{"error", "not found"}});
}

std::vector<FakeProductServer::SignatureCheck> FakeProductServer::signatureChecks() const
{
    std::lock_guard lock(mutex_);
    return checks_;
}

bool FakeProductServer::allSignaturesValid() const
{
    std::lock_guard lock(mutex_);
    for (const auto &check : checks_) {
        if (!check.valid) {
            return false;
        }
    }
    return true;
}

std::vector<FakeProductServer::Issued> FakeProductServer::issued() const
{
    std::lock_guard lock(mutex_);
    std::vector<Issued> all;
    for (const auto &[key, value] : keys_) {
        all.push_back(value);
    }
    return all;
}

void FakeProductServer::setNextCredentials(std::string keyId, std::string secret)
{
    std::lock_guard lock(mutex_);
    nextCredentials_.emplace(std::move(keyId), std::move(secret));
}

void FakeProductServer::revokeKey(const std::string &keyId)
{
    std::lock_guard lock(mutex_);
    keys_.erase(keyId);
}

} // namespace quillby::test
