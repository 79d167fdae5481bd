#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"
#include "history/GlucoseHistoryError.h"
#include "history/GlucoseHistorySnapshot.h"
#include "history/GlucoseHistoryTypes.h"

#include <QCoroTask>

#include <optional>
#include <string>

namespace quillby {

// The asynchronous face of the saved-history store. Every operation runs on the store's own
// worker thread, one at a time and in the order the calls were made (tasks start eagerly, so
// the order of the calls is the order of the work). Each takes the current time from its
// caller. Failures are thrown as GlucoseHistoryError (its original type, never wrapped).
// Call and await from the main thread.
class GlucoseHistoryStoring {
public:
    virtual ~GlucoseHistoryStoring() = default;

    // The active account's retained readings as of now (pruning expired ones and recording the
    // Insights unlock); without an active account the detached snapshot.
    virtual QCoro::Task<GlucoseHistorySnapshot> snapshot(Date now) = 0;
    // Makes the scope's folder the active one (no scope: none is active) and returns its snapshot.
    virtual QCoro::Task<GlucoseHistorySnapshot> activateAccount(std::optional<std::string> scope, Date now) = 0;
    // Saving on for the active account (accountRequired without one).
    virtual QCoro::Task<GlucoseHistorySnapshot> enableCollection(Date now) = 0;
    // Saving off for the active account; readings and key stay. No active account: detached snapshot.
    virtual QCoro::Task<GlucoseHistorySnapshot> disableCollection(Date now) = 0;
    // 30 or 90 (anything else: invalidRetention); prunes at once.
    virtual QCoro::Task<GlucoseHistorySnapshot> setRetentionDays(int days, Date now) = 0;
    // Saves one poll's readings when the token still matches the active account; otherwise
    // nothing happens and nothing is reported.
    virtual QCoro::Task<void> append(GlucoseReadings readings, Date fetchedAt,
                                     GlucoseHistoryCollectionToken token, Date now) = 0;
    // Deletes every account's saved history and keys; the cutoff becomes now.
    virtual QCoro::Task<GlucoseHistorySnapshot> deleteAllHistory(Date now) = 0;
    // Finishes a pending deletion, retries a failed manifest write, removes leftovers of
    // interrupted writes. (Every other operation but deleteAllHistory does this first.)
    virtual QCoro::Task<void> prepareStorage() = 0;
};

} // namespace quillby
