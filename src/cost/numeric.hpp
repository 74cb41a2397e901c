// Float-to-integer conversions and integer sums with defined results for
// every input.
//
// The cost model truncates slots to integer keys and gaps to table indices;
// a plain static_cast is undefined behaviour when the value is NaN or out of
// range, so these saturate instead (NaN becomes 0).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tavelin {

// Truncation toward zero into int64: NaN -> 0, values >= 2^63 -> INT64_MAX,
// values <= -2^63 -> INT64_MIN.
constexpr std::int64_t saturating_to_i64(double value) noexcept {
    if (value != value) return 0;
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

// Truncation toward zero into uint64: NaN and negatives -> 0,
// values >= 2^64 -> UINT64_MAX.
constexpr std::uint64_t saturating_to_u64(double value) noexcept {
    if (!(value > 0.0)) return 0;
    if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(value);
}

// Two's-complement wrap-around addition without signed overflow.
constexpr std::int64_t wrapping_add(std::int64_t a, std::int64_t b) noexcept {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

}  // namespace tavelin
