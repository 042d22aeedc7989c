#pragma once

#include <cstdint>
#include <stdexcept>

namespace platform {

// Raised where a number cannot be represented: integer arithmetic or a conversion whose
// result leaves its range, and a value that is not a number at all (NaN, or text that holds
// none). Callers that run under the ignore-errors rule catch it at their step; nothing lets
// it reach Qt.
class OverflowError : public std::overflow_error {
public:
    using std::overflow_error::overflow_error;
};

// Conversions from floating point to integer round to nearest with ties to even
// (2.5 -> 2, 3.5 -> 4, -0.5 -> 0). Non-finite values and results outside the target
// range throw OverflowError.
std::int16_t roundToInt16(double value);
std::int32_t roundToInt32(double value);

// Overflow-checked integer arithmetic; throws OverflowError instead of wrapping.
std::int32_t checkedAdd(std::int32_t a, std::int32_t b);
std::int32_t checkedSubtract(std::int32_t a, std::int32_t b);
std::int32_t checkedMultiply(std::int32_t a, std::int32_t b);
std::int16_t checkedAdd16(std::int16_t a, std::int16_t b);
std::int16_t checkedMultiply16(std::int16_t a, std::int16_t b);

// Narrowing of a 32-bit value to an unsigned byte; throws OverflowError outside 0..255.
std::uint8_t toByte(std::int32_t value);

} // namespace platform
