// The one-pass readers against the readers they replaced (tests/reference):
// on generated files full of the forms that take the slow paths, and on byte
// mutations of sample files, both give the same model or the same failure.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "formats/parser_chronological.hpp"
#include "formats/parser_long.hpp"
#include "formats/parser_short.hpp"
#include "reference_rules.hpp"
#include "test_files.hpp"
#include "text/text_input.hpp"

namespace textgrid {
namespace {

std::string bits_of(double x) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%016llx",
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(x)));
  return buffer;
}

// The whole outcome of a read, every time to the bit.
std::string outcome(const Result<TextGrid>& read) {
  if (!read) {
    return "error " + std::to_string(static_cast<int>(read.error().kind)) + " " +
           read.error().message;
  }
  const TextGrid& grid = *read;
  std::string out = grid.name + " " + bits_of(grid.tmin) + " " + bits_of(grid.tmax) + " " +
                    std::to_string(grid.size) + "\n";
  for (const Tier& tier : grid.tiers) {
    out += (tier.is_interval ? "I [" : "P [") + tier.name + "] " + bits_of(tier.tmin) + " " +
           bits_of(tier.tmax) + " " + std::to_string(tier.size) + "\n";
    for (const Item& item : tier.items) {
      out += "  " + bits_of(item.tmin) + " " + bits_of(item.tmax) + " [" + item.text + "]\n";
    }
  }
  return out;
}

// Reads `text` with both long readers and both short readers, lenient and
// strict; returns the first disagreement, or "" when there is none.
// The reference readers end lines at line feeds only: a carriage return
// alone, which the readers now take as a line end as Praat does, is where
// they no longer read a text as it is meant.
bool has_lone_cr(std::string_view text) {
  for (std::size_t at = text.find('\r'); at != std::string_view::npos;
       at = text.find('\r', at + 1)) {
    if (at + 1 == text.size() || text[at + 1] != '\n') return true;
  }
  return false;
}

// The reference's long reader skips a key it does not know; the reader takes
// one in an item by its place among the item's values, as Praat takes every
// value. A text with a line whose key the layout does not have is where the
// two part.
bool has_unknown_key(std::string_view text) {
  static const std::vector<std::string_view> known = {
      "File type",       "Object class", "xmin",   "xmax", "size", "class", "name",
      "intervals: size", "points: size", "number", "text", "mark", "tiers?"};
  reference::LineCursor lines(text);
  std::string_view line;
  while (lines.next(line)) {
    const auto pair = reference::parse_kv(line);
    if (pair && std::find(known.begin(), known.end(), pair->first) == known.end()) {
      return true;
    }
  }
  return false;
}

std::string disagreement(const std::string& text) {
  if (has_lone_cr(text)) return "";
  for (const bool strict : {false, true}) {
    const std::string long_new = outcome(parse_long(text, "n", strict));
    const std::string long_old = outcome(reference::parse_long(text, "n", strict));
    if (long_new != long_old && !has_unknown_key(text))
      return "long, strict " + std::to_string(strict) + ":\n" + long_new + "\nreference:\n" +
             long_old;
    // A large text is read as two stretches from an item heading on: split
    // at line starts throughout, headings or not, it must read alike.
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    const std::size_t every = std::max<std::size_t>(1, lines / 40);
    std::size_t line = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
      if (line++ % every != 0) continue;
      auto in_two = detail::parse_long_view_in_two(text, "n", strict, at + 1);
      const std::string split = outcome(in_two ? Result<TextGrid>(in_two->to_textgrid())
                                               : std::unexpected(in_two.error()));
      if (split != long_new)
        return "long in two from " + std::to_string(at + 1) + ":\n" + split + "\nin one:\n" +
               long_new;
    }
    const std::string short_new = outcome(parse_short(text, "n", strict));
    const std::string short_old = outcome(reference::parse_short(text, "n", strict));
    if (short_new != short_old)
      return "short, strict " + std::to_string(strict) + ":\n" + short_new + "\nreference:\n" +
             short_old;
  }
  return "";
}

// Seeded TextGrid texts in both layouts, with every form that leaves the
// readers' fast paths: Unicode blanks, CR LF, quotes doubled and unclosed,
// labels over several lines, ELAN's headings, odd numbers and counts.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  std::string long_text() {
    std::string out =
        "File type = \"ooTextFile\"" + eol() + "Object class = \"TextGrid\"" + eol() + eol();
    out += key("xmin", number()) + key("xmax", number()) + "tiers? <exists> " + eol();
    const std::uint64_t tiers = pick(4);
    out += key("size", count(tiers)) + heading("item", "[]:");
    for (std::uint64_t t = 0; t < tiers; ++t) {
      const bool interval = pick(3) != 0;
      out += indent() + heading("item", "[" + std::to_string(t + 1) + "]:");
      out += indent() + key("class", interval  ? "\"IntervalTier\""
                                     : pick(6) ? "\"TextTier\""
                                     : pick(2) ? "TextTier"
                                               : "\"Foo\"");
      out += indent() + key("name", text());
      out += indent() + key("xmin", number()) + indent() + key("xmax", number());
      const std::uint64_t items = pick(6);
      out += indent() + key(interval ? "intervals: size" : "points: size", count(items));
      for (std::uint64_t i = 0; i < items; ++i) {
        std::string number_part = "[";
        number_part += std::to_string(i + 1);
        number_part += pick(3) ? "]:" : "]";
        out += indent() + heading(interval ? "intervals" : "points", number_part);
        if (interval) {
          out += indent() + key("xmin", number()) + indent() + key("xmax", number()) + indent() +
                 key("text", text());
        } else {
          out += indent() + key("number", number()) + indent() + key("mark", text());
        }
        if (pick(12) == 0) out += noise();
      }
    }
    return out;
  }

  std::string short_text() {
    std::string out =
        "File type = \"ooTextFile\"" + eol() + "Object class = \"TextGrid\"" + eol() + eol();
    out += value(number()) + value(number()) + value("<exists>");
    const std::uint64_t tiers = pick(4);
    out += value(count(tiers));
    for (std::uint64_t t = 0; t < tiers; ++t) {
      const bool interval = pick(3) != 0;
      out += value(interval ? "\"IntervalTier\"" : pick(6) ? "\"TextTier\"" : "\"textTier\"");
      out += value(text()) + value(number()) + value(number());
      const std::uint64_t items = pick(6);
      out += value(count(items));
      for (std::uint64_t i = 0; i < items; ++i) {
        out += value(number());
        if (interval) out += value(number());
        out += value(text());
        if (pick(20) == 0) out += eol();  // a blank line shifts every later value
      }
    }
    if (pick(4) == 0) out += noise();
    return out;
  }

  // Byte edits of `text`: bytes changed to ones the readers care about,
  // removed, or pieces of structure put in.
  std::string mutate(std::string text) {
    static const std::vector<std::string> pieces = {"\"",
                                                    "\"\"",
                                                    "\n",
                                                    "\r\n",
                                                    "\r",
                                                    " ",
                                                    "\t",
                                                    "=",
                                                    "[",
                                                    "]",
                                                    "0",
                                                    ".",
                                                    "e",
                                                    "-",
                                                    "+",
                                                    "\xC2\xA0",
                                                    "\xE3\x80\x80",
                                                    "\xE2\x80\xA8",
                                                    "item [",
                                                    "item[1]",
                                                    "intervals [",
                                                    "points [",
                                                    "item []",
                                                    "1e400",
                                                    "nan",
                                                    "\xC2",
                                                    "\x85"};
    const std::uint64_t edits = 1 + pick(4);
    for (std::uint64_t e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = pick(text.size());
      switch (pick(4)) {
        case 0: text.erase(at, 1 + pick(3)); break;
        case 1: text.insert(at, pieces[pick(pieces.size())]); break;
        case 2: text[at] = pieces[pick(pieces.size())][0]; break;
        default: text[at] = static_cast<char>(pick(256)); break;
      }
    }
    return text;
  }

 private:
  std::uint64_t pick(std::uint64_t n) { return rng_() % n; }

  template <class T>
  const T& one_of(const std::vector<T>& options) {
    return options[pick(options.size())];
  }

  std::string eol() {
    static const std::vector<std::string> ends = {"\n",  "\n",     "\n",        "\r\n",
                                                  " \n", "\t\r\n", "\xC2\xA0\n"};
    return one_of(ends);
  }

  std::string blank() {
    static const std::vector<std::string> blanks = {"",
                                                    "",
                                                    " ",
                                                    "    ",
                                                    "            ",
                                                    "\t",
                                                    "\xC2\xA0",
                                                    "\xE3\x80\x80",
                                                    " \xE2\x80\x83 ",
                                                    "\xE2\x80\xA8",
                                                    "\x0B",
                                                    "\xC2\x85"};
    return one_of(blanks);
  }

  std::string indent() { return pick(3) ? std::string(4 * (1 + pick(3)), ' ') : blank(); }

  std::string heading(const std::string& word, const std::string& rest) {
    static const std::vector<std::string> gaps = {" ", " ", " ", "", "  ", "\t", " \t"};
    std::string gap = one_of(gaps);
    if (pick(30) == 0) return word + "s " + rest + eol();  // no heading
    std::string r = rest;
    if (r == "[]:" && pick(8) == 0) r = "[ ]:";
    return word + gap + r + eol();
  }

  std::string key(const std::string& name, const std::string& v) {
    static const std::vector<std::string> equals = {" = ", " = ", "=",     "  =  ",
                                                    " =",  "= ",  "\t=\t", "\xC2\xA0=\xC2\xA0"};
    return name + one_of(equals) + v + (pick(2) ? " " : "") + eol();
  }

  std::string value(const std::string& v) { return blank() + v + blank() + eol(); }

  std::string number() {
    static const std::vector<std::string> odd = {"0",
                                                 "1",
                                                 "1.5",
                                                 "1e-3",
                                                 "1,5",
                                                 "+.5",
                                                 "-.5",
                                                 "5.",
                                                 ".",
                                                 "inf",
                                                 "-INF",
                                                 "Infinity",
                                                 "nan",
                                                 "1e400",
                                                 "-1e-400",
                                                 "4.9e-324",
                                                 "12345678901234567890123",
                                                 "0.12345678901234567890123",
                                                 "",
                                                 "x",
                                                 "0x10",
                                                 "1e",
                                                 "1e+",
                                                 "--1",
                                                 "1 000",
                                                 "9007199254740993",
                                                 "1.7976931348623159e308"};
    char buffer[40];
    switch (pick(4)) {
      case 0: return one_of(odd);
      case 1: {
        const double v =
            static_cast<double>(rng_() >> 11) / static_cast<double>(1ULL << (pick(53) + 1));
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return buffer;
      }
      case 2: {
        std::snprintf(buffer, sizeof buffer, "%.*g", static_cast<int>(1 + pick(17)),
                      static_cast<double>(pick(100000)) / 997.0);
        return buffer;
      }
      default: {
        std::string digits = std::to_string(rng_());
        digits.insert(pick(digits.size() + 1), ".");
        return digits;
      }
    }
  }

  std::string count(std::uint64_t n) {
    switch (pick(12)) {
      case 0: return std::to_string(n + 1);
      case 1: return "+" + std::to_string(n);
      case 2: return std::to_string(n) + ".0";
      case 3: return "-1";
      case 4: return "18446744073709551615";
      default: return std::to_string(n);
    }
  }

  std::string text() {
    static const std::vector<std::string> labels = {"",
                                                    "a",
                                                    "word",
                                                    "with space",
                                                    "a\"b",
                                                    "\"",
                                                    "\"\"",
                                                    "end\"",
                                                    "x = y",
                                                    "item [1]:",
                                                    "intervals [2]:",
                                                    "\xCA\x83\xC9\x99",
                                                    "two\nlines",
                                                    "three\r\nlines\nhere",
                                                    "quote at\n\"line start",
                                                    "\xC2\xA0padded\xE3\x80\x80",
                                                    "tab\tinside",
                                                    "x\n",
                                                    "\n"};
    std::string label = one_of(labels);
    if (pick(4) == 0) label += one_of(labels);
    std::string quoted;
    for (const char c : label) {
      quoted += c;
      if (c == '"') quoted += '"';
    }
    switch (pick(10)) {
      case 0: return label;                   // no quotes
      case 1: return "\"" + quoted;           // never closed
      case 2: return "\"" + quoted + "\"\"";  // closed by a pair: not closed
      default: return "\"" + quoted + "\"";
    }
  }

  std::string noise() {
    static const std::vector<std::string> lines = {
        "",   "items [3]:", "junk",   "= 5",         "xmin = 7",   "class = \"TextTier\"",
        "\"", "\"\"\"",     "item [", "intervals [", "points [9]", "size = 2"};
    return one_of(lines) + eol();
  }

  std::mt19937_64 rng_;
};

// Praat's chronological layout, with the same odd forms, comments and
// records that name tiers out of range.
std::string chronological_text(std::mt19937_64& rng) {
  const auto pick = [&](std::uint64_t n) { return rng() % n; };
  static const std::vector<std::string> blanks = {" ",  " ",    "  ",       "\t",
                                                  "\n", "\r\n", "\xC2\xA0", " ! a comment\n"};
  static const std::vector<std::string> numbers = {
      "0",   "1.5",   "0.8446411195698958",      "1e-3", "1,5", "+.5", "inf",
      "nan", "1e400", "12345678901234567890123", "",     "x"};
  static const std::vector<std::string> labels = {"\"\"",
                                                  "\"a\"",
                                                  "\"say \"\"hi\"\"\"",
                                                  "\"two\nlines\"",
                                                  "\"open",
                                                  "bare",
                                                  "\"\xCA\x83\"",
                                                  "\"a\"\"\"",
                                                  "\"x\" y",
                                                  "\"a label past eight bytes\"",
                                                  "\"longer than eight\"\"\"\"",
                                                  "\"eight bytes, then\na break\"",
                                                  "\"\xC3\xA9\x01\xE2\x80\x83 \t!x\"",
                                                  "bare\xC3\xA9word\x01longer\xC2\xA0"};
  const auto gap = [&] { return blanks[pick(blanks.size())]; };
  const auto number = [&] { return numbers[pick(numbers.size())]; };
  const auto label = [&] { return labels[pick(labels.size())]; };
  std::string out = "\"Praat chronological TextGrid text file\"\n";
  out += number() + gap() + number() + "   ! Time domain.\n";
  const std::uint64_t tiers = pick(4);
  out += std::to_string(tiers) + gap() + "! Number of tiers.\n";
  std::vector<bool> interval(tiers);
  for (std::uint64_t t = 0; t < tiers; ++t) {
    interval[t] = pick(3) != 0;
    out += (interval[t] ? "\"IntervalTier\""
            : pick(8)   ? "\"TextTier\""
                        : "\"Foo\"") +
           gap() + label() + gap() + number() + gap() + number() + "\n";
  }
  // Now and then enough records for the reader to foretell the tiers' sizes.
  const std::uint64_t records = pick(40) == 0 ? 1000 + pick(100) : pick(12);
  for (std::uint64_t r = 0; r < records && tiers > 0; ++r) {
    const std::uint64_t t = pick(tiers + (pick(20) == 0 ? 2 : 0));
    out += "\n! item\n" + std::to_string(t + 1) + gap() + number();
    if (t < tiers && interval[t]) out += gap() + number();
    out += (pick(2) ? "\n" : gap()) + label() + "\n";
  }
  if (pick(10) == 0) out.resize(pick(out.size() + 1));
  return out;
}

// The reference's messages count tiers and items from 1 and call an item an
// interval or a point; the reader's count from 0, as all messages do.
std::string counted_from_zero(const std::string& message) {
  std::string out;
  std::size_t at = 0;
  while (at < message.size()) {
    bool renamed = false;
    for (const std::string_view word : {"interval ", "point ", "item ", "tier "}) {
      if (message.compare(at, word.size(), word) != 0) continue;
      std::size_t end = at + word.size();
      while (end < message.size() && std::isdigit(static_cast<unsigned char>(message[end]))) ++end;
      if (end == at + word.size()) break;
      out += word == "tier " ? "tier " : "item ";
      out +=
          std::to_string(std::stoull(message.substr(at + word.size(), end - at - word.size())) - 1);
      at = end;
      renamed = true;
      break;
    }
    if (!renamed) out += message[at++];
  }
  return out;
}

std::string chronological_disagreement(const std::string& text) {
  if (has_lone_cr(text)) return "";
  for (const bool strict : {false, true}) {
    const std::string now = outcome(parse_chronological(text, "n", strict));
    const std::string then = outcome(reference::parse_chronological(text, "n", strict));
    if (now.starts_with("error") && now != then && now == counted_from_zero(then)) continue;
    if (now != then)
      return "strict " + std::to_string(strict) + ":\n" + now + "\nreference:\n" + then;
  }
  return "";
}

TEST(reader_differential, chronological_files_read_as_the_reference_reads_them) {
  std::mt19937_64 rng(20261208);
  Generator mutations(11);
  std::vector<std::string> samples;
  for (const auto& entry : std::filesystem::directory_iterator(PLINTH_TEST_DATA_DIR)) {
    if (entry.path().string().find("chronological") == std::string::npos) continue;
    auto text = decode_text(testing::slurp(entry.path().string()));
    if (text) samples.push_back(std::move(*text));
  }
  ASSERT_GE(samples.size(), 2u);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = chronological_text(rng);
    ASSERT_EQ(chronological_disagreement(text), "") << text;
    ASSERT_EQ(chronological_disagreement(mutations.mutate(text)), "") << text;
  }
  for (int round = 0; round < 300; ++round) {
    for (const std::string& sample : samples) {
      const std::string text = mutations.mutate(sample);
      ASSERT_EQ(chronological_disagreement(text), "") << text;
    }
  }
}

TEST(reader_differential, generated_files_read_as_the_reference_reads_them) {
  Generator generate(20261208);
  for (int i = 0; i < 3000; ++i) {
    const std::string long_text = generate.long_text();
    ASSERT_EQ(disagreement(long_text), "") << long_text;
    const std::string short_text = generate.short_text();
    ASSERT_EQ(disagreement(short_text), "") << short_text;
  }
}

// Past a megabyte a text is read as two stretches: labels with doubled
// quotes and over several lines on both sides of the middle, and one that
// runs over the heading where the second stretch would begin.
TEST(reader_differential, large_files_read_as_the_reference_reads_them) {
  for (const std::size_t straddle : {std::size_t{0}, std::size_t{1}}) {
    std::string text =
        "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\nxmin = 0 \nxmax = 40000 \n"
        "tiers? <exists> \nsize = 2 \nitem []: \n";
    for (int tier = 1; tier <= 2; ++tier) {
      text += "    item [" + std::to_string(tier) +
              "]:\n        class = \"IntervalTier\" \n"
              "        name = \"t\"\"" +
              std::to_string(tier) +
              "\" \n        xmin = 0 \n"
              "        xmax = 40000 \n        intervals: size = 20000 \n";
      for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(i);
        std::string label;
        if (i % 7 == 0) {
          label.append("say \"\"w").append(n).append("\"\"");
        } else {
          label.append("w").append(n);
        }
        if (i % 11 == 0) label.append("\nsecond line");
        // Near the middle of the text, a label whose lines look like the
        // next item's heading.
        if (straddle == 1 && tier == 1 && i >= 19990) {
          label.append("\n        intervals [").append(std::to_string(i + 2)).append("]:");
        }
        text.append("        intervals [").append(std::to_string(i + 1)).append("]:\n");
        text.append("            xmin = ").append(std::to_string(2 * i)).append(" \n");
        text.append("            xmax = ").append(std::to_string(2 * i + 2)).append(" \n");
        text.append("            text = \"").append(label).append("\" \n");
      }
    }
    ASSERT_GT(text.size(), std::size_t{1} << 20);
    for (const bool strict : {false, true}) {
      ASSERT_EQ(outcome(parse_long(text, "n", strict)),
                outcome(reference::parse_long(text, "n", strict)));
    }
  }
}

TEST(reader_differential, mutated_files_read_as_the_reference_reads_them) {
  std::vector<std::string> samples;
  for (const auto* dir : {PLINTH_TEST_DATA_DIR, PLINTH_TEXTGRID_TEST_DIR "/expected"}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path().extension() != ".TextGrid") continue;
      auto text = decode_text(testing::slurp(entry.path().string()));
      if (text) samples.push_back(std::move(*text));
    }
  }
  ASSERT_GE(samples.size(), 10u);
  Generator generate(7);
  for (int i = 0; i < 400; ++i)
    samples.push_back(i % 2 ? generate.long_text() : generate.short_text());
  for (int round = 0; round < 8; ++round) {
    for (const std::string& sample : samples) {
      const std::string text = generate.mutate(sample);
      ASSERT_EQ(disagreement(text), "") << text;
    }
  }
}

}  // namespace
}  // namespace textgrid
