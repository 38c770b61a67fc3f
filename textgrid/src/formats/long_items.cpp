#include "formats/long_items.hpp"

#include <cstring>

#include "text/line_scan.hpp"

namespace textgrid {

namespace {

ItemView* read_items_counting(LineCursor& lines, TierView& tier, const char* stop, int& values) {
  const char* const end = lines.text_end();
  ItemView* item = &tier.items.back();
  for (;;) {
    if (lines.next_line_start() == stop) return item;
    const char* const p = detail::skip_spaces(lines.next_line_start(), end);
    if (end - p < 16) return item;
    const char* after = nullptr;
    switch (p[0]) {
      case 'i':
      case 'p': {
        if (!detail::is_item_heading(p, end)) return item;
        // Headings hold no control bytes but their line end.
        const char* newline = detail::find_control(p + 8, end);
        if (newline != end && *newline != '\n' && *newline != '\r') {
          newline = detail::find_line_end(newline, end);
        }
        if (newline == end) return item;
        lines.took_line(detail::after_line_end(newline, end));
        item = &tier.items.emplace_back();
        values = 0;
        continue;
      }
      case 'x':
      case 'n': {
        double* target = nullptr;
        std::size_t key = 7;
        if (std::memcmp(p, "xmin = ", 7) == 0) {
          target = &item->tmin;
        } else if (std::memcmp(p, "xmax = ", 7) == 0) {
          target = &item->tmax;
        } else if (std::memcmp(p, "number = ", 9) == 0) {
          key = 9;
        } else {
          return item;
        }
        double value = 0.0;
        after = detail::number_line(p + key, end, value);
        if (after == nullptr) return item;
        if (target != nullptr) {
          *target = value;
        } else {
          item->tmin = item->tmax = value;
        }
        break;
      }
      case 't':
      case 'm': {
        if (std::memcmp(p, "text = \"", 8) != 0 && std::memcmp(p, "mark = \"", 8) != 0) {
          return item;
        }
        after = detail::text_line(p + 7, end, item->text);
        if (after == nullptr) return item;
        break;
      }
      default: return item;
    }
    lines.took_line(after);
    ++values;
  }
}

}  // namespace

ItemView* read_items(LineCursor& lines, TierView& tier, const char* stop, int& slot) {
  // Counted in a local, which stays in a register.
  int values = slot;
  ItemView* const item = read_items_counting(lines, tier, stop, values);
  slot = values;
  return item;
}

}  // namespace textgrid
