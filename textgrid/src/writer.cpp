#include "writer.hpp"

#include <algorithm>
#include <charconv>
#include <span>
#include <vector>

#include "file_output.hpp"
#include "number_format.hpp"
#include "parallel_map.hpp"
#include "thread_pool.hpp"
#include "textgrid.hpp"

namespace textgrid {

void append_quoted_body(std::string& out, std::string_view text) {
  std::size_t start = 0;
  while (true) {
    const std::size_t quote = text.find('"', start);
    if (quote == std::string_view::npos) {
      out.append(text.substr(start));
      return;
    }
    out.append(text.substr(start, quote + 1 - start));
    out += '"';
    start = quote + 1;
  }
}

namespace {

// A time in the written form, kept on the stack so that an item's text can be
// sized exactly before it is allocated.
struct TimeText {
  explicit TimeText(double value) : size(write_time(data, value)) {}
  std::string_view view() const { return {data, size}; }

  char data[kTimeBufferSize];
  std::size_t size;
};

struct CountText {
  explicit CountText(std::size_t value)
      : size(static_cast<std::size_t>(std::to_chars(data, data + sizeof data, value).ptr - data)) {}
  std::string_view view() const { return {data, size}; }

  char data[24];  // any 64-bit count
  std::size_t size;
};

void append_count(std::string& out, std::size_t value) { out += CountText(value).view(); }

std::size_t quoted_size(std::string_view text) {
  return text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '"'));
}

constexpr std::string_view kIntervalOpen{"        intervals ["};
constexpr std::string_view kIntervalXmin{"]:\r\n            xmin = "};
constexpr std::string_view kIntervalXmax{" \r\n            xmax = "};
constexpr std::string_view kIntervalText{" \r\n            text = \""};
constexpr std::string_view kQuoteEnd{"\" \r\n"};
constexpr std::string_view kPointOpen{"        points ["};
constexpr std::string_view kPointNumber{"]:\r\n            number = "};
constexpr std::string_view kPointMark{" \r\n            mark = \""};

std::string long_interval(const Item& item, std::size_t index) {
  const CountText n(index + 1);
  const TimeText xmin(item.tmin);
  const TimeText xmax(item.tmax);
  std::string out;
  out.reserve(kIntervalOpen.size() + kIntervalXmin.size() + kIntervalXmax.size() + kIntervalText.size() +
              kQuoteEnd.size() + n.size + xmin.size + xmax.size + quoted_size(item.text));
  out += kIntervalOpen;
  out += n.view();
  out += kIntervalXmin;
  out += xmin.view();
  out += kIntervalXmax;
  out += xmax.view();
  out += kIntervalText;
  append_quoted_body(out, item.text);
  out += kQuoteEnd;
  return out;
}

std::string long_point(const Item& item, std::size_t index) {
  const CountText n(index + 1);
  const TimeText number(item.tmin);
  std::string out;
  out.reserve(kPointOpen.size() + kPointNumber.size() + kPointMark.size() + kQuoteEnd.size() + n.size +
              number.size + quoted_size(item.text));
  out += kPointOpen;
  out += n.view();
  out += kPointNumber;
  out += number.view();
  out += kPointMark;
  append_quoted_body(out, item.text);
  out += kQuoteEnd;
  return out;
}

std::string short_interval(const Item& item) {
  const TimeText xmin(item.tmin);
  const TimeText xmax(item.tmax);
  std::string out;
  out.reserve(xmin.size + xmax.size + quoted_size(item.text) + 9);
  out += xmin.view();
  out += "\r\n";
  out += xmax.view();
  out += "\r\n\"";
  append_quoted_body(out, item.text);
  out += "\"\r\n";
  return out;
}

std::string short_point(const Item& item) {
  const TimeText number(item.tmin);
  std::string out;
  out.reserve(number.size + quoted_size(item.text) + 7);
  out += number.view();
  out += "\r\n\"";
  append_quoted_body(out, item.text);
  out += "\"\r\n";
  return out;
}

// A tier's text in pieces: the header, then one text per item. Kept apart so
// that the document can sum every length and allocate once.
struct TierParts {
  std::string header;
  std::vector<std::string> items;

  std::size_t size() const {
    std::size_t total = header.size();
    for (const std::string& item : items) total += item.size();
    return total;
  }
};

// Copies each item text once, in order, to `dest`. A tier long enough for the
// pool is copied there too: moving the bytes of a big tier costs about as much
// as making them.
char* copy_items(char* dest, const std::vector<std::string>& items) {
  if (items.size() < parallel_threshold()) {
    for (const std::string& item : items) dest = std::copy(item.begin(), item.end(), dest);
    return dest;
  }
  std::vector<std::size_t> offsets(items.size());
  std::size_t offset = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    offsets[i] = offset;
    offset += items[i].size();
  }
  struct Context {
    char* dest;
    const std::vector<std::string>& items;
    const std::vector<std::size_t>& offsets;
  } context{dest, items, offsets};
  detail::run_parallel(items.size(), detail::RangeWork{
                                         [](void* raw, std::size_t begin, std::size_t end) {
                                           const Context& c = *static_cast<const Context*>(raw);
                                           char* to = c.dest + c.offsets[begin];
                                           for (std::size_t i = begin; i < end; ++i)
                                             to = std::copy(c.items[i].begin(), c.items[i].end(), to);
                                         },
                                         &context});
  return dest + offset;
}

// Builds `header` followed by every tier's part, allocating the result once.
std::string join(std::string_view header, const std::vector<TierParts>& tiers) {
  std::size_t total = header.size();
  for (const TierParts& parts : tiers) total += parts.size();
  std::string out;
  out.resize_and_overwrite(total, [&](char* data, std::size_t size) {
    char* to = std::copy(header.begin(), header.end(), data);
    for (const TierParts& parts : tiers) {
      to = std::copy(parts.header.begin(), parts.header.end(), to);
      to = copy_items(to, parts.items);
    }
    return size;
  });
  return out;
}

const char* class_of(const Tier& tier) { return tier.is_interval ? "IntervalTier" : "TextTier"; }

TierParts long_parts(const Tier& tier, std::size_t position) {
  TierParts parts;
  std::string& h = parts.header;
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
  const std::span<const Item> items(tier.items);
  parts.items = tier.is_interval ? parallel_map(items, long_interval) : parallel_map(items, long_point);
  return parts;
}

TierParts short_parts(const Tier& tier) {
  TierParts parts;
  std::string& h = parts.header;
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
  const std::span<const Item> items(tier.items);
  parts.items = tier.is_interval ? parallel_map(items, short_interval) : parallel_map(items, short_point);
  return parts;
}


}  // namespace

std::string Tier::to_long_textgrid_string(std::size_t position) const {
  std::vector<TierParts> parts;
  parts.push_back(long_parts(*this, position));
  return join({}, parts);
}

std::string Tier::to_short_textgrid_string() const {
  std::vector<TierParts> parts;
  parts.push_back(short_parts(*this));
  return join({}, parts);
}

std::string TextGrid::to_long_textgrid_string() const {
  std::string header = "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\nxmin = ";
  append_time(header, tmin);
  header += " \r\nxmax = ";
  append_time(header, tmax);
  // "<exists>" also without tiers: Praat crashes on the "<absent>" form.
  header += " \r\ntiers? <exists> \r\nsize = ";
  append_count(header, tiers.size());
  header += " \r\nitem []: \r\n";
  std::vector<TierParts> parts;
  parts.reserve(tiers.size());
  for (std::size_t i = 0; i < tiers.size(); ++i) parts.push_back(long_parts(tiers[i], i));
  return join(header, parts);
}

std::string TextGrid::to_short_textgrid_string() const {
  std::string header = "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\n";
  append_time(header, tmin);
  header += "\r\n";
  append_time(header, tmax);
  header += "\r\n<exists>\r\n";
  append_count(header, tiers.size());
  header += "\r\n";
  std::vector<TierParts> parts;
  parts.reserve(tiers.size());
  for (const Tier& tier : tiers) parts.push_back(short_parts(tier));
  return join(header, parts);
}

Status TextGrid::save_textgrid(const std::string& path, bool long_layout,
                               const ShouldStop& should_stop) const {
  const std::string text = long_layout ? to_long_textgrid_string() : to_short_textgrid_string();
  return store_file(path, text, should_stop);
}

}  // namespace textgrid
