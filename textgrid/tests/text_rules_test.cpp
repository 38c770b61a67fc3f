#include "text/text_rules.hpp"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_files.hpp"

namespace textgrid {
namespace {

using testing::TempDir;

constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> out;
  LineCursor cursor(text);
  std::string_view line;
  while (cursor.next(line)) out.emplace_back(line);
  return out;
}

TEST(trim, removes_every_white_space_character_and_nothing_else) {
  const std::vector<std::string> spaces = {
      "\t",     "\n",     "\v",     "\f",     "\r",     " ",      "\u0085", "\u00a0", "\u1680",
      "\u2000", "\u2005", "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"};
  for (const auto& s : spaces) {
    EXPECT_EQ(trim(s + s + "x y" + s), "x y") << "U+" << s;
  }
  // Not White_Space: the byte-order mark, NUL, U+200B, U+180E, and the first
  // bytes of a space's encoding that do not form it.
  const std::vector<std::string> not_spaces = {"\ufeff", std::string(1, '\0'), "\u200b", "\u180e",
                                               "\u2010"};
  for (const std::string& s : not_spaces) {
    EXPECT_EQ(trim(s + "x" + s), s + "x" + s);
  }
  EXPECT_EQ(trim(" \xC2"), "\xC2");
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim_start("  a  "), "a  ");
  EXPECT_EQ(trim_end("  a  "), "  a");
}

TEST(line_cursor, splits_at_every_line_end) {
  EXPECT_TRUE(lines_of("").empty());
  EXPECT_EQ(lines_of("a\nb\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(lines_of("a\r\nb"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(lines_of("a\n\n  \t\nb"), (std::vector<std::string>{"a", "", "", "b"}));
  EXPECT_EQ(lines_of("\n"), (std::vector<std::string>{""}));
  EXPECT_EQ(lines_of("a\rb\r\rc\r"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(lines_of("a\r\r\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(lines_of("  x = 1 \r\n"), (std::vector<std::string>{"x = 1"}));
}

TEST(parse_kv, splits_at_first_equals_sign) {
  using Pair = std::pair<std::string_view, std::string_view>;
  EXPECT_EQ(parse_kv("xmin = 0"), (Pair{"xmin", "0"}));
  EXPECT_EQ(parse_kv("xmin ="), (Pair{"xmin", ""}));
  EXPECT_EQ(parse_kv("= 1"), (Pair{"", "1"}));
  EXPECT_EQ(parse_kv("text = \"a = b\""), (Pair{"text", "\"a = b\""}));
  EXPECT_EQ(parse_kv("intervals: size = 3"), (Pair{"intervals: size", "3"}));
  EXPECT_FALSE(parse_kv("item [1]:").has_value());
}

struct UnquoteCase {
  const char* value;
  const char* text;
};

class unquote_single_line : public ::testing::TestWithParam<UnquoteCase> {};

TEST_P(unquote_single_line, praat_doubled_quotes) {
  EXPECT_EQ(unquote(GetParam().value), GetParam().text);
  std::string bytes = GetParam().value;
  EXPECT_EQ(unquote_in_place(bytes.data(), bytes.size()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    unquote, unquote_single_line,
    ::testing::Values(UnquoteCase{R"("abc")", "abc"}, UnquoteCase{R"("")", ""},
                      UnquoteCase{R"("""")", "\""}, UnquoteCase{R"("""hEl@U")", "\"hEl@U"},
                      UnquoteCase{R"("say ""hi""")", "say \"hi\""},
                      UnquoteCase{R"("end""")", "end\""}, UnquoteCase{R"("a\"b")", R"(a\"b)"},
                      UnquoteCase{R"(" a b ")", " a b "},
                      UnquoteCase{"IntervalTier", "IntervalTier"},
                      UnquoteCase{R"(a"b")", R"(a"b")"}, UnquoteCase{"", ""},
                      // Not closed on its line: the rest after the opening quote.
                      UnquoteCase{R"("abc)", "abc"}, UnquoteCase{R"(")", ""},
                      UnquoteCase{R"("ab""")", "ab\""}, UnquoteCase{R"("ab"")", "ab\""},
                      // A backslash is no escape: an even run of quotes after it
                      // leaves the text open, and alone on its line the value is
                      // that line with pairs turned into one.
                      UnquoteCase{R"("a\"")", R"(a\")"}, UnquoteCase{R"("\"")", R"(\")"},
                      UnquoteCase{R"("\"x\"")", R"(\"x\")"}, UnquoteCase{R"("C:\")", R"(C:\)"}));

// Reads the value on the first line through a cursor, as the readers do, and
// returns the text and the lines that remain.
std::pair<std::string, std::vector<std::string>> take_first(std::string_view text) {
  LineCursor cursor(text);
  std::string_view line;
  cursor.next(line);
  std::pair<std::string, std::vector<std::string>> out;
  out.first = cursor.take_text(line);
  while (cursor.next(line)) out.second.emplace_back(line);
  return out;
}

TEST(take_text, runs_over_lines_with_exact_bytes) {
  auto [text, rest] = take_first("\"two\nlines\" \nnext");
  EXPECT_EQ(text, "two\nlines");
  EXPECT_EQ(rest, (std::vector<std::string>{"next"}));

  std::tie(text, rest) = take_first("\"a  \r\n  b \"\"x\"\" \r\n c\"\r\nnext\r\n");
  EXPECT_EQ(text, "a  \r\n  b \"x\" \r\n c");
  EXPECT_EQ(rest, (std::vector<std::string>{"next"}));

  // A line of two quotes is a quote inside the text, not its end.
  std::tie(text, rest) = take_first("\"\n\"\"\n\"");
  EXPECT_EQ(text, "\n\"\n");
  EXPECT_TRUE(rest.empty());

  // A backslash escapes nothing: "d\"" leaves the text open up to the next
  // line that ends in an odd run of quotes.
  std::tie(text, rest) = take_first("\"a \\\"b\\\" c\nd\\\"\"\ne\"\nnext");
  EXPECT_EQ(text, "a \\\"b\\\" c\nd\\\"\ne");
  EXPECT_EQ(rest, (std::vector<std::string>{"next"}));

  // Never closed: the first line only, and reading goes on with the next line.
  std::tie(text, rest) = take_first("\"open \"\"q\"\"\nb\"\"\nc");
  EXPECT_EQ(text, "open \"q\"");
  EXPECT_EQ(rest, (std::vector<std::string>{"b\"\"", "c"}));
}

TEST(take_text, keeps_line_numbers_true) {
  LineCursor cursor("\"a\nb\nc\"\nd\n\"e\nf\"");
  std::string_view line;
  ASSERT_TRUE(cursor.next(line));
  EXPECT_EQ(cursor.take_text(line), "a\nb\nc");
  EXPECT_EQ(cursor.line_number(), 3u);
  ASSERT_TRUE(cursor.next(line));
  EXPECT_EQ(line, "d");
  EXPECT_EQ(cursor.line_number(), 4u);
  ASSERT_TRUE(cursor.next(line));
  EXPECT_EQ(cursor.take_text(line), "e\nf");
  EXPECT_EQ(cursor.line_number(), 6u);
  EXPECT_TRUE(cursor.at_end());
}

struct RealCase {
  const char* text;
  double value;
};

class real_conversion : public ::testing::TestWithParam<RealCase> {};

TEST_P(real_conversion, accepted_grammar_only) {
  const double got = parse_real(GetParam().text);
  const double want = GetParam().value;
  EXPECT_EQ(got, want) << '"' << GetParam().text << '"';
  EXPECT_EQ(std::signbit(got), std::signbit(want)) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    parse_real, real_conversion,
    ::testing::Values(
        RealCase{"0", 0.0}, RealCase{"2.5", 2.5}, RealCase{" 2.5 ", 2.5}, RealCase{"+2.5", 2.5},
        RealCase{"-2.5", -2.5}, RealCase{".5", 0.5}, RealCase{"5.", 5.0}, RealCase{"-.5", -0.5},
        RealCase{"1e-3", 0.001}, RealCase{"1E+3", 1000.0}, RealCase{"2.5e2", 250.0},
        RealCase{"0.3333333333333333", 1.0 / 3.0}, RealCase{"-0", -0.0}, RealCase{"0.1", 0.1},
        RealCase{"1e400", kInf}, RealCase{"-1e400", -kInf}, RealCase{"1e-400", 0.0},
        RealCase{"-1e-400", -0.0}, RealCase{"4.9e-324", 4.9e-324},
        RealCase{"0.000000001e-320", 0.0}, RealCase{"12345678901234567890e300", kInf},
        // Rounding at both ends of the range: to the nearest value, not to 0 or inf.
        RealCase{"3e-324", 4.9406564584124654e-324}, RealCase{"2.4703282292062327e-324", 0.0},
        RealCase{"1.7976931348623158e308", 1.7976931348623157e308},
        RealCase{"1.7976931348623159e308", kInf}, RealCase{"0e999999", 0.0},
        RealCase{"1e99999999999999999999", kInf}, RealCase{"inf", kInf},
        RealCase{"-Infinity", -kInf}, RealCase{"+INF", kInf},
        // Anything else gives 0.
        RealCase{"", 0.0}, RealCase{"1,5", 0.0}, RealCase{"0x10", 0.0}, RealCase{".", 0.0},
        RealCase{"1e", 0.0}, RealCase{"1e+", 0.0}, RealCase{"e5", 0.0}, RealCase{"1 000", 0.0},
        RealCase{"1_000", 0.0}, RealCase{"--1", 0.0}, RealCase{"+-1", 0.0},
        RealCase{"infinit", 0.0}, RealCase{"infx", 0.0}, RealCase{"nan(1)", 0.0},
        RealCase{"1.5s", 0.0}, RealCase{"\"1\"", 0.0}));

TEST(parse_real, nan_in_any_case) {
  for (const char* s : {"nan", "NaN", "-nan", "+NAN", " nan "}) {
    EXPECT_TRUE(std::isnan(parse_real(s))) << s;
  }
}

struct CountCase {
  const char* text;
  std::uint64_t value;
};

class count_conversion : public ::testing::TestWithParam<CountCase> {};

TEST_P(count_conversion, unsigned_decimal_only) {
  EXPECT_EQ(parse_count(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    parse_count, count_conversion,
    ::testing::Values(CountCase{"3", 3}, CountCase{" 3 ", 3}, CountCase{"+3", 3},
                      CountCase{"007", 7}, CountCase{"18446744073709551615", UINT64_MAX},
                      CountCase{"18446744073709551616", 0}, CountCase{"99999999999999999999", 0},
                      CountCase{"3.0", 0}, CountCase{"-1", 0}, CountCase{"-0", 0}, CountCase{"", 0},
                      CountCase{"+", 0}, CountCase{"-", 0}, CountCase{"++3", 0},
                      CountCase{"1e3", 0}, CountCase{"3 4", 0}));

TEST(file_stem, last_component_before_last_dot) {
  EXPECT_EQ(file_stem("/data/a.b.TextGrid"), "a.b");
  EXPECT_EQ(file_stem("/data/.hidden"), ".hidden");
  EXPECT_EQ(file_stem("/data/name."), "name");
  EXPECT_EQ(file_stem("plain"), "plain");
  EXPECT_EQ(file_stem("dir.x/plain"), "plain");
  EXPECT_EQ(file_stem("w\u00f6rter.TextGrid"), "w\u00f6rter");
}

TEST(long_layout_marker, only_at_start_of_line_after_blanks) {
  EXPECT_TRUE(has_long_layout_marker("size = 1\nitem []: \n"));
  EXPECT_TRUE(has_long_layout_marker("item []"));
  EXPECT_TRUE(has_long_layout_marker("a\n \t item []:\n"));
  EXPECT_TRUE(has_long_layout_marker("x item []\n item []"));
  EXPECT_FALSE(has_long_layout_marker("\"item []\"\n\"a item []\"\n"));
  EXPECT_FALSE(has_long_layout_marker("item [1]:\nitems []"));
  EXPECT_FALSE(has_long_layout_marker(""));
  // Blanks or tabs before and inside the brackets, or none, as ELAN writes.
  EXPECT_TRUE(has_long_layout_marker("size = 1\nitem[]:\n"));
  EXPECT_TRUE(has_long_layout_marker("item [ ]"));
  EXPECT_TRUE(has_long_layout_marker("\titem\t[\t]\n"));
  EXPECT_TRUE(has_long_layout_marker("item [1]:\nitem[]"));
  EXPECT_FALSE(has_long_layout_marker("item[1]:\nitem [x]\nitemize []\nitem\n[]"));
  EXPECT_TRUE(has_long_layout_marker("item []x"));  // the marker begins the line
  EXPECT_FALSE(has_long_layout_marker("item [\n]\nitem"));
}

TEST(long_layout_header, first_value_line_is_xmin) {
  const std::string head = "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
  EXPECT_TRUE(has_long_layout_header(head + "xmin = 0\nxmax = 1\ntiers? <exists>\nsize = 0\n"));
  EXPECT_TRUE(has_long_layout_header(head + "  xmin=0"));
  EXPECT_TRUE(has_long_layout_header("a\rb\r\rxmin = 0\r"));
  EXPECT_FALSE(has_long_layout_header(head + "0\n1\n<exists>\n0\n"));
  EXPECT_FALSE(has_long_layout_header(head + "xmax = 1\nxmin = 0\n"));
  EXPECT_FALSE(
      has_long_layout_header("xmin = 0\nxmax = 1\n"));  // the first two lines are the header
  EXPECT_FALSE(has_long_layout_header(""));
}

TEST(headings, word_then_blanks_or_tabs_then_bracket) {
  EXPECT_EQ(heading_of("item [1]:", "item"), "1]:");
  EXPECT_EQ(heading_of("item[1]:", "item"), "1]:");
  EXPECT_EQ(heading_of("intervals \t [2]", "intervals"), "2]");
  EXPECT_EQ(heading_of("points [", "points"), "");
  EXPECT_EQ(heading_of("items [3]", "item"), std::nullopt);
  EXPECT_EQ(heading_of("item", "item"), std::nullopt);
  EXPECT_EQ(heading_of("item 1 [", "item"), std::nullopt);
  EXPECT_EQ(heading_of(" item [1]", "item"), std::nullopt);  // lines come trimmed
  EXPECT_TRUE(is_tier_list_marker("item []:"));
  EXPECT_TRUE(is_tier_list_marker("item[ \t]"));
  EXPECT_FALSE(is_tier_list_marker("item [1]"));
  EXPECT_FALSE(is_tier_list_marker("item ["));
}

TEST(read_text_file, os_errors_carry_number_and_kind) {
  TempDir dir;
  auto missing = read_text_file(dir.path("missing.TextGrid"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "No such file or directory (os error 2)");
  EXPECT_EQ(missing.error().kind, ErrorKind::NotFound);

  auto folder = read_text_file(dir.path(""));
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().message, "Is a directory (os error 21)");

  if (::geteuid() != 0) {  // root reads anything
    const std::string locked = dir.write("locked", "x");
    ::chmod(locked.c_str(), 0);
    auto denied = read_text_file(locked);
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().message, "Permission denied (os error 13)");
  }
}

TEST(read_text_file, utf8_kept_byte_for_byte) {
  TempDir dir;
  const std::string text = "\xEF\xBB\xBFh\u00e9\r\n\U0001F600";
  auto read = read_text_file(dir.write("a", text));
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, text);  // the UTF-8 byte-order mark stays
  auto empty = read_text_file(dir.write("e", ""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, "");
}

TEST(read_text_file, invalid_utf8_fails) {
  TempDir dir;
  // Stray continuation, overlong forms, a surrogate, above U+10FFFF, cut sequences.
  const std::vector<std::string> invalid = {"\xFF",         "a\x80",        "\xC0\xAF",
                                            "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                            "\xC3",         "\xE2\x82",     "\xF5\x80\x80\x80"};
  for (const std::string& bad : invalid) {
    auto read = read_text_file(dir.write("bad", "12345678" + bad + "12345678"));
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().message, "stream did not contain valid UTF-8");
    EXPECT_EQ(read.error().kind, ErrorKind::InvalidData);
  }
}

TEST(read_text_file, utf16_with_mark_decoded) {
  TempDir dir;
  // "h\u00e9\U0001F600\n" in both byte orders, after the mark.
  const std::string be("\xFE\xFF\x00h\x00\xE9\xD8\x3D\xDE\x00\x00\n", 12);
  const std::string le("\xFF\xFEh\x00\xE9\x00\x3D\xD8\x00\xDE\n\x00", 12);
  for (const auto& bytes : {be, le}) {
    auto read = read_text_file(dir.write("u16", bytes));
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(*read, "h\u00e9\U0001F600\n");
  }
  auto only_mark = read_text_file(dir.write("m", "\xFE\xFF"));
  ASSERT_TRUE(only_mark);
  EXPECT_EQ(*only_mark, "");
}

TEST(read_text_file, malformed_utf16_fails) {
  TempDir dir;
  const std::vector<std::string> bad = {
      std::string("\xFE\xFF\x00h\x00", 5),      // odd byte count
      std::string("\xFE\xFF\xD8\x3D\x00h", 6),  // high surrogate, then no low one
      std::string("\xFE\xFF\x00h\xD8\x3D", 6),  // high surrogate at the end
      std::string("\xFF\xFE\x00\xDE", 4),       // lone low surrogate
  };
  for (const auto& bytes : bad) {
    auto read = read_text_file(dir.write("bad16", bytes));
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().message, "stream did not contain valid UTF-16");
    EXPECT_EQ(read.error().kind, ErrorKind::InvalidData);
  }
}

}  // namespace
}  // namespace textgrid
