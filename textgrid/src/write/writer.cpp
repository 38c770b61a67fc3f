#include "write/writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "base/cpus.hpp"
#include "model/textgrid.hpp"
#include "parallel/parallel_map.hpp"
#include "text/number_format.hpp"
#include "write/file_output.hpp"

namespace textgrid {

namespace {

// The item forms of the two layouts, each a fixed frame around an index (long
// layout only), one or two times and a quoted label.
enum class ItemForm { long_interval, long_point, short_interval, short_point };

constexpr std::string_view kIntervalOpen{"        intervals ["};
constexpr std::string_view kIntervalXmin{"]:\r\n            xmin = "};
constexpr std::string_view kIntervalXmax{" \r\n            xmax = "};
constexpr std::string_view kIntervalText{" \r\n            text = \""};
constexpr std::string_view kQuoteEnd{"\" \r\n"};
constexpr std::string_view kPointOpen{"        points ["};
constexpr std::string_view kPointNumber{"]:\r\n            number = "};
constexpr std::string_view kPointMark{" \r\n            mark = \""};
constexpr std::size_t kCountBound = 20;  // any 64-bit count

// The size of `text` once put_quoted has doubled its quotes.
std::size_t quoted_size(std::string_view text) {
  return text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '"'));
}

// Writes `text` at `out` with every double quote doubled, as Praat writes a
// quoted text, and returns the end; `out` has quoted_size(text) bytes of room.
inline char* put_quoted(char* out, std::string_view text) {
  while (const void* quote = std::memchr(text.data(), '"', text.size())) {
    const std::size_t upto =
        static_cast<std::size_t>(static_cast<const char*>(quote) - text.data()) + 1;
    std::memcpy(out, text.data(), upto);
    out += upto;
    *out++ = '"';
    text.remove_prefix(upto);
  }
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// A write position in a buffer that the bounds below have sized.
struct Cursor {
  char* at;

  void put(std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    at += text.size();
  }
  void time(double value) { at = put_time(at, value); }
  void count(std::size_t value) { at = std::to_chars(at, at + kCountBound, value).ptr; }
  void quoted(std::string_view text) { at = put_quoted(at, text); }
};

// The room the items need: their frames, labels and the bounds of their times.
template <ItemForm F>
std::size_t items_bound(std::span<const Item> items) {
  std::size_t frame = 0;
  switch (F) {
    case ItemForm::long_interval:
      frame = kIntervalOpen.size() + kIntervalXmin.size() + kIntervalXmax.size() +
              kIntervalText.size() + kQuoteEnd.size() + kCountBound;
      break;
    case ItemForm::long_point:
      frame = kPointOpen.size() + kPointNumber.size() + kPointMark.size() + kQuoteEnd.size() +
              kCountBound;
      break;
    case ItemForm::short_interval: frame = 9; break;
    case ItemForm::short_point: frame = 7; break;
  }
  constexpr bool two_times = F == ItemForm::long_interval || F == ItemForm::short_interval;
  std::size_t total = frame * items.size();
  for (const Item& item : items) {
    total += time_size_bound(item.tmin) + quoted_size(item.text);
    if (two_times) total += time_size_bound(item.tmax);
  }
  return total;
}

// Writes the items, numbered from `first` (counting from 0), at `out`, which
// has items_bound<F>(items) bytes of room; returns the end.
template <ItemForm F>
char* put_items(char* out, std::span<const Item> items, std::size_t first) {
  Cursor c{out};
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    switch (F) {
      case ItemForm::long_interval:
        c.put(kIntervalOpen);
        c.count(first + i + 1);
        c.put(kIntervalXmin);
        c.time(item.tmin);
        c.put(kIntervalXmax);
        c.time(item.tmax);
        c.put(kIntervalText);
        c.quoted(item.text);
        c.put(kQuoteEnd);
        break;
      case ItemForm::long_point:
        c.put(kPointOpen);
        c.count(first + i + 1);
        c.put(kPointNumber);
        c.time(item.tmin);
        c.put(kPointMark);
        c.quoted(item.text);
        c.put(kQuoteEnd);
        break;
      case ItemForm::short_interval:
        c.time(item.tmin);
        c.put("\r\n");
        c.time(item.tmax);
        c.put("\r\n\"");
        c.quoted(item.text);
        c.put("\"\r\n");
        break;
      case ItemForm::short_point:
        c.time(item.tmin);
        c.put("\r\n\"");
        c.quoted(item.text);
        c.put("\"\r\n");
        break;
    }
  }
  return c.at;
}

// The items' text alone, sized by its bound, written once.
template <ItemForm F>
std::string items_text(std::span<const Item> items, std::size_t first) {
  std::string out;
  out.resize_and_overwrite(items_bound<F>(items), [&](char* data, std::size_t) {
    return static_cast<std::size_t>(put_items<F>(data, items, first) - data);
  });
  return out;
}

// A tier's text in the making: its header, and its items either still to be
// written (a short tier, straight into the document) or already written on the
// pool, as slices in item order.
struct TierText {
  std::string header;
  ItemForm form;
  std::span<const Item> items;
  std::vector<std::string> slices;
  bool sliced = false;

  std::size_t bound() const {
    std::size_t total = header.size();
    if (sliced) {
      for (const std::string& slice : slices) total += slice.size();
      return total;
    }
    switch (form) {
      case ItemForm::long_interval: return total + items_bound<ItemForm::long_interval>(items);
      case ItemForm::long_point: return total + items_bound<ItemForm::long_point>(items);
      case ItemForm::short_interval: return total + items_bound<ItemForm::short_interval>(items);
      case ItemForm::short_point: return total + items_bound<ItemForm::short_point>(items);
    }
    return total;
  }

  char* put(char* out) const {
    out = std::copy(header.begin(), header.end(), out);
    if (sliced) {
      for (const std::string& slice : slices) out = std::copy(slice.begin(), slice.end(), out);
      return out;
    }
    switch (form) {
      case ItemForm::long_interval: return put_items<ItemForm::long_interval>(out, items, 0);
      case ItemForm::long_point: return put_items<ItemForm::long_point>(out, items, 0);
      case ItemForm::short_interval: return put_items<ItemForm::short_interval>(out, items, 0);
      case ItemForm::short_point: return put_items<ItemForm::short_point>(out, items, 0);
    }
    return out;
  }
};

std::string slice_text(ItemForm form, std::span<const Item> items, std::size_t first) {
  switch (form) {
    case ItemForm::long_interval: return items_text<ItemForm::long_interval>(items, first);
    case ItemForm::long_point: return items_text<ItemForm::long_point>(items, first);
    case ItemForm::short_interval: return items_text<ItemForm::short_interval>(items, first);
    case ItemForm::short_point: return items_text<ItemForm::short_point>(items, first);
  }
  return {};
}

// Writes a tier long enough for the pool there: each piece of items into a
// slice of its own, sized by its bound; the slices are placed in order later.
void write_slices_on_pool(TierText& tier) {
  tier.slices = map_pieces(tier.items.size(), [&tier](std::size_t begin, std::size_t end) {
    return slice_text(tier.form, tier.items.subspan(begin, end - begin), begin);
  });
  tier.sliced = true;
}

void write_large_tiers_on_pool(std::vector<TierText>& tiers) {
  for (TierText& tier : tiers) {
    if (tier.items.size() >= parallel_threshold()) write_slices_on_pool(tier);
  }
}

// Builds `header` followed by every tier, in one allocation sized by the
// bounds (and by the slices made on the pool), each byte written once.
std::string join(std::string_view header, std::vector<TierText>& tiers) {
  write_large_tiers_on_pool(tiers);
  std::size_t total = header.size();
  for (const TierText& tier : tiers) total += tier.bound();
  std::string out;
  out.resize_and_overwrite(total, [&](char* data, std::size_t) {
    char* to = std::copy(header.begin(), header.end(), data);
    for (const TierText& tier : tiers) to = tier.put(to);
    return static_cast<std::size_t>(to - data);
  });
  return out;
}

// Stores `header` followed by every tier without joining them first: the
// slices made on the pool are written where they lie (joining them would copy
// the whole text once more), the small tiers are written into one buffer.
Status store_pieces(const std::string& path, std::string_view header, std::vector<TierText>& tiers,
                    const ShouldStop& should_stop) {
  write_large_tiers_on_pool(tiers);
  std::size_t rest = 0;  // the bound of everything not in slices
  for (const TierText& tier : tiers) rest += tier.sliced ? tier.header.size() : tier.bound();
  const auto buffer = std::make_unique_for_overwrite<char[]>(rest);
  char* at = buffer.get();
  std::vector<std::string_view> pieces{header};
  for (const TierText& tier : tiers) {
    if (tier.sliced) {
      pieces.push_back(tier.header);
      for (const std::string& slice : tier.slices) pieces.push_back(slice);
      continue;
    }
    char* const end = tier.put(at);
    pieces.emplace_back(at, static_cast<std::size_t>(end - at));
    at = end;
  }
  return store_file(path, pieces, should_stop);
}

void append_count(std::string& out, std::size_t value) {
  char text[kCountBound];
  out.append(text,
             static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
}

const char* class_of(const Tier& tier) {
  return tier.is_interval ? "IntervalTier" : "TextTier";
}

TierText long_tier(const Tier& tier, std::size_t position) {
  TierText text{
      {}, tier.is_interval ? ItemForm::long_interval : ItemForm::long_point, tier.items, {}, false};
  std::string& h = text.header;
  h += "    item [";
  append_count(h, position + 1);
  h += "]:\r\n        class = \"";
  h += class_of(tier);
  h += "\" \r\n        name = \"";
  append_quoted_body(h, tier.name);
  h += "\" \r\n        xmin = ";
  append_time(h, tier.tmin);
  h += " \r\n        xmax = ";
  append_time(h, tier.tmax);
  h += " \r\n        ";
  h += tier.is_interval ? "intervals" : "points";
  h += ": size = ";
  append_count(h, tier.items.size());
  h += " \r\n";
  return text;
}

TierText short_tier(const Tier& tier) {
  TierText text{{},
                tier.is_interval ? ItemForm::short_interval : ItemForm::short_point,
                tier.items,
                {},
                false};
  std::string& h = text.header;
  h += '"';
  h += class_of(tier);
  h += "\"\r\n\"";
  append_quoted_body(h, tier.name);
  h += "\"\r\n";
  append_time(h, tier.tmin);
  h += "\r\n";
  append_time(h, tier.tmax);
  h += "\r\n";
  append_count(h, tier.items.size());
  h += "\r\n";
  return text;
}

// The lines every text TextGrid begins with, in both layouts.
constexpr std::string_view kFileHead{
    "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\n"};

std::string long_header(const TextGrid& grid) {
  std::string header{kFileHead};
  header += "xmin = ";
  append_time(header, grid.tmin);
  header += " \r\nxmax = ";
  append_time(header, grid.tmax);
  // "<exists>" also without tiers: Praat crashes on the "<absent>" form.
  header += " \r\ntiers? <exists> \r\nsize = ";
  append_count(header, grid.tiers.size());
  header += " \r\nitem []: \r\n";
  return header;
}

std::string short_header(const TextGrid& grid) {
  std::string header{kFileHead};
  append_time(header, grid.tmin);
  header += "\r\n";
  append_time(header, grid.tmax);
  header += "\r\n<exists>\r\n";
  append_count(header, grid.tiers.size());
  header += "\r\n";
  return header;
}

std::vector<TierText> tier_texts(const TextGrid& grid, bool long_layout) {
  std::vector<TierText> parts;
  parts.reserve(grid.tiers.size());
  for (std::size_t i = 0; i < grid.tiers.size(); ++i) {
    parts.push_back(long_layout ? long_tier(grid.tiers[i], i) : short_tier(grid.tiers[i]));
  }
  return parts;
}

}  // namespace

void append_quoted_body(std::string& out, std::string_view text) {
  const std::size_t from = out.size();
  out.resize_and_overwrite(from + quoted_size(text), [&](char* data, std::size_t) {
    return static_cast<std::size_t>(put_quoted(data + from, text) - data);
  });
}

std::string Tier::to_long_textgrid_string(std::size_t position) const {
  std::vector<TierText> parts;
  parts.push_back(long_tier(*this, position));
  return join({}, parts);
}

std::string Tier::to_short_textgrid_string() const {
  std::vector<TierText> parts;
  parts.push_back(short_tier(*this));
  return join({}, parts);
}

std::string TextGrid::to_long_textgrid_string() const {
  std::vector<TierText> parts = tier_texts(*this, true);
  return join(long_header(*this), parts);
}

std::string TextGrid::to_short_textgrid_string() const {
  std::vector<TierText> parts = tier_texts(*this, false);
  return join(short_header(*this), parts);
}

Status TextGrid::save_textgrid(const std::string& path, bool long_layout,
                               const ShouldStop& should_stop) const {
  std::vector<TierText> parts = tier_texts(*this, long_layout);
  return store_pieces(path, long_layout ? long_header(*this) : short_header(*this), parts,
                      should_stop);
}

}  // namespace textgrid
