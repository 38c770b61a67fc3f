// Lines and quoting, the text-reading rules that every reader shares: line
// splitting, "key = value" lines, unquoting in Praat's convention (texts over
// several lines included), the layout marker and the name from the path.
// Everything here works on views into one text held whole in memory. The
// whole-file read (text_input.hpp), the trims (trim.hpp) and the number
// conversions (numbers.hpp) are the other rule units; this header brings them
// along, so a reader needs one include.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.hpp"
#include "text/line_scan.hpp"
#include "text/numbers.hpp"
#include "text/text_input.hpp"
#include "text/trim.hpp"

namespace textgrid {

namespace detail {
// Returns the first byte at or after `p` that is not a space, or `end`:
// indentation goes eight bytes at a time.
inline const char* skip_spaces(const char* p, const char* end) {
  constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (const std::uint64_t diff = word ^ kSpaces; diff != 0) {
      const int bits = std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                                  : std::countl_zero(diff);
      return p + (bits >> 3);
    }
    p += 8;
  }
  while (p != end && *p == ' ') ++p;
  return p;
}
}  // namespace detail

// Splits a line at its first "=" into the trimmed key and the trimmed value;
// nothing when the line holds no "=". Views into `line`, no allocation.
std::optional<std::pair<std::string_view, std::string_view>> parse_kv(std::string_view line);

// Returns how many line ends (LineCursor's) `s` holds: a carriage return and
// a line feed count once. No allocation.
std::size_t count_line_ends(std::string_view s);

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

// Returns whether the first line of `text` with a value after its first two
// (the file type and the object class) is the long layout's "xmin = ...": a
// long-layout text without tiers need not hold the tier-list marker. No
// allocation.
bool has_long_layout_header(std::string_view text);

// Walks the lines of a text: cut at every line end (a line feed, a carriage
// return and a line feed, or a carriage return alone, as old Mac files have
// them), a final piece without a line end kept when not empty.
// Lines are views into the text; the text must outlive the cursor.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  // A cursor over a text that it may also rewrite, for take_text_in_place,
  // whose first line begins at `from`.
  LineCursor(char* data, std::size_t size, std::size_t from = 0)
      : text_(data, size), writable_(data), pos_(from) {}

  // Takes the next line, trimmed, into `line`; false at the end of the text.
  // Inline and without allocation: every line of every file passes here.
  [[gnu::always_inline]] bool next(std::string_view& line) {
    const std::size_t size = text_.size();
    if (pos_ >= size) return false;
    const char* const base = text_.data();
    const char* const end = base + size;
    const char* first = detail::skip_spaces(base + pos_, end);
    const char* const stop = detail::find_line_end(first, end);
    pos_ = stop != end ? static_cast<std::size_t>(detail::after_line_end(stop, end) - base) : size;
    ++line_number_;
    while (first != stop && detail::is_ascii_space(*first)) ++first;
    const char* last = stop;
    while (last != first && detail::is_ascii_space(last[-1])) --last;
    line = std::string_view(first, static_cast<std::size_t>(last - first));
    if (!line.empty() && static_cast<unsigned char>(line.front()) >= 0xC2) {
      line = detail::trim_start_unicode(line);
    }
    if (!line.empty() && static_cast<unsigned char>(line.back()) >= 0x80) {
      line = detail::trim_end_unicode(line);
    }
    return true;
  }

  // Number of lines taken so far: the 1-based number of the last line taken.
  std::size_t line_number() const { return line_number_; }

  // Whether every line has been taken.
  bool at_end() const { return pos_ >= text_.size(); }

  // Offset in the text of the next line to take.
  std::size_t offset() const { return pos_; }

  // The next line's first byte and the text's end, for a reader that reads a
  // line of a shape it knows straight from the text.
  const char* next_line_start() const { return text_.data() + pos_; }
  const char* text_end() const { return text_.data() + text_.size(); }

  // Moves past the line that such a reader read: `after` is the byte after
  // its line feed.
  void took_line(const char* after) {
    pos_ = static_cast<std::size_t>(after - text_.data());
    ++line_number_;
  }

  // Returns the text of a value that the caller found on the line just taken.
  // `value` is a trimmed view into that line. A value that begins with a
  // double quote is a quoted text in Praat's convention ("" inside stands for
  // one quote); when its own line does not close it, the text runs over the
  // following lines, taken from the file's exact bytes, up to the first line
  // that ends in an odd number of quotes, and the cursor moves past that line.
  // Without such a line the text is the rest of the value's own line. Any
  // other value is taken whole. Allocates the returned text only.
  std::string take_text(std::string_view value);

  // The text of take_text as a view into the cursor's text, without any
  // allocation: a text without doubled quotes is its own bytes, one with them
  // is collapsed in place over those bytes, which no later line reads. Only
  // for a cursor over writable text and a `value` inside that text.
  std::string_view take_text_in_place(std::string_view value);

  // The bytes of the text of `value` before any "" is collapsed, moving the
  // cursor past the lines of a text over several lines; `quoted` tells
  // whether doubled quotes inside stand for one. Writes nothing: for a reader
  // that shares the text with another thread and collapses later.
  std::string_view locate_text(std::string_view value, bool& quoted);

 private:
  // Returns the offset of the closing quote on the first line at or after
  // `from` whose text, trimmed at its end, ends in an odd number of quotes,
  // and in `line_end` the offset just past that line; npos when none.
  std::size_t find_closing_line(std::size_t from, std::size_t& line_end);

  std::string_view text_;
  char* writable_ = nullptr;  // the same bytes as text_, when they may be rewritten
  std::size_t pos_ = 0;       // start of the next line
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

// The `size` bytes at `first` with every pair of double quotes turned into
// one, written over themselves: a view of the result, never longer.
std::string_view collapse_quotes_in_place(char* first, std::size_t size);

// unquote's text written over the `size` bytes at `value` themselves, which
// must be writable: a view into them, no allocation.
std::string_view unquote_in_place(char* value, std::size_t size);

}  // namespace textgrid
