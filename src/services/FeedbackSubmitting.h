#pragma once

#include "core/AppError.h"

#include <QString>

#include <QCoroTask>

namespace quillby {

// Why feedback was not sent; each case carries the message the form shows.
class FeedbackSubmissionError : public AppError {
public:
    enum class Case { failedToPrepare, rateLimited, rejected, unavailable };

    explicit FeedbackSubmissionError(Case c) : AppError(message(c)), kind(c) {}
    Case kind;

    static std::string message(Case c)
    {
        switch (c) {
        case Case::failedToPrepare:
            return "Feedback could not be prepared right now.";
        case Case::rateLimited:
            return "Feedback was sent too recently. Please try again later.";
        case Case::rejected:
            return "Feedback could not be submitted from this device right now.";
        case Case::unavailable:
            return "Feedback could not be submitted right now. Please try again later.";
        }
        return "Feedback could not be submitted right now. Please try again later.";
    }
};

// Sends one piece of feedback: name and e-mail (both optional), and the message. Throws only
// FeedbackSubmissionError.
class FeedbackSubmitting {
public:
    virtual ~FeedbackSubmitting() = default;
    virtual QCoro::Task<void> submit(QString name, QString email, QString message) = 0;
};

} // namespace quillby
