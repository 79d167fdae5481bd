#include "providers/LibreLinkUpError.h"

#include <string>

namespace quillby {

namespace {

std::string messageFor(LibreLinkUpError::Case kind, int status)
{
    using C = LibreLinkUpError::Case;
    switch (kind) {
    case C::rateLimited:
        return "LibreLinkUp is limiting requests. Quillby will wait before trying again.";
    case C::serverError:
        return "LibreLinkUp is unavailable (" + std::to_string(status) + "). Try again later.";
    case C::invalidRegion:
        return "LibreLinkUp could not find a supported account region. Check the region in Settings.";
    case C::authenticationFailed:
        return "Unable to sign in to LibreLinkUp. Check your email and password in the LibreLinkUp app.";
    case C::sessionExpired:
        return "Your LibreLinkUp session has expired. Please sign in again.";
    case C::termsRequired:
        return "Open the LibreLinkUp app and review its updated terms or privacy notice, then try again.";
    case C::accountActionRequired:
        return "Open the LibreLinkUp app and complete the account setup shown there, then try again.";
    case C::clientUpdateRequired:
        return "LibreLinkUp requires a newer connection version. Check for an update to Quillby.";
    case C::noConnections:
        return "No LibreLinkUp connections were found. Accept a sharing invitation in the LibreLinkUp app first.";
    case C::connectionSelectionRequired:
        return "Select the person whose readings you want to display in Settings.";
    case C::connectionUnavailable:
        return "The selected LibreLinkUp connection is no longer available. Check sharing in LibreLinkUp and select a connection in Settings.";
    case C::noReadingsAvailable:
        return "No Libre glucose readings are available. Check that readings appear in the LibreLinkUp app.";
    case C::invalidResponse:
        return "LibreLinkUp returned an unexpected response. Try again later.";
    case C::invalidReading:
        return "LibreLinkUp returned a reading with an invalid value or timestamp.";
    }
    return "LibreLinkUp returned an unexpected response. Try again later.";
}

constexpr const char *kPatientNotLoaded =
    "LibreLinkUp could not load this account. Sign in to the LibreLinkUp app with the same email and password "
    "and check that it shows the readings you follow, then try again.";

} // namespace

LibreLinkUpError::LibreLinkUpError(Case kind, double retryAfter, int status, bool couldNotLoadPatient)
    : AppError(couldNotLoadPatient ? std::string(kPatientNotLoaded) : messageFor(kind, status)),
      kind(kind),
      retryAfter(retryAfter),
      status(status),
      couldNotLoadPatient(couldNotLoadPatient)
{
}

LibreLinkUpError LibreLinkUpError::patientNotLoaded()
{
    return {Case::accountActionRequired, 0, 0, true};
}

LibreLinkUpError::LibreLinkUpError(Case kind) : LibreLinkUpError(kind, 0, 0) {}

LibreLinkUpError LibreLinkUpError::rateLimited(double retryAfter)
{
    return {Case::rateLimited, retryAfter, 0};
}

LibreLinkUpError LibreLinkUpError::serverError(int status)
{
    return {Case::serverError, 0, status};
}

bool LibreLinkUpError::operator==(const LibreLinkUpError &other) const
{
    return kind == other.kind && retryAfter == other.retryAfter && status == other.status
        && couldNotLoadPatient == other.couldNotLoadPatient;
}

} // namespace quillby
