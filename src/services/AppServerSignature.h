#pragma once

#include "services/AppServerRequests.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillby::app_server {

// Standard Base64 with padding and nothing else (no white space, no URL alphabet); nothing
// when the text is not exactly that.
std::optional<QByteArray> decodeStrictBase64(const QByteArray &text);

// Lower-case hexadecimal SHA-256 of the bytes.
QByteArray sha256Hex(const QByteArray &bytes);

// The signed text: "POST", path, body hash, timestamp, nonce and User-Agent joined by "\n".
QByteArray canonicalText(const QByteArray &path, const QByteArray &body, std::int64_t timestamp,
                         const QByteArray &nonce, const QByteArray &userAgent);

// The four signature headers for one request, with the given time and nonce; nothing when the
// secret is not strict Base64 or is empty.
std::optional<SignatureHeaders> signatureHeaders(const QByteArray &keyId, const QByteArray &secret,
                                                 const QByteArray &body, const QByteArray &path,
                                                 const QByteArray &userAgent, std::int64_t timestamp,
                                                 const QByteArray &nonce);

// A new nonce: a random UUID, upper-case, with hyphens.
QByteArray makeNonce();

} // namespace quillby::app_server
