#pragma once

#include "core/Clock.h"
#include "core/ScopedLogger.h"
#include "core/async/AsyncSerialQueue.h"
#include "services/AliveAuthCredentialsStoring.h"
#include "services/AppServerRequests.h"
#include "services/InstallationIDProviding.h"

#include <QNetworkRequest>
#include <QUrl>

#include <QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace quillby {

// Registers the installation with the product's server and signs requests to it. Its
// credentials live only in the store (the keyring). The heartbeat and the feedback service each
// have one; both share the installation identifier, the keyring item and the registration lock,
// so two callers on first use register once. Main thread only; operations interleave only at
// their awaits, and each keeps the provider alive until it ends.
class AppServerAuthProvider : public std::enable_shared_from_this<AppServerAuthProvider> {
public:
    struct Dependencies {
        AppServerConnection connection;
        QUrl registrationURL;   // the server + "/api/alive/register"; an invalid URL registers nothing
        std::shared_ptr<InstallationIDProviding> installationIDProvider;
        std::shared_ptr<AliveAuthCredentialsStoring> credentialsStore;
        // One per process, shared by every provider: registrations run one at a time.
        std::shared_ptr<AsyncSerialQueue> registrationLock;
        std::shared_ptr<Clock> clock;   // required
    };

    // What the signing procedure needs of one request.
    struct SigningInput {
        QString installationID;
        QString appVersion;
        QString userAgent;
        QByteArray body;
        QByteArray path;
        // When forced: the key identifier of the credentials the server just refused (credentials
        // stored since then by another caller are used instead of registering again).
        QString rejectedKeyId;
    };

    explicit AppServerAuthProvider(Dependencies dependencies);

    InstallationIDProviding &installationIDProvider() const { return *deps_.installationIDProvider; }
    AliveAuthCredentialsStoring &aliveCredentialsStore() const { return *deps_.credentialsStore; }
    AsyncSerialQueue &registrationLock() const { return *deps_.registrationLock; }

    // Registers `installationID`; the new credentials (not stored) or nothing on any failure.
    // 401, 403 and 409 give the identifier up: a new one is made and its credentials deleted.
    QCoro::Task<std::optional<AliveAuthCredentials>> registerInstallation(QString installationID, QString appVersion,
                                                                          QString userAgent, std::stop_token stop = {});

    struct PreparedRequest {
        QNetworkRequest request;
        QByteArray body;
    };
    // The registration POST, with proof of possession when usable credentials are stored.
    QCoro::Task<std::optional<PreparedRequest>> makeRegistrationRequest(QString installationID, QString appVersion,
                                                                        QString userAgent);

    // The four signature headers for a request sent now; nothing when the secret is unusable.
    std::optional<app_server::SignatureHeaders> signatureHeaders(const QString &keyId, const QString &secret,
                                                                 const QByteArray &body, const QByteArray &path,
                                                                 const QByteArray &userAgent) const;

    struct SignedHeaders {
        app_server::SignatureHeaders headers;
        QString keyId;
    };
    // The signing procedure: cached credentials unless forced, else a registration (under the
    // registration lock) whose credentials are stored and used. Nothing when the request cannot
    // be signed; the caller then does not send it.
    QCoro::Task<std::optional<SignedHeaders>> signRequest(SigningInput input, bool forceRegistration,
                                                          std::stop_token stop = {});

private:
    QCoro::Task<std::optional<SignedHeaders>> registerAndSign(SigningInput input, bool forceRegistration,
                                                              std::stop_token stop);
    std::optional<SignedHeaders> signWith(const AliveAuthCredentials &credentials, const SigningInput &input) const;

    Dependencies deps_;
    ScopedLogger logger_{"AppServerAuthProvider"};
};

} // namespace quillby
