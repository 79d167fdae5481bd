#include "providers/DexcomError.h"
#include "providers/GlucoseProviderDescription.h"
#include "providers/LibreLinkUpError.h"
#include "providers/NetworkError.h"
#include "providers/ProviderFailure.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillby {
namespace {

using Kind = ProviderFailure::Kind;

DexcomError lockedOut()
{
    DexcomError error = DexcomError::authenticationFailed("locked");
    error.accountLocked = true;
    return error;
}

DexcomError rejected()
{
    DexcomError error = DexcomError::authenticationFailed("wrong password");
    error.credentialsRejected = true;
    return error;
}

TEST(ProviderFailure, EachClientErrorBecomesTheKindThePollerActsOn)
{
    struct Row {
        const char *name;
        std::exception_ptr error;
        Kind kind;
    };
    const std::vector<Row> rows = {
        {"libre busy", std::make_exception_ptr(LibreLinkUpError::rateLimited(120)), Kind::rateLimited},
        {"libre terms", std::make_exception_ptr(LibreLinkUpError(LibreLinkUpError::Case::termsRequired)),
         Kind::accountActionRequired},
        {"libre refused", std::make_exception_ptr(LibreLinkUpError(LibreLinkUpError::Case::authenticationFailed)),
         Kind::accountActionRequired},
        {"libre patient", std::make_exception_ptr(LibreLinkUpError::patientNotLoaded()), Kind::accountActionRequired},
        {"libre session", std::make_exception_ptr(LibreLinkUpError(LibreLinkUpError::Case::sessionExpired)),
         Kind::sessionExpired},
        {"libre empty", std::make_exception_ptr(LibreLinkUpError(LibreLinkUpError::Case::noReadingsAvailable)),
         Kind::noReadings},
        {"libre server", std::make_exception_ptr(LibreLinkUpError::serverError(500)), Kind::other},
        {"dexcom locked", std::make_exception_ptr(lockedOut()), Kind::accountLocked},
        {"dexcom rejected", std::make_exception_ptr(rejected()), Kind::credentialsRejected},
        {"dexcom session", std::make_exception_ptr(DexcomError::sessionExpired()), Kind::notAuthenticated},
        {"dexcom login", std::make_exception_ptr(DexcomError::loginFailed("x")), Kind::notAuthenticated},
        {"dexcom empty", std::make_exception_ptr(DexcomError::noReadingsAvailable()), Kind::noReadings},
        {"dexcom server", std::make_exception_ptr(DexcomError::serverError(503)), Kind::other},
        {"offline",
         std::make_exception_ptr(NetworkError(QNetworkReply::HostNotFoundError, false, "Host not found")),
         Kind::transport},
        {"text says so", std::make_exception_ptr(std::runtime_error("Not Authenticated")), Kind::notAuthenticated},
        {"anything else", std::make_exception_ptr(std::runtime_error("boom")), Kind::other},
        {"not an exception", std::make_exception_ptr(42), Kind::other},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(describeProviderFailure(row.error).kind, row.kind);
    }
}

TEST(ProviderFailure, CarriesTheTextsAndTheWaitTheServiceAskedFor)
{
    const ProviderFailure busy = describeProviderFailure(std::make_exception_ptr(LibreLinkUpError::rateLimited(90)));
    EXPECT_EQ(busy.title, "LibreLinkUp busy");
    EXPECT_EQ(busy.recoveryHint, "Quillby will wait before trying again.");
    EXPECT_EQ(busy.retryAfter, 90);

    // A wait that is no number leaves the choice to the caller.
    const ProviderFailure unknownWait =
        describeProviderFailure(std::make_exception_ptr(LibreLinkUpError::rateLimited(std::nan(""))));
    EXPECT_FALSE(unknownWait.retryAfter.has_value());

    const ProviderFailure locked = describeProviderFailure(std::make_exception_ptr(lockedOut()));
    EXPECT_EQ(locked.title, "Dexcom account locked");
    EXPECT_EQ(locked.retryAfter, DexcomError::kAccountLockoutWait);

    const ProviderFailure other = describeProviderFailure(std::make_exception_ptr(std::runtime_error("boom")));
    EXPECT_EQ(other.message, "boom");
}

TEST(GlucoseProviderDescription, EveryProviderIsDescribedUnderItsOwnKindWithARegionItStartsIn)
{
    for (const GlucoseProviderDescription &description : allProviderDescriptions()) {
        SCOPED_TRACE(description.serviceName);
        EXPECT_EQ(&describeProvider(description.provider), &description);
        EXPECT_GT(description.readingInterval, 0);
        bool offersDefault = false;
        for (const ProviderRegion &region : description.regions) {
            offersDefault = offersDefault || region.code == description.defaultRegion;
        }
        EXPECT_TRUE(offersDefault);
    }
}

TEST(GlucoseProviderDescription, OnlyDexcomShareReadingsComeOnAFixedCadence)
{
    // Dexcom Share sends one series every five minutes; LibreLinkUp mixes current readings with
    // graph readings, so its readings are weighed by the time each stands for.
    EXPECT_TRUE(describeProvider(GlucoseProvider::dexcom).readingsOnFixedCadence);
    EXPECT_FALSE(describeProvider(GlucoseProvider::libreLinkUp).readingsOnFixedCadence);
    for (const GlucoseProviderDescription &description : allProviderDescriptions()) {
        SCOPED_TRACE(description.serviceName);
        const GlucoseReading reading(120, "Flat", 0, 300, description.provider);
        EXPECT_EQ(readingIsOnFixedCadence(reading), description.readingsOnFixedCadence);
    }
}

} // namespace
} // namespace quillby
