#include "text/number_format.hpp"

#include <algorithm>
#include <array>
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
constexpr int floor_log10_pow2(int e) {
  return (e * 78913) >> 18;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void put_four_digits(char* out, std::uint32_t value) {
  std::memcpy(out, kDigitPairs + (value / 100) * 2, 2);
  std::memcpy(out + 2, kDigitPairs + (value % 100) * 2, 2);
}

// Writes the decimal digits of `value` so that they end at the end of
// `buffer`, and returns where they start: eight digits per 64-bit division,
// the rest by pairs in 32 bits.
const char* put_decimal(char (&buffer)[20], std::uint64_t value) {
  char* start = buffer + sizeof buffer;
  while (value >= 100000000) {
    const auto chunk = static_cast<std::uint32_t>(value % 100000000);
    value /= 100000000;
    start -= 8;
    put_four_digits(start, chunk / 10000);
    put_four_digits(start + 4, chunk % 10000);
  }
  auto rest = static_cast<std::uint32_t>(value);
  while (rest >= 100) {
    start -= 2;
    std::memcpy(start, kDigitPairs + (rest % 100) * 2, 2);
    rest /= 100;
  }
  if (rest >= 10) {
    start -= 2;
    std::memcpy(start, kDigitPairs + rest * 2, 2);
  } else {
    *--start = static_cast<char>('0' + rest);
  }
  return start;
}

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
  char buffer[20];
  const char* digits = put_decimal(buffer, m);
  const auto count = static_cast<std::size_t>(buffer + sizeof buffer - digits);
  return place_point(out, digits, count, static_cast<int>(count) - places);
}

#ifdef __SIZEOF_INT128__
__extension__ using Wide = unsigned __int128;

// 10^k for k <= 21, the largest the short interval way below needs.
constexpr auto kWidePowersOfTen = [] {
  std::array<Wide, 22> powers{};
  Wide p = 1;
  for (Wide& power : powers) {
    power = p;
    p *= 10;
  }
  return powers;
}();

// The shortest digits by exact integer arithmetic, for a positive normal
// `magnitude` in [2^-17, 2^52) that is not a power of two (there the gap
// below is half the gap above). Writing the value as M x 2^q, the decimals
// that read back as it are those within half a gap of it (both ends included
// when M is even, the reading ties to even). Scaled by the 10^k that makes the
// gap 1 to 10 units, these form a range of integers [a, b], never empty; the
// shortest is the multiple of the largest power of ten in it (one at most
// once that power passes 1), else the integer nearest to the value, ties to
// even. Returns null outside that ground.
char* put_shortest_by_interval(char* out, double magnitude, int exponent) {
  constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
  const std::uint64_t mantissa =
      (std::bit_cast<std::uint64_t>(magnitude) & (kHidden - 1)) | kHidden;
  if (mantissa == kHidden || exponent < -17 || exponent >= 52) return nullptr;
  const int q = exponent - 52;             // magnitude = mantissa x 2^q, q in [-69, -1]
  const int k = floor_log10_pow2(-q) + 1;  // 10^k x 2^q in (1, 10)
  const int shift = 1 - q;                 // everything over 2^shift, in half gaps
  const Wide half_gap =
      kWidePowersOfTen[static_cast<std::size_t>(k)];  // 2^q / 2 x 10^k, over 2^shift
  const Wide center = Wide{mantissa} * half_gap * 2;
  const Wide mask = (Wide{1} << shift) - 1;
  const bool ends_included = mantissa % 2 == 0;
  const Wide low = center - half_gap;
  const Wide high = center + half_gap;
  auto a = static_cast<std::uint64_t>(low >> shift);
  if ((low & mask) != 0 || !ends_included) ++a;
  auto b = static_cast<std::uint64_t>(high >> shift);
  if ((high & mask) == 0 && !ends_included) --b;
  if (a > b) return nullptr;
  int places = k;
  std::uint64_t digits_value;
  if ((a + 9) / 10 <= b / 10) {
    // A multiple of ten lies in the range; keep going while a multiple of the
    // next power does. The gap is under 10 units: one candidate from here on.
    do {
      a = (a + 9) / 10;
      b /= 10;
      --places;
    } while ((a + 9) / 10 <= b / 10);
    digits_value = a;
  } else {
    std::uint64_t nearest = static_cast<std::uint64_t>(center >> shift);
    const Wide rest = center & mask;
    const Wide half = Wide{1} << (shift - 1);
    if (rest > half || (rest == half && nearest % 2 == 1)) ++nearest;
    if (nearest < a || nearest > b) return nullptr;
    digits_value = nearest;
  }
  char buffer[20];
  const char* digits = put_decimal(buffer, digits_value);
  const auto count = static_cast<std::size_t>(buffer + sizeof buffer - digits);
  return place_point(out, digits, count, static_cast<int>(count) - places);
}
#endif

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
  if (field == 0x7ff) return 4;                            // "-inf", "NaN"
  if ((bits << 1) == 0) return 2;                          // "-0"
  if (field == 0) return kTimeBufferSize;                  // subnormals: rare
  const int exponent = field - 1023;                       // 2^exponent <= |value|
  const int highest = floor_log10_pow2(exponent + 1) + 1;  // decimal exponent, rounded up
  const int lowest = floor_log10_pow2(exponent);           // and the lowest it can be
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
#ifdef __SIZEOF_INT128__
    if (char* end = put_shortest_by_interval(start, std::fabs(value), exponent)) return end;
#endif
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
