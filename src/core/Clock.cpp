#include "core/Clock.h"

#include <chrono>
#include <time.h>

namespace quillby {

Date SystemClock::now() const
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

namespace {
// Seconds on the boot clock: monotonic, and unlike steady_clock it keeps counting while the
// computer is suspended, so waits planned before a suspend end on time after it.
double bootClockSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
} // namespace

double SystemClock::monotonicNow() const
{
    return bootClockSeconds();
}

} // namespace quillby
