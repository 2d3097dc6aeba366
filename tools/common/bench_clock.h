// What the benchmarks share: a clock on the performance counter and the percentiles they print.
#pragma once
#include <windows.h>

#include <algorithm>
#include <vector>

namespace tools {

class BenchClock {
public:
    BenchClock() {
        QueryPerformanceFrequency(&frequency_);
        Restart();
    }
    void Restart() { QueryPerformanceCounter(&start_); }
    double ElapsedMs() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};
};

// The value at fraction (0 the least, 1 the greatest) of the sorted values; 0 for none.
inline double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace tools
