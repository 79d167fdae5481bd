#pragma once

#include "core/Date.h"
#include "core/GlucoseReading.h"
#include "polling/ErrorInfo.h"

#include <optional>

namespace quillby {

// What the status item is busy with.
enum class StatusBarActivity { loading, refreshing, authenticating };

// The part of the status-bar view model that the polling coordinator writes into.
// Implemented by StatusBarViewModel; main thread only. Every time is passed in by the
// caller so that the poller's injected clock decides what "now" is.
class StatusBarPollingPresenting {
public:
    virtual ~StatusBarPollingPresenting() = default;

    // Sets the activity (none clears it), clears the error and shows the presented reading
    // (or the newest graph reading, or the waiting icon) at `now`.
    virtual void setActivity(std::optional<StatusBarActivity> activity, Date now) = 0;
    // Sets or clears the menu's error row. Clearing it also clears nextRetryAt.
    virtual void setError(std::optional<ErrorInfo> error) = 0;
    // Shows a reading as the status title (value, trend arrow, colour, staleness) at `now`.
    virtual void present(const GlucoseReading &reading, Date now) = 0;
    // Ends the activity and refreshes the status button after new readings were presented.
    virtual void refreshStatusItem() = 0;
    // Replaces the menu graph's readings; an empty list forgets the presented reading.
    virtual void updateGlucoseHistory(const GlucoseReadings &readings) = 0;
    // When the poller will try again after a throttled or failed refresh (none: not planned).
    virtual void setNextRetryAt(std::optional<Date> date) = 0;
    // End of the current alert snooze (none: not snoozed).
    virtual void setAlertsSnoozedUntil(std::optional<Date> date) = 0;
    // Rebuilds the menu when it has been built, open or not: a panel may show the exported
    // menu from a copy it took earlier, so the menu follows every change of what it shows.
    virtual void rebuildMenuIfBuilt() = 0;

    // Published state, read back by tests and the menu.
    virtual std::optional<StatusBarActivity> activity() const = 0;
    virtual std::optional<ErrorInfo> currentError() const = 0;
    virtual std::optional<Date> nextRetryAt() const = 0;
    virtual std::optional<Date> alertsSnoozedUntil() const = 0;
    virtual const GlucoseReadings &glucoseHistory() const = 0;
};

} // namespace quillby
