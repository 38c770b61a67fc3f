#include "number_format.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace textgrid {

void append_time(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  // The shortest digits come from the scientific form; the fixed form of
  // to_chars would print the exact binary value of large numbers instead.
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  (void)ec;  // 32 bytes always hold the shortest scientific form of a double
  const char* p = buffer;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[20];
  int count = 0;
  while (p < end && *p != 'e') {
    if (*p != '.') digits[count++] = *p;
    ++p;
  }
  int exponent = 0;
  std::from_chars(*(p + 1) == '+' ? p + 2 : p + 1, end, exponent);
  // Digits before the point: d.ddd x 10^exponent has exponent + 1 of them.
  const int point = exponent + 1;
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits, static_cast<std::size_t>(count));
  } else if (point >= count) {
    out.append(digits, static_cast<std::size_t>(count));
    out.append(static_cast<std::size_t>(point - count), '0');
  } else {
    out.append(digits, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits + point, static_cast<std::size_t>(count - point));
  }
}

std::string format_time(double value) {
  std::string out;
  append_time(out, value);
  return out;
}

}  // namespace textgrid
