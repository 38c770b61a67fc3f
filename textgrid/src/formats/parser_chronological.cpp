#include "formats/parser_chronological.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "text/text_rules.hpp"

namespace textgrid {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Where the reader stands.
enum class Section {
  InHeader,    // the first line, the time domain and the tier count
  InTierList,  // one line per tier: class, name, start and end time
  InRecords,   // the items of all tiers in time order, to the end
};

// The values of the layout, for the message when the file ends before one.
enum class Value {
  GridStart,
  GridEnd,
  TierCount,
  TierClass,
  TierName,
  TierStart,
  TierEnd,
  ItemStart,
  ItemEnd,
  ItemText,
  PointTime,
  PointMark,
};

// `tier` and `item` count from 1, as Praat numbers them.
std::string describe(Value what, std::size_t tier, std::size_t item) {
  const std::string of_tier = " of tier " + std::to_string(tier);
  const std::string of_interval = " of interval " + std::to_string(item) + of_tier;
  const std::string of_point = " of point " + std::to_string(item) + of_tier;
  switch (what) {
    case Value::GridStart: return "the start time of the TextGrid";
    case Value::GridEnd: return "the end time of the TextGrid";
    case Value::TierCount: return "the number of tiers";
    case Value::TierClass: return "the class" + of_tier;
    case Value::TierName: return "the name" + of_tier;
    case Value::TierStart: return "the start time" + of_tier;
    case Value::TierEnd: return "the end time" + of_tier;
    case Value::ItemStart: return "the start time" + of_interval;
    case Value::ItemEnd: return "the end time" + of_interval;
    case Value::ItemText: return "the text" + of_interval;
    case Value::PointTime: return "the time" + of_point;
    case Value::PointMark: return "the mark" + of_point;
  }
  return {};
}

bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The bytes at which a word may end: ASCII blanks, "!", and the lead bytes of
// the White_Space characters outside ASCII (U+0085 and U+00A0 begin with
// 0xC2, the others with 0xE1, 0xE2 or 0xE3), which need a closer look.
constexpr std::array<bool, 256> kWordStops = [] {
  std::array<bool, 256> stops{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r', '!'}) stops[c] = true;
  for (const int c : {0xC2, 0xE1, 0xE2, 0xE3}) stops[static_cast<std::size_t>(c)] = true;
  return stops;
}();

// The bytes that more() must look past or at closely before a token: the
// ASCII blanks, "!" and every byte outside ASCII.
constexpr std::array<bool, 256> kTokenSkips = [] {
  std::array<bool, 256> skips{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r', '!'}) skips[c] = true;
  for (int c = 0x80; c < 0x100; ++c) skips[static_cast<std::size_t>(c)] = true;
  return skips;
}();

// Hands out the tokens of the text: blank-separated words, and texts quoted in
// Praat's convention, which may hold blanks and line breaks. "!" where a token
// would begin starts a comment to the end of the line. Running past the end
// records an error that names the line of the last token and the value
// expected.
class Tokens {
 public:
  // Over `size` bytes at `text`, which the tokens may rewrite: a quoted text
  // is collapsed in place over its own bytes, which no later token reads.
  Tokens(char* text, std::size_t size) : text_(text, size), writable_(text) {}

  // Skips the first line, which the caller has checked.
  void skip_line() {
    const std::size_t newline = text_.find('\n');
    pos_ = newline == npos ? text_.size() : newline + 1;
    line_ = newline == npos ? 1 : 2;
  }

  // Whether a token is left; moves to its first byte. Inline for the common
  // case, a token right here or after one blank or line break.
  [[gnu::always_inline]] bool more() {
    if (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ' ') {
        ++pos_;
      } else if (c == '\n') {
        ++pos_;
        ++line_;
      }
    }
    if (pos_ < text_.size() && !kTokenSkips[static_cast<unsigned char>(text_[pos_])]) {
      token_line_ = line_;
      return true;
    }
    return more_slow();
  }

  // Whether a token is left once the words that cannot begin a number are
  // passed over, as Praat passes them over where a record's tier number is
  // due: its own comment line before a record ("! name:") runs on to further
  // lines when the tier name holds a line break. A quoted text or "<" stops
  // the skipping, and is then read as a tier number that is out of range.
  bool more_numbers() {
    while (more()) {
      const char c = text_[pos_];
      if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == '"' || c == '<') {
        return true;
      }
      std::string_view skipped;
      word(skipped, Value::ItemStart);
    }
    return false;
  }

  // Takes a number or a word: the token up to a blank or a comment.
  [[gnu::always_inline]] bool word(std::string_view& token, Value what, std::size_t tier = 0,
                                   std::size_t item = 0) {
    if (!more()) [[unlikely]]
      return end_of_file(what, tier, item);
    const char* const base = text_.data();
    const char* const end = base + text_.size();
    const char* p = base + pos_;
    for (;;) {
      // Eight bytes at a time to the first byte below "\"" (a blank, "!" and
      // the control bytes) or outside ASCII: only such bytes may stop a word.
      bool flagged = false;
      while (end - p >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, p, 8);
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        const std::uint64_t low = (chunk - 0x2222222222222222ULL) & ~chunk & kHighs;
        if (const std::uint64_t mask = low | (chunk & kHighs); mask != 0) {
          // The lowest flagged byte is exact (a borrow only runs upwards).
          if constexpr (std::endian::native == std::endian::little) {
            p += std::countr_zero(mask) >> 3;
            flagged = true;
          }
          break;
        }
        p += 8;
      }
      if (!flagged) {
        while (p != end && !kWordStops[static_cast<unsigned char>(*p)]) ++p;
      }
      if (p == end) break;
      const auto c = static_cast<unsigned char>(*p);
      if (kWordStops[c] && (c < 0x80 || is_unicode_space(static_cast<std::size_t>(p - base)))) {
        break;
      }
      ++p;
    }
    const auto stop = static_cast<std::size_t>(p - base);
    token = text_.substr(pos_, stop - pos_);
    pos_ = stop;
    return true;
  }

  // Takes a text. A quoted one ends at the first quote that is no doubled
  // quote (""), on its own line or a later one, as Praat reads it; when there
  // is none, it is the rest of its own line, as in the other readers. Any
  // other token is taken as it stands.
  [[gnu::always_inline]] bool text(std::string_view& out, Value what, std::size_t tier = 0,
                                   std::size_t item = 0) {
    if (!more()) [[unlikely]]
      return end_of_file(what, tier, item);
    if (text_[pos_] == '"') {
      // The common case: a lone quote closes the text on its own line; it is
      // the closer that find_closer would return, and nothing is collapsed.
      // Eight bytes at a time to the first quote or line feed.
      const char* const base = text_.data();
      const char* const from = base + pos_ + 1;
      const char* const end = base + text_.size();
      const char* p = from;
      bool found = false;
      if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        while (end - p >= 8) {
          std::uint64_t chunk;
          std::memcpy(&chunk, p, 8);
          const std::uint64_t quotes = chunk ^ (kOnes * '"');
          const std::uint64_t feeds = chunk ^ (kOnes * '\n');
          const std::uint64_t mask =
              ((quotes - kOnes) & ~quotes & kHighs) | ((feeds - kOnes) & ~feeds & kHighs);
          if (mask != 0) {
            p += std::countr_zero(mask) >> 3;
            found = true;
            break;
          }
          p += 8;
        }
      }
      if (!found) {
        while (p != end && *p != '"' && *p != '\n') ++p;
      }
      if (p != end && *p == '"' && (p + 1 == end || p[1] != '"')) {
        out = std::string_view(from, static_cast<std::size_t>(p - from));
        pos_ = static_cast<std::size_t>(p + 1 - base);
        return true;
      }
    }
    return text_slow(out, what, tier, item);
  }

  // text() for any other token: a word, or a quoted text that holds a quote
  // or a line break, or is not closed.
  [[gnu::noinline]] bool text_slow(std::string_view& out, Value what, std::size_t tier,
                                   std::size_t item) {
    if (text_[pos_] != '"') return word(out, what, tier, item);
    const std::size_t close = find_closer(pos_ + 1);
    std::size_t end = close + 1;
    if (close == npos) {
      const std::size_t newline = text_.find('\n', pos_);
      end = newline == npos ? text_.size() : newline;
    }
    const std::string_view quoted = text_.substr(pos_, end - pos_);
    // Lines are counted before the text is collapsed over its own bytes.
    line_ += static_cast<std::size_t>(std::count(quoted.begin(), quoted.end(), '\n'));
    const std::string_view raw = close == npos ? trim_end(quoted) : quoted;
    out = unquote_in_place(writable_ + pos_, raw.size());
    pos_ = end;
    return true;
  }

  // The text not yet looked at, and its offset.
  std::string_view rest() const { return text_.substr(pos_); }
  std::size_t offset() const { return pos_; }

  // The 1-based line of the last token taken.
  std::size_t line_number() const { return token_line_; }

  std::unexpected<Error> failure() { return std::unexpected(std::move(failure_)); }

 private:
  // more() past blanks, line breaks and comments.
  [[gnu::noinline]] bool more_slow() {
    const std::size_t size = text_.size();
    std::size_t at = pos_;
    std::size_t line = line_;
    while (at < size) {
      const char c = text_[at];
      if (c == ' ') {
        ++at;
      } else if (c == '\n') {
        ++line;
        ++at;
      } else if (is_ascii_space(c)) {
        ++at;
      } else if (c == '!') {
        const std::size_t newline = text_.find('\n', at);
        at = newline == std::string_view::npos ? size : newline;
      } else if (static_cast<unsigned char>(c) >= 0x80) {
        // The other Unicode White_Space characters separate tokens too.
        const std::string_view rest = text_.substr(at);
        const std::string_view after = trim_start(rest);
        if (after.size() == rest.size()) break;
        const std::size_t skipped = rest.size() - after.size();
        line += static_cast<std::size_t>(
            std::count(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(skipped), '\n'));
        at += skipped;
      } else {
        break;
      }
    }
    pos_ = at;
    line_ = line;
    if (at == size) return false;
    token_line_ = line;
    return true;
  }

  // Whether a White_Space character outside ASCII begins at `at` (at most
  // three bytes long in UTF-8).
  bool is_unicode_space(std::size_t at) const {
    const std::string_view piece = text_.substr(at, 3);
    return trim_start(piece).size() != piece.size();
  }

  // Returns the offset of the quote that closes a text whose inside begins
  // at `from`: the last of the first run of quotes of odd length, as pairs
  // stand for one quote each; npos when none. Linear over a whole read: once a
  // search from `from` found none, a later search can only end in the run of
  // quotes that it starts in, every later run being of even length.
  std::size_t find_closer(std::size_t from) {
    const auto run_end = [&](std::size_t q) {
      while (q < text_.size() && text_[q] == '"') ++q;
      return q;
    };
    if (none_from_ <= from) {
      const std::size_t end = run_end(from);
      return (end - from) % 2 == 1 ? end - 1 : npos;
    }
    for (std::size_t q = text_.find('"', from); q != npos; q = text_.find('"', q)) {
      const std::size_t end = run_end(q);
      if ((end - q) % 2 == 1) return end - 1;
      q = end;
    }
    none_from_ = from;
    return npos;
  }

  [[gnu::noinline]] bool end_of_file(Value what, std::size_t tier, std::size_t item) {
    failure_ = Error{ErrorKind::InvalidData,
                     "Unexpected end of file after line " + std::to_string(line_number()) +
                         ": expected " + describe(what, tier, item),
                     0};
    return false;
  }

  static constexpr std::size_t npos = std::string_view::npos;

  std::string_view text_;
  char* writable_;                // the same bytes as text_
  std::size_t pos_ = 0;           // the next byte to look at
  std::size_t line_ = 1;          // the 1-based line of pos_
  std::size_t token_line_ = 1;    // the line of the last token taken
  std::size_t none_from_ = npos;  // a search for a closing quote from here found none
  Error failure_;
};

// Returns the tier number of a record: parse_count, with a shortcut for the
// few plain digits that Praat writes.
std::uint64_t tier_number(std::string_view token) {
  if (token.empty() || token.size() > 9) return parse_count(token);
  std::uint64_t number = 0;
  for (const char c : token) {
    if (c < '0' || c > '9') return parse_count(token);
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return number;
}

// Reserves for each tier what the records read so far foretell for the
// whole file, from `taken` records in `used` of the records' `total` bytes,
// with an eighth to spare. Only a hint, never trusted beyond reservation: the
// tiers together reserve at most one item per 6 bytes, the least a record
// takes ("1 0 x" and a line break).
void reserve_by_sample(std::vector<TierView>& tiers, std::size_t taken, std::size_t used,
                       std::size_t total) {
  if (used == 0 || taken == 0) return;
  const double scale = static_cast<double>(total) / static_cast<double>(used) * 1.125;
  std::size_t left = total / 6;
  for (TierView& tier : tiers) {
    const double want = static_cast<double>(tier.items.size()) * scale + 16.0;
    const auto reserved = std::min(left, static_cast<std::size_t>(std::min(want, 1e15)));
    if (reserved <= tier.items.size()) continue;
    tier.items.reserve(reserved);
    left -= reserved;
    prefer_huge_pages(tier.items.data(), tier.items.capacity() * sizeof(ItemView));
  }
}

std::string_view without_mark(std::string_view text) {
  if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
  return text;
}

}  // namespace

bool is_chronological_text(std::string_view text) {
  text = without_mark(text);
  if (!text.starts_with(kChronologicalHeader)) return false;
  const std::string_view after = text.substr(kChronologicalHeader.size());
  const std::size_t newline = after.find('\n');
  return trim(after.substr(0, newline)).empty();
}

Result<TextGridView> parse_chronological_view(std::string owned, std::string name,
                                              const ReadOptions& options) {
  if (!is_chronological_text(owned)) {
    return fail(ErrorKind::InvalidData, "Line 1 should be " + std::string(kChronologicalHeader));
  }
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(owned));
  grid.name = std::move(name);
  std::string& text = *grid.text;
  const std::size_t mark = text.size() - without_mark(text).size();
  Tokens tokens(text.data() + mark, text.size() - mark);
  Section section = Section::InHeader;
  std::string_view token;
  // The first records foretell how many items each tier will hold.
  constexpr std::size_t kSampleRecords = 1024;
  std::size_t records_start = 0;
  std::size_t records_taken = 0;

  for (;;) {
    switch (section) {
      case Section::InHeader: {
        tokens.skip_line();
        if (!tokens.word(token, Value::GridStart)) return tokens.failure();
        grid.tmin = parse_trimmed_real(token);
        if (!tokens.word(token, Value::GridEnd)) return tokens.failure();
        grid.tmax = parse_trimmed_real(token);
        if (!tokens.word(token, Value::TierCount)) return tokens.failure();
        grid.size = parse_trimmed_count(token);
        // A tier line is four tokens of a byte and a blank each at least: no
        // more tiers are reserved than the text can hold.
        grid.tiers.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(grid.size, text.size() / 8)));
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          records_start = tokens.offset();
          section = Section::InRecords;
          break;
        }
        const std::size_t t = grid.tiers.size() + 1;
        std::string_view kind;
        if (!tokens.text(kind, Value::TierClass, t)) return tokens.failure();
        TierView tier;
        if (kind == "TextTier") {
          tier.is_interval = false;
        } else if (kind != "IntervalTier") {
          return fail(ErrorKind::InvalidData, "Unknown tier class: \"" + std::string(kind) + "\"");
        }
        if (!tokens.text(tier.name, Value::TierName, t)) return tokens.failure();
        if (!tokens.word(token, Value::TierStart, t)) return tokens.failure();
        tier.tmin = parse_trimmed_real(token);
        if (!tokens.word(token, Value::TierEnd, t)) return tokens.failure();
        tier.tmax = parse_trimmed_real(token);
        grid.tiers.push_back(std::move(tier));
        break;
      }
      case Section::InRecords: {
        if (!tokens.more_numbers()) {
          for (TierView& tier : grid.tiers) tier.size = tier.items.size();
          if (options.strict) {
            if (auto valid = grid.assert_valid(); !valid) {
              return std::unexpected(std::move(valid.error()));
            }
          }
          return grid;
        }
        if (++records_taken == kSampleRecords) {
          const std::size_t total = tokens.offset() + tokens.rest().size() - records_start;
          reserve_by_sample(grid.tiers, records_taken - 1, tokens.offset() - records_start, total);
        }
        tokens.word(token, Value::ItemStart);
        const std::uint64_t number = tier_number(token);
        if (number == 0 || number > grid.tiers.size()) {
          return fail(ErrorKind::InvalidData, "Tier number " + std::string(token) + " on line " +
                                                  std::to_string(tokens.line_number()) +
                                                  " is out of range: the TextGrid has " +
                                                  std::to_string(grid.tiers.size()) + " tiers");
        }
        const auto t = static_cast<std::size_t>(number);
        TierView& tier = grid.tiers[t - 1];
        const std::size_t i = tier.items.size() + 1;
        ItemView& item = tier.items.emplace_back();
        if (tier.is_interval) {
          if (!tokens.word(token, Value::ItemStart, t, i)) return tokens.failure();
          item.tmin = parse_trimmed_real(token);
          if (!tokens.word(token, Value::ItemEnd, t, i)) return tokens.failure();
          item.tmax = parse_trimmed_real(token);
          if (!tokens.text(item.text, Value::ItemText, t, i)) return tokens.failure();
        } else {
          if (!tokens.word(token, Value::PointTime, t, i)) return tokens.failure();
          item.tmin = item.tmax = parse_trimmed_real(token);
          if (!tokens.text(item.text, Value::PointMark, t, i)) return tokens.failure();
        }
        break;
      }
    }
  }
}

Result<TextGrid> parse_chronological(std::string_view text, std::string name, bool strict) {
  auto view = parse_chronological_view(std::string(text), std::move(name), {.strict = strict});
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
