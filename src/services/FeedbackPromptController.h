#pragma once

#include "core/Clock.h"
#include "core/async/Sleeper.h"
#include "insights/LocalCalendar.h"

#include <QObject>
#include <QPointer>
#include <QSettings>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quillby {

class DesktopNotifications;

// Asks the user once, with a desktop notification, to share feedback once the eligibility days
// have passed since the first launch. Keeps the prompt's dates in the settings file, posts the
// notification at most once, and waits in a task for the eligible date. Main thread only.
class FeedbackPromptController : public QObject {
    Q_OBJECT
public:
    static inline const QString kFirstLaunchKey = QStringLiteral("QuillbyFeedbackPromptFirstLaunchAt");
    static inline const QString kDismissedKey = QStringLiteral("QuillbyFeedbackPromptDismissedAt");
    static inline const QString kSubmittedKey = QStringLiteral("QuillbyFeedbackPromptSubmittedAt");
    static inline const QString kNotificationSentKey = QStringLiteral("QuillbyFeedbackPromptNotificationSentAt");

    static inline const QString kPromptIdentifier = QStringLiteral("quillby-feedback-prompt");
    static inline const QString kCategory = QStringLiteral("quillby-feedback-category");
    static inline const QString kProvideAction = QStringLiteral("quillby-feedback-provide");
    static inline const QString kNeverShowAction = QStringLiteral("quillby-feedback-never-show");
    static inline const QString kTitle = QStringLiteral("How is Quillby working for you?");
    static inline const QString kBody =
        QStringLiteral("You've been using Quillby for a while. Would you like to share feedback?");

    struct Dependencies {
        std::shared_ptr<QSettings> defaults;
        int feedbackEligibilityDays = 90;
        std::shared_ptr<DesktopNotifications> notificationCenter;   // none: never posted
        std::shared_ptr<Clock> clock;       // required
        std::shared_ptr<Sleeper> sleeper;   // required
        LocalCalendar calendar = LocalCalendar::current();
    };

    explicit FeedbackPromptController(Dependencies dependencies, QObject *parent = nullptr);
    ~FeedbackPromptController() override;

    // Set by the application delegate: false while onboarding or the terms are shown, or
    // without an account to poll.
    bool canPresentPrompt = false;
    // Called with the new value whenever isPromptVisible changes.
    std::function<void(bool)> onPromptVisibilityChange;

    int feedbackEligibilityDays() const { return deps_.feedbackEligibilityDays; }
    bool isPromptVisible() const { return isPromptVisible_; }
    bool hasEligibilityTask() const { return eligibilityTask_.has_value(); }
    bool isPosting() const { return posting_; }
    int refreshCount() const { return refreshCount_; }

    void recordFirstLaunchIfNeeded();
    // The first launch plus the eligibility days in the local calendar; none without a first
    // launch date.
    std::optional<Date> eligibleDate() const;
    bool isEligible(Date date) const;
    // Recomputes eligibility now; posts the prompt when eligible, otherwise waits for the
    // eligible date.
    void refreshEligibility();
    // Posts the prompt once. Throws when the notification service refuses it (nothing is then
    // recorded, so a later refresh tries again).
    QCoro::Task<void> postNotificationIfEligible();
    void scheduleEligibilityTask();

    // The user chose "Never show this notification again".
    void recordDismissal();
    // Feedback was submitted.
    void recordSubmission();

signals:
    // A post attempt ended (posted, refused, or not allowed).
    void postAttemptFinished();

private:
    bool hasValue(const QString &key) const;
    void removePrompt();
    void cancelEligibilityTask();
    static QCoro::Task<void> runPost(QPointer<FeedbackPromptController> self);
    static QCoro::Task<void> waitForEligibility(QPointer<FeedbackPromptController> self, std::shared_ptr<Sleeper> sleeper,
                                                double seconds, std::stop_token stop);

    Dependencies deps_;
    bool isPromptVisible_ = false;
    bool posting_ = false;
    int refreshCount_ = 0;
    std::optional<std::stop_source> eligibilityTask_;
};

} // namespace quillby
