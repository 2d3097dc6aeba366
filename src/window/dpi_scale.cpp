#include "window/dpi_scale.h"

#include <cstdint>

namespace sv {
namespace {

int MulDivRounded(int value, int numerator, int denominator) {
    const int64_t product = static_cast<int64_t>(value) * numerator;
    const int64_t half = denominator / 2;
    const int64_t result = product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    if (result > INT32_MAX) return INT32_MAX;
    if (result < INT32_MIN) return INT32_MIN;
    return static_cast<int>(result);
}

}  // namespace

int UsableDpi(int dpi) { return dpi > 0 && dpi <= kLargestDpi ? dpi : kDefaultDpi; }

int ScaleForDpi(int value, int dpi) { return MulDivRounded(value, UsableDpi(dpi), kDefaultDpi); }

int UnscaleForDpi(int value, int dpi) { return MulDivRounded(value, kDefaultDpi, UsableDpi(dpi)); }

}  // namespace sv
