#include "long_items.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

namespace textgrid {

namespace {

// The ASCII blanks that the trim takes from a line's end, its line feed aside.
bool is_line_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Returns the byte after the line feed that ends a line at `p` if only
// blanks stand before it; nullptr otherwise, or when no line feed follows.
const char* after_blanks_and_newline(const char* p, const char* end) {
  // Praat ends each value line with one blank.
  if (end - p >= 2 && p[0] == ' ' && p[1] == '\n') return p + 2;
  while (p != end && is_line_blank(*p)) ++p;
  return p != end && *p == '\n' ? p + 1 : nullptr;
}

// Returns the first byte at or after `p` that is `a` or `b`, or `end`; eight
// bytes at a time. Only the lowest flagged byte of a word is certain, and it
// is the one taken.
template <char a, char b>
const char* find_either(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(a));
    const std::uint64_t y = word ^ (kOnes * static_cast<unsigned char>(b));
    const std::uint64_t found = (((x - kOnes) & ~x) | ((y - kOnes) & ~y)) & kHigh;
    if (found != 0 && std::endian::native == std::endian::little) {
      return p + (std::countr_zero(found) >> 3);
    }
    if (found != 0) break;
    p += 8;
  }
  while (p != end && *p != a && *p != b) ++p;
  return p;
}

}  // namespace

ItemView* read_items(LineCursor& lines, TierView& tier, const char* stop) {
  const char* const end = lines.text_end();
  ItemView* item = &tier.items.back();
  for (;;) {
    if (lines.next_line_start() == stop) return item;
    const char* const p = detail::skip_spaces(lines.next_line_start(), end);
    if (end - p < 16) return item;
    const char* after = nullptr;
    switch (p[0]) {
      case 'i':
      case 'p': {
        // A heading: what follows its "[" does not matter.
        const bool heading = std::memcmp(p, "intervals [", 11) == 0 ||
                             std::memcmp(p, "points [", 8) == 0;
        if (!heading) return item;
        const char* newline = find_either<'\n', '\n'>(p + 8, end);
        if (newline == end) return item;
        lines.took_line(newline + 1);
        item = &tier.items.emplace_back();
        continue;
      }
      case 'x':
      case 'n': {
        double* target = nullptr;
        std::size_t key = 7;
        if (std::memcmp(p, "xmin = ", 7) == 0) {
          target = &item->tmin;
        } else if (std::memcmp(p, "xmax = ", 7) == 0) {
          target = &item->tmax;
        } else if (std::memcmp(p, "number = ", 9) == 0) {
          key = 9;
        } else {
          return item;
        }
        double value = 0.0;
        const char* const number_end = scan_real(p + key, end, value);
        if (number_end == nullptr ||
            (after = after_blanks_and_newline(number_end, end)) == nullptr) {
          return item;
        }
        if (target != nullptr) {
          *target = value;
        } else {
          item->tmin = item->tmax = value;
        }
        break;
      }
      case 't':
      case 'm': {
        const char* open = nullptr;
        if (std::memcmp(p, "text = \"", 8) == 0) {
          open = p + 8;
        } else if (std::memcmp(p, "mark = \"", 8) == 0) {
          open = p + 8;
        } else {
          return item;
        }
        const char* const close = find_either<'"', '\n'>(open, end);
        if (close == end || *close != '"' || close + 1 == end || close[1] == '"' ||
            (after = after_blanks_and_newline(close + 1, end)) == nullptr) {
          return item;
        }
        item->text = std::string_view(open, static_cast<std::size_t>(close - open));
        break;
      }
      default:
        return item;
    }
    lines.took_line(after);
  }
}


}  // namespace textgrid
