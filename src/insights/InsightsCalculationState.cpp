#include "insights/InsightsCalculationState.h"

#include "core/async/BackgroundTask.h"

#include <QPointer>
#include <QThread>
#include <QThreadPool>

namespace quillby {

InsightsCalculationState::InsightsCalculationState(Calculate calculate, QObject *parent)
    : QObject(parent), calculate_(std::move(calculate))
{
}

QCoro::Task<void> InsightsCalculationState::update(InsightsCalculationInput input, PublicationWrapper wrapper,
                                                   std::stop_token stop)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const QPointer<InsightsCalculationState> self(this);
    const QUuid request = QUuid::createUuid();
    currentRequest_ = request;

    // A report of another history, or of a history that has since been emptied, goes at once.
    if (publishedInput_ && ((input.readings.empty() && !publishedInput_->readings.empty()) ||
                            !publishedInput_->hasSameHistoryIdentity(input))) {
        setResult(std::nullopt);
        setPublishedInput(std::nullopt);
    }
    setIsUpdating(true);

    std::optional<InsightsCalculationResult> calculated;
    try {
        calculated = co_await calculate_(input);
    } catch (...) {
        // The calculation does not fail; should it ever, the request is dropped like a stale one.
    }
    if (!self) {
        co_return;
    }

    if (calculated && !stop.stop_requested() && currentRequest_ == request) {
        const bool replacesReport = result_ && result_->summary.readingCount >= 1 && calculated->summary.readingCount > 0;
        const PublishAction action = [this, &calculated, &input] { publish(std::move(*calculated), std::move(input)); };
        if (replacesReport && wrapper) {
            wrapper(action);
        } else {
            action();
        }
    }
    finishUpdate(request);
}

void InsightsCalculationState::publish(InsightsCalculationResult result, InsightsCalculationInput input)
{
    setPublishedInput(std::move(input));
    setResult(std::move(result));
}

void InsightsCalculationState::finishUpdate(const QUuid &request)
{
    if (currentRequest_ == request) {
        setIsUpdating(false);
    }
}

std::optional<InsightsSummary> InsightsCalculationState::summary(const InsightsCalculationInput &input) const
{
    if (input.readings.empty() || !publishedInput_ || !publishedInput_->hasSameHistoryIdentity(input) || !result_) {
        return std::nullopt;
    }
    return result_->summary;
}

std::optional<InsightsCollectionProgress>
InsightsCalculationState::collectionProgress(const std::optional<InsightsHistorySnapshotIdentity> &snapshot) const
{
    if (!snapshot || !publishedInput_) {
        return std::nullopt;
    }
    if (publishedInput_->accountScope != snapshot->accountScope || !publishedInput_->historyEpoch ||
        *publishedInput_->historyEpoch != snapshot->epoch) {
        return std::nullopt;
    }
    if (!result_) {
        return std::nullopt;
    }
    if (!snapshot->hasReadings && result_->collectionProgress.hasReadings) {
        return std::nullopt;   // the history was emptied after the calculation
    }
    return result_->collectionProgress;
}

QCoro::Task<InsightsCalculationResult> InsightsCalculationState::defaultCalculate(InsightsCalculationInput input)
{
    // Ahead of ordinary pool work: the user is waiting for this report.
    constexpr int kUserInitiatedPriority = 1;
    return runInThreadPool(
        *QThreadPool::globalInstance(),
        [input = std::move(input)] { return InsightsCalculationResult::calculate(input); }, kUserInitiatedPriority);
}

void InsightsCalculationState::setResult(std::optional<InsightsCalculationResult> result)
{
    result_ = std::move(result);
    emit resultChanged();
}

void InsightsCalculationState::setIsUpdating(bool updating)
{
    if (isUpdating_ != updating) {
        isUpdating_ = updating;
        emit isUpdatingChanged();
    }
}

void InsightsCalculationState::setPublishedInput(std::optional<InsightsCalculationInput> input)
{
    if (publishedInput_ != input) {
        publishedInput_ = std::move(input);
        emit publishedInputChanged();
    }
}

} // namespace quillby
