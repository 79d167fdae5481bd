// The menu graph feed: joins the readings seen from the provider with the account's saved
// readings of the last 24 hours and presents the list, never letting an older list replace a
// newer one or readings of another account reach the graph.

#include "polling/StatusBarPollingCoordinator.h"

#include "core/ConfigurationManager.h"
#include "history/AccountScope.h"
#include "providers/GlucoseProviderDescription.h"

#include <QTimer>

#include <map>

namespace quillby {

namespace {

GlucoseReadings sortedValues(const std::map<Date, GlucoseReading> &byDate)
{
    GlucoseReadings result;
    result.reserve(byDate.size());
    for (const auto &[date, reading] : byDate) {
        result.push_back(reading);
    }
    return result;
}

} // namespace

GlucoseReadings StatusBarPollingCoordinator::mergeObservedReadings(const GlucoseReadings &observed,
                                                                   const GlucoseReadings &fetched,
                                                                   GlucoseProvider provider, Date now)
{
    if (describeProvider(provider).fetchReportsWholeWindow) {
        return fetched;
    }
    // Keyed by exact date: a fetched reading replaces an observed one of the same time.
    // An earlier reading dated well ahead of now that this fetch no longer reports was a
    // provider fault: kept, it would stay the newest reading, and the one shown, until the
    // clock passed it. While the provider still reports it, it comes back with the fetch.
    std::map<Date, GlucoseReading> byDate;
    for (const auto &reading : observed) {
        if (!(reading.date > now + kFutureReadingAllowance)) {
            byDate.insert_or_assign(reading.date, reading);
        }
    }
    for (const auto &reading : fetched) {
        byDate.insert_or_assign(reading.date, reading);
    }
    const GlucoseReadings sorted = sortedValues(byDate);
    const Date cutoff = now - kGraphWindow;
    GlucoseReadings recent;
    for (const auto &reading : sorted) {
        if (reading.date >= cutoff) {
            recent.push_back(reading);
        }
    }
    // The graph never goes empty while a reading is known.
    if (recent.empty() && !sorted.empty()) {
        recent.push_back(sorted.back());
    }
    return recent;
}

void StatusBarPollingCoordinator::resetGraphHistory()
{
    ++historyRestorationGeneration_;
    historyObservation_.reset();
    savedGraphRefreshScheduled_ = false;
    observedGlucoseHistory_.clear();
    glucoseHistory_.clear();
    lastFetchedHistoryCount_ = 0;
    restoredGraphHistory_.reset();
}

void StatusBarPollingCoordinator::restoreGraphHistory()
{
    const Date cutoff = now() - kGraphWindow;
    std::map<Date, GlucoseReading> byDate;
    if (restoredGraphHistory_) {
        for (const auto &reading : restoredGraphHistory_->readings) {
            if (reading.date >= cutoff) {
                byDate.insert_or_assign(reading.date, reading);
            }
        }
    }
    for (const auto &reading : observedGlucoseHistory_) {
        byDate.insert_or_assign(reading.date, reading);
    }
    glucoseHistory_ = sortedValues(byDate);
    presentGraph(++graphPresentationRevision_, glucoseHistory_);
}

void StatusBarPollingCoordinator::presentGraph(std::int64_t number, const GlucoseReadings &merged)
{
    if (!graphPresentationOrder_.admit(number)) {
        return;
    }
    // Saved readings reach the graph only while the extract still describes the saved history
    // of the account now configured; otherwise only what the provider gave is shown.
    if (restoredGraphHistory_ && !isSavedGraphHistoryCurrent(*restoredGraphHistory_)) {
        statusBar_->updateGlucoseHistory(observedGlucoseHistory_);
        return;
    }
    statusBar_->updateGlucoseHistory(merged);
}

void StatusBarPollingCoordinator::startHistoryObservation(const std::optional<std::string> &scope)
{
    historyObservation_.reset();
    savedGraphRefreshScheduled_ = false;
    if (!historyCoordinator_ || !scope) {
        return;
    }
    historyObservation_ = std::make_unique<QObject>();
    const std::uint64_t generation = historyRestorationGeneration_;
    const std::string accountScope = *scope;
    connect(historyCoordinator_.data(), &HistoryCoordinating::graphUpdated, historyObservation_.get(),
            [this, generation, accountScope] { scheduleSavedGraphRefresh(generation, accountScope); });
    // Like a stream that delivers the current state first: one extract right away.
    scheduleSavedGraphRefresh(generation, accountScope);
}

void StatusBarPollingCoordinator::scheduleSavedGraphRefresh(std::uint64_t generation, std::string scope)
{
    // Bursts of changes before the extract is taken arrive as one.
    if (savedGraphRefreshScheduled_ || !historyObservation_) {
        return;
    }
    savedGraphRefreshScheduled_ = true;
    QTimer::singleShot(0, historyObservation_.get(), [this, generation, scope = std::move(scope)] {
        savedGraphRefreshScheduled_ = false;
        if (!historyCoordinator_) {
            return;
        }
        applySavedGraphHistory(historyCoordinator_->savedGraphHistory(scope, now()), generation);
    });
}

void StatusBarPollingCoordinator::applySavedGraphHistory(const SavedGraphHistory &extract, std::uint64_t generation)
{
    if (!historyCoordinator_) {
        return;
    }
    // Overtaken by a newer change of saved history, or made for another account.
    if (!isSavedGraphHistoryCurrent(extract)) {
        return;
    }
    // Requested before the graph was reset (a stop or a new start).
    if (generation != historyRestorationGeneration_) {
        return;
    }
    restoredGraphHistory_ = extract;
    restoreGraphHistory();
}

bool StatusBarPollingCoordinator::isSavedGraphHistoryCurrent(const SavedGraphHistory &extract) const
{
    if (!historyCoordinator_ || extract.revision != historyCoordinator_->graphRevision()) {
        return false;
    }
    const std::optional<std::string> configured = configuredAccountScope();
    return configured && *configured == extract.accountScope;
}

std::optional<std::string> StatusBarPollingCoordinator::configuredAccountScope() const
{
    const auto &configuration = configurationManager_->configuration();
    if (!configuration || !configuration->account.isComplete()) {
        return std::nullopt;
    }
    return historyAccountScope(configuration->account);
}

} // namespace quillby
