#pragma once

#include "FakeDexcomServer.h"
#include "FakeLibreLinkUpServer.h"
#include "ServicesOverFakes.h"

#include "providers/DexcomAPI.h"
#include "providers/LibreLinkUpAPI.h"
#include "settings/SettingsCoordinator.h"

#include <memory>
#include <optional>
#include <string>

namespace quillby::test {

// The services over fakes, with Dexcom Share and LibreLinkUp at loopback servers that know the
// account "ada" (LibreLinkUp: "ada@example.com"), and the settings' account service reaching
// them there.
struct LoopbackAccountServices : ServicesOverFakes {
    FakeDexcomServer dexcom;
    FakeLibreLinkUpServer libre;

    LoopbackAccountServices()
    {
        dexcom.setAccount("ada", "secret", "8f2a6c1e-0000-4000-8000-000000000001");
        libre.setAccount("ada@example.com", "secret", "0f1e2d3c-4b5a-6978-8695-a4b3c2d1e0f9");
    }

    // The account service over the configuration owner and saved history (buildServices first).
    std::shared_ptr<SettingsCoordinator> makeAccountService()
    {
        const std::string dexcomOrigin = dexcom.origin();
        const std::string libreOrigin = libre.origin();
        return std::make_shared<SettingsCoordinator>(
            *configurationManager,
            [dexcomOrigin](const std::string &username, const std::string &password, const std::string &region,
                           QNetworkAccessManager *session) -> std::shared_ptr<GlucoseAPIProtocol> {
                DexcomAPIOptions options;
                options.session = session;
                options.baseURLs = DexcomAPI::baseURLsAt(dexcomOrigin);
                return std::make_shared<DexcomAPI>(username, password, region, options);
            },
            [libreOrigin](const std::string &username, const std::string &password, const std::string &region,
                          const std::optional<std::string> &patientID,
                          QNetworkAccessManager *session) -> std::shared_ptr<LibreLinkUpAPIProtocol> {
                LibreLinkUpAPIOptions options;
                options.session = session;
                for (const auto &[code, host] : LibreLinkUpAPI::defaultHosts()) {
                    options.hosts[code] = libreOrigin;
                }
                return std::make_shared<LibreLinkUpAPI>(username, password, region, patientID, options);
            },
            history.get(), notifications);
    }
};

} // namespace quillby::test
