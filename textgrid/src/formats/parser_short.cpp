#include "formats/parser_short.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "formats/parser_stream.hpp"
#include "formats/values.hpp"
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

// Whether a trimmed line holds more than one of Praat's values, or a "!"
// comment: what Praat's free text form may have and the short layout never
// has. A quoted text ends where Praat ends it, at the first quote that is not
// doubled; one that runs on over the next lines is one value.
bool more_than_one_value(std::string_view line) {
  std::size_t at = 0;
  if (line.starts_with('"')) {
    for (at = 1;;) {
      const std::size_t quote = line.find('"', at);
      if (quote == std::string_view::npos) return false;
      at = quote;
      while (at < line.size() && line[at] == '"') ++at;
      if ((at - quote) % 2 == 1) return at < line.size();
    }
  }
  return line.find_first_of(" \t!") != std::string_view::npos;
}

// Hands out the lines in order; running past the last one records an error
// that names the line and the value expected there. Watching for Praat's
// free text form, a line with more than one value stops the reading as well,
// and texts with doubled quotes are collapsed only at the end, so that a
// stopped reading leaves the text as it was.
class Positions {
 public:
  Positions(char* text, std::size_t size, bool watch) : lines_(text, size), watch_(watch) {}

  // Inline, with the message built out of line: every value passes here.
  [[gnu::always_inline]] bool take(std::string_view& line, Value what, std::size_t tier = 0,
                                   std::size_t item = 0) {
    if (lines_.next(line)) [[likely]] {
      if (!watch_ || !free_form_line(line)) [[likely]]
        return true;
      free_form_ = true;
      return false;
    }
    record_end(what, tier, item);
    return false;
  }

  // Whether the line just taken shows Praat's free text form: a value line
  // with more than one value, or the object class line ("Object class =
  // "TextGrid"", the words before the class aside) with values after it.
  bool free_form_line(std::string_view line) const {
    const std::size_t number = lines_.line_number();
    if (number > 2) return more_than_one_value(line);
    const std::size_t quote = line.find('"');
    return number == 2 && quote != std::string_view::npos &&
           more_than_one_value(line.substr(quote));
  }

  // The text of a value on the line just taken, over several lines if quoted
  // so; a view into the text. `item` is npos for the tier's name.
  std::string_view text(std::string_view value, std::size_t tier, std::size_t item) {
    if (!watch_) return lines_.take_text_in_place(value);
    bool quoted = false;
    const std::string_view raw = lines_.locate_text(value, quoted);
    if (quoted && raw.find('"') != std::string_view::npos) pending_.push_back({tier, item});
    return raw;
  }

  // Collapses the texts that watching left as they stood.
  void collapse(TextGridView& grid) {
    for (const auto& [t, i] : pending_) {
      TierView& tier = grid.tiers[t];
      std::string_view& view = i == std::string_view::npos ? tier.name : tier.items[i].text;
      view = collapse_quotes_in_place(grid.text->data() + (view.data() - grid.text->data()),
                                      view.size());
    }
  }

  // Offset in the text of the next line.
  std::size_t offset() const { return lines_.offset(); }

  // The cursor, for lines read straight from the text.
  LineCursor& cursor() { return lines_; }

  // What the reading returns once take() said no: false for a line with
  // more than one value, else the failure.
  Result<bool> stopped() {
    if (free_form_) return false;
    return std::unexpected(std::move(failure_));
  }

 private:
  [[gnu::noinline]] void record_end(Value what, std::size_t tier, std::size_t item) {
    failure_ = Error{ErrorKind::InvalidData,
                     "Unexpected end of file: line " + std::to_string(lines_.line_number() + 1) +
                         " should hold " + describe(what, tier, item),
                     0};
  }

  LineCursor lines_;
  bool watch_;
  bool free_form_ = false;
  std::vector<std::pair<std::size_t, std::size_t>> pending_;
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

// The header's lines: lines 1 to 3 and 6 (file type, object class, blank,
// <exists>) are not looked at. False where the text ends or stops first.
bool read_header(Positions& lines, TextGridView& grid) {
  std::string_view line;
  for (int skipped = 0; skipped < 3; ++skipped) {
    if (!lines.take(line, Value::Header)) return false;
  }
  if (!lines.take(line, Value::GridStart)) return false;
  grid.tmin = parse_trimmed_real(line);
  if (!lines.take(line, Value::GridEnd)) return false;
  grid.tmax = parse_trimmed_real(line);
  if (!lines.take(line, Value::Exists)) return false;
  if (!lines.take(line, Value::TierCount)) return false;
  grid.size = parse_trimmed_count(line);
  return true;
}

// Tier `t`'s name, bounds and declared item count, after its class. False
// where the text ends or stops first.
bool read_tier_heading(Positions& lines, std::size_t t, TierView& tier) {
  std::string_view line;
  if (!lines.take(line, Value::TierName, t)) return false;
  tier.name = lines.text(line, t, std::string_view::npos);
  if (!lines.take(line, Value::TierStart, t)) return false;
  tier.tmin = parse_trimmed_real(line);
  if (!lines.take(line, Value::TierEnd, t)) return false;
  tier.tmax = parse_trimmed_real(line);
  if (!lines.take(line, Value::ItemCount, t)) return false;
  tier.size = parse_trimmed_count(line);
  return true;
}

// Reads grid.text into `grid`; true once read, false (the text unchanged)
// when `watch` saw a line with more than one value.
Result<bool> read_short(TextGridView& grid, bool strict, bool watch) {
  std::string& text = *grid.text;
  Positions lines(text.data(), text.size(), watch);
  // What all tiers reserve together stays within what the text can hold.
  std::size_t reserve_left = text.size() / 4;
  Section section = Section::InHeader;
  std::uint64_t items_left = 0;
  std::string_view line;

  for (;;) {
    switch (section) {
      case Section::InHeader: {
        if (!read_header(lines, grid)) return lines.stopped();
        section = Section::InTierList;
        break;
      }
      case Section::InTierList: {
        if (grid.tiers.size() == grid.size) {
          // Lines after the last tier are ignored.
          lines.collapse(grid);
          if (strict) {
            if (auto valid = grid.assert_valid(); !valid) {
              return std::unexpected(std::move(valid.error()));
            }
          }
          return true;
        }
        if (!lines.take(line, Value::TierClass, grid.tiers.size())) return lines.stopped();
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
        TierView& tier = grid.tiers.back();
        if (!read_tier_heading(lines, grid.tiers.size() - 1, tier)) return lines.stopped();
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
          if (!lines.take(line, Value::ItemStart, t, i)) return lines.stopped();
          item.tmin = parse_trimmed_real(line);
          if (!lines.take(line, Value::ItemEnd, t, i)) return lines.stopped();
          item.tmax = parse_trimmed_real(line);
          if (!lines.take(line, Value::ItemText, t, i)) return lines.stopped();
          item.text = lines.text(line, t, i);
        } else {
          if (!lines.take(line, Value::PointTime, t, i)) return lines.stopped();
          item.tmin = item.tmax = parse_trimmed_real(line);
          if (!lines.take(line, Value::PointMark, t, i)) return lines.stopped();
          item.text = lines.text(line, t, i);
        }
        if (--items_left == 0) section = Section::InTierList;
        break;
      }
    }
  }
}

}  // namespace

Result<TextGridView> parse_short_view(std::string text, std::string name,
                                      const ReadOptions& options) {
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(text));
  grid.name = std::move(name);
  auto read = read_short(grid, options.strict, false);
  if (!read) return std::unexpected(std::move(read.error()));
  return grid;
}

Result<TextGridView> parse_short_or_stream_view(std::string text, std::string name,
                                                const ReadOptions& options) {
  TextGridView grid;
  grid.text = std::make_unique<std::string>(std::move(text));
  grid.name = std::move(name);
  // Praat reads its text files only under its own first line.
  const std::string_view first_line =
      std::string_view(*grid.text).substr(0, detail::line_end_offset(*grid.text, 0));
  const bool praat_text = first_line.find("\"ooTextFile\"") != std::string_view::npos;
  auto read = read_short(grid, options.strict, praat_text);
  if (!read) return std::unexpected(std::move(read.error()));
  if (*read) return grid;
  return parse_stream_view(std::move(*grid.text), std::move(grid.name), options);
}

Result<TextGrid> parse_short(std::string_view text, std::string name, bool strict) {
  auto view = parse_short_view(std::string(text), std::move(name), {.strict = strict});
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
