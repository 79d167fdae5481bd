#pragma once

#include "polling/StatusBarPollingPresenting.h"

#include <optional>
#include <string>
#include <vector>

namespace quillby::test {

// Records what the poller writes into the status-bar view model, and keeps the few
// published-state rules of the real view model that callers rely on (clearing the error
// clears nextRetryAt, an error or a finished refresh ends the activity).
class FakeStatusBarPresenter final : public StatusBarPollingPresenting {
public:
    void setActivity(std::optional<StatusBarActivity> activity, Date now) override
    {
        activity_ = activity;
        activityCalls.push_back(activity);
        setError(std::nullopt);
        if (presentedReading) {
            present(*presentedReading, now);
        }
        log.push_back("activity");
    }
    void setError(std::optional<ErrorInfo> error) override
    {
        currentError_ = error;
        errorCalls.push_back(error);
        if (error) {
            activity_.reset();
        } else {
            nextRetryAt_.reset();
        }
        log.push_back(error ? "error:" + error->title : "error:none");
    }
    void present(const GlucoseReading &reading, Date now) override
    {
        presentedReading = reading;
        presented.push_back(reading);
        presentedAt.push_back(now);
        log.push_back("present");
    }
    void refreshStatusItem() override
    {
        activity_.reset();
        ++refreshStatusItemCount;
        log.push_back("refreshStatusItem");
    }
    void updateGlucoseHistory(const GlucoseReadings &readings) override
    {
        history_ = readings;
        if (readings.empty()) {
            presentedReading.reset();
        }
        historyUpdates.push_back(readings);
        log.push_back("graph:" + std::to_string(readings.size()));
    }
    void setNextRetryAt(std::optional<Date> date) override
    {
        nextRetryAt_ = date;
        log.push_back("nextRetryAt");
    }
    void setAlertsSnoozedUntil(std::optional<Date> date) override
    {
        snoozedUntil_ = date;
        snoozeUpdates.push_back(date);
        log.push_back("snoozedUntil");
    }
    void rebuildMenuIfBuilt() override { ++builtMenuRebuilds; }

    std::optional<StatusBarActivity> activity() const override { return activity_; }
    std::optional<ErrorInfo> currentError() const override { return currentError_; }
    std::optional<Date> nextRetryAt() const override { return nextRetryAt_; }
    std::optional<Date> alertsSnoozedUntil() const override { return snoozedUntil_; }
    const GlucoseReadings &glucoseHistory() const override { return history_; }

    std::optional<GlucoseReading> presentedReading;
    std::vector<GlucoseReading> presented;
    std::vector<Date> presentedAt;
    std::vector<std::optional<StatusBarActivity>> activityCalls;
    std::vector<std::optional<ErrorInfo>> errorCalls;
    std::vector<GlucoseReadings> historyUpdates;
    std::vector<std::optional<Date>> snoozeUpdates;
    std::vector<std::string> log;
    int refreshStatusItemCount = 0;
    int builtMenuRebuilds = 0;

private:
    std::optional<StatusBarActivity> activity_ = StatusBarActivity::loading;
    std::optional<ErrorInfo> currentError_;
    std::optional<Date> nextRetryAt_;
    std::optional<Date> snoozedUntil_;
    GlucoseReadings history_;
};

} // namespace quillby::test
