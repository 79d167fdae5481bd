#pragma once

#include "menubar/AnimationTicker.h"

#include <QTimer>

#include <chrono>

namespace quillby {

// Ticks from a QTimer on the thread that owns it, every `interval`.
class TimerAnimationTicker final : public AnimationTicker {
public:
    explicit TimerAnimationTicker(std::chrono::milliseconds interval);

    void start(std::function<void()> onTick) override;
    void stop() override;
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> onTick_;
};

} // namespace quillby
