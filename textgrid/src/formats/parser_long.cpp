#include "formats/parser_long.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/cpus.hpp"
#include "formats/long_items.hpp"
#include "parallel/parallel_map.hpp"
#include "text/line_scan.hpp"
#include "text/text_rules.hpp"

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

// The keys that the layout has for a TextGrid, a tier or an item besides an
// item's own: in an item, a line with one of them is out of place, and
// skipped as every unrecognised line is.
bool is_layout_key(std::string_view key) {
  return is(key, "size") || is(key, "name") || is(key, "class") || is(key, "intervals: size") ||
         is(key, "points: size") || is(key, "File type") || is(key, "Object class");
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

// A text with doubled quotes that a reader took uncollapsed while another
// thread read the same text: the tier's name (item == npos) or an item's
// text, and the bytes taken. A later line may give the same name or text
// again; only the bytes that remain are collapsed.
struct Uncollapsed {
  std::size_t tier;
  std::size_t item;
  std::string_view raw;
};

// Splits a trimmed "key = value" line: the key needs trimming at its end
// only and the value at its start only. False for a line without "=".
[[gnu::always_inline]] inline bool split_key_value(std::string_view line, std::string_view& key,
                                                   std::string_view& value) {
  const auto* eq = static_cast<const char*>(std::memchr(line.data(), '=', line.size()));
  if (eq == nullptr) return false;
  const auto eq_at = static_cast<std::size_t>(eq - line.data());
  // " = " between a key and a value that end and begin with plain bytes, as
  // Praat writes it, needs no trimming loops.
  const auto plain = [](char c) {
    return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x80;
  };
  key = eq_at >= 2 && line[eq_at - 1] == ' ' && plain(line[eq_at - 2])
            ? line.substr(0, eq_at - 1)
            : trim_end(line.substr(0, eq_at));
  value = eq_at + 2 < line.size() && line[eq_at + 1] == ' ' && plain(line[eq_at + 2])
              ? line.substr(eq_at + 2)
              : trim_start(line.substr(eq_at + 1));
  return true;
}

// The reading of one stretch of a text: where the loop stands and what it
// has built. The whole text is one stretch; a large one is read as two.
struct LongReading {
  // `budget`: the bytes whose items declared counts may reserve.
  LongReading(std::string& text, std::size_t from, std::size_t budget_bytes,
              std::vector<TierView>& into)
      : lines(text.data(), text.size(), from), budget(budget_bytes), tiers(into) {}

  enum class Outcome { End, AtStop };

  // Reads lines up to the end of the text, or until the next line begins at
  // `stop` (nullptr: none).
  Result<Outcome> run(const char* stop);
  Status take_tier_value(std::string_view key, std::string_view value);

  // Takes the text of `value`: collapsed in place, or, while another thread
  // reads the text, as it stands, noted for later.
  std::string_view take_text(std::string_view value, std::size_t item_index) {
    if (!shared) return lines.take_text_in_place(value);
    bool quoted = false;
    const std::string_view raw = lines.locate_text(value, quoted);
    if (quoted && raw.find('"') != std::string_view::npos) {
      uncollapsed.push_back({tiers.size() - 1, item_index, raw});
    }
    return raw;
  }

  // A value under a key that no current writer uses ("time" for a point's
  // time, as Praat 4 wrote it): taken, as Praat reads every value, by its
  // place among the item's values: a point's time and mark, an interval's
  // start, end and text.
  void take_in_place(int at, std::string_view value) {
    // The second stretch's stand-in tier does not know its class.
    if (tier == stand_in) guessed = true;
    const int text_slot = tier->is_interval ? 2 : 1;
    if (at == text_slot) {
      item->text = take_text(value, tier->items.size() - 1);
    } else if (at == 0 && !tier->is_interval) {
      item->tmin = item->tmax = parse_trimmed_real(value);
    } else if (at == 0) {
      item->tmin = parse_trimmed_real(value);
    } else if (at == 1 && tier->is_interval) {
      item->tmax = parse_trimmed_real(value);
    }
  }

  LineCursor lines;
  ReserveBudget budget;
  std::vector<TierView>& tiers;
  Section section = Section::InHeader;
  TierView* tier = nullptr;      // the last tier
  ItemView* item = nullptr;      // the last item of the last tier
  int slot = 0;                  // the values of the last item read so far
  TierView* stand_in = nullptr;  // the tier that the second of two stretches begins in
  bool guessed = false;          // take_in_place had to guess the stand-in's class
  double tmin = 0.0, tmax = 0.0;
  std::uint64_t size = 0;
  bool shared = false;
  std::vector<Uncollapsed> uncollapsed;
};

// A value of the tier's own lines (its class, name, bounds and item count).
Status LongReading::take_tier_value(std::string_view key, std::string_view value) {
  if (is(key, "name")) {
    tier->name = take_text(value, std::string_view::npos);
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
    budget.reserve(*tier, tier->size, lines.text_end() - lines.next_line_start());
  }
  return {};
}

Result<LongReading::Outcome> LongReading::run(const char* stop) {
  std::string_view line;
  for (;;) {
    if (lines.next_line_start() == stop) return Outcome::AtStop;
    if (!lines.next(line)) return Outcome::End;
    if (line.empty()) continue;
    switch (heading_of_line(line)) {
      case Heading::TierList: section = Section::InTierList; continue;
      case Heading::Tier:
        tier = &tiers.emplace_back();
        section = Section::InTier;
        continue;
      case Heading::Item:
        if (tier == nullptr) {
          return fail(ErrorKind::InvalidData,
                      "Interval or point heading before any tier heading on line " +
                          std::to_string(lines.line_number()));
        }
        tier->items.emplace_back();
        slot = 0;
        item = read_items(lines, *tier, stop, slot);
        section = Section::InItem;
        continue;
      case Heading::None: break;
    }
    std::string_view key, value;
    if (!split_key_value(line, key, value)) continue;

    switch (section) {
      case Section::InHeader:
        if (is(key, "xmin")) {
          tmin = parse_trimmed_real(value);
        } else if (is(key, "xmax")) {
          tmax = parse_trimmed_real(value);
        } else if (is(key, "size")) {
          size = parse_trimmed_count(value);
        }
        break;
      case Section::InTierList: break;
      case Section::InTier:
        if (Status taken = take_tier_value(key, value); !taken) {
          return std::unexpected(std::move(taken.error()));
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
          item->text = take_text(value, tier->items.size() - 1);
        } else if (!is_layout_key(key)) {
          take_in_place(slot, value);
        }
        ++slot;
        break;
    }
  }
}

// Below this size a text is read in one stretch: the hand-off to a second
// thread would cost more than it saves.
constexpr std::size_t kSplitSize = std::size_t{1} << 20;

// Whether the line that begins at `start` is an item heading.
bool begins_item(const char* start, const char* end) {
  return detail::is_item_heading(detail::skip_spaces(start, end), end);
}

// Returns the start of an item heading line near the middle of `text`, or
// nullptr when none is close to it.
const char* split_point(const std::string& text) {
  const char* const end = text.data() + text.size();
  const char* p = text.data() + text.size() / 2;
  const char* const give_up = p + std::min<std::size_t>(text.size() / 4, 1 << 16);
  while (p < give_up) {
    const auto* newline =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (newline == nullptr) return nullptr;
    if (begins_item(newline + 1, end)) return newline + 1;
    p = newline + 1;
  }
  return nullptr;
}

// Reads a large text as two stretches side by side: the first on this
// thread up to an item heading near the middle, the second from there on
// another, into a tier that stands for whichever tier the first stretch
// ends in. The second holds only if the first arrives at that heading as a
// line of its own, inside a tier: not within a text over several lines, and
// not before any tier (where the heading is an error with a line number
// only the first knows); else the first reads on to the end alone, as the
// single-stretch reader would. Neither writes into the text while both run.
Result<LongReading> read_in_two(std::string& text, std::vector<TierView>& tiers,
                                std::vector<TierView>& later_tiers, const char* stop) {
  // The first stretch's tiers may reserve for the whole text, as when read
  // in one; the second's grow as read, so that the two never reserve for
  // the same bytes.
  const auto from = static_cast<std::size_t>(stop - text.data());
  LongReading first(text, 0, text.size(), tiers);
  first.shared = true;
  LongReading second(text, from, 0, later_tiers);
  second.shared = true;
  second.tier = second.stand_in = &later_tiers.emplace_back();
  second.tier->items.reserve((text.size() - from) / 96);  // about the bytes of an interval
  second.section = Section::InTier;
  Result<LongReading::Outcome> first_outcome = LongReading::Outcome::End;
  Result<LongReading::Outcome> second_outcome = LongReading::Outcome::End;
  run_two([&] { first_outcome = first.run(stop); }, [&] { second_outcome = second.run(nullptr); });
  if (!first_outcome) return std::unexpected(std::move(first_outcome.error()));
  if (*first_outcome == LongReading::Outcome::End) return first;
  if (first.tier == nullptr || (second_outcome && second.guessed)) {
    // The reading on the calling thread alone from here on.
    first.shared = false;
    auto rest = first.run(nullptr);
    if (!rest) return std::unexpected(std::move(rest.error()));
    return first;
  }
  if (!second_outcome) return std::unexpected(std::move(second_outcome.error()));
  // Join: the stand-in tier's items go to the first stretch's last tier, the
  // tiers after it follow.
  const std::size_t joined_tier = tiers.size() - 1;
  const std::size_t items_before = tiers.back().items.size();
  for (const Uncollapsed& u : second.uncollapsed) {
    first.uncollapsed.push_back(u.tier == 0 ? Uncollapsed{joined_tier, u.item + items_before, u.raw}
                                            : Uncollapsed{joined_tier + u.tier, u.item, u.raw});
  }
  auto& joined = tiers.back().items;
  joined.insert(joined.end(), later_tiers.front().items.begin(), later_tiers.front().items.end());
  for (std::size_t i = 1; i < later_tiers.size(); ++i) tiers.push_back(std::move(later_tiers[i]));
  return first;
}

Result<LongReading> read_in_one(std::string& text, std::vector<TierView>& tiers) {
  LongReading reading(text, 0, text.size(), tiers);
  auto outcome = reading.run(nullptr);
  if (!outcome) return std::unexpected(std::move(outcome.error()));
  return reading;
}

// Reads the text in one stretch, or in two from `stop` on (see read_in_two).
Result<TextGridView> parse_long_from(std::unique_ptr<std::string> owned, std::string name,
                                     bool strict, const char* stop) {
  TextGridView grid;
  grid.text = std::move(owned);
  grid.name = std::move(name);
  std::string& text = *grid.text;
  std::vector<TierView> later_tiers;
  Result<LongReading> reading = stop != nullptr ? read_in_two(text, grid.tiers, later_tiers, stop)
                                                : read_in_one(text, grid.tiers);
  if (!reading) return std::unexpected(std::move(reading.error()));
  // Texts taken as they stood while two threads read: collapsed now.
  for (const Uncollapsed& u : reading->uncollapsed) {
    TierView& tier = grid.tiers[u.tier];
    std::string_view& view = u.item == std::string_view::npos ? tier.name : tier.items[u.item].text;
    if (view.data() != u.raw.data() || view.size() != u.raw.size()) continue;
    view = collapse_quotes_in_place(text.data() + (view.data() - text.data()), view.size());
  }
  grid.tmin = reading->tmin;
  grid.tmax = reading->tmax;
  grid.size = reading->size;
  if (strict) {
    if (auto valid = grid.assert_valid(); !valid) return std::unexpected(std::move(valid.error()));
  }
  return grid;
}

}  // namespace

Result<TextGridView> parse_long_view(std::string text, std::string name,
                                     const ReadOptions& options) {
  auto owned = std::make_unique<std::string>(std::move(text));
  const char* const stop = owned->size() >= kSplitSize && options.may_split && available_cpus() >= 2
                               ? split_point(*owned)
                               : nullptr;
  return parse_long_from(std::move(owned), std::move(name), options.strict, stop);
}

Result<TextGridView> detail::parse_long_view_in_two(std::string text, std::string name, bool strict,
                                                    std::size_t split) {
  auto owned = std::make_unique<std::string>(std::move(text));
  const char* const at = owned->data() + std::min(split, owned->size());
  const bool line_start = split > 0 && split < owned->size() && at[-1] == '\n';
  const char* const stop =
      line_start && begins_item(at, owned->data() + owned->size()) ? at : nullptr;
  return parse_long_from(std::move(owned), std::move(name), strict, stop);
}

Result<TextGrid> parse_long(std::string_view text, std::string name, bool strict) {
  auto view = parse_long_view(std::string(text), std::move(name), {.strict = strict});
  if (!view) return std::unexpected(std::move(view.error()));
  return view->to_textgrid();
}

}  // namespace textgrid
