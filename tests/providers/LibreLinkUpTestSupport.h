#pragma once

#include "providers/LibreLinkUpAPI.h"

#include "fakes/FakeClock.h"
#include "fakes/FakeLibreLinkUpServer.h"
#include "ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quillby::test {

inline constexpr double kLibreNow = 1800000000.0;   // Fri, 15 Jan 2027 08:00:00 GMT

// A LibreLinkUp client whose "eu" region (and "auto") lives on a local fake server.
class LibreLinkUpTest : public ::testing::Test {
protected:
    LibreLinkUpTest() { server.setTicketExpires(kLibreNow + 3600); }

    std::map<std::string, std::string> hosts() const
    {
        auto table = LibreLinkUpAPI::defaultHosts();
        table["eu"] = table["auto"] = server.origin();
        return table;
    }

    std::shared_ptr<LibreLinkUpAPI> client(std::optional<std::string> patientID = std::nullopt,
                                           std::string username = "user@example.com",
                                           std::string password = "secret", std::string region = "eu")
    {
        LibreLinkUpAPIOptions options;
        options.clock = clock;
        options.hosts = hosts();
        return std::make_shared<LibreLinkUpAPI>(std::move(username), std::move(password), std::move(region),
                                                std::move(patientID), options);
    }

    std::shared_ptr<LibreLinkUpAPI> signedInClient(std::optional<std::string> patientID = std::nullopt)
    {
        auto api = client(std::move(patientID));
        runTask(api->authenticate());
        server.clearRequests();
        return api;
    }

    void expectError(const std::optional<LibreLinkUpError> &error, LibreLinkUpError expected)
    {
        ASSERT_TRUE(error);
        EXPECT_TRUE(*error == expected) << "got: " << error->what();
        EXPECT_STREQ(error->what(), expected.what());
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>(kLibreNow);
    FakeLibreLinkUpServer server;
};

} // namespace quillby::test
