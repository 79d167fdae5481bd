#include "history/GlucoseHistoryError.h"

namespace quillby {

GlucoseHistoryError::GlucoseHistoryError(Case c) : AppError(message(c)), kind(c) {}

const char *GlucoseHistoryError::message(Case c)
{
    switch (c) {
    case Case::invalidConfiguration:
        return "Saved history settings could not be read. History collection is paused.";
    case Case::invalidRetention:
        return "Choose either 30 or 90 days of saved history.";
    case Case::accountRequired:
        return "Sign in to enable saved history.";
    case Case::unavailableKey:
        return "The saved history encryption key is unavailable. Existing history has been preserved.";
    case Case::keychainFailure:
        return "Saved history could not access the system keyring. Try again after unlocking your keyring.";
    case Case::unreadableHistory:
        return "Saved history could not be decrypted or read. Existing files have been preserved.";
    case Case::storageFailure:
        return "Saved history could not be updated on this computer. Live monitoring is unaffected.";
    case Case::deletionIncomplete:
        return "History saving is off, but deletion is incomplete. Quillby will retry cleanup; you can also try deleting again.";
    }
    return "";
}

} // namespace quillby
