#include "fixed_format.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "powers_of_ten.hpp"

namespace rg {

namespace {

std::string stars(int w) { return std::string(w > 0 ? static_cast<std::size_t>(w) : 0, '*'); }

std::string right(std::string s, int w) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return blanks(w - static_cast<int>(s.size())) + s;
}

std::string non_finite(double v, int w) {
  if (std::isnan(v)) return right("NaN", w);
  return right(v < 0 ? "-Inf" : "Inf", w);
}

}  // namespace

std::string fmt_i(long long v, int w) { return right(std::to_string(v), w); }

std::string fmt_iw(long long v, int w) {
  std::string s = std::to_string(v);
  return static_cast<int>(s.size()) >= w ? s : right(s, w);
}

std::string fmt_f(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  if (std::fabs(v) >= 1e300) return stars(w);
  char buf[400];
  std::snprintf(buf, sizeof buf, "%#.*f", d, v);
  std::string s(buf);
  if (static_cast<int>(s.size()) > w) {
    // "0.500" may print as ".500" and "-0.500" as "-.500" in a narrow field.
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
  }
  return right(s, w);
}

std::string fmt_e(double v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  if (v == 0.0) {
    return right("0." + std::string(static_cast<std::size_t>(d), '0') + "E+00", w);
  }
  // printf gives d.ddd e±xx; shift to the 0.dddd E±xx form.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(v));
  std::string mant(buf, std::strchr(buf, 'e'));
  int expo = std::atoi(std::strchr(buf, 'e') + 1) + 1;
  std::string digits;
  for (char c : mant)
    if (c != '.') digits += c;
  char ebuf[16];
  if (std::abs(expo) < 100) std::snprintf(ebuf, sizeof ebuf, "E%+03d", expo);
  else std::snprintf(ebuf, sizeof ebuf, "%+04d", expo);
  std::string s = std::string(v < 0 ? "-" : "") + "0." + digits + ebuf;
  if (static_cast<int>(s.size()) > w) {
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
  }
  return right(s, w);
}

std::string fmt_sig(double v, int w, int d) {
  if (v == 0.0 || !std::isfinite(v) || std::fabs(v) >= 0.01) return fmt_f(v, w, d);
  for (int digits = d; digits >= 1; --digits) {
    std::string s = fmt_e(v, w, digits);
    if (s.find('*') == std::string::npos) return s;
  }
  return fmt_f(v, w, d);
}

namespace {

constexpr std::uint64_t IPOW10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// |v| * 10^d rounded to an integer as printf rounds it (1 <= d <= 9), when one
// multiplication settles the rounding. Below 2^50 every half is an exact double and
// rounding is monotonic, so the scaled value x lies on the same side of every half
// as the exact product, or on the half itself: only then is the rounding in doubt,
// and the answer is false (the full conversion must decide).
bool scaled_fast(double v, int d, std::uint64_t& n) {
  const double x = std::fabs(v) * EXACT_POW10[d];
  if (!(x < 0x1p50)) return false;
  const double whole = std::floor(x);
  const double frac = x - whole;  // exact
  if (frac == 0.5) return false;
  n = static_cast<std::uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
  return true;
}

// Number of decimal digits of u.
int digit_count(std::uint64_t u) {
  int n = 1;
  for (; u >= 10; u /= 10) ++n;
  return n;
}

// Writes the digits of u to end on the left of p; returns the first one written.
char* digits_before(char* p, std::uint64_t u) {
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  return p;
}

// Appends w blanks, returning the end of them, for a field written right to left into
// the line itself (no digits made elsewhere and copied).
char* blank_field(std::string& s, int w) {
  s.append(static_cast<std::size_t>(w), ' ');
  return s.data() + s.size();
}

// Appends the field of the rounded value n / 10^d, pow10 being 10^d. Inlined into
// callers with constant d, the divisions become multiplications.
[[gnu::always_inline]] inline void append_scaled_by(std::string& s, bool negative, std::uint64_t n, int w, int d,
                                                    std::uint64_t pow10) {
  const std::uint64_t whole = n / pow10, frac = n % pow10;
  int len = (negative ? 1 : 0) + digit_count(whole) + 1 + d;
  // "0.500" may print as ".500" and "-0.500" as "-.500" in a narrow field.
  const bool drop_zero = len > w && whole == 0;
  if (drop_zero) --len;
  if (len > w) {
    s.append(static_cast<std::size_t>(w), '*');
    return;
  }
  char* p = blank_field(s, w);
  char* point = p - d - 1;
  std::fill(point + 1, digits_before(p, frac), '0');  // leading zeros of the decimals
  *point = '.';
  p = drop_zero ? point : digits_before(point, whole);
  if (negative) *--p = '-';
}

// The same for any d; one and two decimals (the daily values and monthly totals of
// the simulation) with constant divisors.
void append_scaled(std::string& s, bool negative, std::uint64_t n, int w, int d) {
  if (d == 2) append_scaled_by(s, negative, n, w, 2, 100);
  else if (d == 1) append_scaled_by(s, negative, n, w, 1, 10);
  else append_scaled_by(s, negative, n, w, d, IPOW10[d]);
}

}  // namespace

void append_i(std::string& s, long long v, int w) {
  const bool negative = v < 0;
  const std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  if ((negative ? 1 : 0) + digit_count(u) > w) {
    s.append(static_cast<std::size_t>(w > 0 ? w : 0), '*');
    return;
  }
  char* p = digits_before(blank_field(s, w), u);
  if (negative) *--p = '-';
}

void append_f(std::string& s, double v, int w, int d) {
  // Fields of up to 30 characters take the fast paths: the rounding of one
  // multiplication when it is sure, else a correctly rounded conversion, both giving
  // the digits of printf; wider values fall back to fmt_f.
  if (!std::isfinite(v) || std::fabs(v) >= 1e28 || w > 30 || d < 1) {
    s += fmt_f(v, w, d);
    return;
  }
  if (w <= 0) return;
  if (std::uint64_t n; d <= 9 && scaled_fast(v, d, n)) {
    append_scaled(s, std::signbit(v), n, w, d);
    return;
  }
  char buf[64];
  char* b = buf;
  int n = static_cast<int>(std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, d).ptr - buf);
  if (n > w) {
    // As above: the leading zero gives way in a narrow field.
    if (n >= 2 && b[0] == '0' && b[1] == '.') {
      ++b;
      --n;
    } else if (n >= 3 && b[0] == '-' && b[1] == '0' && b[2] == '.') {
      b[1] = '-';
      ++b;
      --n;
    }
  }
  if (n > w) s.append(static_cast<std::size_t>(w), '*');
  else s.append(static_cast<std::size_t>(w - n), ' ').append(b, static_cast<std::size_t>(n));
}

void append_a(std::string& s, std::string_view text, int w) {
  if (w <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(w));
  s.append(text.data(), n).append(static_cast<std::size_t>(w) - n, ' ');
}

std::string fmt_a(std::string_view s, int w) {
  std::string r;
  append_a(r, s, w);
  return r;
}

}  // namespace rg
