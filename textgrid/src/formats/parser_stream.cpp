#include "formats/parser_stream.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>

#include "formats/tokens.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

namespace {

// What a token is, by its first byte: Praat passes words over where it looks
// for a number or a text, and stops at anything else.
enum class Kind { Number, Text, Flag, Word };

Kind kind_of(char c) {
  if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') return Kind::Number;
  if (c == '"') return Kind::Text;
  if (c == '<') return Kind::Flag;
  return Kind::Word;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The longest start of `token` in the usual decimal form, read as a time; 0
// when it has no digits.
double leading_real(std::string_view token) {
  std::size_t at = token.starts_with('+') || token.starts_with('-') ? 1 : 0;
  const std::size_t digits_from = at;
  while (at < token.size() && is_digit(token[at])) ++at;
  std::size_t digits = at - digits_from;
  if (at < token.size() && token[at] == '.') {
    const std::size_t after_point = ++at;
    while (at < token.size() && is_digit(token[at])) ++at;
    digits += at - after_point;
  }
  if (digits == 0) return 0.0;
  if (at < token.size() && (token[at] == 'e' || token[at] == 'E')) {
    std::size_t exponent = at + 1;
    if (exponent < token.size() && (token[exponent] == '+' || token[exponent] == '-')) ++exponent;
    if (exponent < token.size() && is_digit(token[exponent])) {
      at = exponent;
      while (at < token.size() && is_digit(token[at])) ++at;
    }
  }
  return parse_trimmed_real(token.substr(0, at));
}

// The whole number at the start of `token` (an optional sign, then digits):
// 0 when negative or without digits, the largest count when too large.
std::uint64_t leading_count(std::string_view token) {
  const bool negative = token.starts_with('-');
  std::size_t at = token.starts_with('+') || negative ? 1 : 0;
  std::uint64_t count = 0;
  for (; at < token.size() && is_digit(token[at]); ++at) {
    const auto digit = static_cast<std::uint64_t>(token[at] - '0');
    if (count > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return negative ? 0 : std::numeric_limits<std::uint64_t>::max();
    }
    count = count * 10 + digit;
  }
  return negative ? 0 : count;
}

// The values of the stream by kind, each found as Praat finds it.
class Values {
 public:
  explicit Values(Tokens& tokens) : tokens_(tokens) {}

  bool real(double& out, Value what, std::size_t tier = 0, std::size_t item = 0) {
    std::string_view token;
    if (!seek(Kind::Number, what, tier, item)) return false;
    tokens_.word<false>(token, what, tier, item);
    out = leading_real(token);
    return true;
  }

  bool count(std::uint64_t& out, Value what, std::size_t tier = 0) {
    std::string_view token;
    if (!seek(Kind::Number, what, tier, 0)) return false;
    tokens_.word<false>(token, what, tier, 0);
    out = leading_count(token);
    return true;
  }

  bool text(std::string_view& out, Value what, std::size_t tier = 0, std::size_t item = 0) {
    return seek(Kind::Text, what, tier, item) && tokens_.text(out, what, tier, item);
  }

  // "<exists>" or "<absent>".
  bool exists(bool& out) {
    std::string_view token;
    if (!seek(Kind::Flag, Value::Exists, 0, 0)) return false;
    tokens_.word<false>(token, Value::Exists);
    if (token != "<exists>" && token != "<absent>") return found(token, Value::Exists, 0, 0);
    out = token == "<exists>";
    return true;
  }

  bool failed(std::string message) {
    failure_ = Error(ErrorKind::InvalidData, std::move(message));
    return false;
  }

  std::unexpected<Error> failure() {
    return failure_.message.empty() ? tokens_.failure() : std::unexpected(std::move(failure_));
  }

 private:
  // Moves to the next token of kind `wanted`, passing words over.
  bool seek(Kind wanted, Value what, std::size_t tier, std::size_t item) {
    for (;;) {
      if (!tokens_.more()) return tokens_.end_of_file(what, tier, item);
      const Kind kind = kind_of(tokens_.peek());
      if (kind == wanted) return true;
      std::string_view token;
      if (kind == Kind::Text) {
        tokens_.text(token, what, tier, item);
        return found("a text", what, tier, item);
      }
      tokens_.word<false>(token, what, tier, item);
      if (kind != Kind::Word) return found(token, what, tier, item);
    }
  }

  bool found(std::string_view token, Value what, std::size_t tier, std::size_t item) {
    return failed("Found " + std::string(token) + " on line " +
                  std::to_string(tokens_.line_number()) + " where " + describe(what, tier, item) +
                  " should be");
  }

  Tokens& tokens_;
  Error failure_;
};

// Reads the tiers after the tier count into `grid`.
bool read_tiers(Values& values, TextGridView& grid, std::size_t text_size) {
  // An item takes at least two tokens of a byte and a blank each: what all
  // tiers reserve together stays within what the text can hold.
  std::size_t reserve_left = text_size / 4;
  grid.tiers.reserve(std::min<std::uint64_t>(grid.size, text_size / 8));
  for (std::size_t t = 0; t < grid.size; ++t) {
    TierView& tier = grid.tiers.emplace_back();
    std::string_view kind;
    if (!values.text(kind, Value::TierClass, t)) return false;
    if (kind == "TextTier") {
      tier.is_interval = false;
    } else if (kind != "IntervalTier") {
      return values.failed("Unknown tier class: \"" + std::string(kind) + "\"");
    }
    if (!values.text(tier.name, Value::TierName, t) ||
        !values.real(tier.tmin, Value::TierStart, t) ||
        !values.real(tier.tmax, Value::TierEnd, t) ||
        !values.count(tier.size, Value::ItemCount, t)) {
      return false;
    }
    const auto reserved =
        static_cast<std::size_t>(std::min<std::uint64_t>(tier.size, reserve_left));
    tier.items.reserve(reserved);
    reserve_left -= reserved;
    for (std::size_t i = 0; i < tier.size; ++i) {
      ItemView& item = tier.items.emplace_back();
      if (tier.is_interval) {
        if (!values.real(item.tmin, Value::ItemStart, t, i) ||
            !values.real(item.tmax, Value::ItemEnd, t, i) ||
            !values.text(item.text, Value::ItemText, t, i)) {
          return false;
        }
      } else {
        if (!values.real(item.tmin, Value::PointTime, t, i) ||
            !values.text(item.text, Value::PointMark, t, i)) {
          return false;
        }
        item.tmax = item.tmin;
      }
    }
  }
  return true;
}

}  // namespace

Result<TextGridView> parse_stream_view(std::string owned, std::string name,
                                       const ReadOptions& options) {
  const bool strict = options.strict;
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(owned));
  grid.name = std::move(name);
  std::string& text = *grid.text;
  Tokens tokens(text.data(), text.size());
  Values values(tokens);
  tokens.skip_line();  // the file type
  std::string_view object_class;
  if (!values.text(object_class, Value::ObjectClass)) return values.failure();
  if (object_class != "TextGrid") {
    return fail(ErrorKind::InvalidData, "Object class \"" + std::string(object_class) +
                                            "\" on line " + std::to_string(tokens.line_number()) +
                                            " is not \"TextGrid\"");
  }
  bool exists = false;
  if (!values.real(grid.tmin, Value::GridStart) || !values.real(grid.tmax, Value::GridEnd) ||
      !values.exists(exists)) {
    return values.failure();
  }
  if (exists) {
    if (!values.count(grid.size, Value::TierCount)) return values.failure();
    if (!read_tiers(values, grid, text.size())) return values.failure();
  }
  // What follows the last tier is not looked at.
  if (strict) {
    if (auto valid = grid.assert_valid(); !valid) return std::unexpected(std::move(valid.error()));
  }
  return grid;
}

Result<TextGrid> parse_stream(std::string_view text, std::string name, bool strict) {
  auto view = parse_stream_view(std::string(text), std::move(name), {.strict = strict});
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
