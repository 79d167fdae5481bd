#pragma once

#include "FakeDexcomServer.h"
#include "FakeLibreLinkUpServer.h"
#include "ServicesOverFakes.h"

#include "providers/GlucoseAPIClientFactory.h"
#include "settings/SettingsCoordinator.h"

#include <memory>
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
        return std::make_shared<SettingsCoordinator>(*configurationManager, apiFactory(), history.get(), notifications);
    }

    // The real clients, every region at the fake servers.
    GlucoseAPIFactory apiFactory() const
    {
        GlucoseAPIClientOptions options;
        options.dexcom.baseURLs = DexcomAPI::baseURLsAt(dexcom.origin());
        for (const auto &[code, host] : LibreLinkUpAPI::defaultHosts()) {
            (void)host;
            options.libreLinkUp.hosts[code] = libre.origin();
        }
        return glucoseAPIFactory(std::move(options));
    }
};

} // namespace quillby::test
