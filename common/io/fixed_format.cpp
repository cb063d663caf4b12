#include "fixed_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void append_i(std::string& s, long long v, int w) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  const int n = static_cast<int>(r.ptr - buf);
  if (n > w) s.append(static_cast<std::size_t>(w > 0 ? w : 0), '*');
  else s.append(static_cast<std::size_t>(w - n), ' ').append(buf, static_cast<std::size_t>(n));
}

void append_f(std::string& s, double v, int w, int d) {
  // Fields of up to 30 characters take the fast path: a correctly rounded conversion
  // gives the digits of printf; wider values fall back to fmt_f.
  if (!std::isfinite(v) || std::fabs(v) >= 1e28 || w > 30 || d < 1) {
    s += fmt_f(v, w, d);
    return;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, d);
  char* b = buf;
  int n = static_cast<int>(r.ptr - buf);
  if (n > w) {
    // "0.500" may print as ".500" and "-0.500" as "-.500" in a narrow field.
    if (n >= 2 && b[0] == '0' && b[1] == '.') {
      ++b;
      --n;
    } else if (n >= 3 && b[0] == '-' && b[1] == '0' && b[2] == '.') {
      b[1] = '-';
      ++b;
      --n;
    }
  }
  if (n > w) s.append(static_cast<std::size_t>(w > 0 ? w : 0), '*');
  else s.append(static_cast<std::size_t>(w - n), ' ').append(b, static_cast<std::size_t>(n));
}

std::string fmt_a(std::string_view s, int w) {
  if (w <= 0) return {};
  std::string r(s.substr(0, static_cast<std::size_t>(w)));
  r.resize(static_cast<std::size_t>(w), ' ');
  return r;
}

}  // namespace rg
