#pragma once

#include "WaitUntil.h"
#include "core/ScopedLogger.h"
#include "core/async/AsyncSerialQueue.h"
#include "services/AlivePingService.h"
#include "services/AppServerAuthProvider.h"
#include "services/FeedbackSubmissionService.h"
#include "services/KeychainAliveAuthCredentialsStore.h"
#include "services/UserDefaultsAlivePingScheduleStore.h"
#include "services/UserDefaultsInstallationIDProvider.h"

#include "FakeClock.h"
#include "FakeKeychainItemStore.h"
#include "FakeProductServer.h"
#include "TaskRunner.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillby::test {

// waitUntil with its upper bound in seconds.
template <typename Predicate>
bool waitFor(Predicate done, double seconds = 10)
{
    return waitUntil(std::move(done), static_cast<int>(seconds * 1000));
}

// Collects every log line written while it lives.
class LogCapture {
public:
    LogCapture()
    {
        ScopedLogger::setSinkForTesting([this](int, const std::string &line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { ScopedLogger::setSinkForTesting(nullptr); }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int count(const std::string &fragment) const
    {
        int n = 0;
        for (const auto &line : lines()) {
            n += line.find(fragment) != std::string::npos ? 1 : 0;
        }
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The product server, a settings file, an in-memory keyring and the pieces of the signing stack
// over them, as the composition root puts them together.
struct ServerFixture {
    FakeProductServer server;
    QTemporaryDir directory;
    std::shared_ptr<QSettings> defaults =
        std::make_shared<QSettings>(directory.filePath(QStringLiteral("Quillby.conf")), QSettings::IniFormat);
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();
    QNetworkAccessManager network;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(1'800'000'000.0);
    std::shared_ptr<AsyncSerialQueue> registrationLock = std::make_shared<AsyncSerialQueue>();
    std::chrono::milliseconds timeout{10000};
    QString osVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm)");

    QString origin() const { return QString::fromStdString(server.origin()); }

    AppServerConnection connection()
    {
        AppServerConnection c;
        c.network = &network;
        c.timeout = timeout;
        const QString os = osVersion;
        c.operatingSystemVersion = [os] { return os; };
        return c;
    }

    std::shared_ptr<AppServerAuthProvider> makeProvider(QString base = {})
    {
        AppServerAuthProvider::Dependencies d;
        d.connection = connection();
        d.registrationURL = app_server::endpointURL(base.isEmpty() ? origin() : base, app_server::kRegisterPath);
        d.installationIDProvider = std::make_shared<UserDefaultsInstallationIDProvider>(defaults);
        d.credentialsStore = std::make_shared<KeychainAliveAuthCredentialsStore>(FakeKeyring::factory(keyring));
        d.registrationLock = registrationLock;
        d.clock = clock;
        return std::make_shared<AppServerAuthProvider>(std::move(d));
    }

    std::shared_ptr<FeedbackSubmissionService> makeFeedbackService(QString base = {})
    {
        FeedbackSubmissionService::Dependencies d;
        d.connection = connection();
        d.feedbackURL = (base.isEmpty() ? origin() : base) + app_server::kFeedbackPath;
        d.authProvider = makeProvider(base);
        d.appVersion = QStringLiteral("1.4.2");
        return std::make_shared<FeedbackSubmissionService>(std::move(d));
    }

    QString installationID() const { return defaults->value(QStringLiteral("QuillbyInstallationID")).toString(); }
    std::optional<QByteArray> storedCredentials(const QString &id) const
    {
        return keyring->item(QStringLiteral("Quillby"), QStringLiteral("alive-auth-") + id);
    }
    void storeCredentials(const QString &id, const QString &keyId, const QString &secret)
    {
        keyring->setItem(QStringLiteral("Quillby"), QStringLiteral("alive-auth-") + id,
                         AliveAuthCredentials{id, keyId, secret}.encode());
    }
};

} // namespace quillby::test
