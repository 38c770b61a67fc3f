// The conversion of a decimal w x 10^q (w below 2^64) to the nearest double
// by Eisel and Lemire's method: one or two 64 x 64-bit products with a
// 128-bit approximation of the power of ten decide the result exactly, or
// say that they cannot (a case within a hair of halfway), and the caller
// converts another way. The method as Daniel Lemire published it ("Number
// Parsing at a Gigabyte per Second", 2021) with Nigel Tao's shaping of it.
#pragma once

#include <cstdint>

namespace textgrid {

// The powers of ten that eisel_lemire knows.
inline constexpr int kEiselLemireMinExponent = -64;
inline constexpr int kEiselLemireMaxExponent = 64;

// Sets `value` to w x 10^q rounded to nearest, ties to even, negated when
// `negative`, and returns true; false, leaving `value` alone, when w is 0, q
// lies outside the table, the result would be subnormal, infinite or out of
// range, or the products cannot tell which way to round.
bool eisel_lemire(std::uint64_t w, int q, bool negative, double& value);

}  // namespace textgrid
