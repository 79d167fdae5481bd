#pragma once

#include "services/FeedbackSubmitting.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace quillby {

// Owner of the "Share feedback" window: builds it on demand, brings an open one to the front,
// and forgets it when it closes, so the next show() starts with an empty form. Main thread only.
class FeedbackWindowController : public QObject {
    Q_OBJECT
public:
    FeedbackWindowController(std::shared_ptr<FeedbackSubmitting> submissionService, std::function<void()> onSubmitted,
                             QObject *parent = nullptr);
    ~FeedbackWindowController() override;

    void show();
    QWidget *feedbackWindow() const { return feedbackWindow_; }
    // The desktop asks for less motion: the ambient panel's line stands still.
    void setReduceMotion(bool reduce);
    int showCount() const { return showCount_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void windowWillClose(QWidget *window);

    std::shared_ptr<FeedbackSubmitting> submissionService_;
    std::function<void()> onSubmitted_;
    QPointer<QWidget> feedbackWindow_;
    int showCount_ = 0;
    bool reduceMotion_ = false;
};

} // namespace quillby
