#include "number_format.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace textgrid {

std::size_t write_time(char (&buffer)[kTimeBufferSize], double value) {
  char* out = buffer;
  const auto put = [&](const char* text, std::size_t size) {
    std::memcpy(out, text, size);
    out += size;
  };
  const auto fill = [&](std::size_t count) {
    std::memset(out, '0', count);
    out += count;
  };
  if (std::isnan(value)) {
    put("NaN", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) {
      put("-inf", 4);
      return 4;
    }
    put("inf", 3);
    return 3;
  }
  // The shortest digits come from the scientific form; the fixed form of
  // to_chars would print the exact binary value of large numbers instead.
  char scientific[32];
  const auto [end, ec] = std::to_chars(scientific, scientific + sizeof scientific, value,
                                       std::chars_format::scientific);
  (void)ec;  // 32 bytes always hold the shortest scientific form of a double
  const char* p = scientific;
  if (*p == '-') {
    put("-", 1);
    ++p;
  }
  char digits[20];
  std::size_t count = 0;
  while (p < end && *p != 'e') {
    if (*p != '.') digits[count++] = *p;
    ++p;
  }
  int exponent = 0;
  std::from_chars(p[1] == '+' ? p + 2 : p + 1, end, exponent);
  // Digits before the point: d.ddd x 10^exponent has exponent + 1 of them.
  const int point = exponent + 1;
  if (point <= 0) {
    put("0.", 2);
    fill(static_cast<std::size_t>(-point));
    put(digits, count);
  } else if (static_cast<std::size_t>(point) >= count) {
    put(digits, count);
    fill(static_cast<std::size_t>(point) - count);
  } else {
    const auto before = static_cast<std::size_t>(point);
    put(digits, before);
    put(".", 1);
    put(digits + before, count - before);
  }
  return static_cast<std::size_t>(out - buffer);
}

void append_time(std::string& out, double value) {
  char buffer[kTimeBufferSize];
  out.append(buffer, write_time(buffer, value));
}

std::string format_time(double value) {
  std::string out;
  append_time(out, value);
  return out;
}

}  // namespace textgrid
