#pragma once

#include <QObject>

#include <functional>

namespace quillby {

// Owner of the "Share feedback" window. The feedback form is not part of this build yet:
// show() only counts its calls.
class FeedbackWindowController : public QObject {
    Q_OBJECT
public:
    explicit FeedbackWindowController(std::function<void()> onSubmitted = {}, QObject *parent = nullptr)
        : QObject(parent), onSubmitted_(std::move(onSubmitted))
    {
    }
    void show() { ++showCount_; }
    int showCount() const { return showCount_; }

private:
    std::function<void()> onSubmitted_;
    int showCount_ = 0;
};

} // namespace quillby
