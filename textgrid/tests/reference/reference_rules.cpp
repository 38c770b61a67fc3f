// The readers' text rules as they stood before the one-pass readers: kept
// here, unchanged but for the name space, as the reference that the
// differential tests hold the core's readers to.
#include "reference_rules.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace textgrid::reference {

namespace {

constexpr std::size_t npos = std::string_view::npos;

inline unsigned char byte_at(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

// Length of the White_Space character that begins `s`, or 0.
std::size_t space_at_start(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char c = byte_at(s, 0);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c < 0xC2 || s.size() < 2) return 0;
  const unsigned char c1 = byte_at(s, 1);
  if (c == 0xC2) return (c1 == 0x85 || c1 == 0xA0) ? 2 : 0;
  if (s.size() < 3) return 0;
  const unsigned char c2 = byte_at(s, 2);
  if (c == 0xE1) return (c1 == 0x9A && c2 == 0x80) ? 3 : 0;
  if (c == 0xE2) {
    if (c1 == 0x80 && (c2 <= 0x8A || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF) && c2 >= 0x80) {
      return 3;
    }
    return (c1 == 0x81 && c2 == 0x9F) ? 3 : 0;
  }
  if (c == 0xE3) return (c1 == 0x80 && c2 == 0x80) ? 3 : 0;
  return 0;
}

// Length of the White_Space character that ends `s`, or 0.
std::size_t space_at_end(std::string_view s) {
  const std::size_t n = s.size();
  if (n == 0) return 0;
  const unsigned char c = byte_at(s, n - 1);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c < 0x80 || n < 2) return 0;
  if (byte_at(s, n - 2) == 0xC2) return (c == 0x85 || c == 0xA0) ? 2 : 0;
  if (n < 3) return 0;
  return space_at_start(s.substr(n - 3)) == 3 ? 3 : 0;
}

// Whether `s`, the text after an opening quote or a later line of a quoted
// text, ends that text: in Praat's convention, when it ends in an odd number
// of quotes (a pair inside the text stands for one quote).
bool closes_quoted_text(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && s[s.size() - 1 - n] == '"') ++n;
  return n % 2 == 1;
}

// Copies `s` with every pair of double quotes turned into one.
std::string collapse_quotes(std::string_view s) {
  std::size_t quote = s.find('"');
  if (quote == npos) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t from = 0;
  while (quote != npos) {
    out.append(s, from, quote + 1 - from);
    from = quote + 1;
    if (from < s.size() && s[from] == '"') ++from;
    quote = s.find('"', from);
  }
  out.append(s, from);
  return out;
}

bool equals_ignoring_case(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string_view detail::trim_start_unicode(std::string_view s) {
  // space_at_start knows the ASCII blanks too: no call back into trim_start,
  // so alternating blanks cannot deepen the stack.
  while (const std::size_t n = space_at_start(s)) s.remove_prefix(n);
  return s;
}

std::string_view detail::trim_end_unicode(std::string_view s) {
  while (const std::size_t n = space_at_end(s)) s.remove_suffix(n);
  return s;
}

std::optional<std::pair<std::string_view, std::string_view>> parse_kv(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == npos) return std::nullopt;
  return std::pair{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

double parse_real(std::string_view value) {
  const std::string_view s = trim(value);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const std::string_view body = s.substr(i);
  const double sign = negative ? -1.0 : 1.0;
  if (!body.empty() && !is_digit(body[0]) && body[0] != '.') {
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
      return sign * std::numeric_limits<double>::infinity();
    }
    if (equals_ignoring_case(body, "nan")) {
      return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    }
    return 0.0;
  }

  // Check the grammar here: from_chars alone would take a leading part of
  // "1e", "0x10" or "1,5" and has no "+".
  std::size_t j = 0;
  const std::size_t int_begin = j;
  while (j < body.size() && is_digit(body[j])) ++j;
  const std::size_t int_end = j;
  std::size_t frac_begin = j, frac_end = j;
  if (j < body.size() && body[j] == '.') {
    frac_begin = ++j;
    while (j < body.size() && is_digit(body[j])) ++j;
    frac_end = j;
  }
  if (int_end == int_begin && frac_end == frac_begin) return 0.0;
  long long exponent = 0;
  if (j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
    ++j;
    bool exp_negative = false;
    if (j < body.size() && (body[j] == '+' || body[j] == '-')) {
      exp_negative = body[j] == '-';
      ++j;
    }
    if (j == body.size() || !is_digit(body[j])) return 0.0;
    while (j < body.size() && is_digit(body[j])) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (body[j] - '0');
      ++j;
    }
    if (exp_negative) exponent = -exponent;
  }
  if (j != body.size()) return 0.0;

  const char* first = negative ? body.data() - 1 : body.data();
  const char* last = body.data() + body.size();
  double result = 0.0;
  const auto [ptr, ec] = std::from_chars(first, last, result, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range or below it: the nearest value is ±inf or ±0; which
    // one follows from the decimal position of the first non-zero digit.
    long long magnitude = 0;
    std::size_t k = int_begin;
    while (k < int_end && body[k] == '0') ++k;
    if (k < int_end) {
      magnitude = static_cast<long long>(int_end - k);
    } else {
      k = frac_begin;
      while (k < frac_end && body[k] == '0') ++k;
      magnitude = -static_cast<long long>(k - frac_begin);
    }
    return magnitude + exponent > 0 ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
  }
  if (ec != std::errc() || ptr != last) return 0.0;
  return result;
}

std::uint64_t parse_count(std::string_view value) {
  std::string_view s = trim(value);
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return 0;
  std::uint64_t count = 0;
  for (const char c : s) {
    if (!is_digit(c)) return 0;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (count > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return 0;
    count = count * 10 + digit;
  }
  return count;
}

bool LineCursor::next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const std::size_t newline = text_.find('\n', pos_);
  const std::size_t end = newline == npos ? text_.size() : newline;
  line = trim(text_.substr(pos_, end - pos_));
  pos_ = newline == npos ? text_.size() : newline + 1;
  ++line_number_;
  return true;
}

std::size_t LineCursor::find_closing_line(std::size_t from, std::size_t& line_end) {
  if (scan_from_ != npos && scan_from_ <= from && (closer_ == npos || closer_ >= from)) {
    line_end = closer_end_;
    return closer_;
  }
  scan_from_ = from;
  closer_ = npos;
  std::size_t p = from;
  while (p < text_.size()) {
    const std::size_t newline = text_.find('\n', p);
    const std::size_t end = newline == npos ? text_.size() : newline;
    const std::size_t next = newline == npos ? text_.size() : newline + 1;
    const std::string_view line = trim_end(text_.substr(p, end - p));
    if (closes_quoted_text(line)) {
      closer_ = p + line.size() - 1;
      closer_end_ = next;
      break;
    }
    p = next;
  }
  line_end = closer_end_;
  return closer_;
}

std::string LineCursor::take_text(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  const std::string_view rest = value.substr(1);
  if (closes_quoted_text(rest)) return collapse_quotes(rest.substr(0, rest.size() - 1));
  // Only a view into this text can run on over its lines.
  const std::less_equal<const char*> before_or_at;
  const bool in_text = before_or_at(text_.data(), value.data()) &&
                       before_or_at(value.data() + value.size(), text_.data() + text_.size());
  if (!in_text) return collapse_quotes(rest);

  std::size_t line_end = 0;
  const std::size_t close = find_closing_line(pos_, line_end);
  if (close == npos) return collapse_quotes(rest);
  const auto start = static_cast<std::size_t>(rest.data() - text_.data());
  std::string text = collapse_quotes(text_.substr(start, close - start));
  // Count the lines that the text used up, so that line numbers stay true.
  const auto used = static_cast<std::size_t>(
      std::count(text_.begin() + static_cast<std::ptrdiff_t>(pos_),
                 text_.begin() + static_cast<std::ptrdiff_t>(line_end), '\n'));
  const bool unterminated_last = line_end == text_.size() && text_.back() != '\n';
  line_number_ += used + (unterminated_last ? 1 : 0);
  pos_ = line_end;
  return text;
}

std::string unquote(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  const std::string_view rest = value.substr(1);
  if (closes_quoted_text(rest)) return collapse_quotes(rest.substr(0, rest.size() - 1));
  return collapse_quotes(rest);
}

}  // namespace textgrid::reference
