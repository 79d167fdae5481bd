#pragma once

#include "services/FeedbackSubmitting.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <memory>

namespace quillby {

// The feedback form's texts and submitting state. Main thread only.
class FeedbackFormViewModel : public QObject {
    Q_OBJECT
public:
    static inline const QString kEmptyMessage = QStringLiteral("Please enter a message.");
    static inline const QString kGenericFailure =
        QStringLiteral("Feedback could not be submitted right now. Please try again later.");
    // What one piece of feedback may hold, in UTF-16 code units: a name, an address as long as
    // mail allows, and a message of a few pages. Longer texts are cut at the limit (never inside
    // a character) as they are set.
    static constexpr qsizetype kMaximumNameLength = 100;
    static constexpr qsizetype kMaximumEmailLength = 254;
    static constexpr qsizetype kMaximumMessageLength = 5000;

    // `text` cut to at most `limit` code units without splitting a surrogate pair.
    static QString limited(const QString &text, qsizetype limit);

    FeedbackFormViewModel(std::shared_ptr<FeedbackSubmitting> submissionService, std::function<void()> onClose,
                          std::function<void()> onSubmitted, QObject *parent = nullptr);

    const QString &name() const { return name_; }
    const QString &email() const { return email_; }
    const QString &message() const { return message_; }
    const QString &errorMessage() const { return errorMessage_; }
    bool isSubmitting() const { return isSubmitting_; }
    // A message that is not only white space, and no submission in flight.
    bool canSubmit() const;

    void setName(const QString &value);
    void setEmail(const QString &value);
    void setMessage(const QString &value);
    void setErrorMessage(const QString &value);

    // Sends the form. Success: onSubmitted, then onClose; failure: the error's message in
    // errorMessage, texts kept. Never throws. The submission completes even when the model is
    // destroyed meanwhile (success still reports and closes the window that sent it).
    QCoro::Task<void> submit();
    // Cancel: closes the window unless a submission is in flight.
    void cancel();

signals:
    void nameChanged();
    void emailChanged();
    void messageChanged();
    void errorMessageChanged();
    void isSubmittingChanged();
    void canSubmitChanged();

private:
    void setSubmitting(bool value);

    std::shared_ptr<FeedbackSubmitting> service_;
    std::function<void()> onClose_;
    std::function<void()> onSubmitted_;
    QString name_;
    QString email_;
    QString message_;
    QString errorMessage_;
    bool isSubmitting_ = false;
};

} // namespace quillby
