// The one place that knows each provider client's error types and what they mean to the poller
// and to Settings.

#include "providers/ProviderFailure.h"

#include "providers/DexcomError.h"
#include "providers/LibreLinkUpError.h"
#include "providers/NetworkError.h"

#include <QString>

#include <cmath>

namespace quillby {

namespace {

using Kind = ProviderFailure::Kind;

bool isLibreAccountCase(LibreLinkUpError::Case kind)
{
    using Case = LibreLinkUpError::Case;
    switch (kind) {
    case Case::invalidRegion:
    case Case::authenticationFailed:
    case Case::termsRequired:
    case Case::accountActionRequired:
    case Case::clientUpdateRequired:
    case Case::noConnections:
    case Case::connectionSelectionRequired:
    case Case::connectionUnavailable:
        return true;
    default:
        return false;
    }
}

ProviderFailure fromDexcom(const DexcomError &error)
{
    if (error.accountLocked) {
        return {Kind::accountLocked, "Dexcom account locked",
                "Dexcom Share has temporarily locked the account after too many sign-in attempts.",
                "Quillby will sign in again at the retry time shown. Signing in sooner, here or in another app, "
                "keeps the account locked longer.",
                DexcomError::kAccountLockoutWait};
    }
    if (error.credentialsRejected) {
        return {Kind::credentialsRejected, {}, {}, {}, std::nullopt};
    }
    switch (error.kind) {
    case DexcomError::Case::authenticationFailed:
    case DexcomError::Case::loginFailed:
    case DexcomError::Case::sessionExpired:
        return {Kind::notAuthenticated, {}, {}, {}, std::nullopt};
    case DexcomError::Case::noReadingsAvailable:
        return {Kind::noReadings, {}, error.what(), {}, std::nullopt};
    default:
        // A 429 may say how long to wait; the poller waits at least that long.
        return {Kind::other, {}, error.what(), {}, error.retryAfter};
    }
}

std::optional<ProviderFailure> fromLibreLinkUp(const LibreLinkUpError &error)
{
    if (error.kind == LibreLinkUpError::Case::rateLimited) {
        // A retry time that is not a finite number says nothing about how long to wait.
        std::optional<TimeInterval> retryAfter;
        if (std::isfinite(error.retryAfter)) {
            retryAfter = error.retryAfter;
        }
        return ProviderFailure{Kind::rateLimited, "LibreLinkUp busy", error.what(),
                               "Quillby will wait before trying again.", retryAfter};
    }
    if (isLibreAccountCase(error.kind)) {
        return ProviderFailure{Kind::accountActionRequired, "LibreLinkUp needs attention", error.what(),
                               "Resolve the issue, then choose Reconnect in Account settings.", std::nullopt};
    }
    if (error.kind == LibreLinkUpError::Case::sessionExpired) {
        return ProviderFailure{Kind::sessionExpired, {}, error.what(), {}, std::nullopt};
    }
    if (error.kind == LibreLinkUpError::Case::noReadingsAvailable) {
        return ProviderFailure{Kind::noReadings, {}, error.what(), {}, std::nullopt};
    }
    return std::nullopt;
}

} // namespace

ProviderFailure describeProviderFailure(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DexcomError &e) {
        return fromDexcom(e);
    } catch (const LibreLinkUpError &e) {
        if (auto failure = fromLibreLinkUp(e)) {
            return *failure;
        }
    } catch (const NetworkError &e) {
        return {Kind::transport, {}, e.what(), {}, std::nullopt};
    } catch (...) {
    }
    // Any other error: a session the service no longer knows says so in its text.
    const std::string text = messageOf(error);
    if (QString::fromStdString(text).contains(QStringLiteral("Not authenticated"), Qt::CaseInsensitive)) {
        return {Kind::notAuthenticated, {}, text, {}, std::nullopt};
    }
    return {Kind::other, {}, text, {}, std::nullopt};
}

} // namespace quillby
