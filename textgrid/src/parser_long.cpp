#include "parser_long.hpp"

#include <algorithm>
#include <cstdint>
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

// An item takes at least one heading line ("points [" and its line break: 9
// bytes), so the items that declared counts may reserve, summed over the whole
// file, are bounded by what the text after the count can hold. A file that
// repeats a huge count in every tier then reserves the text's worth once, not
// once per tier; items beyond a reservation grow their tier as read.
class ItemReservations {
 public:
  explicit ItemReservations(std::size_t text_size) : left_(text_size / 9) {}

  void reserve(Tier& tier, std::uint64_t declared, std::size_t rest_of_text) {
    if (!tier.items.empty()) return;
    const std::uint64_t count = std::min({declared, left_, std::uint64_t{rest_of_text / 9}});
    left_ -= count;
    tier.items.reserve(static_cast<std::size_t>(count));
    prefer_huge_pages(tier.items.data(), tier.items.capacity() * sizeof(Item));
  }

 private:
  std::uint64_t left_;
};

}  // namespace

Result<TextGrid> parse_long(std::string_view text, std::string name, bool strict) {
  TextGrid grid;
  grid.name = std::move(name);
  Section section = Section::InHeader;
  LineCursor lines(text);
  ItemReservations reservations(text.size());
  std::string_view line;
  while (lines.next(line)) {
    if (heading_of(line, "item")) {
      if (is_tier_list_marker(line)) {
        section = Section::InTierList;
      } else {
        grid.tiers.emplace_back();
        section = Section::InTier;
      }
      continue;
    }
    if (heading_of(line, "intervals") || heading_of(line, "points")) {
      if (grid.tiers.empty()) {
        return fail(ErrorKind::InvalidData,
                    "Interval or point heading before any tier heading on line " +
                        std::to_string(lines.line_number()));
      }
      grid.tiers.back().items.emplace_back();
      section = Section::InItem;
      continue;
    }
    const auto pair = parse_kv(line);
    if (!pair) continue;
    const auto [key, value] = *pair;

    switch (section) {
      case Section::InHeader:
        if (key == "xmin") {
          grid.tmin = parse_real(value);
        } else if (key == "xmax") {
          grid.tmax = parse_real(value);
        } else if (key == "size") {
          grid.size = parse_count(value);
        }
        break;
      case Section::InTierList:
        break;
      case Section::InTier: {
        Tier& tier = grid.tiers.back();
        if (key == "name") {
          tier.name = lines.take_text(value);
        } else if (key == "class") {
          const std::string kind = unquote(value);
          if (kind == "IntervalTier") {
            tier.is_interval = true;
          } else if (kind == "TextTier") {
            tier.is_interval = false;
          } else {
            return fail(ErrorKind::InvalidData, "Unknown tier class: " + std::string(value));
          }
        } else if (key == "xmin") {
          tier.tmin = parse_real(value);
        } else if (key == "xmax") {
          tier.tmax = parse_real(value);
        } else if (key == "intervals: size" || key == "points: size") {
          tier.size = parse_count(value);
          reservations.reserve(tier, tier.size, text.size() - lines.offset());
        }
        break;
      }
      case Section::InItem: {
        Item& item = grid.tiers.back().items.back();
        if (key == "xmin") {
          item.tmin = parse_real(value);
        } else if (key == "xmax") {
          item.tmax = parse_real(value);
        } else if (key == "number") {
          item.tmin = item.tmax = parse_real(value);
        } else if (key == "text" || key == "mark") {
          item.text = lines.take_text(value);
        }
        break;
      }
    }
  }
  if (strict) {
    if (auto valid = grid.assert_valid(); !valid) return std::unexpected(std::move(valid.error()));
  }
  return grid;
}

Result<TextGrid> read_from_file_long(const std::string& path, bool strict,
                                      const ShouldStop& should_stop) {
  auto text = read_text_file(path, should_stop);
  if (!text) return std::unexpected(std::move(text.error()));
  return parse_long(*text, file_stem(path), strict);
}

}  // namespace textgrid
