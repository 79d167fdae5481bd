#include "menubar/TimerAnimationTicker.h"

namespace quillby {

TimerAnimationTicker::TimerAnimationTicker(std::chrono::milliseconds interval)
{
    timer_.setInterval(interval);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (onTick_) {
            onTick_();
        }
    });
}

void TimerAnimationTicker::start(std::function<void()> onTick)
{
    onTick_ = std::move(onTick);
    timer_.start();
}

void TimerAnimationTicker::stop()
{
    timer_.stop();
}

} // namespace quillby
