#include "text/numbers.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "reference_rules.hpp"

namespace textgrid {
namespace {

// How many random decimals the differential test reads; PLINTH_NUMBER_CASES
// sets more for a long run.
std::size_t case_count() {
  if (const char* env = std::getenv("PLINTH_NUMBER_CASES")) return std::strtoull(env, nullptr, 10);
  return 2'000'000;
}

std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

// A decimal as files hold them, and as they should not: a sign, up to 24
// digits with leading zeros and a point anywhere, an exponent near or far.
std::string random_decimal(std::mt19937_64& rng) {
  std::string s;
  const auto pick = [&](std::uint64_t n) { return rng() % n; };
  switch (pick(8)) {
    case 0: s += '-'; break;
    case 1: s += '+'; break;
    default: break;
  }
  const std::uint64_t digits = pick(4) == 0 ? 1 + pick(24) : 15 + pick(5);
  const std::uint64_t zeros = pick(4) == 0 ? pick(6) : 0;
  for (std::uint64_t i = 0; i < zeros; ++i) s += '0';
  std::string body;
  for (std::uint64_t i = 0; i < digits; ++i) body += static_cast<char>('0' + pick(10));
  if (pick(5) != 0)
    body.insert(body.begin() + static_cast<std::ptrdiff_t>(pick(body.size() + 1)), '.');
  s += body;
  switch (pick(6)) {
    case 0:
      s += 'e';
      s += std::to_string(static_cast<int>(pick(61)) - 30);
      break;
    case 1:
      s += pick(2) ? "E+" : "e-";
      s += std::to_string(pick(400));
      break;
    case 2:
      s += 'e';
      s += std::to_string(static_cast<int>(pick(45)) - 22);
      break;
    default: break;
  }
  return s;
}

// The standard library's reading of a well-formed decimal, when it is in range.
bool standard_reading(const std::string& s, double& out) {
  const char* first = s.data() + (s.front() == '+' ? 1 : 0);
  const char* last = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(first, last, out, std::chars_format::general);
  return ec == std::errc() && ptr == last;
}

// What follows a time in a file: its line's end, the next line's indentation
// and key, or a label's quote.
constexpr const char* kTails[] = {" \n            xmax = 1",    "\n", " ",
                                  "\r\n        intervals [2]:", "\"", "  \t \n"};

TEST(parse_trimmed_real, agrees_bit_for_bit_with_from_chars_and_the_reference) {
  std::mt19937_64 rng(20261208);
  const std::size_t n = case_count();
  std::size_t compared = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string s = random_decimal(rng);
    const double got = parse_trimmed_real(s);
    ASSERT_EQ(bits(got), bits(reference::parse_real(s))) << s;
    // Inside a file the number runs on into the rest of its line and the
    // lines after it: the scan stops where the number does, whatever it may
    // load beyond, or declines as it does for the number alone.
    const std::string in_file = s + kTails[i % std::size(kTails)];
    double scanned = 0.0;
    const char* stop = scan_real(in_file.data(), in_file.data() + in_file.size(), scanned);
    double alone = 0.0;
    const char* alone_stop = scan_real(s.data(), s.data() + s.size(), alone);
    ASSERT_EQ(stop == nullptr, alone_stop == nullptr) << s;
    if (stop != nullptr) {
      ASSERT_EQ(stop, in_file.data() + (alone_stop - s.data())) << s;
      ASSERT_EQ(bits(scanned), bits(alone)) << s;
    }
    // A well-formed number in range is read whole, to its last digit.
    double whole = 0.0;
    if (standard_reading(s, whole)) {
      ASSERT_EQ(stop, in_file.data() + s.size()) << s;
      ASSERT_EQ(bits(scanned), bits(got)) << s;
    }
    double standard = 0.0;
    if (standard_reading(s, standard)) {
      ASSERT_EQ(bits(got), bits(standard)) << s;
      ++compared;
    }
  }
  EXPECT_GT(compared, n / 2);
}

// Exact halfway cases, where a rounding off by one shows: an odd 54-bit
// integer rounds to even, written whole and divided by powers of two (each
// exactly a decimal of a few more digits).
TEST(parse_trimmed_real, halfway_cases_round_to_even) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t odd = ((std::uint64_t{1} << 53) + (rng() % (std::uint64_t{1} << 53))) | 1;
    for (int halvings = 0; halvings <= 12; ++halvings) {
      // odd / 2^h == odd * 5^h / 10^h: digits of odd * 5^h, point h from the end.
      unsigned __int128 scaled = odd;
      for (int k = 0; k < halvings; ++k) scaled *= 5;
      std::string digits;
      for (unsigned __int128 v = scaled; v != 0; v /= 10) {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
      }
      if (halvings > 0) digits.insert(digits.end() - halvings, '.');
      double standard = 0.0;
      ASSERT_TRUE(standard_reading(digits, standard)) << digits;
      ASSERT_EQ(bits(parse_trimmed_real(digits)), bits(standard)) << digits;
      ASSERT_EQ(bits(parse_trimmed_real("-" + digits)), bits(-standard)) << digits;
    }
  }
}

// Every double written with 17 significant digits, as Praat writes times,
// reads back to itself.
TEST(parse_trimmed_real, seventeen_digits_round_trip) {
  std::mt19937_64 rng(11);
  char buffer[64];
  for (int i = 0; i < 200000; ++i) {
    const double value =
        std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 90);
    const int n = std::snprintf(buffer, sizeof buffer, "%.17g", value);
    ASSERT_EQ(bits(parse_trimmed_real(std::string_view(buffer, static_cast<std::size_t>(n)))),
              bits(value))
        << buffer;
  }
}

struct OddCase {
  const char* text;
};

class odd_forms : public ::testing::TestWithParam<OddCase> {};

// Forms outside the fast paths read as the reference reads them.
TEST_P(odd_forms, read_as_the_reference_reads_them) {
  const std::string s = GetParam().text;
  const double got = parse_trimmed_real(s);
  const double want = reference::parse_real(s);
  EXPECT_TRUE(bits(got) == bits(want) || (std::isnan(got) && std::isnan(want))) << s;
  EXPECT_EQ(std::signbit(got), std::signbit(want)) << s;
}

INSTANTIATE_TEST_SUITE_P(
    parse_trimmed_real, odd_forms,
    ::testing::Values(OddCase{"1e-3"}, OddCase{"1,5"}, OddCase{"+.5"}, OddCase{"inf"},
                      OddCase{"-nan"}, OddCase{"1e400"}, OddCase{"-1e-400"}, OddCase{"4.9e-324"},
                      OddCase{"12345678901234567890123"}, OddCase{"0.12345678901234567890123"},
                      OddCase{"00000000000000000000000001"}, OddCase{"9007199254740993"},
                      OddCase{"18446744073709551615"}, OddCase{"18446744073709551616e-30"},
                      OddCase{"9999999999999999999e19"}, OddCase{"9999999999999999999e-19"},
                      OddCase{"1e22"}, OddCase{"1e23"}, OddCase{"-0.0e5"}, OddCase{"0."},
                      OddCase{"1e+"}, OddCase{"1e-"}, OddCase{"1.2.3"}, OddCase{"1e5x"},
                      OddCase{"12345678.12345678e"}, OddCase{"123456781234567x"}, OddCase{""},
                      OddCase{"-"}, OddCase{"."}, OddCase{"e3"}));

}  // namespace
}  // namespace textgrid
