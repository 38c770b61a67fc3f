// The readers as they stood before the one-pass readers (their text rules,
// the long and the short reader), kept as the reference of the differential
// tests. Only the heading rule of the long reader has moved on since: it
// takes ELAN's headings ("item[1]:", "intervals [1]") as the core does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.hpp"
#include "model/textgrid.hpp"

namespace textgrid::reference {

namespace detail {
// The slow paths of the trims, for a view that begins (ends) with a byte
// outside ASCII.
std::string_view trim_start_unicode(std::string_view s);
std::string_view trim_end_unicode(std::string_view s);

inline bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
}  // namespace detail

// Returns `s` without the Unicode White_Space characters at its start. No
// allocation; any bytes are safe. Inline: every line and value passes here.
inline std::string_view trim_start(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && detail::is_ascii_space(s[i])) ++i;
  s.remove_prefix(i);
  if (!s.empty() && static_cast<unsigned char>(s.front()) >= 0xC2) {
    return detail::trim_start_unicode(s);
  }
  return s;
}

// Returns `s` without the Unicode White_Space characters at its end.
inline std::string_view trim_end(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && detail::is_ascii_space(s[n - 1])) --n;
  s = s.substr(0, n);
  if (n > 0 && static_cast<unsigned char>(s.back()) >= 0x80) return detail::trim_end_unicode(s);
  return s;
}

// Returns `s` without the Unicode White_Space characters at both ends.
inline std::string_view trim(std::string_view s) {
  return trim_end(trim_start(s));
}

// Splits a line at its first "=" into the trimmed key and the trimmed value;
// nothing when the line holds no "=". Views into `line`, no allocation.
std::optional<std::pair<std::string_view, std::string_view>> parse_kv(std::string_view line);

// Returns the value read as a decimal literal (optional sign, digits with an
// optional point, optional exponent) or inf/infinity/nan in any case, rounded
// to nearest; ±inf beyond the range, ±0 below it; 0 for anything else.
double parse_real(std::string_view value);

// Returns the value read as an unsigned 64-bit decimal (optional single "+",
// digits only); 0 for anything else, overflow included.
std::uint64_t parse_count(std::string_view value);

// Walks the lines of a text: cut after every line feed (a carriage return
// before it dropped), a final piece without a line feed kept when not empty.
// Lines are views into the text; the text must outlive the cursor.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  // Takes the next line, trimmed, into `line`; false at the end of the text.
  bool next(std::string_view& line);

  // Number of lines taken so far: the 1-based number of the last line taken.
  std::size_t line_number() const { return line_number_; }

  // Whether every line has been taken.
  bool at_end() const { return pos_ >= text_.size(); }

  // Offset in the text of the next line to take.
  std::size_t offset() const { return pos_; }

  // Returns the text of a value that the caller found on the line just taken.
  // `value` is a trimmed view into that line. A value that begins with a
  // double quote is a quoted text in Praat's convention ("" inside stands for
  // one quote); when its own line does not close it, the text runs over the
  // following lines, taken from the file's exact bytes, up to the first line
  // that ends in an odd number of quotes, and the cursor moves past that line.
  // Without such a line the text is the rest of the value's own line. Any
  // other value is taken whole. Allocates the returned text only.
  std::string take_text(std::string_view value);

 private:
  // Returns the offset of the closing quote on the first line at or after
  // `from` whose text, trimmed at its end, ends in an odd number of quotes,
  // and in `line_end` the offset just past that line; npos when none.
  std::size_t find_closing_line(std::size_t from, std::size_t& line_end);

  std::string_view text_;
  std::size_t pos_ = 0;  // start of the next line
  std::size_t line_number_ = 0;
  // Keeps the search for closing lines linear over a whole read: scanning
  // from scan_from_ found no closing line before closer_ (npos: none at all).
  std::size_t scan_from_ = std::string_view::npos;
  std::size_t closer_ = std::string_view::npos;
  std::size_t closer_end_ = 0;
};

// Returns the single-line text of a value: Praat's quoted form closed on its
// own line gives the inside with "" turned into ", an unclosed one the rest
// after the opening quote likewise, anything else the value whole.
std::string unquote(std::string_view value);

// The readers, into the owning model.
Result<TextGrid> parse_long(std::string_view text, std::string name, bool strict);
Result<TextGrid> parse_short(std::string_view text, std::string name, bool strict);
Result<TextGrid> parse_chronological(std::string_view text, std::string name, bool strict);
bool is_chronological_text(std::string_view text);

}  // namespace textgrid::reference
