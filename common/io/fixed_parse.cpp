#include "fixed_parse.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "powers_of_ten.hpp"

namespace rg {

std::string_view column_field(std::string_view line, int col, int width) {
  if (col < 1 || width <= 0) return {};
  auto start = static_cast<std::size_t>(col - 1);
  if (start >= line.size()) return {};
  return line.substr(start, static_cast<std::size_t>(width));
}

namespace {

std::string without_blanks(std::string_view f) {
  std::string s;
  s.reserve(f.size());
  for (char c : f)
    if (c != ' ') s += c;
  return s;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<long long> parse_int(std::string_view field) {
  // Blanks anywhere in the field are skipped, as if removed beforehand.
  std::size_t i = 0;
  const std::size_t n = field.size();
  while (i < n && field[i] == ' ') ++i;
  if (i == n) return 0;
  bool neg = false;
  if (field[i] == '+' || field[i] == '-') {
    neg = field[i] == '-';
    ++i;
  }
  bool digits = false;
  long long v = 0;
  for (; i < n; ++i) {
    const char c = field[i];
    if (c == ' ') continue;
    if (!is_digit(c)) return std::nullopt;
    if (v > (std::numeric_limits<long long>::max() - 9) / 10) return std::nullopt;
    v = v * 10 + (c - '0');
    digits = true;
  }
  if (!digits) return std::nullopt;
  return neg ? -v : v;
}

namespace {

// A plain field (sign, digits, at most one decimal point, blanks) whose digits form
// an integer m below 2^53 with at most 22 decimals: m and 10^k are exact doubles, so
// the one division is the correctly rounded value. False for anything else.
bool plain_real(std::string_view field, int implied_decimals, double& out) {
  constexpr std::uint64_t EXACT = std::uint64_t{1} << 53;
  std::uint64_t m = 0;
  bool neg = false, digits = false, point = false, sign_allowed = true;
  int decimals = 0;
  for (const char c : field) {
    if (c == ' ') continue;
    if (is_digit(c)) {
      if (m >= EXACT / 10) return false;
      m = m * 10 + static_cast<std::uint64_t>(c - '0');
      digits = true;
      decimals += point;
    } else if (c == '.' && !point) {
      point = true;
    } else if ((c == '-' || c == '+') && sign_allowed) {
      neg = c == '-';
    } else {
      return false;
    }
    sign_allowed = false;
  }
  const int k = point ? decimals : implied_decimals;
  if (!digits || k < 0 || k > 22) return false;
  const double v = static_cast<double>(m) / EXACT_POW10[k];
  out = neg ? -v : v;
  return true;
}

}  // namespace

std::optional<double> parse_real(std::string_view field, int implied_decimals) {
  if (double v; plain_real(field, implied_decimals, v)) return v;
  std::string s = without_blanks(field);
  if (s.empty()) return 0.0;
  std::size_t i = 0;
  std::string mant;
  if (s[i] == '+' || s[i] == '-') mant += s[i++];
  bool digits = false, point = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (is_digit(c)) {
      digits = true;
      mant += c;
    } else if (c == '.' && !point) {
      point = true;
      mant += c;
    } else {
      break;
    }
  }
  if (!digits) return std::nullopt;
  long long expo = 0;
  if (i < s.size()) {
    char c = s[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') ++i;
    else if (c != '+' && c != '-') return std::nullopt;  // a sign alone also opens an exponent
    auto e = parse_int(std::string_view(s).substr(i));
    if (i == s.size() || !e || *e > 100000 || *e < -100000) return std::nullopt;
    expo = *e;
  }
  if (!point) expo -= implied_decimals;
  // One correctly rounded conversion of mantissa and exponent together.
  mant += 'e' + std::to_string(expo);
  double v = std::strtod(mant.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long long> first_int(std::string_view line) {
  std::size_t b = line.find_first_not_of(" \t,");
  if (b == std::string_view::npos) return std::nullopt;
  std::size_t e = line.find_first_of(" \t,", b);
  std::string_view item = line.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b);
  if (item.find_first_of("\r") != std::string_view::npos) return std::nullopt;
  return parse_int(item);
}

std::string_view trim_right(std::string_view s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string_view{} : s.substr(0, e + 1);
}

}  // namespace rg
