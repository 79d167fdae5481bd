#pragma once

#include "core/AppError.h"

namespace quillby {

// Failures of saved history. what() is the user message shown in Settings and Insights.
class GlucoseHistoryError : public AppError {
public:
    enum class Case {
        invalidConfiguration,
        invalidRetention,
        accountRequired,
        unavailableKey,
        keychainFailure,
        unreadableHistory,
        storageFailure,
        deletionIncomplete,
    };

    explicit GlucoseHistoryError(Case c);

    static const char *message(Case c);

    static GlucoseHistoryError invalidConfiguration() { return GlucoseHistoryError(Case::invalidConfiguration); }
    static GlucoseHistoryError invalidRetention() { return GlucoseHistoryError(Case::invalidRetention); }
    static GlucoseHistoryError accountRequired() { return GlucoseHistoryError(Case::accountRequired); }
    static GlucoseHistoryError unavailableKey() { return GlucoseHistoryError(Case::unavailableKey); }
    static GlucoseHistoryError keychainFailure() { return GlucoseHistoryError(Case::keychainFailure); }
    static GlucoseHistoryError unreadableHistory() { return GlucoseHistoryError(Case::unreadableHistory); }
    static GlucoseHistoryError storageFailure() { return GlucoseHistoryError(Case::storageFailure); }
    static GlucoseHistoryError deletionIncomplete() { return GlucoseHistoryError(Case::deletionIncomplete); }

    Case kind;
};

} // namespace quillby
