#include "services/FeedbackPromptController.h"

#include "core/UserDefaults.h"

namespace quillby {

FeedbackPromptController::FeedbackPromptController(std::shared_ptr<QSettings> defaults, int feedbackEligibilityDays,
                                                   std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent)
    , defaults_(std::move(defaults))
    , eligibilityDays_(feedbackEligibilityDays)
    , clock_(std::move(clock))
{
}

void FeedbackPromptController::recordFirstLaunchIfNeeded()
{
    if (!defaults::readDate(*defaults_, kFirstLaunchKey)) {
        defaults::writeDate(*defaults_, kFirstLaunchKey, clock_->now());
    }
}

void FeedbackPromptController::refreshEligibility()
{
    ++refreshCount_;
    bool visible = false;
    if (canPresentPrompt && !defaults::readDate(*defaults_, kDismissedKey) &&
        !defaults::readDate(*defaults_, kSubmittedKey)) {
        const auto firstLaunch = defaults::readDate(*defaults_, kFirstLaunchKey);
        visible = firstLaunch && clock_->now() - *firstLaunch >= eligibilityDays_ * 86400.0;
    }
    if (visible != isPromptVisible_) {
        isPromptVisible_ = visible;
        emit promptVisibilityChanged(visible);
    }
}

void FeedbackPromptController::recordDismissal()
{
    defaults::writeDate(*defaults_, kDismissedKey, clock_->now());
    refreshEligibility();
}

void FeedbackPromptController::recordSubmission()
{
    defaults::writeDate(*defaults_, kSubmittedKey, clock_->now());
    refreshEligibility();
}

} // namespace quillby
