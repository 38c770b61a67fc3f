// Lines of a shape the readers know, read straight from the text: where a
// line as Praat writes it ends, its number, its quoted text. Each returns
// nullptr for a line of any other shape, which the reader then takes by its
// full rules; on the lines they accept, those rules would give the same.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text/numbers.hpp"

namespace textgrid::detail {

// The ASCII blanks that the trim takes from a line's end, its line end aside.
inline bool is_line_blank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Returns the byte after the line feed, or carriage return and line feed,
// that ends a line at `p` if only blanks stand before it; nullptr otherwise,
// or when no such line end follows (a carriage return alone, as old Mac
// files end their lines, is left to the full rules).
inline const char* after_blanks_and_newline(const char* p, const char* end) {
  // Praat ends each value line with one blank.
  if (end - p >= 2 && p[0] == ' ' && p[1] == '\n') return p + 2;
  while (p != end && is_line_blank(*p)) ++p;
  if (p != end && *p == '\n') return p + 1;
  return end - p >= 2 && p[0] == '\r' && p[1] == '\n' ? p + 2 : nullptr;
}

// Returns the first byte at or after `p` that is `a`, `b` or `c`, or `end`; eight
// bytes at a time. Only the lowest flagged byte of a word is certain, and it
// is the one taken.
template <char a, char b, char c = b>
inline const char* find_either(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(a));
    const std::uint64_t y = word ^ (kOnes * static_cast<unsigned char>(b));
    std::uint64_t found = ((x - kOnes) & ~x) | ((y - kOnes) & ~y);
    if constexpr (c != b) {
      const std::uint64_t z = word ^ (kOnes * static_cast<unsigned char>(c));
      found |= (z - kOnes) & ~z;
    }
    found &= kHigh;
    if (found != 0 && std::endian::native == std::endian::little) {
      return p + (std::countr_zero(found) >> 3);
    }
    if (found != 0) break;
    p += 8;
  }
  while (p != end && *p != a && *p != b && *p != c) ++p;
  return p;
}

// Returns the first byte at or after `p` that is a double quote or below
// 0x0E (a line end, a tab or another control byte), or `end`: the bytes that
// may close or break off a text on its line, found with two tests a word.
inline const char* find_quote_or_control(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t x = word ^ (kOnes * '"');
    const std::uint64_t found = (((x - kOnes) & ~x) | ((word - kOnes * 0x0E) & ~word)) & kHigh;
    if (found != 0 && std::endian::native == std::endian::little) {
      return p + (std::countr_zero(found) >> 3);
    }
    if (found != 0) break;
    p += 8;
  }
  while (p != end && *p != '"' && static_cast<unsigned char>(*p) >= 0x0E) ++p;
  return p;
}

// Returns the first byte at or after `p` below 0x0E (a line end, a tab or
// another control byte), or `end`; one test a word.
inline const char* find_control(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t found = (word - kOnes * 0x0E) & ~word & kHigh;
    if (found != 0 && std::endian::native == std::endian::little) {
      return p + (std::countr_zero(found) >> 3);
    }
    if (found != 0) break;
    p += 8;
  }
  while (p != end && static_cast<unsigned char>(*p) >= 0x0E) ++p;
  return p;
}

// A line ends at a line feed, a carriage return and a line feed, or a
// carriage return alone. Returns the first line end at or after `p`, or `end`.
inline const char* find_line_end(const char* p, const char* end) {
  return find_either<'\n', '\r'>(p, end);
}

// Returns the offset in `text` of the first line end at or after `from`, or
// the text's size.
inline std::size_t line_end_offset(std::string_view text, std::size_t from) {
  const char* const end = text.data() + text.size();
  return static_cast<std::size_t>(find_line_end(text.data() + from, end) - text.data());
}

// Returns the byte after the line end at `p` (a byte that is '\n' or '\r').
inline const char* after_line_end(const char* p, const char* end) {
  return *p == '\r' && end - p >= 2 && p[1] == '\n' ? p + 2 : p + 1;
}

// Whether the line whose first non-blank byte is at `p` is an item heading
// as Praat writes it: "intervals [" or "points [", with room after it for
// the rest of the heading. What follows the "[" does not matter.
inline bool is_item_heading(const char* p, const char* end) {
  return end - p >= 16 &&
         (std::memcmp(p, "intervals [", 11) == 0 || std::memcmp(p, "points [", 8) == 0);
}

// A line that holds a number, then blanks: sets `value` and returns the byte
// after the line feed.
inline const char* number_line(const char* p, const char* end, double& value) {
  const char* const stop = scan_real(p, end, value);
  return stop == nullptr ? nullptr : after_blanks_and_newline(stop, end);
}

// A line that holds, from the opening quote at `p`, a text closed on the same
// line without a doubled quote, then blanks: sets `text` to what is between
// the quotes and returns the byte after the line end.
inline const char* text_line(const char* p, const char* end, std::string_view& text) {
  const char* const open = p + 1;
  const char* const close = find_quote_or_control(open, end);
  if (close == end || *close != '"' || close + 1 == end || close[1] == '"') return nullptr;
  const char* const after = after_blanks_and_newline(close + 1, end);
  if (after != nullptr) text = std::string_view(open, static_cast<std::size_t>(close - open));
  return after;
}

}  // namespace textgrid::detail
