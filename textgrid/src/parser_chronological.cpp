#include "parser_chronological.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "text_rules.hpp"

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
  GridStart, GridEnd, TierCount, TierClass, TierName, TierStart, TierEnd,
  ItemStart, ItemEnd, ItemText, PointTime, PointMark,
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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Hands out the blank-separated tokens of the text over its lines, comments
// skipped. Running past the end records an error that names the last line and
// the value expected.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : lines_(text) {}

  // Skips the first line, which the caller has checked.
  void skip_line() {
    lines_.next(rest_);
    rest_ = {};
  }

  // Whether a token is left; moves to its line.
  bool more() {
    for (;;) {
      rest_ = trim_start(rest_);
      if (!rest_.empty() && rest_.front() != '!') return true;
      if (!lines_.next(rest_)) return false;
    }
  }

  // Takes a number or a word: the token up to a blank or a comment.
  bool word(std::string_view& token, Value what, std::size_t tier = 0, std::size_t item = 0) {
    if (!more()) return end_of_file(what, tier, item);
    std::size_t end = 0;
    while (end < rest_.size() && !is_blank(rest_[end]) && rest_[end] != '!') ++end;
    token = rest_.substr(0, end);
    rest_.remove_prefix(end);
    return true;
  }

  // Takes a text: a quoted one in Praat's convention ("" stands for one
  // quote), ended by a quote that no second quote follows on its own line,
  // else running over the following lines as in the other readers; any other
  // token is taken as it stands.
  bool text(std::string& out, Value what, std::size_t tier = 0, std::size_t item = 0) {
    if (!more()) return end_of_file(what, tier, item);
    if (rest_.front() != '"') {
      std::string_view token;
      word(token, what, tier, item);
      out.assign(token);
      return true;
    }
    std::size_t close = 1;
    while (close < rest_.size()) {
      if (rest_[close] == '"') {
        if (close + 1 < rest_.size() && rest_[close + 1] == '"') {
          close += 2;
          continue;
        }
        break;
      }
      ++close;
    }
    if (close < rest_.size()) {
      out = unquote(rest_.substr(0, close + 1));
      rest_.remove_prefix(close + 1);
    } else {
      out = lines_.take_text(rest_);
      rest_ = {};
    }
    return true;
  }

  std::size_t line_number() const { return lines_.line_number(); }

  std::unexpected<Error> failure() { return std::unexpected(std::move(failure_)); }

 private:
  bool end_of_file(Value what, std::size_t tier, std::size_t item) {
    failure_ = Error{ErrorKind::InvalidData,
                     "Unexpected end of file after line " + std::to_string(line_number()) +
                         ": expected " + describe(what, tier, item),
                     0};
    return false;
  }

  LineCursor lines_;
  std::string_view rest_;  // the unread part of the current line
  Error failure_;
};

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

Result<TextGrid> parse_chronological(std::string_view text, std::string name, bool strict) {
  if (!is_chronological_text(text)) {
    return fail(ErrorKind::InvalidData,
                "Line 1 should be " + std::string(kChronologicalHeader));
  }
  TextGrid grid;
  grid.name = std::move(name);
  Tokens tokens(without_mark(text));
  Section section = Section::InHeader;
  std::string_view token;

  for (;;) {
    switch (section) {
      case Section::InHeader: {
        tokens.skip_line();
        if (!tokens.word(token, Value::GridStart)) return tokens.failure();
        grid.tmin = parse_real(token);
        if (!tokens.word(token, Value::GridEnd)) return tokens.failure();
        grid.tmax = parse_real(token);
        if (!tokens.word(token, Value::TierCount)) return tokens.failure();
        grid.size = parse_count(token);
        // A tier line is four tokens of a byte and a blank each at least: no
        // more tiers are reserved than the text can hold.
        grid.tiers.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(grid.size, text.size() / 8)));
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          section = Section::InRecords;
          break;
        }
        const std::size_t t = grid.tiers.size() + 1;
        std::string kind;
        if (!tokens.text(kind, Value::TierClass, t)) return tokens.failure();
        Tier tier;
        if (kind == "TextTier") {
          tier.is_interval = false;
        } else if (kind != "IntervalTier") {
          return fail(ErrorKind::InvalidData, "Unknown tier class: \"" + kind + "\"");
        }
        if (!tokens.text(tier.name, Value::TierName, t)) return tokens.failure();
        if (!tokens.word(token, Value::TierStart, t)) return tokens.failure();
        tier.tmin = parse_real(token);
        if (!tokens.word(token, Value::TierEnd, t)) return tokens.failure();
        tier.tmax = parse_real(token);
        grid.tiers.push_back(std::move(tier));
        break;
      }
      case Section::InRecords: {
        if (!tokens.more()) {
          for (Tier& tier : grid.tiers) tier.size = tier.items.size();
          if (strict) {
            if (auto valid = grid.assert_valid(); !valid) {
              return std::unexpected(std::move(valid.error()));
            }
          }
          return grid;
        }
        tokens.word(token, Value::ItemStart);
        const std::uint64_t number = parse_count(token);
        if (number == 0 || number > grid.tiers.size()) {
          return fail(ErrorKind::InvalidData,
                      "Tier number " + std::string(token) + " on line " +
                          std::to_string(tokens.line_number()) + " is out of range: the TextGrid has " +
                          std::to_string(grid.tiers.size()) + " tiers");
        }
        const auto t = static_cast<std::size_t>(number);
        Tier& tier = grid.tiers[t - 1];
        const std::size_t i = tier.items.size() + 1;
        Item item;
        if (tier.is_interval) {
          if (!tokens.word(token, Value::ItemStart, t, i)) return tokens.failure();
          item.tmin = parse_real(token);
          if (!tokens.word(token, Value::ItemEnd, t, i)) return tokens.failure();
          item.tmax = parse_real(token);
          if (!tokens.text(item.text, Value::ItemText, t, i)) return tokens.failure();
        } else {
          if (!tokens.word(token, Value::PointTime, t, i)) return tokens.failure();
          item.tmin = item.tmax = parse_real(token);
          if (!tokens.text(item.text, Value::PointMark, t, i)) return tokens.failure();
        }
        tier.items.push_back(std::move(item));
        break;
      }
    }
  }
}

Result<TextGrid> read_from_file_chronological(const std::string& path, bool strict) {
  auto text = read_text_file(path);
  if (!text) return std::unexpected(std::move(text.error()));
  return parse_chronological(*text, file_stem(path), strict);
}

}  // namespace textgrid
