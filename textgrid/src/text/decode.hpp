// Decoding: the checks and conversions that make a file's bytes UTF-8 text
// (UTF-8 as it stands, UTF-16 with a byte-order mark, 8-bit encodings on
// request).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "base/read_options.hpp"

namespace textgrid {

// Below this size a file is read, and checked, on one thread: the hand-off
// to a second would cost more than it saves (ReadOptions::may_split).
constexpr std::size_t kSplitBytes = std::size_t{4} << 20;

// Returns `bytes` as UTF-8 text. A UTF-16 byte-order mark means UTF-16 under
// every encoding; other bytes go by `options.encoding`: Utf8 (read_text_file's rule)
// keeps valid UTF-8 as it stands and refuses anything else with "stream did
// not contain valid UTF-8", the offset of the first invalid byte in the
// error's `invalid_byte`; Praat does the same for valid UTF-8 and reads any
// other file byte by byte as ISO Latin-1, as Praat does; Latin1 and Cp1252
// read every file byte by byte so. Allocates only for text it converts.
Result<std::string> decode_text(std::string bytes, const ReadOptions& options = {});

// Returns the 8-bit `bytes` as UTF-8, each byte read as ISO Latin-1 (Utf8 and
// Praat too) or as Windows-1252, whose five unassigned bytes (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the C1 controls of the same number, as web
// browsers read them. Allocates.
std::string decode_8bit(std::string_view bytes, Encoding encoding);

namespace detail {
// Appends the 8-bit `bytes` to `out` as decode_8bit reads them.
void append_8bit(std::string& out, std::string_view bytes, Encoding encoding);
}  // namespace detail

// decode_8bit into `out`, whose bytes it replaces: no allocation for ASCII
// that fits the string's own buffer. Inline: ASCII, most of any text, is
// copied whole without a call.
inline void assign_8bit(std::string& out, std::string_view bytes, Encoding encoding) {
  std::size_t ascii = 0;
  while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
  out.assign(bytes.substr(0, ascii));
  if (ascii != bytes.size()) detail::append_8bit(out, bytes.substr(ascii), encoding);
}

// Reads one character of big- or little-endian UTF-16 at `p` (a unit, or a
// surrogate pair), appends it to `out` in UTF-8 and moves `p` past it.
// Returns kUtf16Ok; kUtf16Unpaired for a surrogate without its partner (`p`
// unmoved); kUtf16Short when fewer than two bytes, or a high surrogate's
// first unit alone, are left before `end` (`p` unmoved). Inline: every
// character of a UTF-16 file passes here.
enum Utf16Step { kUtf16Ok, kUtf16Unpaired, kUtf16Short };
inline Utf16Step append_utf16_char(std::string& out, const unsigned char*& p,
                                   const unsigned char* end, bool big_endian);

// Appends the code point `cp` (at most U+10FFFF, no surrogate) to `out` in
// UTF-8.
void append_utf8(std::string& out, std::uint32_t cp);

// Returns whether `bytes` is valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). No allocation.
bool is_valid_utf8(std::string_view bytes);

// Returns the offset of the first byte of `bytes` at which valid UTF-8 stops
// (is_valid_utf8's rule), or the size when all of it is valid. No allocation;
// byte by byte, for the failure path.
std::size_t first_invalid_utf8(std::string_view bytes);

inline Utf16Step append_utf16_char(std::string& out, const unsigned char*& p,
                                   const unsigned char* end, bool big_endian) {
  const auto unit_at = [big_endian](const unsigned char* q) -> std::uint32_t {
    return big_endian ? (std::uint32_t{q[0]} << 8 | q[1]) : (std::uint32_t{q[1]} << 8 | q[0]);
  };
  if (end - p < 2) return kUtf16Short;
  std::uint32_t unit = unit_at(p);
  if (unit < 0xD800 || unit > 0xDFFF) {
    append_utf8(out, unit);
    p += 2;
    return kUtf16Ok;
  }
  if (unit >= 0xDC00) return kUtf16Unpaired;
  if (end - p < 4) return kUtf16Short;
  const std::uint32_t low = unit_at(p + 2);
  if (low < 0xDC00 || low > 0xDFFF) return kUtf16Unpaired;
  append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
  p += 4;
  return kUtf16Ok;
}

}  // namespace textgrid
