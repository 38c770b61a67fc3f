// Numbers: the conversion of a value's text into a time or a count. One pass
// over the digits for the common decimal forms, settled by Clinger's fast
// path or Eisel and Lemire's products; the exact general conversion of the
// standard library for the rest.
#pragma once

#include <cstdint>
#include <string_view>

namespace textgrid {

// Returns the value read as a decimal literal (optional sign, digits with an
// optional point, optional exponent) or inf/infinity/nan in any case, rounded
// to nearest; ±inf beyond the range, ±0 below it; 0 for anything else. The
// value is trimmed first. No allocation.
double parse_real(std::string_view value);

// parse_real for a value that the caller has already trimmed (no White_Space
// at either end): the readers' path, which skips the trim.
double parse_trimmed_real(std::string_view value);

// Reads the number in the usual decimal form (optional sign, digits with an
// optional point, optional exponent) that begins at `p`, up to the first byte
// that cannot continue it, without looking past `end`; the bytes after it are
// the caller's to judge. Returns the end of the number with its value in
// `value`, exactly as parse_trimmed_real gives it for those bytes alone, or
// nullptr for what only the general conversion decides: no digits, an
// exponent without digits, over 19 significant digits, powers of ten beyond
// the fast paths. The readers' one pass over a time.
const char* scan_real(const char* p, const char* end, double& value);

// Returns the value read as an unsigned 64-bit decimal (optional single "+",
// digits only); 0 for anything else, overflow included. Trimmed first.
std::uint64_t parse_count(std::string_view value);

// parse_count for a value already trimmed at both ends.
std::uint64_t parse_trimmed_count(std::string_view value);

namespace detail {
// The general conversion behind parse_trimmed_real, for what its fast path
// declines: grammar check, then std::from_chars, then the range rule.
double parse_real_general(std::string_view trimmed);
}  // namespace detail

}  // namespace textgrid
