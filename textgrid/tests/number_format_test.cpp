#include "number_format.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace textgrid {
namespace {

struct FormCase {
  double value;
  const char* text;
};

class number_form : public ::testing::TestWithParam<FormCase> {};

TEST_P(number_form, positional_shortest) { EXPECT_EQ(format_time(GetParam().value), GetParam().text); }

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
      const auto [end, ec] = std::to_chars(shorter, shorter + sizeof shorter, value,
                                           std::chars_format::scientific, static_cast<int>(digits) - 2);
      ASSERT_EQ(ec, std::errc{});
      EXPECT_NE(parse(std::string(shorter, end)), value) << text << " is not the shortest";
    }
  }
}

}  // namespace
}  // namespace textgrid
