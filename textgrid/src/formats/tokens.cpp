#include "formats/tokens.hpp"

#include <algorithm>

#include "text/text_rules.hpp"

namespace textgrid {

namespace {

bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

void Tokens::skip_line() {
  const char* const end = text_.data() + text_.size();
  const char* const stop = detail::find_line_end(text_.data(), end);
  pos_ = static_cast<std::size_t>((stop == end ? end : detail::after_line_end(stop, end)) -
                                  text_.data());
  line_ = stop == end ? 1 : 2;
}

bool Tokens::text_slow(std::string_view& out, Value what, std::size_t tier, std::size_t item) {
  if (text_[pos_] != '"') return word(out, what, tier, item);
  const std::size_t close = find_closer(pos_ + 1);
  std::size_t end = close + 1;
  if (close == npos) {
    end = detail::line_end_offset(text_, pos_);
  }
  const std::string_view quoted = text_.substr(pos_, end - pos_);
  // Lines are counted before the text is collapsed over its own bytes.
  line_ += count_line_ends(quoted);
  const std::string_view raw = close == npos ? trim_end(quoted) : quoted;
  out = unquote_in_place(writable_ + pos_, raw.size());
  pos_ = end;
  return true;
}

bool Tokens::more_slow() {
  const std::size_t size = text_.size();
  std::size_t at = pos_;
  std::size_t line = line_;
  while (at < size) {
    const char c = text_[at];
    if (c == ' ') {
      ++at;
    } else if (c == '\n') {
      ++line;
      ++at;
    } else if (c == '\r') {
      // A carriage return alone ends a line; before a line feed, that does.
      ++at;
      if (at == size || text_[at] != '\n') ++line;
    } else if (is_ascii_space(c)) {
      ++at;
    } else if (c == '!') {
      at = detail::line_end_offset(text_, at);
    } else if (static_cast<unsigned char>(c) >= 0x80) {
      // The other Unicode White_Space characters separate tokens too.
      const std::string_view rest = text_.substr(at);
      const std::string_view after = trim_start(rest);
      if (after.size() == rest.size()) break;
      const std::size_t skipped = rest.size() - after.size();
      line += count_line_ends(rest.substr(0, skipped));
      at += skipped;
    } else {
      break;
    }
  }
  pos_ = at;
  line_ = line;
  if (at == size) return false;
  token_line_ = line;
  return true;
}

bool Tokens::is_unicode_space(std::size_t at) const {
  // At most three bytes long in UTF-8.
  const std::string_view piece = text_.substr(at, 3);
  return trim_start(piece).size() != piece.size();
}

// The last quote of the first run of quotes of odd length, as pairs stand for
// one quote each. Linear over a whole read: once a search from `from` found
// none, a later search can only end in the run of quotes that it starts in,
// every later run being of even length.
std::size_t Tokens::find_closer(std::size_t from) {
  const auto run_end = [&](std::size_t q) {
    while (q < text_.size() && text_[q] == '"') ++q;
    return q;
  };
  if (none_from_ <= from) {
    const std::size_t end = run_end(from);
    return (end - from) % 2 == 1 ? end - 1 : npos;
  }
  for (std::size_t q = text_.find('"', from); q != npos; q = text_.find('"', q)) {
    const std::size_t end = run_end(q);
    if ((end - q) % 2 == 1) return end - 1;
    q = end;
  }
  none_from_ = from;
  return npos;
}

bool Tokens::end_of_file(Value what, std::size_t tier, std::size_t item) {
  failure_ = Error(ErrorKind::InvalidData, "Unexpected end of file after line " +
                                               std::to_string(line_number()) + ": expected " +
                                               describe(what, tier, item));
  return false;
}

}  // namespace textgrid
