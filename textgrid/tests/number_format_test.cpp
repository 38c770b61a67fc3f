#include "text/number_format.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace textgrid {
namespace {

struct FormCase {
  double value;
  const char* text;
};

class number_form : public ::testing::TestWithParam<FormCase> {};

TEST_P(number_form, positional_shortest) {
  EXPECT_EQ(format_time(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    cases, number_form,
    ::testing::Values(
        FormCase{0.0, "0"}, FormCase{-0.0, "-0"}, FormCase{1.0, "1"}, FormCase{3.0, "3"},
        FormCase{0.1, "0.1"}, FormCase{0.25, "0.25"}, FormCase{2.5, "2.5"}, FormCase{-2.5, "-2.5"},
        FormCase{1e-7, "0.0000001"}, FormCase{0.1 + 0.2, "0.30000000000000004"},
        FormCase{1e21, "1000000000000000000000"}, FormCase{1e23, "100000000000000000000000"},
        FormCase{123456.789, "123456.789"}, FormCase{1234567890123456789.0, "1234567890123456800"},
        FormCase{0.000001, "0.000001"}, FormCase{100.0, "100"}, FormCase{1.5e-10, "0.00000000015"},
        FormCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
        FormCase{-std::numeric_limits<double>::quiet_NaN(), "NaN"},
        FormCase{std::numeric_limits<double>::infinity(), "inf"},
        FormCase{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(number_form, smallest_subnormal_in_full) {
  const std::string text = format_time(5e-324);
  EXPECT_EQ(text, "0." + std::string(323, '0') + "5");
}

TEST(number_form, largest_double_in_full) {
  const std::string text = format_time(std::numeric_limits<double>::max());
  EXPECT_EQ(text, "17976931348623157" + std::string(292, '0'));
}

double parse(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_EQ(ec, std::errc{}) << text;
  EXPECT_EQ(end, text.data() + text.size()) << text;
  return value;
}

std::size_t significant_digits(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 1;
  const std::size_t last = digits.find_last_not_of('0');
  return last - first + 1;
}

// Every finite double, drawn over the whole bit range and over everyday
// magnitudes: no exponent, reads back exactly, and no shorter digit string
// would (the correctly rounded one with one digit fewer already fails).
TEST(number_form, random_doubles_round_trip_and_are_shortest) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> everyday(0.0, 10000.0);
  for (int i = 0; i < 200000; ++i) {
    double value = (i % 2 == 0) ? std::bit_cast<double>(random()) : everyday(random);
    if (!std::isfinite(value)) continue;
    const std::string text = format_time(value);
    ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    const double back = parse(text);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;
    const std::size_t digits = significant_digits(text);
    if (digits > 1) {
      char shorter[64];
      const auto [end, ec] =
          std::to_chars(shorter, shorter + sizeof shorter, value, std::chars_format::scientific,
                        static_cast<int>(digits) - 2);
      ASSERT_EQ(ec, std::errc{});
      EXPECT_NE(parse(std::string(shorter, end)), value) << text << " is not the shortest";
    }
  }
}

// The formatter as it was before the short way for values with few digits:
// scientific shortest digits from to_chars, placed positionally. Every value
// must come out of format_time byte for byte as it comes out of this.
std::string reference_format(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char scientific[32];
  const auto [end, ec] = std::to_chars(scientific, scientific + sizeof scientific, value,
                                       std::chars_format::scientific);
  EXPECT_EQ(ec, std::errc{});
  std::string out;
  const char* p = scientific;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  std::string digits;
  while (p < end && *p != 'e') {
    if (*p != '.') digits += *p;
    ++p;
  }
  int exponent = 0;
  std::from_chars(p[1] == '+' ? p + 2 : p + 1, end, exponent);
  const int point = exponent + 1;
  if (point <= 0) {
    out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (static_cast<std::size_t>(point) >= digits.size()) {
    out += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
           digits.substr(static_cast<std::size_t>(point));
  }
  return out;
}

// Values where the short way starts, stops or could pick a wrong neighbour:
// few decimals, integers up to and past 2^53, powers of ten and halves, the
// doubles next to each, subnormals; both signs.
std::vector<double> edge_doubles() {
  std::vector<double> seeds = {0.0,
                               0.5,
                               1.0,
                               0.1,
                               0.3,
                               0.7,
                               2.5,
                               1e-7,
                               1e-5,
                               123456.789,
                               4503599627370495.0,
                               4503599627370496.0,
                               4503599627370497.0,
                               9007199254740991.0,
                               9007199254740992.0,
                               9007199254740993.0,
                               5e-324,
                               2.2250738585072014e-308,
                               2.2250738585072009e-308,
                               std::numeric_limits<double>::max()};
  for (int e = -30; e <= 30; ++e) seeds.push_back(std::pow(10.0, e));
  for (int e = -1074; e <= 1023; ++e) seeds.push_back(std::ldexp(1.0, e));
  for (std::uint64_t m = 1; m < 100000; m = m * 3 + 1)
    for (int k = 0; k <= 22; ++k) seeds.push_back(static_cast<double>(m) / std::pow(10.0, k));
  // Every digit count against every place of the point, the digits written
  // straight into place: integer and fraction parts of each length, leading
  // zeros inside the fraction.
  std::mt19937_64 random(77);
  for (int digits = 1; digits <= 17; ++digits) {
    const auto low = static_cast<std::uint64_t>(std::pow(10.0, digits - 1));
    for (int draw = 0; draw < 20; ++draw) {
      const std::uint64_t m = low + random() % (low * 9);
      for (int k = 0; k <= 22; ++k) seeds.push_back(static_cast<double>(m) / std::pow(10.0, k));
    }
  }
  std::vector<double> values;
  for (const double seed : seeds) {
    for (const double v : {seed, std::nextafter(seed, 0.0), std::nextafter(seed, HUGE_VAL)}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  return values;
}

// Random bit patterns, times in everyday ranges at full precision and rounded
// to 0-9 decimals (the few-digit way's own ground), magnitudes spread evenly
// over 1e-7 .. 1e17 at full precision and their neighbours (the exact integer
// way's ground and its edges), and the edges above.
TEST(number_form, same_bytes_as_the_reference_formatter) {
  std::mt19937_64 random(1208);
  std::uniform_real_distribution<double> everyday(0.0, 100000.0);
  std::uniform_real_distribution<double> magnitude(-7.0, 17.0);
  std::uniform_int_distribution<int> decimals(0, 9);
  std::vector<double> values = edge_doubles();
  for (int i = 0; i < 400000; ++i) {
    double value = everyday(random);
    switch (i % 4) {
      case 0: value = std::bit_cast<double>(random()); break;
      case 1: {
        const double scale = std::pow(10.0, decimals(random));
        value = std::round(value * scale) / scale;
        break;
      }
      case 2: {
        value = std::pow(10.0, magnitude(random));
        if (i % 3 != 0) value = std::nextafter(value, i % 3 == 1 ? 0.0 : HUGE_VAL);
        break;
      }
      default: break;
    }
    values.push_back(value);
  }
  std::size_t checked = 0;
  for (const double value : values) {
    char buffer[kTimeBufferSize];
    const std::size_t size = write_time(buffer, value);
    ASSERT_EQ(std::string(buffer, size), reference_format(value))
        << std::bit_cast<std::uint64_t>(value);
    ASSERT_LE(size, time_size_bound(value)) << buffer;
    ++checked;
  }
  EXPECT_GT(checked, 400000u);
}

// put_time stays within the bound it was given and writes nothing beyond.
TEST(number_form, put_time_ends_where_it_says) {
  for (const double value :
       {0.0, -0.0, 0.25, -1e-7, 1e23, 5e-324, -std::numeric_limits<double>::max()}) {
    std::string buffer(time_size_bound(value) + 1, '#');
    char* end = put_time(buffer.data(), value);
    const auto size = static_cast<std::size_t>(end - buffer.data());
    EXPECT_EQ(buffer.substr(0, size), format_time(value));
    EXPECT_EQ(buffer.substr(size), std::string(buffer.size() - size, '#'));
  }
}

}  // namespace
}  // namespace textgrid
