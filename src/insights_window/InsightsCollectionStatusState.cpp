#include "insights_window/InsightsCollectionStatusState.h"

namespace quillby {

void InsightsCollectionStatusState::update(const std::optional<InsightsCollectionProgress> &progress,
                                           const std::optional<std::string> &accountScope,
                                           const std::optional<QUuid> &epoch, bool hasUnlockedInsights)
{
    const HistoryIdentity identity{accountScope, epoch};
    if (!historyIdentity_ || *historyIdentity_ != identity) {
        historyIdentity_ = identity;
        emit historyIdentityChanged();
        hasAcknowledgedUnlock_ = hasUnlockedInsights;
        setPhase(hasUnlockedInsights ? Phase(Hidden{}) : Phase(Collecting{}));
        return;
    }
    if (hasAcknowledgedUnlock_) {
        return;
    }
    if (hasUnlockedInsights) {
        hasAcknowledgedUnlock_ = true;
        setPhase(std::holds_alternative<Collecting>(phase_) ? Phase(Complete{QUuid::createUuid()}) : Phase(Hidden{}));
        return;
    }
    if (progress) {
        setPhase(Collecting{});
    }
}

void InsightsCollectionStatusState::acknowledgeCompletion(const QUuid &id)
{
    if (const auto *complete = std::get_if<Complete>(&phase_); complete && complete->id == id) {
        setPhase(Hidden{});
    }
}

bool InsightsCollectionStatusState::matches(const std::optional<std::string> &accountScope,
                                            const std::optional<QUuid> &epoch) const
{
    return historyIdentity_ && *historyIdentity_ == HistoryIdentity{accountScope, epoch};
}

void InsightsCollectionStatusState::setPhase(Phase phase)
{
    if (phase_ != phase) {
        phase_ = std::move(phase);
        emit phaseChanged();
    }
}

} // namespace quillby
