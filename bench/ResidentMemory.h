#pragma once

// Resident memory of this process, for benchmarks that report how much a piece of work grows it
// at its peak: freed memory is handed back first and the kernel's peak mark is reset, so the
// figure is the growth caused by the work alone.

#include <malloc.h>

#include <fstream>
#include <string>

namespace quillby::bench {

inline double statusKilobytes(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stod(line.substr(prefix.size()));
        }
    }
    return 0;
}

class PeakResidentGrowth {
public:
    // Call right before the work.
    void start()
    {
        malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";   // resets the peak resident size
        before_ = statusKilobytes("VmRSS");
    }
    // Peak resident growth since start(), in MiB.
    double mebibytes() const { return (statusKilobytes("VmHWM") - before_) / 1024.0; }

private:
    double before_ = 0;
};

} // namespace quillby::bench
