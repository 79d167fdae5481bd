#include "services/AliveAuthCredentials.h"

#include "services/AppServerSignature.h"

#include <nlohmann/json.hpp>

namespace quillby {

namespace {
std::optional<QString> textMember(const nlohmann::json &object, const char *key)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return std::nullopt;
    }
    return QString::fromStdString(found->get<std::string>());
}

std::optional<nlohmann::json> parseObject(const QByteArray &bytes)
{
    nlohmann::json parsed = nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    return parsed;
}
} // namespace

QByteArray AliveAuthCredentials::encode() const
{
    nlohmann::ordered_json json;
    json["installationId"] = installationId.toStdString();
    json["keyId"] = keyId.toStdString();
    json["secret"] = secret.toStdString();
    return QByteArray::fromStdString(json.dump());
}

std::optional<AliveAuthCredentials> AliveAuthCredentials::decode(const QByteArray &bytes)
{
    const auto object = parseObject(bytes);
    if (!object) {
        return std::nullopt;
    }
    auto installationId = textMember(*object, "installationId");
    auto keyId = textMember(*object, "keyId");
    auto secret = textMember(*object, "secret");
    if (!installationId || !keyId || !secret) {
        return std::nullopt;
    }
    return AliveAuthCredentials{*installationId, *keyId, *secret};
}

bool AliveAuthCredentials::isUsableKeyId(const QString &keyId)
{
    if (keyId.isEmpty() || keyId.size() > 512) {
        return false;
    }
    for (const QChar c : keyId) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            return false;
        }
    }
    return true;
}

bool AliveAuthCredentials::isUsableSecret(const QString &secret)
{
    const auto key = app_server::decodeStrictBase64(secret.toLatin1());
    return !secret.isEmpty() && secret.size() == secret.toLatin1().size() && key && !key->isEmpty();
}

std::optional<AliveRegistrationResponse> AliveRegistrationResponse::decode(const QByteArray &bytes)
{
    const auto object = parseObject(bytes);
    if (!object) {
        return std::nullopt;
    }
    auto keyId = textMember(*object, "keyId");
    auto secret = textMember(*object, "secret");
    if (!keyId || !secret) {
        return std::nullopt;
    }
    return AliveRegistrationResponse{*keyId, *secret};
}

} // namespace quillby
