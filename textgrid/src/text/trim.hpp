// Trimming: the Unicode White_Space characters cut from the ends of a line,
// a key or a value. Inline for the ASCII blanks, which every line and value
// passes through; out of line only for a byte outside ASCII at an end.
#pragma once

#include <cstddef>
#include <string_view>

namespace textgrid {

namespace detail {
// The slow paths of the trims, for a view that begins (ends) with a byte
// outside ASCII.
std::string_view trim_start_unicode(std::string_view s);
std::string_view trim_end_unicode(std::string_view s);

// Tab, line feed, vertical tab, form feed, carriage return and space, by
// one shift of a mask.
inline bool is_ascii_space(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= ' ' && ((0x100003E00ULL >> u) & 1) != 0;
}
}  // namespace detail

// Returns `s` without the Unicode White_Space characters at its start. No
// allocation; any bytes are safe. Inline: every line and value passes here.
inline std::string_view trim_start(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && detail::is_ascii_space(s[i])) ++i;
  s.remove_prefix(i);
  if (!s.empty() && static_cast<unsigned char>(s.front()) >= 0xC2) {
    return detail::trim_start_unicode(s);
  }
  return s;
}

// Returns `s` without the Unicode White_Space characters at its end.
inline std::string_view trim_end(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && detail::is_ascii_space(s[n - 1])) --n;
  s = s.substr(0, n);
  if (n > 0 && static_cast<unsigned char>(s.back()) >= 0x80) return detail::trim_end_unicode(s);
  return s;
}

// Returns `s` without the Unicode White_Space characters at both ends.
inline std::string_view trim(std::string_view s) {
  return trim_end(trim_start(s));
}

}  // namespace textgrid
