#include "base/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace quillane {
namespace {

// Shortest digits of |x| (no leading or trailing zeros) and the decimal
// exponent n such that |x| = 0.d1d2...dk * 10^n.
struct Decimal {
  std::string digits;
  int point = 0;
};

Decimal shortest_digits(double x) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, x < 0 ? -x : x, std::chars_format::scientific);
  std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  std::size_t e = text.find('e');
  Decimal d;
  for (char c : text.substr(0, e))
    if (c != '.') d.digits.push_back(c);
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  d.point = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;
  return d;
}

}  // namespace

std::string format_ecmascript(double x) {
  if (x == 0) return "0";
  Decimal d = shortest_digits(x);
  const int k = static_cast<int>(d.digits.size());
  const int n = d.point;
  std::string out = x < 0 ? "-" : "";
  if (k <= n && n <= 21) {
    out += d.digits;
    out.append(static_cast<std::size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out += d.digits.substr(0, static_cast<std::size_t>(n));
    out += '.';
    out += d.digits.substr(static_cast<std::size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-n), '0');
    out += d.digits;
  } else {
    out += d.digits[0];
    if (k > 1) {
      out += '.';
      out += d.digits.substr(1);
    }
    out += 'e';
    out += n - 1 >= 0 ? '+' : '-';
    out += std::to_string(std::abs(n - 1));
  }
  return out;
}

std::string format_plain_decimal(double x) {
  if (x == 0) return std::signbit(x) ? "-0" : "0";
  Decimal d = shortest_digits(x);
  const int k = static_cast<int>(d.digits.size());
  const int n = d.point;
  std::string out = x < 0 ? "-" : "";
  if (n >= k) {
    out += d.digits;
    out.append(static_cast<std::size_t>(n - k), '0');
  } else if (n > 0) {
    out += d.digits.substr(0, static_cast<std::size_t>(n)) + "." + d.digits.substr(static_cast<std::size_t>(n));
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-n), '0');
    out += d.digits;
  }
  return out;
}

}  // namespace quillane
