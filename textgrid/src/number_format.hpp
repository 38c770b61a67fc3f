// The number form of written times: the shortest decimal that reads back as
// the same double, always positional (never an exponent).
#pragma once

#include <string>

namespace textgrid {

// Appends `value` to `out`: shortest round-tripping digits with the point
// placed positionally (1e23 -> "1" and 23 zeros, 1e-7 -> "0.0000001"); "-0",
// "NaN", "inf", "-inf" for the special values. Safe on any thread.
void append_time(std::string& out, double value);

// Returns `value` in the form of append_time. Allocates.
std::string format_time(double value);

}  // namespace textgrid
