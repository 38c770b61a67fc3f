#include "formats/parser_chronological.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "formats/tokens.hpp"
#include "text/text_rules.hpp"

namespace textgrid {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Where the reader stands.
enum class Section {
  InHeader,    // the first line, the time domain and the tier count
  InTierList,  // one line per tier: class, name, start and end time
  InRecords,   // the items of all tiers in time order, to the end
};

// Returns the tier number of a record: parse_count, with a shortcut for the
// few plain digits that Praat writes.
std::uint64_t tier_number(std::string_view token) {
  if (token.empty() || token.size() > 9) return parse_count(token);
  std::uint64_t number = 0;
  for (const char c : token) {
    if (c < '0' || c > '9') return parse_count(token);
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return number;
}

// Reserves for each tier what the records read so far foretell for the
// whole file, from `taken` records in `used` of the records' `total` bytes,
// with an eighth to spare. Only a hint, never trusted beyond reservation: the
// tiers together reserve at most one item per 6 bytes, the least a record
// takes ("1 0 x" and a line break).
void reserve_by_sample(std::vector<TierView>& tiers, std::size_t taken, std::size_t used,
                       std::size_t total) {
  if (used == 0 || taken == 0) return;
  const double scale = static_cast<double>(total) / static_cast<double>(used) * 1.125;
  std::size_t left = total / 6;
  for (TierView& tier : tiers) {
    const double want = static_cast<double>(tier.items.size()) * scale + 16.0;
    const auto reserved = std::min(left, static_cast<std::size_t>(std::min(want, 1e15)));
    if (reserved <= tier.items.size()) continue;
    tier.items.reserve(reserved);
    left -= reserved;
    prefer_huge_pages(tier.items.data(), tier.items.capacity() * sizeof(ItemView));
  }
}

std::string_view without_mark(std::string_view text) {
  if (text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
  return text;
}

// The header after its first line: the TextGrid's bounds and tier count.
// False, with the failure kept in `tokens`, where the text ends first.
bool read_header(Tokens& tokens, TextGridView& grid) {
  std::string_view token;
  tokens.skip_line();
  if (!tokens.word(token, Value::GridStart)) return false;
  grid.tmin = parse_trimmed_real(token);
  if (!tokens.word(token, Value::GridEnd)) return false;
  grid.tmax = parse_trimmed_real(token);
  if (!tokens.word(token, Value::TierCount)) return false;
  grid.size = parse_trimmed_count(token);
  // A tier line is four tokens of a byte and a blank each at least: no more
  // tiers are reserved than the text can hold.
  grid.tiers.reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(grid.size, grid.text->size() / 8)));
  return true;
}

// The next tier of the tier list: its class, name and bounds.
Status read_tier(Tokens& tokens, TextGridView& grid) {
  const std::size_t t = grid.tiers.size();
  std::string_view kind, token;
  if (!tokens.text(kind, Value::TierClass, t)) return tokens.failure();
  TierView tier;
  if (kind == "TextTier") {
    tier.is_interval = false;
  } else if (kind != "IntervalTier") {
    return fail(ErrorKind::InvalidData, "Unknown tier class: \"" + std::string(kind) + "\"");
  }
  if (!tokens.text(tier.name, Value::TierName, t)) return tokens.failure();
  if (!tokens.word(token, Value::TierStart, t)) return tokens.failure();
  tier.tmin = parse_trimmed_real(token);
  if (!tokens.word(token, Value::TierEnd, t)) return tokens.failure();
  tier.tmax = parse_trimmed_real(token);
  grid.tiers.push_back(std::move(tier));
  return {};
}

}  // namespace

bool is_chronological_text(std::string_view text) {
  text = without_mark(text);
  if (!text.starts_with(kChronologicalHeader)) return false;
  const std::string_view after = text.substr(kChronologicalHeader.size());
  return trim(after.substr(0, detail::line_end_offset(after, 0))).empty();
}

Result<TextGridView> parse_chronological_view(std::string owned, std::string name,
                                              const ReadOptions& options) {
  if (!is_chronological_text(owned)) {
    return fail(ErrorKind::InvalidData, "Line 1 should be " + std::string(kChronologicalHeader));
  }
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(owned));
  grid.name = std::move(name);
  std::string& text = *grid.text;
  const std::size_t mark = text.size() - without_mark(text).size();
  Tokens tokens(text.data() + mark, text.size() - mark);
  Section section = Section::InHeader;
  std::string_view token;
  // The first records foretell how many items each tier will hold.
  constexpr std::size_t kSampleRecords = 1024;
  std::size_t records_start = 0;
  std::size_t records_taken = 0;

  for (;;) {
    switch (section) {
      case Section::InHeader: {
        if (!read_header(tokens, grid)) return tokens.failure();
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          records_start = tokens.offset();
          section = Section::InRecords;
          break;
        }
        if (Status read = read_tier(tokens, grid); !read) {
          return std::unexpected(std::move(read.error()));
        }
        break;
      }
      case Section::InRecords: {
        if (!tokens.more_numbers()) {
          for (TierView& tier : grid.tiers) tier.size = tier.items.size();
          if (options.strict) {
            if (auto valid = grid.assert_valid(); !valid) {
              return std::unexpected(std::move(valid.error()));
            }
          }
          return grid;
        }
        if (++records_taken == kSampleRecords) {
          const std::size_t total = tokens.offset() + tokens.rest().size() - records_start;
          reserve_by_sample(grid.tiers, records_taken - 1, tokens.offset() - records_start, total);
        }
        tokens.word(token, Value::ItemStart);
        const std::uint64_t number = tier_number(token);
        if (number == 0 || number > grid.tiers.size()) {
          return fail(ErrorKind::InvalidData, "Tier number " + std::string(token) + " on line " +
                                                  std::to_string(tokens.line_number()) +
                                                  " is out of range: the TextGrid has " +
                                                  std::to_string(grid.tiers.size()) + " tiers");
        }
        const auto t = static_cast<std::size_t>(number - 1);
        TierView& tier = grid.tiers[t];
        const std::size_t i = tier.items.size();
        ItemView& item = tier.items.emplace_back();
        if (tier.is_interval) {
          if (!tokens.word(token, Value::ItemStart, t, i)) return tokens.failure();
          item.tmin = parse_trimmed_real(token);
          if (!tokens.word(token, Value::ItemEnd, t, i)) return tokens.failure();
          item.tmax = parse_trimmed_real(token);
          if (!tokens.text(item.text, Value::ItemText, t, i)) return tokens.failure();
        } else {
          if (!tokens.word(token, Value::PointTime, t, i)) return tokens.failure();
          item.tmin = item.tmax = parse_trimmed_real(token);
          if (!tokens.text(item.text, Value::PointMark, t, i)) return tokens.failure();
        }
        break;
      }
    }
  }
}

Result<TextGrid> parse_chronological(std::string_view text, std::string name, bool strict) {
  auto view = parse_chronological_view(std::string(text), std::move(name), {.strict = strict});
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
