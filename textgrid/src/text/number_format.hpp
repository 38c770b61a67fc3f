// The number form of written times: the shortest decimal that reads back as
// the same double, always positional (never an exponent).
#pragma once

#include <cstddef>
#include <string>

namespace textgrid {

// Room for any time in the written form: the longest, the smallest subnormal
// with a sign, takes 327 bytes.
inline constexpr std::size_t kTimeBufferSize = 340;

// Returns a bound, never below the size, of the written form of `value`: the
// room put_time needs. Cheap (the binary exponent only). Does not allocate.
std::size_t time_size_bound(double value);

// Writes `value` in the form of append_time at `out`, which has room for
// time_size_bound(value) bytes, and returns the end of what it wrote. Values
// with few digits take a short way; every value gets the same bytes either
// way. Safe on any thread; does not allocate.
char* put_time(char* out, double value);

// Writes `value` in the form of append_time into `buffer` and returns the
// number of bytes written. Safe on any thread; does not allocate.
std::size_t write_time(char (&buffer)[kTimeBufferSize], double value);

// Appends `value` to `out`: shortest round-tripping digits with the point
// placed positionally (1e23 -> "1" and 23 zeros, 1e-7 -> "0.0000001"); "-0",
// "NaN", "inf", "-inf" for the special values. Safe on any thread.
void append_time(std::string& out, double value);

// Returns `value` in the form of append_time. Allocates.
std::string format_time(double value);

}  // namespace textgrid
