#include "formats/parser_short.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include "text/line_scan.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

namespace {

// Where the reader stands in the fixed order of values.
enum class Section {
  InHeader,    // the seven lines before the first tier
  InTierList,  // between tiers: the next tier's class line, or the end
  InTier,      // a tier's name, times and item count
  InItem,      // the lines of one interval or point
};

// The values of the layout, for the message when one lies past the end.
enum class Value {
  Header,
  GridStart,
  GridEnd,
  Exists,
  TierCount,
  TierClass,
  TierName,
  TierStart,
  TierEnd,
  ItemCount,
  ItemStart,
  ItemEnd,
  ItemText,
  PointTime,
  PointMark,
};

std::string describe(Value what, std::size_t tier, std::size_t item) {
  const std::string of_tier = " of tier " + std::to_string(tier);
  const std::string of_item = " of item " + std::to_string(item) + of_tier;
  switch (what) {
    case Value::Header: return "the header";
    case Value::GridStart: return "the start time of the TextGrid";
    case Value::GridEnd: return "the end time of the TextGrid";
    case Value::Exists: return "the tiers' <exists> line";
    case Value::TierCount: return "the number of tiers";
    case Value::TierClass: return "the class" + of_tier;
    case Value::TierName: return "the name" + of_tier;
    case Value::TierStart: return "the start time" + of_tier;
    case Value::TierEnd: return "the end time" + of_tier;
    case Value::ItemCount: return "the number of items" + of_tier;
    case Value::ItemStart: return "the start time" + of_item;
    case Value::ItemEnd: return "the end time" + of_item;
    case Value::ItemText: return "the text" + of_item;
    case Value::PointTime: return "the time" + of_item;
    case Value::PointMark: return "the mark" + of_item;
  }
  return {};
}

// Hands out the lines in order; running past the last one records an error
// that names the line and the value expected there.
class Positions {
 public:
  Positions(char* text, std::size_t size) : lines_(text, size) {}

  // Inline, with the message built out of line: every value passes here.
  [[gnu::always_inline]] bool take(std::string_view& line, Value what, std::size_t tier = 0,
                                   std::size_t item = 0) {
    if (lines_.next(line)) [[likely]]
      return true;
    record_end(what, tier, item);
    return false;
  }

  // The text of a value on the line just taken, over several lines if quoted
  // so; a view into the text.
  std::string_view text(std::string_view value) { return lines_.take_text_in_place(value); }

  // Offset in the text of the next line.
  std::size_t offset() const { return lines_.offset(); }

  // The cursor, for lines read straight from the text.
  LineCursor& cursor() { return lines_; }

  std::unexpected<Error> failure() { return std::unexpected(std::move(failure_)); }

 private:
  [[gnu::noinline]] void record_end(Value what, std::size_t tier, std::size_t item) {
    failure_ = Error{ErrorKind::InvalidData,
                     "Unexpected end of file: line " + std::to_string(lines_.line_number() + 1) +
                         " should hold " + describe(what, tier, item),
                     0};
  }

  LineCursor lines_;
  Error failure_;
};

// Praat writes an interval as three lines, its times and its quoted text
// ("0.5", "1", ""a""), a point as two. Items whose lines have exactly those
// shapes are read here straight from the text, up to `most` of them, each
// whole or not at all; the first item of any other shape (a text over
// several lines or with doubled quotes, a blank outside ASCII, an odd
// number) is left to the full rules, which would read these alike. Returns
// how many items were read.
std::uint64_t read_items(LineCursor& lines, TierView& tier, std::uint64_t most) {
  const char* const end = lines.text_end();
  std::uint64_t read = 0;
  while (read < most) {
    ItemView item;
    const char* const first = detail::skip_spaces(lines.next_line_start(), end);
    const char* second = detail::number_line(first, end, item.tmin);
    if (second == nullptr) break;
    second = detail::skip_spaces(second, end);
    const char* third = second;
    if (tier.is_interval) {
      third = detail::number_line(second, end, item.tmax);
      if (third == nullptr) break;
      third = detail::skip_spaces(third, end);
    } else {
      item.tmax = item.tmin;
    }
    if (third == end || *third != '"') break;
    const char* const after = detail::text_line(third, end, item.text);
    if (after == nullptr) break;
    tier.items.push_back(item);
    lines.took_line(second);
    if (tier.is_interval) lines.took_line(third);
    lines.took_line(after);
    ++read;
  }
  return read;
}

}  // namespace

Result<TextGridView> parse_short_view(std::string owned, std::string name,
                                      const ReadOptions& options) {
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(owned));
  grid.name = std::move(name);
  std::string& text = *grid.text;
  Positions lines(text.data(), text.size());
  // What all tiers reserve together stays within what the text can hold.
  std::size_t reserve_left = text.size() / 4;
  Section section = Section::InHeader;
  std::uint64_t items_left = 0;
  std::string_view line;

  for (;;) {
    switch (section) {
      case Section::InHeader: {
        // Lines 1 to 3 and 6 (file type, object class, blank, <exists>) are
        // not looked at.
        for (int skipped = 0; skipped < 3; ++skipped) {
          if (!lines.take(line, Value::Header)) return lines.failure();
        }
        if (!lines.take(line, Value::GridStart)) return lines.failure();
        grid.tmin = parse_trimmed_real(line);
        if (!lines.take(line, Value::GridEnd)) return lines.failure();
        grid.tmax = parse_trimmed_real(line);
        if (!lines.take(line, Value::Exists)) return lines.failure();
        if (!lines.take(line, Value::TierCount)) return lines.failure();
        grid.size = parse_trimmed_count(line);
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          // Lines after the last tier are ignored.
          if (options.strict) {
            if (auto valid = grid.assert_valid(); !valid) {
              return std::unexpected(std::move(valid.error()));
            }
          }
          return grid;
        }
        if (!lines.take(line, Value::TierClass, grid.tiers.size())) return lines.failure();
        const std::string kind = unquote(line);
        bool is_interval = true;
        if (kind == "TextTier") {
          is_interval = false;
        } else if (kind != "IntervalTier") {
          return fail(ErrorKind::InvalidData, "Unknown tier class: " + std::string(line));
        }
        grid.tiers.emplace_back().is_interval = is_interval;
        section = Section::InTier;
        break;
      }
      case Section::InTier: {
        const std::size_t t = grid.tiers.size() - 1;
        TierView& tier = grid.tiers.back();
        if (!lines.take(line, Value::TierName, t)) return lines.failure();
        tier.name = lines.text(line);
        if (!lines.take(line, Value::TierStart, t)) return lines.failure();
        tier.tmin = parse_trimmed_real(line);
        if (!lines.take(line, Value::TierEnd, t)) return lines.failure();
        tier.tmax = parse_trimmed_real(line);
        if (!lines.take(line, Value::ItemCount, t)) return lines.failure();
        tier.size = parse_trimmed_count(line);
        // An item takes at least two lines of one byte each: reserve no more
        // than the text can hold, whatever the count claims.
        const auto reserved = static_cast<std::size_t>(std::min<std::uint64_t>(
            tier.size, std::min(reserve_left, (text.size() - lines.offset()) / 4)));
        tier.items.reserve(reserved);
        reserve_left -= reserved;
        prefer_huge_pages(tier.items.data(), tier.items.capacity() * sizeof(ItemView));
        items_left = tier.size;
        section = items_left == 0 ? Section::InTierList : Section::InItem;
        break;
      }
      case Section::InItem: {
        const std::size_t t = grid.tiers.size() - 1;
        TierView& tier = grid.tiers.back();
        items_left -= read_items(lines.cursor(), tier, items_left);
        if (items_left == 0) {
          section = Section::InTierList;
          break;
        }
        const std::size_t i = tier.items.size();
        ItemView& item = tier.items.emplace_back();
        if (tier.is_interval) {
          if (!lines.take(line, Value::ItemStart, t, i)) return lines.failure();
          item.tmin = parse_trimmed_real(line);
          if (!lines.take(line, Value::ItemEnd, t, i)) return lines.failure();
          item.tmax = parse_trimmed_real(line);
          if (!lines.take(line, Value::ItemText, t, i)) return lines.failure();
          item.text = lines.text(line);
        } else {
          if (!lines.take(line, Value::PointTime, t, i)) return lines.failure();
          item.tmin = item.tmax = parse_trimmed_real(line);
          if (!lines.take(line, Value::PointMark, t, i)) return lines.failure();
          item.text = lines.text(line);
        }
        if (--items_left == 0) section = Section::InTierList;
        break;
      }
    }
  }
}

Result<TextGrid> parse_short(std::string_view text, std::string name, bool strict) {
  auto view = parse_short_view(std::string(text), std::move(name), {.strict = strict});
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
