#include "services/AppServerAuthProvider.h"

#include "core/OperationCancelledError.h"
#include "services/AppServerSignature.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <exception>

namespace quillby {

AppServerAuthProvider::AppServerAuthProvider(Dependencies dependencies) : deps_(std::move(dependencies))
{
    if (!deps_.registrationLock) {
        deps_.registrationLock = std::make_shared<AsyncSerialQueue>();
    }
    Q_ASSERT(deps_.clock);
}

std::optional<app_server::SignatureHeaders>
AppServerAuthProvider::signatureHeaders(const QString &keyId, const QString &secret, const QByteArray &body,
                                        const QByteArray &path, const QByteArray &userAgent) const
{
    if (!AliveAuthCredentials::isUsableKeyId(keyId)) {
        return std::nullopt;
    }
    const auto timestamp = static_cast<std::int64_t>(std::trunc(deps_.clock->now()));
    return app_server::signatureHeaders(keyId.toLatin1(), secret.toLatin1(), body, path, userAgent, timestamp,
                                        app_server::makeNonce());
}

std::optional<AppServerAuthProvider::SignedHeaders>
AppServerAuthProvider::signWith(const AliveAuthCredentials &credentials, const SigningInput &input) const
{
    auto headers = signatureHeaders(credentials.keyId, credentials.secret, input.body, input.path,
                                    input.userAgent.toLatin1());
    if (!headers) {
        return std::nullopt;
    }
    return SignedHeaders{std::move(*headers), credentials.keyId};
}

QCoro::Task<std::optional<AppServerAuthProvider::PreparedRequest>>
AppServerAuthProvider::makeRegistrationRequest(QString installationID, QString appVersion, QString userAgent)
{
    auto keep = shared_from_this();
    if (!deps_.registrationURL.isValid()) {
        co_return std::nullopt;
    }
    nlohmann::ordered_json json;
    json["installationId"] = installationID.toStdString();
    json["appVersion"] = appVersion.toStdString();
    json["platform"] = app_server::kPlatform.toStdString();
    const QByteArray body = QByteArray::fromStdString(json.dump());

    app_server::SignatureHeaders proof;
    if (const auto stored = co_await deps_.credentialsStore->loadCredentials(installationID)) {
        if (auto headers = signatureHeaders(stored->keyId, stored->secret, body,
                                            deps_.registrationURL.path(QUrl::FullyEncoded).toLatin1(),
                                            userAgent.toLatin1())) {
            proof = std::move(*headers);
        }
    }
    co_return PreparedRequest{
        app_server::makeRequest(deps_.registrationURL, userAgent, "X-Quillby-Registration", appVersion, proof), body};
}

QCoro::Task<std::optional<AliveAuthCredentials>>
AppServerAuthProvider::registerInstallation(QString installationID, QString appVersion, QString userAgent,
                                            std::stop_token stop)
{
    auto keep = shared_from_this();
    auto prepared = co_await makeRegistrationRequest(installationID, appVersion, userAgent);
    if (!prepared || stop.stop_requested()) {
        co_return std::nullopt;
    }
    const std::string prefix = "(installation=" + app_server::shortIdentifier(installationID);
    HttpReply reply;
    try {
        reply = co_await app_server::post(deps_.connection, prepared->request, prepared->body, stop);
    } catch (const OperationCancelledError &) {
        co_return std::nullopt;
    } catch (const std::exception &error) {
        logger_.error("Failed to register app auth credentials " + prefix + "): " + error.what());
        co_return std::nullopt;
    }
    if (reply.status >= 200 && reply.status <= 299) {
        const auto response = AliveRegistrationResponse::decode(reply.body);
        if (!response) {
            // The decoder's own message may quote the reply: it stays out of the log.
            logger_.error("Failed to register app auth credentials " + prefix +
                          "): The server's reply could not be read.");
            co_return std::nullopt;
        }
        if (!AliveAuthCredentials::isUsableKeyId(response->keyId) ||
            !AliveAuthCredentials::isUsableSecret(response->secret)) {
            logger_.error("Failed to register app auth credentials " + prefix +
                          "): The server's credentials are not usable.");
            co_return std::nullopt;
        }
        co_return AliveAuthCredentials{installationID, response->keyId, response->secret};
    }
    if (reply.status == 401 || reply.status == 403 || reply.status == 409) {
        deps_.installationIDProvider->resetInstallationID(installationID);
        co_await deps_.credentialsStore->deleteCredentials(installationID);
    }
    logger_.error("App auth registration failed " + prefix + ", status=" + std::to_string(reply.status) + ")");
    co_return std::nullopt;
}

QCoro::Task<std::optional<AppServerAuthProvider::SignedHeaders>>
AppServerAuthProvider::signRequest(SigningInput input, bool forceRegistration, std::stop_token stop)
{
    auto keep = shared_from_this();
    if (!forceRegistration) {
        if (const auto cached = co_await deps_.credentialsStore->loadCredentials(input.installationID)) {
            if (auto signed_ = signWith(*cached, input)) {
                co_return signed_;
            }
        }
    }
    co_return co_await registerAndSign(std::move(input), forceRegistration, stop);
}

QCoro::Task<std::optional<AppServerAuthProvider::SignedHeaders>>
AppServerAuthProvider::registerAndSign(SigningInput input, bool forceRegistration, std::stop_token stop)
{
    auto keep = shared_from_this();
    AsyncSerialQueue::Turn turn;
    try {
        turn = co_await deps_.registrationLock->acquire(stop);
    } catch (const OperationCancelledError &) {
        co_return std::nullopt;
    }
    // Another caller may have registered, or had the identifier replaced, while this one waited.
    if (deps_.installationIDProvider->installationID() != input.installationID) {
        co_return std::nullopt;
    }
    if (const auto stored = co_await deps_.credentialsStore->loadCredentials(input.installationID)) {
        if (!forceRegistration || (!input.rejectedKeyId.isEmpty() && stored->keyId != input.rejectedKeyId)) {
            if (auto signed_ = signWith(*stored, input)) {
                co_return signed_;
            }
        }
    }
    if (!deps_.installationIDProvider->isInstallationIDSaved()) {
        // The settings file cannot keep the identifier: each launch would register anew and
        // leave another keyring item behind.
        logger_.error("Not registering: the installation identifier could not be saved");
        co_return std::nullopt;
    }
    const auto credentials =
        co_await registerInstallation(input.installationID, input.appVersion, input.userAgent, stop);
    if (!credentials) {
        co_return std::nullopt;
    }
    if (!co_await deps_.credentialsStore->saveCredentials(*credentials)) {
        logger_.error("Failed to persist app auth credentials (installation=" +
                      app_server::shortIdentifier(input.installationID) + ")");
        co_return std::nullopt;
    }
    co_return signWith(*credentials, input);
}

} // namespace quillby
