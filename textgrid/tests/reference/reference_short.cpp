
#include <algorithm>
#include <cstdint>
#include <utility>

#include "reference_rules.hpp"

namespace textgrid::reference {

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
  explicit Positions(std::string_view text) : lines_(text) {}

  bool take(std::string_view& line, Value what, std::size_t tier = 0, std::size_t item = 0) {
    if (lines_.next(line)) return true;
    failure_ = Error{ErrorKind::InvalidData,
                     "Unexpected end of file: line " + std::to_string(lines_.line_number() + 1) +
                         " should hold " + describe(what, tier, item),
                     0};
    return false;
  }

  // The text of a value on the line just taken, over several lines if quoted so.
  std::string text(std::string_view value) { return lines_.take_text(value); }

  std::unexpected<Error> failure() { return std::unexpected(std::move(failure_)); }

 private:
  LineCursor lines_;
  Error failure_;
};

}  // namespace

Result<TextGrid> parse_short(std::string_view text, std::string name, bool strict) {
  TextGrid grid;
  grid.name = std::move(name);
  Positions lines(text);
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
        grid.tmin = parse_real(line);
        if (!lines.take(line, Value::GridEnd)) return lines.failure();
        grid.tmax = parse_real(line);
        if (!lines.take(line, Value::Exists)) return lines.failure();
        if (!lines.take(line, Value::TierCount)) return lines.failure();
        grid.size = parse_count(line);
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          // Lines after the last tier are ignored.
          if (strict) {
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
        Tier& tier = grid.tiers.back();
        if (!lines.take(line, Value::TierName, t)) return lines.failure();
        tier.name = lines.text(line);
        if (!lines.take(line, Value::TierStart, t)) return lines.failure();
        tier.tmin = parse_real(line);
        if (!lines.take(line, Value::TierEnd, t)) return lines.failure();
        tier.tmax = parse_real(line);
        if (!lines.take(line, Value::ItemCount, t)) return lines.failure();
        tier.size = parse_count(line);
        // An item takes at least two lines of one byte each: reserve no more
        // than the text can hold, whatever the count claims.
        tier.items.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(tier.size, text.size() / 4)));
        items_left = tier.size;
        section = items_left == 0 ? Section::InTierList : Section::InItem;
        break;
      }
      case Section::InItem: {
        const std::size_t t = grid.tiers.size() - 1;
        Tier& tier = grid.tiers.back();
        const std::size_t i = tier.items.size();
        Item item;
        if (tier.is_interval) {
          if (!lines.take(line, Value::ItemStart, t, i)) return lines.failure();
          item.tmin = parse_real(line);
          if (!lines.take(line, Value::ItemEnd, t, i)) return lines.failure();
          item.tmax = parse_real(line);
          if (!lines.take(line, Value::ItemText, t, i)) return lines.failure();
          item.text = lines.text(line);
        } else {
          if (!lines.take(line, Value::PointTime, t, i)) return lines.failure();
          item.tmin = item.tmax = parse_real(line);
          if (!lines.take(line, Value::PointMark, t, i)) return lines.failure();
          item.text = lines.text(line);
        }
        tier.items.push_back(std::move(item));
        if (--items_left == 0) section = Section::InTierList;
        break;
      }
    }
  }
}

}  // namespace textgrid::reference
