#include "text/text_rules.hpp"

#include <algorithm>
#include <cstring>
#include <functional>

namespace textgrid {

namespace {

constexpr std::size_t npos = std::string_view::npos;

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
  std::string out(s);
  out.resize(collapse_quotes_in_place(out.data(), out.size()).size());
  return out;
}

// How a value on one line holds its text: whole, or in Praat's quoted form
// closed on that line, or quoted and left open there.
enum class Quoting { none, closed, open };

// The bytes of a value that hold its text on its own line: for the quoted
// form, those after the opening quote up to the closing one (to the end when
// it is left open), else the value whole.
std::string_view inside_quotes(std::string_view value, Quoting& quoting) {
  if (value.empty() || value.front() != '"') {
    quoting = Quoting::none;
    return value;
  }
  const std::string_view rest = value.substr(1);
  if (closes_quoted_text(rest)) {
    quoting = Quoting::closed;
    return rest.substr(0, rest.size() - 1);
  }
  quoting = Quoting::open;
  return rest;
}

}  // namespace

std::size_t count_line_ends(std::string_view s) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n'))) ++count;
  }
  return count;
}

std::optional<std::pair<std::string_view, std::string_view>> parse_kv(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == npos) return std::nullopt;
  return std::pair{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

std::string file_stem(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == npos || dot == 0) return std::string(name);
  return std::string(name.substr(0, dot));
}

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Returns the offset of the first line at or after `from` (a line start) that
// begins, after its blanks, with the tier-list marker; npos when none.
std::size_t find_marker_line(std::string_view text, std::size_t from) {
  constexpr std::string_view word = "item";
  std::size_t at = from;
  while ((at = text.find(word, at)) != npos) {
    const std::size_t before = at <= from ? npos : text.find_last_of("\r\n", at - 1);
    const std::size_t line_start = before == npos || before < from ? from : before + 1;
    if (trim_start(text.substr(line_start, at - line_start)).empty()) {
      const std::size_t line_end = detail::line_end_offset(text, at);
      if (is_tier_list_marker(text.substr(at, line_end - at))) return line_start;
    }
    // A later marker on the same line cannot begin it either.
    at = detail::line_end_offset(text, at);
    if (at == text.size()) break;
  }
  return npos;
}

}  // namespace

std::optional<std::string_view> heading_of(std::string_view line, std::string_view word) {
  if (!line.starts_with(word)) return std::nullopt;
  std::size_t at = word.size();
  while (at < line.size() && is_blank(line[at])) ++at;
  if (at == line.size() || line[at] != '[') return std::nullopt;
  return line.substr(at + 1);
}

bool is_tier_list_marker(std::string_view line) {
  const auto rest = heading_of(line, "item");
  if (!rest) return false;
  std::size_t at = 0;
  while (at < rest->size() && is_blank((*rest)[at])) ++at;
  return at < rest->size() && (*rest)[at] == ']';
}

bool has_long_layout_marker(std::string_view text) {
  // A marker line counts only where the readers would see it as a line: not
  // inside a label that runs over several lines. Such a label begins a line
  // with a quote in the short layout; in the long layout the marker comes
  // before every name and label. So walk the lines before a candidate and
  // skip the texts that run over it.
  LineCursor lines(text);
  std::string_view line;
  std::size_t candidate = find_marker_line(text, 0);
  while (candidate != npos) {
    while (lines.offset() < candidate && lines.next(line)) {
      if (line.starts_with('"')) lines.take_text(line);
    }
    if (lines.offset() == candidate) return true;
    candidate = find_marker_line(text, lines.offset());
  }
  return false;
}

bool has_long_layout_header(std::string_view text) {
  LineCursor lines(text);
  std::string_view line;
  for (int header = 0; header < 2; ++header) {
    if (!lines.next(line)) return false;
  }
  while (lines.next(line)) {
    if (line.empty()) continue;
    const auto pair = parse_kv(line);
    return pair && pair->first == "xmin";
  }
  return false;
}

std::size_t LineCursor::find_closing_line(std::size_t from, std::size_t& line_end) {
  if (scan_from_ != npos && scan_from_ <= from && (closer_ == npos || closer_ >= from)) {
    line_end = closer_end_;
    return closer_;
  }
  scan_from_ = from;
  closer_ = npos;
  const char* const end = text_.data() + text_.size();
  std::size_t p = from;
  while (p < text_.size()) {
    const char* const stop = detail::find_line_end(text_.data() + p, end);
    const auto line_stop = static_cast<std::size_t>(stop - text_.data());
    const std::size_t next =
        stop == end ? text_.size()
                    : static_cast<std::size_t>(detail::after_line_end(stop, end) - text_.data());
    const std::string_view line = trim_end(text_.substr(p, line_stop - p));
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

std::string_view LineCursor::locate_text(std::string_view value, bool& quoted) {
  Quoting quoting = Quoting::none;
  const std::string_view rest = inside_quotes(value, quoting);
  quoted = quoting != Quoting::none;
  if (quoting != Quoting::open) return rest;
  // Only a view into this text can run on over its lines.
  const std::less_equal<const char*> before_or_at;
  const bool in_text = before_or_at(text_.data(), value.data()) &&
                       before_or_at(value.data() + value.size(), text_.data() + text_.size());
  if (!in_text) return rest;

  std::size_t line_end = 0;
  const std::size_t close = find_closing_line(pos_, line_end);
  if (close == npos) return rest;
  const auto start = static_cast<std::size_t>(rest.data() - text_.data());
  // Count the lines that the text used up, so that line numbers stay true.
  const std::string_view used = text_.substr(pos_, line_end - pos_);
  const bool unterminated_last =
      line_end == text_.size() && text_.back() != '\n' && text_.back() != '\r';
  line_number_ += count_line_ends(used) + (unterminated_last ? 1 : 0);
  pos_ = line_end;
  return text_.substr(start, close - start);
}

std::string LineCursor::take_text(std::string_view value) {
  bool quoted = false;
  const std::string_view raw = locate_text(value, quoted);
  return quoted ? collapse_quotes(raw) : std::string(raw);
}

std::string_view LineCursor::take_text_in_place(std::string_view value) {
  bool quoted = false;
  const std::string_view raw = locate_text(value, quoted);
  if (!quoted) return raw;
  return collapse_quotes_in_place(writable_ + (raw.data() - text_.data()), raw.size());
}

std::string_view collapse_quotes_in_place(char* first, std::size_t size) {
  const void* quote = std::memchr(first, '"', size);
  if (quote == nullptr) return std::string_view(first, size);
  char* out = static_cast<char*>(const_cast<void*>(quote)) + 1;
  const char* in = out;
  const char* const end = first + size;
  if (in != end && *in == '"') ++in;
  while (in != end) {
    const char c = *in++;
    *out++ = c;
    if (c == '"' && in != end && *in == '"') ++in;
  }
  return std::string_view(first, static_cast<std::size_t>(out - first));
}

std::string unquote(std::string_view value) {
  Quoting quoting = Quoting::none;
  const std::string_view text = inside_quotes(value, quoting);
  return quoting == Quoting::none ? std::string(text) : collapse_quotes(text);
}

std::string_view unquote_in_place(char* value, std::size_t size) {
  Quoting quoting = Quoting::none;
  const std::string_view text = inside_quotes(std::string_view(value, size), quoting);
  if (quoting == Quoting::none) return text;
  return collapse_quotes_in_place(value + 1, text.size());
}

}  // namespace textgrid
