#include "providers/DexcomError.h"

#include <utility>

namespace quillby {

DexcomError::DexcomError(Case kind, std::string detail, int status, const std::string &message)
    : AppError(message), kind(kind), detail(std::move(detail)), status(status)
{
}

DexcomError DexcomError::invalidURL(const std::string &endpointName)
{
    return {Case::invalidURL, endpointName, 0, "Invalid " + endpointName + " URL"};
}

DexcomError DexcomError::authenticationFailed(const std::string &reason)
{
    return {Case::authenticationFailed, reason, 0, "Authentication failed: " + reason};
}

DexcomError DexcomError::loginFailed(const std::string &reason)
{
    return {Case::loginFailed, reason, 0, "Login failed: " + reason};
}

DexcomError DexcomError::parsingFailed(const std::string &reason)
{
    return {Case::parsingFailed, reason, 0, "Unable to process server response: " + reason};
}

DexcomError DexcomError::serverError(int status)
{
    return {Case::serverError, {}, status, "Dexcom server error (" + std::to_string(status) + ")"};
}

DexcomError DexcomError::invalidRegion()
{
    return {Case::invalidRegion, {}, 0, "Invalid region"};
}

DexcomError DexcomError::sessionExpired()
{
    return {Case::sessionExpired, {}, 0, "Session expired"};
}

DexcomError DexcomError::noReadingsAvailable()
{
    return {Case::noReadingsAvailable, {}, 0, "No glucose readings available"};
}

DexcomError DexcomError::invalidResponse()
{
    return {Case::invalidResponse, {}, 0, "Invalid response from server"};
}

} // namespace quillby
