#pragma once

#include "core/AppError.h"
#include "providers/GlucoseAPIProtocol.h"
#include "settings/SettingsCoordinating.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QNetworkAccessManager;

namespace quillby {

class AppNotifications;
class ConfigurationManager;
class HistoryCoordinator;

// The one place where Settings and onboarding change the stored account and app settings. It
// checks the terms of use, proves credentials with a throw-away provider client, lists the
// people shared with a LibreLinkUp account, writes through ConfigurationManager (account
// changes exclusively through the history coordinator when there is one) and posts
// "ConfigurationDidUpdate" / "AppSettingsDidUpdate". It keeps no state beyond its collaborators.
// Main thread only.
class SettingsCoordinator final : public SettingsCoordinating,
                                  public std::enable_shared_from_this<SettingsCoordinator> {
public:
    // Builds the Dexcom Share client for user name, password, region and an optional session
    // (null: the client makes its own). Safe to call from any thread.
    using DexcomAPIFactory = std::function<std::shared_ptr<GlucoseAPIProtocol>(
        const std::string &username, const std::string &password, const std::string &region,
        QNetworkAccessManager *session)>;
    // Builds the LibreLinkUp client; the patient identifier may be absent.
    using LibreAPIFactory = std::function<std::shared_ptr<LibreLinkUpAPIProtocol>(
        const std::string &username, const std::string &password, const std::string &region,
        const std::optional<std::string> &patientID, QNetworkAccessManager *session)>;

    class SignInError : public AppError {
    public:
        enum class Case { termsNotAccepted, noLibreConnections, libreConnectionUnavailable };
        explicit SignInError(Case c);
        static const char *message(Case c);
        Case kind;
    };

    // `historyCoordinator` may be null: account changes then write the configuration directly.
    SettingsCoordinator(ConfigurationManager &configManager, DexcomAPIFactory dexcomAPIFactory,
                        LibreAPIFactory libreAPIFactory, HistoryCoordinator *historyCoordinator,
                        AppNotifications &notifications);

    // The default factories: the real clients with the user name, password and region as given
    // (Dexcom) or with the user name trimmed, the region lower-cased and an empty patient
    // identifier dropped (LibreLinkUp).
    static std::shared_ptr<GlucoseAPIProtocol> makeDexcomAPI(const std::string &username, const std::string &password,
                                                             const std::string &region,
                                                             QNetworkAccessManager *session = nullptr);
    static std::shared_ptr<LibreLinkUpAPIProtocol> makeLibreLinkUpAPI(const std::string &username,
                                                                      const std::string &password,
                                                                      const std::string &region,
                                                                      const std::optional<std::string> &patientID,
                                                                      QNetworkAccessManager *session = nullptr);

    QCoro::Task<void> signIn(GlucoseAccountConfiguration account, std::string measurementUnit,
                             std::stop_token stop = {}) override;
    QCoro::Task<std::vector<LibreConnection>> fetchLibreConnections(std::string username, std::string password,
                                                                    std::string region,
                                                                    std::stop_token stop = {}) override;
    QCoro::Task<void> signOut(std::stop_token stop = {}) override;
    QCoro::Task<void> saveAppSettings(AppSettings settings) override;
    QCoro::Task<void> saveAccount(GlucoseAccountConfiguration account, std::string measurementUnit) override;
    // Replaces the stored account with the empty one, keeping the app settings.
    QCoro::Task<void> clearCredentials();

private:
    void postConfigurationDidUpdateLater();

    ConfigurationManager &configManager_;
    DexcomAPIFactory dexcomAPIFactory_;
    LibreAPIFactory libreAPIFactory_;
    HistoryCoordinator *historyCoordinator_;
    AppNotifications &notifications_;
};

} // namespace quillby
