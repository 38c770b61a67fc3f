#include "text/decode.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "parallel/parallel_map.hpp"

namespace textgrid {

namespace {

// Decodes the UTF-16 units after the two-byte mark; nothing on an odd byte
// count or an unpaired surrogate.
std::optional<std::string> decode_utf16(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size() / 2 + bytes.size() / 8);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 2;
  const auto* const end = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size());
  while (p != end) {
    // Most of a TextGrid is ASCII: such a unit is one byte, without a call.
    const unsigned char high = big_endian ? p[0] : p[1];
    const unsigned char low = big_endian ? p[1] : p[0];
    if (high == 0 && low < 0x80) {
      out.push_back(static_cast<char>(low));
      p += 2;
      continue;
    }
    if (append_utf16_char(out, p, end, big_endian) != kUtf16Ok) return std::nullopt;
  }
  return out;
}

// Windows-1252's characters for the bytes 0x80 to 0x9F; its five unassigned
// bytes keep the C1 control of their own number.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline unsigned char byte_at(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

}  // namespace

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool is_valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* end = p + s.size();
  while (p < end) {
    // Most of a TextGrid is ASCII: skip it 64 bytes at a time where SSE2 is
    // there (always on x86-64), else 32, then eight.
#if defined(__SSE2__)
    while (end - p >= 64) {
      const auto* v = reinterpret_cast<const __m128i*>(p);
      const __m128i any =
          _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                       _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
      if (_mm_movemask_epi8(any) != 0) break;
      p += 64;
    }
#endif
    while (end - p >= 32) {
      std::uint64_t chunk[4];
      std::memcpy(chunk, p, 32);
      if ((chunk[0] | chunk[1] | chunk[2] | chunk[3]) & 0x8080808080808080ULL) break;
      p += 32;
    }
    while (end - p >= 8) {
      std::uint64_t chunk;
      std::memcpy(&chunk, p, 8);
      if (chunk & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) <= need) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (std::size_t k = 2; k <= need; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
    }
    p += need + 1;
  }
  return true;
}

namespace {

// is_valid_utf8 for a large text: two parts checked side by side, cut just
// before a byte that is no continuation byte (in valid UTF-8, a character's
// start). A valid text is valid on both sides of such a cut; in an invalid
// one, the first fault lies before the cut, where the first check meets it,
// or after, where the whole check would have reached the cut at a character
// start as the second check begins.
bool is_valid_utf8_in_two(std::string_view s, bool may_split) {
  if (s.size() < kSplitBytes || !may_split) return is_valid_utf8(s);
  std::size_t cut = s.size() / 2;
  for (int back = 0; back < 3 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80; ++back) --cut;
  bool first = false, second = false;
  run_two([&] { first = is_valid_utf8(s.substr(0, cut)); },
          [&] { second = is_valid_utf8(s.substr(cut)); });
  return first && second;
}

}  // namespace

std::size_t first_invalid_utf8(std::string_view s) {
  // is_valid_utf8 on ever longer prefixes would do; one scalar walk is enough
  // for a path taken once per refused file.
  std::size_t at = 0;
  while (at < s.size()) {
    const unsigned char c = byte_at(s, at);
    if (c < 0x80) {
      ++at;
      continue;
    }
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (!is_valid_utf8(s.substr(at, std::min(length, s.size() - at)))) return at;
    at += length;
  }
  return s.size();
}

void detail::append_8bit(std::string& out, std::string_view bytes, Encoding encoding) {
  out.reserve(out.size() + 2 * bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else if (b < 0xA0 && encoding == Encoding::Cp1252) {
      append_utf8(out, kCp1252High[b - 0x80]);
    } else {
      append_utf8(out, b);
    }
  }
}

std::string decode_8bit(std::string_view bytes, Encoding encoding) {
  std::string out;
  assign_8bit(out, bytes, encoding);
  return out;
}

Result<std::string> decode_text(std::string bytes, const ReadOptions& options) {
  const Encoding encoding = options.encoding;
  if (bytes.size() >= 2) {
    const unsigned char b0 = byte_at(bytes, 0);
    const unsigned char b1 = byte_at(bytes, 1);
    const bool little = b0 == 0xFF && b1 == 0xFE;
    const bool big = b0 == 0xFE && b1 == 0xFF;
    if (little || big) {
      auto text = decode_utf16(bytes, big);
      if (!text) return fail(ErrorKind::InvalidData, "stream did not contain valid UTF-16");
      return std::move(*text);
    }
  }
  if (encoding == Encoding::Latin1 || encoding == Encoding::Cp1252) {
    return decode_8bit(bytes, encoding);
  }
  if (!is_valid_utf8_in_two(bytes, options.may_split)) {
    if (encoding == Encoding::Praat) return decode_8bit(bytes, Encoding::Latin1);
    Error error(ErrorKind::InvalidData, "stream did not contain valid UTF-8");
    error.invalid_byte = first_invalid_utf8(bytes);
    return std::unexpected(std::move(error));
  }
  return bytes;
}

}  // namespace textgrid
