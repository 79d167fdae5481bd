#pragma once

#include <functional>

namespace quillby {

// A repeating tick that drives an icon animation: started and stopped by its owner, it calls
// the callback given to start() at each step until stopped. Production ticks come from a timer
// (TimerAnimationTicker); tests step a ticker of their own, so no test waits for real time.
class AnimationTicker {
public:
    virtual ~AnimationTicker() = default;
    virtual void start(std::function<void()> onTick) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

} // namespace quillby
