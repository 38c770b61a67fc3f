#include "number_format.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace textgrid {

namespace {

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kLargestExactPower = 22;

// floor(e * log10(2)), exact for |e| < 1650.
constexpr int floor_log10_pow2(int e) { return (e * 78913) >> 18; }

// Writes `count` digits of `digits` with the point placed `point` digits
// from the left: no point at or past the end (zeros fill up to it), "0." and
// leading zeros when it lies before the first digit.
char* place_point(char* out, const char* digits, std::size_t count, int point) {
  if (point <= 0) {
    std::memcpy(out, "0.", 2);
    out += 2;
    std::memset(out, '0', static_cast<std::size_t>(-point));
    out += -point;
    std::memcpy(out, digits, count);
    return out + count;
  }
  const auto before = static_cast<std::size_t>(point);
  if (before >= count) {
    std::memcpy(out, digits, count);
    out += count;
    std::memset(out, '0', before - count);
    return out + (before - count);
  }
  std::memcpy(out, digits, before);
  out += before;
  *out++ = '.';
  std::memcpy(out, digits + before, count - before);
  return out + (count - before);
}

// The short way, for a positive normal `magnitude` below 2^52 (binary
// exponent `exponent`) that is some integer m over 10^k. k is taken as large
// as keeps the spacing of doubles near the value below 10^-k: then m / 10^k is
// the only multiple of 10^-k that reads back as the value, so no decimal with
// fewer digits does, and among those of its length it is the one the
// shortest-digits rule picks. Returns null when the value has more digits than
// that (the exact way then decides).
char* put_few_digits(char* out, double magnitude, int exponent) {
  // Doubles near the value lie 2^(exponent - 52) apart; 10^k < 2^(52 - exponent).
  const int k = std::min(floor_log10_pow2(52 - exponent), kLargestExactPower);
  const double scaled = magnitude * kPowersOfTen[k];  // below 2^53
  std::uint64_t m = static_cast<std::uint64_t>(scaled + 0.5);
  // Both operands exact, the quotient correctly rounded: this is how the
  // decimal m / 10^k reads back.
  if (static_cast<double>(m) / kPowersOfTen[k] != magnitude) return nullptr;
  int places = k;
  while (places >= 8 && m % 100000000 == 0) {
    m /= 100000000;
    places -= 8;
  }
  while (places > 0 && m % 10 == 0) {
    m /= 10;
    --places;
  }
  char digits[20];
  const std::size_t count = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, m).ptr - digits);
  return place_point(out, digits, count, static_cast<int>(count) - places);
}

// The exact way, for any finite value: the shortest digits of the scientific
// form (the fixed form of to_chars would print the exact binary value of large
// numbers instead), placed positionally.
char* put_shortest(char* out, double value) {
  char scientific[32];
  const auto [end, ec] = std::to_chars(scientific, scientific + sizeof scientific, value,
                                       std::chars_format::scientific);
  (void)ec;  // 32 bytes always hold the shortest scientific form of a double
  const char* p = scientific;
  if (*p == '-') {
    *out++ = '-';
    ++p;
  }
  // The form is d[.ddd]e+XX or e-XXX: the exponent takes the last 4 or 5 bytes.
  const char* e = end - 4;
  if (*e != 'e') --e;
  char digits[20];
  digits[0] = p[0];
  std::size_t count = 1;
  if (e - p > 1) {
    const auto rest = static_cast<std::size_t>(e - p - 2);
    std::memcpy(digits + 1, p + 2, rest);
    count += rest;
  }
  int exponent = 0;
  for (const char* q = e + 2; q < end; ++q) exponent = exponent * 10 + (*q - '0');
  if (e[1] == '-') exponent = -exponent;
  // Digits before the point: d.ddd x 10^exponent has exponent + 1 of them.
  return place_point(out, digits, count, exponent + 1);
}

}  // namespace

std::size_t time_size_bound(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int field = static_cast<int>((bits >> 52) & 0x7ff);
  if (field == 0x7ff) return 4;                             // "-inf", "NaN"
  if ((bits << 1) == 0) return 2;                           // "-0"
  if (field == 0) return kTimeBufferSize;                   // subnormals: rare
  const int exponent = field - 1023;                        // 2^exponent <= |value|
  const int highest = floor_log10_pow2(exponent + 1) + 1;   // decimal exponent, rounded up
  const int lowest = floor_log10_pow2(exponent);            // and the lowest it can be
  // A sign, then at most 17 digits with a point, zeros up to the point of a
  // large value, or "0." and zeros before the digits of a small one.
  return static_cast<std::size_t>(1 + std::max({18, highest + 2, 18 - lowest}));
}

char* put_time(char* out, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int field = static_cast<int>((bits >> 52) & 0x7ff);
  if (field == 0x7ff) {
    if ((bits & ((std::uint64_t{1} << 52) - 1)) != 0) {
      std::memcpy(out, "NaN", 3);
      return out + 3;
    }
    if (value < 0) {
      std::memcpy(out, "-inf", 4);
      return out + 4;
    }
    std::memcpy(out, "inf", 3);
    return out + 3;
  }
  if ((bits << 1) == 0) {
    if (std::signbit(value)) *out++ = '-';
    *out = '0';
    return out + 1;
  }
  const int exponent = field - 1023;
  if (field != 0 && exponent < 52) {
    char* start = out;
    if (value < 0) *start++ = '-';
    if (char* end = put_few_digits(start, std::fabs(value), exponent)) return end;
  }
  return put_shortest(out, value);
}

std::size_t write_time(char (&buffer)[kTimeBufferSize], double value) {
  return static_cast<std::size_t>(put_time(buffer, value) - buffer);
}

void append_time(std::string& out, double value) {
  char buffer[kTimeBufferSize];
  out.append(buffer, write_time(buffer, value));
}

std::string format_time(double value) {
  std::string out;
  append_time(out, value);
  return out;
}

}  // namespace textgrid
