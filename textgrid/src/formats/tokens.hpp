// Praat's value stream, token by token, as the chronological and the free
// text readers take it: blank-separated words, and texts quoted in Praat's
// convention ("" inside stands for one quote), which may hold blanks and line
// breaks. "!" where a token would begin starts a comment to the end of the
// line. Lines end at a line feed, a carriage return and a line feed, or a
// carriage return alone.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/error.hpp"
#include "formats/values.hpp"
#include "text/line_scan.hpp"

namespace textgrid {

namespace detail {
// The bytes at which a word may end: ASCII blanks, "!", and the lead bytes of
// the White_Space characters outside ASCII (U+0085 and U+00A0 begin with
// 0xC2, the others with 0xE1, 0xE2 or 0xE3), which need a closer look.
inline constexpr std::array<bool, 256> kWordStops = [] {
  std::array<bool, 256> stops{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r', '!'}) stops[c] = true;
  for (const int c : {0xC2, 0xE1, 0xE2, 0xE3}) stops[static_cast<std::size_t>(c)] = true;
  return stops;
}();

// kWordStops without "!": Praat's own reading, in which "!" begins a comment
// only where a token would begin ("a!b" is one word).
inline constexpr std::array<bool, 256> kWordStopsPraat = [] {
  std::array<bool, 256> stops = kWordStops;
  stops['!'] = false;
  return stops;
}();

// The bytes that more() must look past or at closely before a token: the
// ASCII blanks, "!" and every byte outside ASCII.
inline constexpr std::array<bool, 256> kTokenSkips = [] {
  std::array<bool, 256> skips{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r', '!'}) skips[c] = true;
  for (int c = 0x80; c < 0x100; ++c) skips[static_cast<std::size_t>(c)] = true;
  return skips;
}();
}  // namespace detail

// Hands out the tokens of a text. Running past the end records an error that
// names the line of the last token and the value expected; the caller then
// returns failure().
class Tokens {
 public:
  // Over `size` bytes at `text`, which the tokens may rewrite: a quoted text
  // is collapsed in place over its own bytes, which no later token reads.
  Tokens(char* text, std::size_t size) : text_(text, size), writable_(text) {}

  // Skips the first line, which the caller has checked.
  void skip_line();

  // Whether a token is left; moves to its first byte. Inline for the common
  // case, a token right here or after one blank or line feed.
  [[gnu::always_inline]] bool more() {
    if (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ' ') {
        ++pos_;
      } else if (c == '\n') {
        ++pos_;
        ++line_;
      }
    }
    if (pos_ < text_.size() && !detail::kTokenSkips[static_cast<unsigned char>(text_[pos_])]) {
      token_line_ = line_;
      return true;
    }
    return more_slow();
  }

  // The first byte of the next token; only after more() said there is one.
  char peek() const { return text_[pos_]; }

  // Whether a token is left once the words that cannot begin a number are
  // passed over, as Praat passes them over where a record's tier number is
  // due: its own comment line before a record ("! name:") runs on to further
  // lines when the tier name holds a line break. A quoted text or "<" stops
  // the skipping, and is then read as a tier number that is out of range.
  bool more_numbers() {
    while (more()) {
      const char c = text_[pos_];
      if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == '"' || c == '<') {
        return true;
      }
      std::string_view skipped;
      word(skipped, Value::ItemStart);
    }
    return false;
  }

  // Takes a number or a word: the token up to a blank or a comment (with
  // `kBangEnds` false, up to a blank only, as Praat reads).
  template <bool kBangEnds = true>
  [[gnu::always_inline]] bool word(std::string_view& token, Value what, std::size_t tier = 0,
                                   std::size_t item = 0) {
    constexpr const std::array<bool, 256>& stops =
        kBangEnds ? detail::kWordStops : detail::kWordStopsPraat;
    if (!more()) [[unlikely]]
      return end_of_file(what, tier, item);
    const char* const base = text_.data();
    const char* const end = base + text_.size();
    const char* p = base + pos_;
    for (;;) {
      // Eight bytes at a time to the first byte below "\"" (a blank, "!" and
      // the control bytes) or outside ASCII: only such bytes may stop a word.
      bool flagged = false;
      while (end - p >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, p, 8);
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        const std::uint64_t low = (chunk - 0x2222222222222222ULL) & ~chunk & kHighs;
        if (const std::uint64_t mask = low | (chunk & kHighs); mask != 0) {
          // The lowest flagged byte is exact (a borrow only runs upwards).
          if constexpr (std::endian::native == std::endian::little) {
            p += std::countr_zero(mask) >> 3;
            flagged = true;
          }
          break;
        }
        p += 8;
      }
      if (!flagged) {
        while (p != end && !stops[static_cast<unsigned char>(*p)]) ++p;
      }
      if (p == end) break;
      const auto c = static_cast<unsigned char>(*p);
      if (stops[c] && (c < 0x80 || is_unicode_space(static_cast<std::size_t>(p - base)))) {
        break;
      }
      ++p;
    }
    const auto stop = static_cast<std::size_t>(p - base);
    token = text_.substr(pos_, stop - pos_);
    pos_ = stop;
    return true;
  }

  // Takes a text. A quoted one ends at the first quote that is no doubled
  // quote (""), on its own line or a later one, as Praat reads it; when there
  // is none, it is the rest of its own line, as in the other readers. Any
  // other token is taken as it stands.
  [[gnu::always_inline]] bool text(std::string_view& out, Value what, std::size_t tier = 0,
                                   std::size_t item = 0) {
    if (!more()) [[unlikely]]
      return end_of_file(what, tier, item);
    if (text_[pos_] == '"') {
      // The common case: a lone quote closes the text on its own line, before
      // any control byte; it is the closer that find_closer would return, and
      // nothing is collapsed.
      const char* const base = text_.data();
      const char* const from = base + pos_ + 1;
      const char* const end = base + text_.size();
      const char* const p = detail::find_quote_or_control(from, end);
      if (p != end && *p == '"' && (p + 1 == end || p[1] != '"')) {
        out = std::string_view(from, static_cast<std::size_t>(p - from));
        pos_ = static_cast<std::size_t>(p + 1 - base);
        return true;
      }
    }
    return text_slow(out, what, tier, item);
  }

  // The text not yet looked at, and its offset.
  std::string_view rest() const { return text_.substr(pos_); }
  std::size_t offset() const { return pos_; }

  // The 1-based line of the last token taken.
  std::size_t line_number() const { return token_line_; }

  std::unexpected<Error> failure() { return std::unexpected(std::move(failure_)); }

  // Records the failure "Unexpected end of file after line L: expected " and
  // the value; returns false.
  [[gnu::noinline]] bool end_of_file(Value what, std::size_t tier, std::size_t item);

 private:
  // more() past blanks, line breaks and comments.
  [[gnu::noinline]] bool more_slow();

  // text() for any other token: a word, or a quoted text that holds a quote
  // or a line break, or is not closed.
  [[gnu::noinline]] bool text_slow(std::string_view& out, Value what, std::size_t tier,
                                   std::size_t item);

  // Whether a White_Space character outside ASCII begins at `at`.
  bool is_unicode_space(std::size_t at) const;

  // Returns the offset of the quote that closes a text whose inside begins
  // at `from`; npos when none.
  std::size_t find_closer(std::size_t from);

  static constexpr std::size_t npos = std::string_view::npos;

  std::string_view text_;
  char* writable_;                // the same bytes as text_
  std::size_t pos_ = 0;           // the next byte to look at
  std::size_t line_ = 1;          // the 1-based line of pos_
  std::size_t token_line_ = 1;    // the line of the last token taken
  std::size_t none_from_ = npos;  // a search for a closing quote from here found none
  Error failure_;
};

}  // namespace textgrid
