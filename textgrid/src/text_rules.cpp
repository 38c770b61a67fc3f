#include "text_rules.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace textgrid {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Closes the descriptor on every way out of the read.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A file whose reads may wait for data that never comes: a FIFO, a terminal,
// a socket. Regular files are read as before, without a poll per read.
bool may_wait(const struct stat& info) { return !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode); }

Result<std::string> read_bytes(const std::string& path, const ShouldStop& should_stop) {
  if (path.find('\0') != std::string::npos) {
    return fail(ErrorKind::InvalidInput, "file name contained an unexpected NUL byte");
  }
  // Opened without blocking: a FIFO's open() would otherwise wait for a writer
  // beyond the reach of the caller's hook. Only such files keep the flag.
  int raw = -1;
  while ((raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) < 0 && errno == EINTR) {
    if (stop_asked(should_stop)) return std::unexpected(os_error(EINTR));
  }
  FileDescriptor fd(raw);
  if (fd.get() < 0) return std::unexpected(os_error(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(os_error(errno));
  const bool waits = may_wait(info);
  if (!waits && ::fcntl(fd.get(), F_SETFL, 0) != 0) return std::unexpected(os_error(errno));

  // One buffer of the file's length plus one byte, so that the end of the
  // file shows without growing it; never zero-filled before the read. The
  // length is only a hint: a file that grows or reports no size (a pipe,
  // /proc) is read on to its end all the same.
  std::string bytes;
  std::size_t used = 0;
  int read_error = 0;
  std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 4096;
  for (;;) {
    bytes.resize_and_overwrite(capacity, [&](char* data, std::size_t size) {
      prefer_huge_pages(data + used, size - used);
      while (used < size) {
        // A FIFO reads as ended before its first writer comes: wait for data
        // or the end first. The wait is where the caller's hook is asked.
        if (waits && (read_error = wait_ready(fd.get(), POLLIN, should_stop)) != 0) break;
        const ssize_t got = ::read(fd.get(), data + used, size - used);
        if (got < 0) {
          if (errno == EAGAIN && waits) continue;
          if (errno == EINTR) {
            if (!stop_asked(should_stop)) continue;
            read_error = EINTR;
            break;
          }
          read_error = errno;
          break;
        }
        if (got == 0) {
          capacity = 0;  // the end of the file
          break;
        }
        used += static_cast<std::size_t>(got);
      }
      return used;
    });
    if (read_error != 0) return std::unexpected(os_error(read_error));
    if (capacity == 0) break;
    // A device without end (/dev/zero) stops only when memory runs out or
    // the caller asks.
    if (waits && stop_asked(should_stop)) return std::unexpected(os_error(EINTR));
    capacity *= 2;
  }
  return bytes;
}

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

// Decodes the UTF-16 units after the two-byte mark; nothing on an odd byte
// count or an unpaired surrogate.
std::optional<std::string> decode_utf16(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  const auto unit_at = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return big_endian ? (std::uint32_t{a} << 8 | b) : (std::uint32_t{b} << 8 | a);
  };
  std::string out;
  out.reserve(bytes.size() / 2 + bytes.size() / 8);
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    std::uint32_t unit = unit_at(i);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 2 >= bytes.size()) return std::nullopt;
      const std::uint32_t low = unit_at(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    append_utf8(out, unit);
  }
  return out;
}

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

// Whether `s`, the text after an opening quote or a later line of a quoted
// text, ends that text: in Praat's convention, when it ends in an odd number
// of quotes (a pair inside the text stands for one quote).
bool closes_quoted_text(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && s[s.size() - 1 - n] == '"') ++n;
  return n % 2 == 1;
}

// Copies `s` with every pair of double quotes turned into one.
std::string collapse_quotes(std::string_view s) {
  std::size_t quote = s.find('"');
  if (quote == npos) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::size_t from = 0;
  while (quote != npos) {
    out.append(s, from, quote + 1 - from);
    from = quote + 1;
    if (from < s.size() && s[from] == '"') ++from;
    quote = s.find('"', from);
  }
  out.append(s, from);
  return out;
}

bool equals_ignoring_case(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

void prefer_huge_pages(void* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (size < 2 * kHuge) return;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const auto first = (start + kHuge - 1) & ~(kHuge - 1);
  const auto last = (start + size) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

bool is_valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* end = p + s.size();
  while (p < end) {
    // Most of a TextGrid is ASCII: skip it eight bytes at a time.
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

Result<std::string> decode_text(std::string bytes) {
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
  if (!is_valid_utf8(bytes)) {
    return fail(ErrorKind::InvalidData, "stream did not contain valid UTF-8");
  }
  return bytes;
}

Result<std::string> read_file_bytes(const std::string& path, const ShouldStop& should_stop) {
  return read_bytes(path, should_stop);
}

Result<std::string> read_text_file(const std::string& path, const ShouldStop& should_stop) {
  auto bytes = read_bytes(path, should_stop);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return decode_text(std::move(*bytes));
}

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


std::optional<std::pair<std::string_view, std::string_view>> parse_kv(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == npos) return std::nullopt;
  return std::pair{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

double parse_real(std::string_view value) {
  const std::string_view s = trim(value);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const std::string_view body = s.substr(i);
  const double sign = negative ? -1.0 : 1.0;
  if (!body.empty() && !is_digit(body[0]) && body[0] != '.') {
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
      return sign * std::numeric_limits<double>::infinity();
    }
    if (equals_ignoring_case(body, "nan")) {
      return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    }
    return 0.0;
  }

  // Check the grammar here: from_chars alone would take a leading part of
  // "1e", "0x10" or "1,5" and has no "+".
  std::size_t j = 0;
  const std::size_t int_begin = j;
  while (j < body.size() && is_digit(body[j])) ++j;
  const std::size_t int_end = j;
  std::size_t frac_begin = j, frac_end = j;
  if (j < body.size() && body[j] == '.') {
    frac_begin = ++j;
    while (j < body.size() && is_digit(body[j])) ++j;
    frac_end = j;
  }
  if (int_end == int_begin && frac_end == frac_begin) return 0.0;
  long long exponent = 0;
  if (j < body.size() && (body[j] == 'e' || body[j] == 'E')) {
    ++j;
    bool exp_negative = false;
    if (j < body.size() && (body[j] == '+' || body[j] == '-')) {
      exp_negative = body[j] == '-';
      ++j;
    }
    if (j == body.size() || !is_digit(body[j])) return 0.0;
    while (j < body.size() && is_digit(body[j])) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (body[j] - '0');
      ++j;
    }
    if (exp_negative) exponent = -exponent;
  }
  if (j != body.size()) return 0.0;

  const char* first = negative ? body.data() - 1 : body.data();
  const char* last = body.data() + body.size();
  double result = 0.0;
  const auto [ptr, ec] = std::from_chars(first, last, result, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Beyond the range or below it: the nearest value is ±inf or ±0; which
    // one follows from the decimal position of the first non-zero digit.
    long long magnitude = 0;
    std::size_t k = int_begin;
    while (k < int_end && body[k] == '0') ++k;
    if (k < int_end) {
      magnitude = static_cast<long long>(int_end - k);
    } else {
      k = frac_begin;
      while (k < frac_end && body[k] == '0') ++k;
      magnitude = -static_cast<long long>(k - frac_begin);
    }
    return magnitude + exponent > 0 ? sign * std::numeric_limits<double>::infinity()
                                    : sign * 0.0;
  }
  if (ec != std::errc() || ptr != last) return 0.0;
  return result;
}

std::uint64_t parse_count(std::string_view value) {
  std::string_view s = trim(value);
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return 0;
  std::uint64_t count = 0;
  for (const char c : s) {
    if (!is_digit(c)) return 0;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (count > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return 0;
    count = count * 10 + digit;
  }
  return count;
}

std::string file_stem(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == npos || dot == 0) return std::string(name);
  return std::string(name.substr(0, dot));
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Returns the offset of the first line at or after `from` (a line start) that
// begins, after its blanks, with the tier-list marker; npos when none.
std::size_t find_marker_line(std::string_view text, std::size_t from) {
  constexpr std::string_view word = "item";
  std::size_t at = from;
  while ((at = text.find(word, at)) != npos) {
    const std::size_t newline = at <= from ? npos : text.rfind('\n', at - 1);
    const std::size_t line_start = newline == npos || newline < from ? from : newline + 1;
    if (trim_start(text.substr(line_start, at - line_start)).empty()) {
      const std::size_t line_end = std::min(text.find('\n', at), text.size());
      if (is_tier_list_marker(text.substr(at, line_end - at))) return line_start;
    }
    // A later marker on the same line cannot begin it either.
    at = text.find('\n', at);
    if (at == npos) break;
  }
  return npos;
}

}  // namespace

std::optional<std::string_view> heading_of(std::string_view line, std::string_view word) {
  if (!line.starts_with(word)) return std::nullopt;
  std::size_t at = word.size();
  while (at < line.size() && is_blank(line[at])) ++at;
  if (at == line.size() || line[at] != '[') return std::nullopt;
  return line.substr(at + 1);
}

bool is_tier_list_marker(std::string_view line) {
  const auto rest = heading_of(line, "item");
  if (!rest) return false;
  std::size_t at = 0;
  while (at < rest->size() && is_blank((*rest)[at])) ++at;
  return at < rest->size() && (*rest)[at] == ']';
}

bool has_long_layout_marker(std::string_view text) {
  // A marker line counts only where the readers would see it as a line: not
  // inside a label that runs over several lines. Such a label begins a line
  // with a quote in the short layout; in the long layout the marker comes
  // before every name and label. So walk the lines before a candidate and
  // skip the texts that run over it.
  LineCursor lines(text);
  std::string_view line;
  std::size_t candidate = find_marker_line(text, 0);
  while (candidate != npos) {
    while (lines.offset() < candidate && lines.next(line)) {
      if (line.starts_with('"')) lines.take_text(line);
    }
    if (lines.offset() == candidate) return true;
    candidate = find_marker_line(text, lines.offset());
  }
  return false;
}

bool LineCursor::next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const std::size_t newline = text_.find('\n', pos_);
  const std::size_t end = newline == npos ? text_.size() : newline;
  line = trim(text_.substr(pos_, end - pos_));
  pos_ = newline == npos ? text_.size() : newline + 1;
  ++line_number_;
  return true;
}

std::size_t LineCursor::find_closing_line(std::size_t from, std::size_t& line_end) {
  if (scan_from_ != npos && scan_from_ <= from && (closer_ == npos || closer_ >= from)) {
    line_end = closer_end_;
    return closer_;
  }
  scan_from_ = from;
  closer_ = npos;
  std::size_t p = from;
  while (p < text_.size()) {
    const std::size_t newline = text_.find('\n', p);
    const std::size_t end = newline == npos ? text_.size() : newline;
    const std::size_t next = newline == npos ? text_.size() : newline + 1;
    const std::string_view line = trim_end(text_.substr(p, end - p));
    if (closes_quoted_text(line)) {
      closer_ = p + line.size() - 1;
      closer_end_ = next;
      break;
    }
    p = next;
  }
  line_end = closer_end_;
  return closer_;
}

std::string LineCursor::take_text(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  const std::string_view rest = value.substr(1);
  if (closes_quoted_text(rest)) return collapse_quotes(rest.substr(0, rest.size() - 1));
  // Only a view into this text can run on over its lines.
  const std::less_equal<const char*> before_or_at;
  const bool in_text = before_or_at(text_.data(), value.data()) &&
                       before_or_at(value.data() + value.size(), text_.data() + text_.size());
  if (!in_text) return collapse_quotes(rest);

  std::size_t line_end = 0;
  const std::size_t close = find_closing_line(pos_, line_end);
  if (close == npos) return collapse_quotes(rest);
  const auto start = static_cast<std::size_t>(rest.data() - text_.data());
  std::string text = collapse_quotes(text_.substr(start, close - start));
  // Count the lines that the text used up, so that line numbers stay true.
  const auto used = static_cast<std::size_t>(
      std::count(text_.begin() + static_cast<std::ptrdiff_t>(pos_),
                 text_.begin() + static_cast<std::ptrdiff_t>(line_end), '\n'));
  const bool unterminated_last = line_end == text_.size() && text_.back() != '\n';
  line_number_ += used + (unterminated_last ? 1 : 0);
  pos_ = line_end;
  return text;
}

std::string unquote(std::string_view value) {
  if (value.empty() || value.front() != '"') return std::string(value);
  const std::string_view rest = value.substr(1);
  if (closes_quoted_text(rest)) return collapse_quotes(rest.substr(0, rest.size() - 1));
  return collapse_quotes(rest);
}

}  // namespace textgrid
