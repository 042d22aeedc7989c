#include "platform/Numbers.h"

#include <cmath>
#include <limits>

namespace platform {
namespace {

double roundHalfEven(double value) {
    if (!std::isfinite(value))
        throw OverflowError("not a finite number");
    // nearbyint honours the current rounding mode; the program never changes it, but a
    // library might, so the tie rule is made explicit here.
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

template <typename Int> Int roundTo(double value) {
    const double rounded = roundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max()))
        throw OverflowError("value out of range");
    return static_cast<Int>(rounded);
}

template <typename Int> Int narrow(long long value) {
    if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max())
        throw OverflowError("integer overflow");
    return static_cast<Int>(value);
}

} // namespace

std::int16_t roundToInt16(double value) {
    return roundTo<std::int16_t>(value);
}
std::int32_t roundToInt32(double value) {
    return roundTo<std::int32_t>(value);
}

std::int32_t checkedAdd(std::int32_t a, std::int32_t b) {
    std::int32_t result = 0;
    if (__builtin_add_overflow(a, b, &result))
        throw OverflowError("integer overflow");
    return result;
}

std::int32_t checkedSubtract(std::int32_t a, std::int32_t b) {
    std::int32_t result = 0;
    if (__builtin_sub_overflow(a, b, &result))
        throw OverflowError("integer overflow");
    return result;
}

std::int32_t checkedMultiply(std::int32_t a, std::int32_t b) {
    std::int32_t result = 0;
    if (__builtin_mul_overflow(a, b, &result))
        throw OverflowError("integer overflow");
    return result;
}

std::int16_t checkedAdd16(std::int16_t a, std::int16_t b) {
    return narrow<std::int16_t>(static_cast<long long>(a) + b);
}

std::int16_t checkedMultiply16(std::int16_t a, std::int16_t b) {
    return narrow<std::int16_t>(static_cast<long long>(a) * b);
}

std::uint8_t toByte(std::int32_t value) {
    return narrow<std::uint8_t>(value);
}

} // namespace platform
