#pragma once

#include "core/Clock.h"

#include <QObject>
#include <QSettings>

#include <memory>

namespace quillby {

// Keeps the feedback prompt's dates. Main thread only.
class FeedbackPromptController : public QObject {
    Q_OBJECT
public:
    static inline const QString kFirstLaunchKey = QStringLiteral("QuillbyFeedbackPromptFirstLaunchAt");
    static inline const QString kDismissedKey = QStringLiteral("QuillbyFeedbackPromptDismissedAt");
    static inline const QString kSubmittedKey = QStringLiteral("QuillbyFeedbackPromptSubmittedAt");

    FeedbackPromptController(std::shared_ptr<QSettings> defaults, int feedbackEligibilityDays,
                             std::shared_ptr<Clock> clock = SystemClock::shared(), QObject *parent = nullptr);

    bool canPresentPrompt = false;
    int feedbackEligibilityDays() const { return eligibilityDays_; }
    bool isPromptVisible() const { return isPromptVisible_; }
    int refreshCount() const { return refreshCount_; }

    void recordFirstLaunchIfNeeded();
    // Recomputes whether the prompt may show: canPresentPrompt, no dismissal or submission
    // stored, and the first launch at least the eligibility days back.
    void refreshEligibility();
    void recordDismissal();
    void recordSubmission();

signals:
    void promptVisibilityChanged(bool visible);

private:
    std::shared_ptr<QSettings> defaults_;
    int eligibilityDays_;
    std::shared_ptr<Clock> clock_;
    bool isPromptVisible_ = false;
    int refreshCount_ = 0;
};

} // namespace quillby
