#include "services/AppServerSignature.h"

#include <QUuid>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <array>

namespace quillby::app_server {

namespace {
bool isBase64Alphabet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}
} // namespace

std::optional<QByteArray> decodeStrictBase64(const QByteArray &text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    qsizetype padding = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding > 0 || !isBase64Alphabet(c)) {
            return std::nullopt;   // data after padding, or a character outside the alphabet
        }
    }
    if (padding > 2) {
        return std::nullopt;
    }
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return decoded.decoded;
}

QByteArray sha256Hex(const QByteArray &bytes)
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest {};
    SHA256(reinterpret_cast<const unsigned char *>(bytes.constData()), static_cast<size_t>(bytes.size()),
           digest.data());
    return QByteArray(reinterpret_cast<const char *>(digest.data()), static_cast<qsizetype>(digest.size())).toHex();
}

QByteArray canonicalText(const QByteArray &path, const QByteArray &body, std::int64_t timestamp,
                         const QByteArray &nonce, const QByteArray &userAgent)
{
    return QByteArray("POST") + '\n' + path + '\n' + sha256Hex(body) + '\n' + QByteArray::number(timestamp) + '\n' +
           nonce + '\n' + userAgent;
}

std::optional<SignatureHeaders> signatureHeaders(const QByteArray &keyId, const QByteArray &secret,
                                                 const QByteArray &body, const QByteArray &path,
                                                 const QByteArray &userAgent, std::int64_t timestamp,
                                                 const QByteArray &nonce)
{
    const auto key = decodeStrictBase64(secret);
    if (!key || key->isEmpty()) {
        return std::nullopt;
    }
    const QByteArray text = canonicalText(path, body, timestamp, nonce, userAgent);
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac {};
    unsigned int macLength = 0;
    if (HMAC(EVP_sha256(), key->constData(), static_cast<int>(key->size()),
             reinterpret_cast<const unsigned char *>(text.constData()), static_cast<size_t>(text.size()), mac.data(),
             &macLength) == nullptr) {
        return std::nullopt;
    }
    SignatureHeaders headers;
    headers["X-QB-Key-Id"] = keyId;
    headers["X-QB-Timestamp"] = QByteArray::number(timestamp);
    headers["X-QB-Nonce"] = nonce;
    headers["X-QB-Signature"] =
        QByteArray(reinterpret_cast<const char *>(mac.data()), static_cast<qsizetype>(macLength)).toBase64();
    return headers;
}

QByteArray makeNonce()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
}

} // namespace quillby::app_server
