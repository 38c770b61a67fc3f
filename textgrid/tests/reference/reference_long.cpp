
#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "reference_rules.hpp"

namespace textgrid::reference {

namespace {

// Where the reader stands; decides what a "key = value" line means. There is
// no way back to InHeader once a heading has been met.
enum class Section {
  InHeader,    // keys of the TextGrid itself
  InTierList,  // after "item []": every key is ignored
  InTier,      // keys of the last tier
  InItem,      // keys of the last item of the last tier
};

// An interval takes at least one heading line of 12 bytes, so a declared
// count above that many per byte is a lie; reserve no more than the text holds.
void reserve_items(Tier& tier, std::uint64_t declared, std::size_t text_size) {
  if (!tier.items.empty()) return;
  const std::uint64_t cap = text_size / 12;
  tier.items.reserve(static_cast<std::size_t>(std::min(declared, cap)));
}

// ELAN's headings: the word, optional blanks or tabs, then "[".
std::optional<std::string_view> after_bracket(std::string_view line, std::string_view word) {
  if (!line.starts_with(word)) return std::nullopt;
  std::size_t at = word.size();
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at == line.size() || line[at] != '[') return std::nullopt;
  return line.substr(at + 1);
}

bool closes_at_once(std::string_view rest) {
  std::size_t at = 0;
  while (at < rest.size() && (rest[at] == ' ' || rest[at] == '\t')) ++at;
  return at < rest.size() && rest[at] == ']';
}

}  // namespace

Result<TextGrid> parse_long(std::string_view text, std::string name, bool strict) {
  TextGrid grid;
  grid.name = std::move(name);
  Section section = Section::InHeader;
  LineCursor lines(text);
  std::string_view line;
  while (lines.next(line)) {
    if (const auto rest = after_bracket(line, "item")) {
      if (closes_at_once(*rest)) {
        section = Section::InTierList;
      } else {
        grid.tiers.emplace_back();
        section = Section::InTier;
      }
      continue;
    }
    if (after_bracket(line, "intervals") || after_bracket(line, "points")) {
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
      case Section::InTierList: break;
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
          reserve_items(tier, tier.size, text.size());
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

}  // namespace textgrid::reference
