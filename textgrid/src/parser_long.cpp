#include "parser_long.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstdint>
#include <memory>
#include <utility>

#include "text_rules.hpp"

namespace textgrid {

namespace {

// Where the reader stands; decides what a "key = value" line means. There is
// no way back to InHeader once a heading has been met.
enum class Section {
  InHeader,    // keys of the TextGrid itself
  InTierList,  // after "item []": every key is ignored
  InTier,      // keys of the last tier
  InItem,      // keys of the last item of the last tier
};

enum class Heading { None, TierList, Tier, Item };

// Whether `s` is `word` exactly; the length known at compile time lets the
// comparison become a load or two instead of a call.
template <std::size_t N>
bool is(std::string_view s, const char (&word)[N]) {
  return s.size() == N - 1 && std::memcmp(s.data(), word, N - 1) == 0;
}

template <std::size_t N>
bool begins(std::string_view s, const char (&word)[N]) {
  return s.size() >= N - 1 && std::memcmp(s.data(), word, N - 1) == 0;
}

// Only lines that begin with "i" or "p" can be headings, so most lines are
// told apart by one byte; the full rule (heading_of) decides the rest.
Heading heading_of_line(std::string_view line) {
  if (line[0] == 'i') {
    if (begins(line, "item")) {
      if (!heading_of(line, "item")) return Heading::None;
      return is_tier_list_marker(line) ? Heading::TierList : Heading::Tier;
    }
    if (begins(line, "intervals")) {
      // The common case, "intervals [", needs no loop.
      if (line.size() > 10 && line[9] == ' ' && line[10] == '[') return Heading::Item;
      return heading_of(line, "intervals") ? Heading::Item : Heading::None;
    }
    return Heading::None;
  }
  if (line[0] == 'p' && heading_of(line, "points")) return Heading::Item;
  return Heading::None;
}

// An item takes at least one heading line ("points[" and its line break: 8
// bytes), so the items that declared counts may reserve, summed over the whole
// file, are bounded by what the text after the count can hold; items beyond a
// reservation grow their tier as read.
class ReserveBudget {
 public:
  explicit ReserveBudget(std::size_t text_size) : left_(text_size / 8) {}

  void reserve(TierView& tier, std::uint64_t declared, std::size_t text_left) {
    if (!tier.items.empty() || tier.items.capacity() != 0) return;
    const std::size_t cap = std::min(left_, text_left / 8);
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(declared, cap));
    tier.items.reserve(count);
    left_ -= count;
    prefer_huge_pages(tier.items.data(), tier.items.capacity() * sizeof(ItemView));
  }

 private:
  std::size_t left_;
};

// The ASCII blanks that the trim takes from a line's end, its line feed aside.
inline bool is_line_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Returns the byte after the line feed that ends a line at `p` if only
// blanks stand before it; nullptr otherwise, or when no line feed follows.
inline const char* after_blanks_and_newline(const char* p, const char* end) {
  while (p != end && is_line_blank(*p)) ++p;
  return p != end && *p == '\n' ? p + 1 : nullptr;
}

// Returns the first byte at or after `p` that is `a` or `b`, or `end`; eight
// bytes at a time. Only the lowest flagged byte of a word is certain, and it
// is the one taken.
template <char a, char b>
inline const char* find_either(const char* p, const char* end) {
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

// Praat writes each item as a heading and its values one to a line,
// indented: "intervals [1]:", "xmin = 0.5 ", "xmax = 1 ", "text = "a" " (or
// "points [1]:", "number = 0.5 ", "mark = "a" "). Lines of exactly those
// shapes are read here straight from the text, the number in one scan; the
// first line of any other shape (another key, a text over several lines or
// with doubled quotes, a blank outside ASCII, the next tier) is left, untaken,
// to the loop's full rules, which would read these lines alike. Returns the
// tier's last item.
ItemView* read_items(LineCursor& lines, TierView& tier) {
  const char* const end = lines.text_end();
  ItemView* item = &tier.items.back();
  for (;;) {
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
        const char* const stop = scan_real(p + key, end, value);
        if (stop == nullptr || (after = after_blanks_and_newline(stop, end)) == nullptr) {
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

}  // namespace

Result<TextGridView> parse_long_view(std::string owned, std::string name, bool strict) {
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(owned));
  grid.name = std::move(name);
  std::string& text = *grid.text;
  Section section = Section::InHeader;
  LineCursor lines(text.data(), text.size());
  ReserveBudget budget(text.size());
  TierView* tier = nullptr;  // the last tier
  ItemView* item = nullptr;  // the last item of the last tier
  std::string_view line;
  while (lines.next(line)) {
    if (line.empty()) continue;
    switch (heading_of_line(line)) {
      case Heading::TierList:
        section = Section::InTierList;
        continue;
      case Heading::Tier:
        tier = &grid.tiers.emplace_back();
        section = Section::InTier;
        continue;
      case Heading::Item:
        if (tier == nullptr) {
          return fail(ErrorKind::InvalidData,
                      "Interval or point heading before any tier heading on line " +
                          std::to_string(lines.line_number()));
        }
        tier->items.emplace_back();
        item = read_items(lines, *tier);
        section = Section::InItem;
        continue;
      case Heading::None:
        break;
    }
    // "key = value": the line is trimmed, so the key needs trimming at its end
    // only and the value at its start only.
    const auto* eq = static_cast<const char*>(std::memchr(line.data(), '=', line.size()));
    if (eq == nullptr) continue;
    const auto eq_at = static_cast<std::size_t>(eq - line.data());
    // " = " between a key and a value that end and begin with plain bytes,
    // as Praat writes it, needs no trimming loops.
    const auto plain = [](char c) {
      return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x80;
    };
    const std::string_view key = eq_at >= 2 && line[eq_at - 1] == ' ' && plain(line[eq_at - 2])
                                     ? line.substr(0, eq_at - 1)
                                     : trim_end(line.substr(0, eq_at));
    const std::string_view value =
        eq_at + 2 < line.size() && line[eq_at + 1] == ' ' && plain(line[eq_at + 2])
            ? line.substr(eq_at + 2)
            : trim_start(line.substr(eq_at + 1));

    switch (section) {
      case Section::InHeader:
        if (is(key, "xmin")) {
          grid.tmin = parse_trimmed_real(value);
        } else if (is(key, "xmax")) {
          grid.tmax = parse_trimmed_real(value);
        } else if (is(key, "size")) {
          grid.size = parse_trimmed_count(value);
        }
        break;
      case Section::InTierList:
        break;
      case Section::InTier:
        if (is(key, "name")) {
          tier->name = lines.take_text_in_place(value);
        } else if (is(key, "class")) {
          const std::string kind = unquote(value);
          if (kind == "IntervalTier") {
            tier->is_interval = true;
          } else if (kind == "TextTier") {
            tier->is_interval = false;
          } else {
            return fail(ErrorKind::InvalidData, "Unknown tier class: " + std::string(value));
          }
        } else if (is(key, "xmin")) {
          tier->tmin = parse_trimmed_real(value);
        } else if (is(key, "xmax")) {
          tier->tmax = parse_trimmed_real(value);
        } else if (is(key, "intervals: size") || is(key, "points: size")) {
          tier->size = parse_trimmed_count(value);
          budget.reserve(*tier, tier->size, text.size() - lines.offset());
        }
        break;
      case Section::InItem:
        if (is(key, "xmin")) {
          item->tmin = parse_trimmed_real(value);
        } else if (is(key, "xmax")) {
          item->tmax = parse_trimmed_real(value);
        } else if (is(key, "number")) {
          item->tmin = item->tmax = parse_trimmed_real(value);
        } else if (is(key, "text") || is(key, "mark")) {
          item->text = lines.take_text_in_place(value);
        }
        break;
    }
  }
  if (strict) {
    if (auto valid = grid.assert_valid(); !valid) return std::unexpected(std::move(valid.error()));
  }
  return grid;
}

Result<TextGrid> parse_long(std::string_view text, std::string name, bool strict) {
  auto view = parse_long_view(std::string(text), std::move(name), strict);
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

Result<TextGrid> read_from_file_long(const std::string& path, bool strict,
                                     const ShouldStop& should_stop) {
  auto text = read_text_file(path, should_stop);
  if (!text) return std::unexpected(std::move(text.error()));
  auto view = parse_long_view(std::move(*text), file_stem(path), strict);
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
