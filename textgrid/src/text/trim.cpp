#include "text/trim.hpp"

namespace textgrid {

namespace {

inline unsigned char byte_at(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

// Length of the White_Space character that begins `s`, or 0.
std::size_t space_at_start(std::string_view s) {
  if (s.empty()) return 0;
  const unsigned char c = byte_at(s, 0);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c < 0xC2 || s.size() < 2) return 0;
  const unsigned char c1 = byte_at(s, 1);
  if (c == 0xC2) return (c1 == 0x85 || c1 == 0xA0) ? 2 : 0;
  if (s.size() < 3) return 0;
  const unsigned char c2 = byte_at(s, 2);
  if (c == 0xE1) return (c1 == 0x9A && c2 == 0x80) ? 3 : 0;
  if (c == 0xE2) {
    if (c1 == 0x80 && (c2 <= 0x8A || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF) && c2 >= 0x80) {
      return 3;
    }
    return (c1 == 0x81 && c2 == 0x9F) ? 3 : 0;
  }
  if (c == 0xE3) return (c1 == 0x80 && c2 == 0x80) ? 3 : 0;
  return 0;
}

// Length of the White_Space character that ends `s`, or 0.
std::size_t space_at_end(std::string_view s) {
  const std::size_t n = s.size();
  if (n == 0) return 0;
  const unsigned char c = byte_at(s, n - 1);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c < 0x80 || n < 2) return 0;
  if (byte_at(s, n - 2) == 0xC2) return (c == 0x85 || c == 0xA0) ? 2 : 0;
  if (n < 3) return 0;
  return space_at_start(s.substr(n - 3)) == 3 ? 3 : 0;
}

}  // namespace

std::string_view detail::trim_start_unicode(std::string_view s) {
  // space_at_start knows the ASCII blanks too: no call back into trim_start,
  // so alternating blanks cannot deepen the stack.
  while (const std::size_t n = space_at_start(s)) s.remove_prefix(n);
  return s;
}

std::string_view detail::trim_end_unicode(std::string_view s) {
  while (const std::size_t n = space_at_end(s)) s.remove_suffix(n);
  return s;
}

}  // namespace textgrid
