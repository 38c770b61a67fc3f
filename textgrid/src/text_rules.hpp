// The text-reading rules that both readers share: the whole-file read, line
// splitting and trimming, unquoting in Praat's convention (texts over several
// lines included), number and count conversion, and the name from the path.
// Everything here works on views into one text held whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "error.hpp"
#include "interrupt.hpp"

namespace textgrid {

// Returns the whole file as UTF-8: UTF-8 as it stands (a UTF-8 byte-order mark
// is kept), UTF-16 with a byte-order mark decoded. Fails with the OS error
// ("... (os error N)"), "stream did not contain valid UTF-8" or "stream did
// not contain valid UTF-16" (InvalidData). One buffer sized from the file's
// length; safe on worker threads. A file that may wait for data (a FIFO, a
// device) is opened and read in slices, and `should_stop` is asked between
// them: the read then fails with "Interrupted system call (os error 4)".
Result<std::string> read_text_file(const std::string& path, const ShouldStop& should_stop = {});

// Returns the whole file as stored, before any decoding. Fails with the OS
// error ("... (os error N)"). One buffer sized from the file's length; safe on
// worker threads; `should_stop` as for read_text_file.
Result<std::string> read_file_bytes(const std::string& path, const ShouldStop& should_stop = {});

// Returns `bytes` as UTF-8 text by the rules of read_text_file (UTF-16 with a
// byte-order mark decoded, anything else validated as UTF-8). Allocates.
Result<std::string> decode_text(std::string bytes);

// Asks the kernel for huge pages under a large buffer not yet touched: filling
// it then faults in a few 2 MiB pages instead of thousands of small ones,
// which in a virtual machine costs more than the filling itself. Only a hint;
// does nothing for buffers under 4 MiB or where the kernel declines.
void prefer_huge_pages(void* data, std::size_t size);

// Returns whether `bytes` is valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). No allocation.
bool is_valid_utf8(std::string_view bytes);

namespace detail {
// The slow paths of the trims, for a view that begins (ends) with a byte
// outside ASCII.
std::string_view trim_start_unicode(std::string_view s);
std::string_view trim_end_unicode(std::string_view s);

inline bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
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
inline std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

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

// Returns the stem of the path's last component: the whole name if it holds
// no "." after its first character, else the part before its last ".".
std::string file_stem(std::string_view path);

// Returns what follows the "[" when the trimmed `line` is a heading of `word`:
// the word, optional blanks or tabs, then "[" (Praat writes "item [1]:", ELAN
// "item[1]:" and "intervals [1]"). A longer word, such as "items", makes no
// heading. A view into `line`; no allocation.
std::optional<std::string_view> heading_of(std::string_view line, std::string_view word);

// Returns whether the trimmed `line` begins with the tier-list marker that
// only the long layout writes: "item", "[", "]", with optional blanks or tabs
// before and inside the brackets ("item []", "item[]", "item [ ]").
bool is_tier_list_marker(std::string_view line);

// Returns whether some line of `text`, after its leading blanks, begins with
// the tier-list marker (is_tier_list_marker); a line inside a quoted text over
// several lines does not count. Allocates only for texts that begin a line
// before the marker.
bool has_long_layout_marker(std::string_view text);

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

}  // namespace textgrid
