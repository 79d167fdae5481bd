#include "services/FeedbackPromptController.h"
#include "core/async/RunDetached.h"

#include "core/UserDefaults.h"
#include "platform/DesktopNotifications.h"

#include <cmath>
#include <exception>

namespace quillby {

FeedbackPromptController::FeedbackPromptController(Dependencies dependencies, QObject *parent)
    : QObject(parent), deps_(std::move(dependencies))
{
    Q_ASSERT(deps_.clock && deps_.sleeper);
}

FeedbackPromptController::~FeedbackPromptController()
{
    cancelEligibilityTask();
}

bool FeedbackPromptController::hasValue(const QString &key) const
{
    return deps_.defaults->contains(key);
}

void FeedbackPromptController::recordFirstLaunchIfNeeded()
{
    if (!hasValue(kFirstLaunchKey)) {
        defaults::writeDate(*deps_.defaults, kFirstLaunchKey, deps_.clock->now());
    }
}

std::optional<Date> FeedbackPromptController::eligibleDate() const
{
    const auto firstLaunch = defaults::readDate(*deps_.defaults, kFirstLaunchKey);
    if (!firstLaunch) {
        return std::nullopt;
    }
    const auto local = deps_.calendar.components(*firstLaunch);
    if (!local) {
        return std::nullopt;
    }
    const double wholeSecond = std::floor(local->second);
    const auto date = deps_.calendar.date(local->year, local->month, local->day + deps_.feedbackEligibilityDays,
                                          local->hour, local->minute, static_cast<int>(wholeSecond));
    if (!date) {
        return std::nullopt;
    }
    return *date + (local->second - wholeSecond);
}

bool FeedbackPromptController::isEligible(Date date) const
{
    if (!canPresentPrompt || hasValue(kDismissedKey) || hasValue(kSubmittedKey)) {
        return false;
    }
    const auto eligible = eligibleDate();
    return eligible && date >= *eligible;
}

void FeedbackPromptController::cancelEligibilityTask()
{
    if (eligibilityTask_) {
        eligibilityTask_->request_stop();
        eligibilityTask_.reset();
    }
}

void FeedbackPromptController::refreshEligibility()
{
    ++refreshCount_;
    cancelEligibilityTask();
    const bool eligible = isEligible(deps_.clock->now());
    if (eligible != isPromptVisible_) {
        isPromptVisible_ = eligible;
        if (onPromptVisibilityChange) {
            onPromptVisibilityChange(eligible);
        }
    }
    if (eligible) {
        runDetached(runPost(QPointer<FeedbackPromptController>(this)));
    } else {
        scheduleEligibilityTask();
    }
}

QCoro::Task<void> FeedbackPromptController::runPost(QPointer<FeedbackPromptController> self)
{
    try {
        co_await self->postNotificationIfEligible();
    } catch (const std::exception &) {
        // Refused: nothing was recorded, so a later refresh tries again.
    }
    if (self) {
        emit self->postAttemptFinished();
    }
}

QCoro::Task<void> FeedbackPromptController::postNotificationIfEligible()
{
    QPointer<FeedbackPromptController> self(this);
    // One post at a time: a refresh while one is in flight adds nothing.
    if (hasValue(kNotificationSentKey) || posting_ || !deps_.notificationCenter) {
        co_return;
    }
    posting_ = true;
    std::shared_ptr<DesktopNotifications> center = deps_.notificationCenter;
    struct Reset {
        QPointer<FeedbackPromptController> self;
        ~Reset()
        {
            if (self) {
                self->posting_ = false;
            }
        }
    } reset{self};

    // "Allowed" on this desktop: a notification server answers.
    const auto server = co_await center->serverInformation(true);
    if (!self || !server || hasValue(kNotificationSentKey) || !isEligible(deps_.clock->now())) {
        co_return;
    }
    DesktopNotificationRequest request;
    request.identifier = kPromptIdentifier;
    request.title = kTitle;
    request.body = kBody;
    request.actions = {{DesktopNotifications::kDefaultAction, QStringLiteral("Give feedback")},
                       {kProvideAction, QStringLiteral("Give feedback")},
                       {kNeverShowAction, QStringLiteral("Never show this notification again")}};
    co_await center->notify(request);
    if (self) {
        defaults::writeDate(*deps_.defaults, kNotificationSentKey, deps_.clock->now());
        deps_.defaults->sync();
    }
}

void FeedbackPromptController::scheduleEligibilityTask()
{
    if (!canPresentPrompt || hasValue(kDismissedKey) || hasValue(kSubmittedKey)) {
        return;
    }
    const auto eligible = eligibleDate();
    if (!eligible) {
        return;
    }
    const double delay = std::max(std::ceil(*eligible - deps_.clock->now()), 1.0);
    cancelEligibilityTask();
    eligibilityTask_.emplace();
    runDetached(waitForEligibility(QPointer<FeedbackPromptController>(this), deps_.sleeper, delay, eligibilityTask_->get_token()));
}

QCoro::Task<void> FeedbackPromptController::waitForEligibility(QPointer<FeedbackPromptController> self,
                                                               std::shared_ptr<Sleeper> sleeper, double seconds,
                                                               std::stop_token stop)
{
    co_await sleeper->sleep(seconds, stop);
    if (self && !stop.stop_requested()) {
        self->refreshEligibility();
    }
}

void FeedbackPromptController::removePrompt()
{
    if (deps_.notificationCenter) {
        runDetached(deps_.notificationCenter->close(kPromptIdentifier));
    }
}

void FeedbackPromptController::recordDismissal()
{
    defaults::writeDate(*deps_.defaults, kDismissedKey, deps_.clock->now());
    deps_.defaults->sync();
    removePrompt();
    refreshEligibility();
}

void FeedbackPromptController::recordSubmission()
{
    defaults::writeDate(*deps_.defaults, kSubmittedKey, deps_.clock->now());
    deps_.defaults->sync();
    removePrompt();
    refreshEligibility();
}

} // namespace quillby
