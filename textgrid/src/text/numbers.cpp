#include "text/numbers.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "text/eisel_lemire.hpp"
#include "text/trim.hpp"

namespace textgrid {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool equals_ignoring_case(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Every power of ten up to 1e22 is a double exactly (5^22 < 2^53).
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// 10^0 .. 10^19, every power of ten below 2^64.
constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << 53;

constexpr std::uint64_t kIntegerPowers[] = {1ULL,
                                            10ULL,
                                            100ULL,
                                            1000ULL,
                                            10000ULL,
                                            100000ULL,
                                            1000000ULL,
                                            10000000ULL,
                                            100000000ULL,
                                            1000000000ULL,
                                            10000000000ULL,
                                            100000000000ULL,
                                            1000000000000ULL,
                                            10000000000000ULL,
                                            100000000000000ULL,
                                            1000000000000000ULL,
                                            10000000000000000ULL,
                                            100000000000000000ULL,
                                            1000000000000000000ULL,
                                            10000000000000000000ULL};

// The value of eight ASCII digits loaded little-endian, first digit lowest:
// pairs, then fours, then all eight, with three multiplications.
std::uint64_t eight_digits(std::uint64_t word) {
  word -= 0x3030303030303030ULL;
  word = word * 10 + (word >> 8);
  constexpr std::uint64_t kMask = 0x000000FF000000FFULL;
  constexpr std::uint64_t kMul1 = 100 + (1000000ULL << 32);
  constexpr std::uint64_t kMul2 = 1 + (10000ULL << 32);
  return (((word & kMask) * kMul1) + (((word >> 16) & kMask) * kMul2)) >> 32;
}

// Number of ASCII digits at the start of the eight bytes of `word` (loaded
// little-endian, first byte lowest). Each byte is tested alone: no carry
// crosses from one byte into the next.
int leading_digits(std::uint64_t word) {
  const std::uint64_t x = word ^ 0x3030303030303030ULL;  // a digit becomes 0..9
  const std::uint64_t beyond_nine =
      (((x & 0x7F7F7F7F7F7F7F7FULL) + 0x7676767676767676ULL) | x) & 0x8080808080808080ULL;
  return beyond_nine == 0 ? 8 : std::countr_zero(beyond_nine) >> 3;
}

// The value of the first `n` (1 to 7) digits of `word`: they move to the top
// and zeros ("0" bytes) fill in below them.
std::uint64_t first_digits(std::uint64_t word, int n) {
  const int shift = 8 * (8 - n);
  return eight_digits((word << shift) | (0x3030303030303030ULL >> (64 - shift)));
}

// Gathers the digits at `p` into `mantissa`, eight at a time while eight
// bytes are there to load; returns the first byte that is not a digit. Wraps
// beyond 19 digits, which the caller counts. The mantissa is a local copy:
// stores through a reference would alias every byte read.
[[gnu::always_inline]] inline const char* gather_digits(const char* p, const char* end,
                                                        std::uint64_t& mantissa_out) {
  std::uint64_t mantissa = mantissa_out;
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      const int n = leading_digits(word);
      if (n == 8) {
        mantissa = mantissa * 100000000 + eight_digits(word);
        p += 8;
        continue;
      }
      if (n != 0) mantissa = mantissa * kIntegerPowers[n] + first_digits(word, n);
      mantissa_out = mantissa;
      return p + n;
    }
  }
  for (; p != end; ++p) {
    const auto digit = static_cast<unsigned char>(*p - '0');
    if (digit > 9) break;
    mantissa = mantissa * 10 + digit;
  }
  mantissa_out = mantissa;
  return p;
}

}  // namespace

double detail::parse_real_general(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const std::string_view body = s.substr(i);
  const double sign = negative ? -1.0 : 1.0;
  if (!body.empty() && !is_digit(body[0]) && body[0] != '.') {
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
      return sign * std::numeric_limits<double>::infinity();
    }
    if (equals_ignoring_case(body, "nan")) {
      return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    }
    return 0.0;
  }

  // Check the grammar here: from_chars alone would take a leading part of
  // "1e", "0x10" or "1,5" and has no "+".
  std::size_t j = 0;
  const std::size_t int_begin = j;
  while (j < body.size() && is_digit(body[j])) ++j;
  const std::size_t int_end = j;
  std::size_t frac_begin = j, frac_end = j;
  if (j < body.size() && body[j] == '.') {
    frac_begin = ++j;
    while (j < body.size() && is_digit(body[j])) ++j;
    frac_end = j;
  }
  if (int_end == int_begin && frac_end == frac_begin) return 0.0;
  long long exponent = 0;
  if (j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
    ++j;
    bool exp_negative = false;
    if (j < body.size() && (body[j] == '+' || body[j] == '-')) {
      exp_negative = body[j] == '-';
      ++j;
    }
    if (j == body.size() || !is_digit(body[j])) return 0.0;
    while (j < body.size() && is_digit(body[j])) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (body[j] - '0');
      ++j;
    }
    if (exp_negative) exponent = -exponent;
  }
  if (j != body.size()) return 0.0;

  const char* first = negative ? body.data() - 1 : body.data();
  const char* last = body.data() + body.size();
  double result = 0.0;
  const auto [ptr, ec] = std::from_chars(first, last, result, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range or below it: the nearest value is ±inf or ±0; which
    // one follows from the decimal position of the first non-zero digit.
    long long magnitude = 0;
    std::size_t k = int_begin;
    while (k < int_end && body[k] == '0') ++k;
    if (k < int_end) {
      magnitude = static_cast<long long>(int_end - k);
    } else {
      k = frac_begin;
      while (k < frac_end && body[k] == '0') ++k;
      magnitude = -static_cast<long long>(k - frac_begin);
    }
    return magnitude + exponent > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
  }
  if (ec != std::errc() || ptr != last) return 0.0;
  return result;
}

namespace {

// The standard library's conversion (Eisel and Lemire's, with its exact
// fallback) of the number at `number`, whose sign, if any, is followed by a
// digit or a point; nullptr out of range, where the range rule decides.
const char* convert_standard(const char* number, const char* end, double& value) {
  const char* const first = number + (*number == '+' ? 1 : 0);  // it takes no "+"
  const auto [stop, ec] = std::from_chars(first, end, value, std::chars_format::general);
  return ec == std::errc() ? stop : nullptr;
}

}  // namespace

const char* scan_real(const char* p, const char* const end, double& value) {
  // One pass over the usual form: sign, digits, point, digits, exponent. Up
  // to 19 significant digits gather into a 64-bit integer w, the point and
  // the exponent into a power of ten q. When w is below 2^53 and q within
  // ±22, both are doubles exactly: one multiplication or division rounds
  // once, to nearest, which is the exact result (Clinger's fast path). Else,
  // as for the 17 digits of a time as Praat writes it, Eisel and Lemire's
  // products decide; the rare number that they cannot, and longer ones, go
  // to the standard library.
  const char* const number = p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* const digits_begin = p;
  while (p != end && *p == '0') ++p;  // leading zeros carry no digit
  std::uint64_t mantissa = 0;
  const char* const int_begin = p;
  p = gather_digits(p, end, mantissa);
  std::size_t significant = static_cast<std::size_t>(p - int_begin);
  long long exponent = 0;
  bool any_digit = p != digits_begin;
  if (p != end && *p == '.') {
    ++p;
    const char* const frac_begin = p;
    if (mantissa == 0) {
      while (p != end && *p == '0') ++p;
    }
    const char* const frac_significant = p;
    p = gather_digits(p, end, mantissa);
    significant += static_cast<std::size_t>(p - frac_significant);
    exponent = -static_cast<long long>(p - frac_begin);
    any_digit = any_digit || p != frac_begin;
  }
  if (!any_digit) return nullptr;
  if (p != end && (*p | 0x20) == 'e') {
    ++p;
    bool exp_negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
      exp_negative = *p == '-';
      ++p;
    }
    if (p == end || !is_digit(*p)) return nullptr;  // an exponent without digits
    long long written = 0;
    while (p != end && is_digit(*p)) {
      if (written < 100'000) written = written * 10 + (*p - '0');
      ++p;
    }
    exponent += exp_negative ? -written : written;
  }
  // 19 digits always fit in 64 bits; more may have wrapped.
  if (significant > 19) return convert_standard(number, end, value);
  if (mantissa == 0) {
    value = negative ? -0.0 : 0.0;
    return p;
  }
  if (mantissa <= kExactMantissa && exponent >= -22 && exponent <= 22) {
    const auto m = static_cast<double>(mantissa);
    const double v = exponent < 0 ? m / kExactPowers[-exponent] : m * kExactPowers[exponent];
    value = negative ? -v : v;
    return p;
  }
  if (exponent >= kEiselLemireMinExponent && exponent <= kEiselLemireMaxExponent &&
      eisel_lemire(mantissa, static_cast<int>(exponent), negative, value)) {
    return p;
  }
  return convert_standard(number, end, value);
}

double parse_trimmed_real(std::string_view s) {
  const char* const end = s.data() + s.size();
  double value = 0.0;
  if (scan_real(s.data(), end, value) == end) return value;
  // Well formed but out of the fast paths' reach, or no number at all: the
  // general conversion decides, as it always has.
  return detail::parse_real_general(s);
}

double parse_real(std::string_view value) {
  return parse_trimmed_real(trim(value));
}

std::uint64_t parse_trimmed_count(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return 0;
  std::uint64_t count = 0;
  for (const char c : s) {
    if (!is_digit(c)) return 0;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (count > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return 0;
    count = count * 10 + digit;
  }
  return count;
}

std::uint64_t parse_count(std::string_view value) {
  return parse_trimmed_count(trim(value));
}

}  // namespace textgrid
