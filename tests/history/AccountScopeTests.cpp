#include "history/AccountScope.h"
#include "history/HistoryDigest.h"

#include <gtest/gtest.h>

namespace quillby::test {
namespace {

GlucoseAccountConfiguration dexcom(const std::string &region, const std::string &user)
{
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::dexcom;
    account.region = region;
    account.username = user;
    account.password = "secret";
    return account;
}

GlucoseAccountConfiguration libre(const std::string &user, std::optional<std::string> patient,
                                  const std::string &region = "eu")
{
    GlucoseAccountConfiguration account;
    account.provider = GlucoseProvider::libreLinkUp;
    account.region = region;
    account.username = user;
    account.password = "secret";
    account.patientID = std::move(patient);
    return account;
}

TEST(AccountScope, WorkedDigests)
{
    struct Case {
        GlucoseAccountConfiguration account;
        const char *hashed;
        const char *scope;
    };
    const std::vector<Case> cases = {
        {dexcom("us", "Ann"), "2:us3:Ann", "3cae8c255dd522c93883357604e5e8e498d35478b781b3b2cb5e5ecc29b2db0a"},
        {dexcom("ous", "Ann"), "3:ous3:Ann", "74376fd15ed6856577e09fc3dafe7cebaa96dd506ea6cb1b4443fc3985a54ba9"},
        {dexcom("us", "ann"), "2:us3:ann", "50936ea3b1ff9792584488e42bca55bc0b11e9f19378fc85b0812544dd6e07f8"},
        {dexcom("us", "José"), "2:us5:José", "d7e831b9d62a370d0d7e24a19b2f89eda366f0449d870d9a9a77d87b3948b4ce"},
        {dexcom("us", " Ann "), "2:us5: Ann ", "589307a3354fcc43d91e4678500a572b9193079cef89d25b518255722c791f93"},
        {libre("Ann", "p1"), "11:libreLinkUp3:ann2:p1", "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4"},
        {libre("ANN", "p1", "us"), "11:libreLinkUp3:ann2:p1", "de667099198313cd0415c5c57bea5558413d620cb6efb209b565be64d37b5cf4"},
        {libre("Ann", std::nullopt), "11:libreLinkUp3:ann0:", "55c2418b0d0344ab7bc21d24436be71cd0205ad39abde8907d87fa7676b609c8"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(accountScopeText(accountScopeParts(c.account)), c.hashed);
        EXPECT_EQ(historyAccountScope(c.account), c.scope) << c.hashed;
    }
}

TEST(AccountScope, CoversOnlyTheIdentifyingParts)
{
    GlucoseAccountConfiguration account = libre("Ann", "p1");
    const std::string scope = historyAccountScope(account);
    account.password = "other";
    account.patientName = "Someone";
    account.region = "de";
    EXPECT_EQ(historyAccountScope(account), scope);
    account.patientID = "p2";
    EXPECT_NE(historyAccountScope(account), scope);

    GlucoseAccountConfiguration dex = dexcom("us", "Ann");
    const std::string dexScope = historyAccountScope(dex);
    dex.password = "other";
    EXPECT_EQ(historyAccountScope(dex), dexScope);
    dex.patientID = "ignored";
    EXPECT_EQ(historyAccountScope(dex), dexScope);
}

TEST(AccountScope, LowerCasesLibreUserNamesFullyAndWithoutLocale)
{
    EXPECT_EQ(unicodeLowercased("ÉLODIE"), "élodie");
    EXPECT_EQ(unicodeLowercased("ΟΔΟΣ"), "οδος");        // final sigma
    EXPECT_EQ(unicodeLowercased("I"), "i");              // no Turkish dotless i
    EXPECT_EQ(accountScopeText(accountScopeParts(libre("ÉLODIE", "x"))), "11:libreLinkUp7:élodie1:x");
}

TEST(AccountScope, IsAlways64LowercaseHexCharacters)
{
    for (const auto &account : {dexcom("", ""), libre("", ""), dexcom("jp", std::string(1000, 'x'))}) {
        const std::string scope = historyAccountScope(account);
        ASSERT_EQ(scope.size(), 64u);
        EXPECT_EQ(scope.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    // Length prefixes keep different part splits apart.
    EXPECT_NE(historyAccountScope(dexcom("us1", "2")), historyAccountScope(dexcom("us", "12")));
}

} // namespace
} // namespace quillby::test
