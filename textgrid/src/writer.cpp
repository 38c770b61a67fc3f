#include "writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <span>
#include <vector>

#include "number_format.hpp"
#include "parallel_map.hpp"
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

void append_count(std::string& out, std::size_t value) {
  char buffer[24];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;  // 24 bytes hold any 64-bit count
  out.append(buffer, end);
}

// A tier's text in pieces: the header, then one text per item. Kept apart so
// that the document can sum every length and reserve once.
struct TierParts {
  std::string header;
  std::vector<std::string> items;

  std::size_t size() const {
    std::size_t total = header.size();
    for (const std::string& item : items) total += item.size();
    return total;
  }

  void append_to(std::string& out) const {
    out += header;
    for (const std::string& item : items) out += item;
  }
};

std::string long_interval(const Item& item, std::size_t index) {
  std::string out;
  out.reserve(96 + item.text.size());
  out += "        intervals [";
  append_count(out, index + 1);
  out += "]:\r\n            xmin = ";
  append_time(out, item.tmin);
  out += " \r\n            xmax = ";
  append_time(out, item.tmax);
  out += " \r\n            text = \"";
  append_quoted_body(out, item.text);
  out += "\" \r\n";
  return out;
}

std::string long_point(const Item& item, std::size_t index) {
  std::string out;
  out.reserve(72 + item.text.size());
  out += "        points [";
  append_count(out, index + 1);
  out += "]:\r\n            number = ";
  append_time(out, item.tmin);
  out += " \r\n            mark = \"";
  append_quoted_body(out, item.text);
  out += "\" \r\n";
  return out;
}

std::string short_interval(const Item& item) {
  std::string out;
  out.reserve(48 + item.text.size());
  append_time(out, item.tmin);
  out += "\r\n";
  append_time(out, item.tmax);
  out += "\r\n\"";
  append_quoted_body(out, item.text);
  out += "\"\r\n";
  return out;
}

std::string short_point(const Item& item) {
  std::string out;
  out.reserve(28 + item.text.size());
  append_time(out, item.tmin);
  out += "\r\n\"";
  append_quoted_body(out, item.text);
  out += "\"\r\n";
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

std::string join(std::string header, const std::vector<TierParts>& tiers) {
  std::size_t total = header.size();
  for (const TierParts& parts : tiers) total += parts.size();
  header.reserve(total);
  for (const TierParts& parts : tiers) parts.append_to(header);
  return header;
}

const char* exists_word(const TextGrid& grid) { return grid.tiers.empty() ? "<absent>" : "<exists>"; }

Status write_all(const std::string& path, const std::string& text) {
  if (path.find('\0') != std::string::npos) return std::unexpected(os_error(EINVAL));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return std::unexpected(os_error(errno));
  const char* data = text.data();
  std::size_t left = text.size();
  Status status;
  while (left > 0) {
    // One write call may not take more than this on Linux anyway.
    const std::size_t chunk = std::min<std::size_t>(left, 0x7ffff000);
    const ssize_t written = ::write(fd, data, chunk);
    if (written < 0) {
      if (errno == EINTR) continue;
      status = std::unexpected(os_error(errno));
      break;
    }
    if (written == 0) {
      status = fail(ErrorKind::WriteZero, "failed to write whole buffer");
      break;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  ::close(fd);  // the bytes are out; a failing close is not reported
  return status;
}

}  // namespace

std::string Tier::to_long_textgrid_string(std::size_t position) const {
  const TierParts parts = long_parts(*this, position);
  std::string out;
  out.reserve(parts.size());
  parts.append_to(out);
  return out;
}

std::string Tier::to_short_textgrid_string() const {
  const TierParts parts = short_parts(*this);
  std::string out;
  out.reserve(parts.size());
  parts.append_to(out);
  return out;
}

std::string TextGrid::to_long_textgrid_string() const {
  std::string header = "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\nxmin = ";
  append_time(header, tmin);
  header += " \r\nxmax = ";
  append_time(header, tmax);
  header += " \r\ntiers? ";
  header += exists_word(*this);
  header += " \r\nsize = ";
  append_count(header, tiers.size());
  header += " \r\nitem []: \r\n";
  std::vector<TierParts> parts;
  parts.reserve(tiers.size());
  for (std::size_t i = 0; i < tiers.size(); ++i) parts.push_back(long_parts(tiers[i], i));
  return join(std::move(header), parts);
}

std::string TextGrid::to_short_textgrid_string() const {
  std::string header = "File type = \"ooTextFile\"\r\nObject class = \"TextGrid\"\r\n\r\n";
  append_time(header, tmin);
  header += "\r\n";
  append_time(header, tmax);
  header += "\r\n";
  header += exists_word(*this);
  header += "\r\n";
  append_count(header, tiers.size());
  header += "\r\n";
  std::vector<TierParts> parts;
  parts.reserve(tiers.size());
  for (const Tier& tier : tiers) parts.push_back(short_parts(tier));
  return join(std::move(header), parts);
}

Status TextGrid::save_textgrid(const std::string& path, bool long_layout) const {
  const std::string text = long_layout ? to_long_textgrid_string() : to_short_textgrid_string();
  return write_all(path, text);
}

}  // namespace textgrid
