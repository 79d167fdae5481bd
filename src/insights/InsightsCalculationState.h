#pragma once

#include "insights/InsightsCalculation.h"

#include <QCoroTask>
#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace quillby {

// What the calculation state needs of the current history snapshot to tell whether the published
// collection progress belongs to it.
struct InsightsHistorySnapshotIdentity {
    std::optional<std::string> accountScope;
    QUuid epoch;
    bool hasReadings = false;
};

// The Insights window's report: runs each calculation on a thread-pool thread, publishes only the
// newest request's result, and keeps the previous report while a newer one for the same history
// is calculated. Never shows a report of another account scope or history epoch. Main thread.
class InsightsCalculationState : public QObject {
    Q_OBJECT
public:
    // The calculation; must be safe to start on the main thread and may finish anywhere.
    using Calculate = std::function<QCoro::Task<InsightsCalculationResult>(InsightsCalculationInput)>;
    using PublishAction = std::function<void()>;
    // Receives the publishing action and must run it once, at once, on the main thread (the
    // window runs it inside an animation).
    using PublicationWrapper = std::function<void(const PublishAction &)>;

    explicit InsightsCalculationState(Calculate calculate = &InsightsCalculationState::defaultCalculate,
                                      QObject *parent = nullptr);

    const std::optional<InsightsCalculationResult> &result() const { return result_; }
    bool isUpdating() const { return isUpdating_; }
    const std::optional<QUuid> &currentRequest() const { return currentRequest_; }
    const std::optional<InsightsCalculationInput> &publishedInput() const { return publishedInput_; }

    // Calculates the report of `input` and publishes it unless a newer update was asked for or
    // `stop` was requested meanwhile. Returns when the request is published or dropped.
    // Replacing a report that has readings by another that has readings goes through `wrapper`
    // (none: published directly). Never fails.
    QCoro::Task<void> update(InsightsCalculationInput input, PublicationWrapper wrapper = {},
                             std::stop_token stop = {});

    // The report to show for `input`: the published one of the same history, even when it was
    // calculated for another period or older readings; nothing for an input without readings.
    std::optional<InsightsSummary> summary(const InsightsCalculationInput &input) const;

    // The published collection progress when it belongs to the snapshot's history.
    std::optional<InsightsCollectionProgress>
    collectionProgress(const std::optional<InsightsHistorySnapshotIdentity> &snapshot) const;

    // Builds InsightsCalculationResult::calculate(input) on the global thread pool.
    static QCoro::Task<InsightsCalculationResult> defaultCalculate(InsightsCalculationInput input);

signals:
    void resultChanged();          // every assignment
    void isUpdatingChanged();      // only on a change
    void publishedInputChanged();  // only on a change

private:
    void publish(InsightsCalculationResult result, InsightsCalculationInput input);
    void finishUpdate(const QUuid &request);
    void setResult(std::optional<InsightsCalculationResult> result);
    void setIsUpdating(bool updating);
    void setPublishedInput(std::optional<InsightsCalculationInput> input);

    Calculate calculate_;
    std::optional<InsightsCalculationResult> result_;
    bool isUpdating_ = false;
    std::optional<QUuid> currentRequest_;
    std::optional<InsightsCalculationInput> publishedInput_;
};

} // namespace quillby
