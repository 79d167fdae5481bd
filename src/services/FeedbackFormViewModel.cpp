#include "services/FeedbackFormViewModel.h"

#include <exception>

namespace quillby {

FeedbackFormViewModel::FeedbackFormViewModel(std::shared_ptr<FeedbackSubmitting> submissionService,
                                             std::function<void()> onClose, std::function<void()> onSubmitted,
                                             QObject *parent)
    : QObject(parent)
    , service_(std::move(submissionService))
    , onClose_(std::move(onClose))
    , onSubmitted_(std::move(onSubmitted))
{
}

QString FeedbackFormViewModel::limited(const QString &text, qsizetype limit)
{
    if (text.size() <= limit) {
        return text;
    }
    qsizetype end = limit;
    if (end > 0 && text.at(end - 1).isHighSurrogate()) {
        --end;
    }
    return text.left(end);
}

bool FeedbackFormViewModel::canSubmit() const
{
    return !message_.trimmed().isEmpty() && !isSubmitting_;
}

void FeedbackFormViewModel::setName(const QString &text)
{
    const QString value = limited(text, kMaximumNameLength);
    if (name_ != value) {
        name_ = value;
        emit nameChanged();
    }
}

void FeedbackFormViewModel::setEmail(const QString &text)
{
    const QString value = limited(text, kMaximumEmailLength);
    if (email_ != value) {
        email_ = value;
        emit emailChanged();
    }
}

void FeedbackFormViewModel::setMessage(const QString &text)
{
    const QString value = limited(text, kMaximumMessageLength);
    if (message_ != value) {
        const bool could = canSubmit();
        message_ = value;
        emit messageChanged();
        if (could != canSubmit()) {
            emit canSubmitChanged();
        }
    }
}

void FeedbackFormViewModel::setErrorMessage(const QString &value)
{
    if (errorMessage_ != value) {
        errorMessage_ = value;
        emit errorMessageChanged();
    }
}

void FeedbackFormViewModel::setSubmitting(bool value)
{
    if (isSubmitting_ != value) {
        const bool could = canSubmit();
        isSubmitting_ = value;
        emit isSubmittingChanged();
        if (could != canSubmit()) {
            emit canSubmitChanged();
        }
    }
}

void FeedbackFormViewModel::cancel()
{
    if (!isSubmitting_ && onClose_) {
        onClose_();
    }
}

QCoro::Task<void> FeedbackFormViewModel::submit()
{
    const QString trimmed = message_.trimmed();
    if (trimmed.isEmpty()) {
        setErrorMessage(kEmptyMessage);
        co_return;
    }
    if (isSubmitting_ || !service_) {
        co_return;
    }
    setErrorMessage(QString());
    setSubmitting(true);
    // What the rest of the submission needs is copied: the window (and this model) may be
    // closed and destroyed while the request is in flight.
    QPointer<FeedbackFormViewModel> self(this);
    std::shared_ptr<FeedbackSubmitting> service = service_;
    std::function<void()> onClose = onClose_;
    std::function<void()> onSubmitted = onSubmitted_;
    QString failure;
    try {
        co_await service->submit(name_, email_, trimmed);
    } catch (const std::exception &error) {
        failure = QString::fromStdString(error.what());
        if (failure.isEmpty()) {
            failure = kGenericFailure;
        }
    } catch (...) {
        failure = kGenericFailure;
    }
    if (failure.isEmpty()) {
        if (onSubmitted) {
            onSubmitted();
        }
        if (onClose) {
            onClose();
        }
        if (self) {
            self->setSubmitting(false);
        }
        co_return;
    }
    if (self) {
        self->setErrorMessage(failure);
        self->setSubmitting(false);
    }
}

} // namespace quillby
