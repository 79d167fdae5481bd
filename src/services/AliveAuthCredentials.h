#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quillby {

// The installation's signing credentials as the server issued them: the key identifier and the
// Base64 text of the HMAC key. Stored as JSON {"installationId", "keyId", "secret"}.
struct AliveAuthCredentials {
    QString installationId;
    QString keyId;
    QString secret;

    bool operator==(const AliveAuthCredentials &) const = default;

    QByteArray encode() const;
    // Nothing when the bytes are not that JSON (all three keys required, all texts).
    static std::optional<AliveAuthCredentials> decode(const QByteArray &bytes);

    // A key identifier can travel as a header value: not empty, printable ASCII only (no CR,
    // LF or other control characters).
    static bool isUsableKeyId(const QString &keyId);
    // The secret is non-empty strict Base64 of a non-empty key.
    static bool isUsableSecret(const QString &secret);
};

// The reply of a successful registration: {"keyId", "secret"}, both required texts; other keys
// are ignored. Nothing when the reply is not that.
struct AliveRegistrationResponse {
    QString keyId;
    QString secret;
    static std::optional<AliveRegistrationResponse> decode(const QByteArray &bytes);
};

} // namespace quillby
