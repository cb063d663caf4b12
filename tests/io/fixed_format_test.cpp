#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "test_support.hpp"
#include "fixed_format.hpp"

using namespace rg;

TEST(FixedFormat, IntegersRightJustifiedAndStarsWhenTooWide) {
  EXPECT_EQ(fmt_i(5, 3), "  5");
  EXPECT_EQ(fmt_i(-12, 3), "-12");
  EXPECT_EQ(fmt_i(100, 2), "**");
  EXPECT_EQ(fmt_i(-100, 3), "***");
  EXPECT_EQ(fmt_i(0, 1), "0");
  // The widening form keeps the field when the number fits.
  EXPECT_EQ(fmt_iw(41, 3), " 41");
  EXPECT_EQ(fmt_iw(1234, 3), "1234");
}

TEST(FixedFormat, FixedPointRoundsAndKeepsWidth) {
  EXPECT_EQ(fmt_f(1.5, 10, 4), "    1.5000");
  EXPECT_EQ(fmt_f(-0.25, 8, 3), "  -0.250");
  EXPECT_EQ(fmt_f(2.0005, 8, 3), "   2.001");  // 2.0005 is stored just above
  EXPECT_EQ(fmt_f(12345.6, 6, 2), "******");
  EXPECT_EQ(fmt_f(3.0, 4, 0), "  3.");
}

TEST(FixedFormat, LeadingZeroDroppedOnlyWhenNeededToFit) {
  EXPECT_EQ(fmt_f(0.5, 5, 3), "0.500");
  EXPECT_EQ(fmt_f(0.5, 4, 3), ".500");
  EXPECT_EQ(fmt_f(-0.5, 5, 3), "-.500");
  EXPECT_EQ(fmt_f(-0.5, 4, 3), "****");
}

TEST(FixedFormat, ScientificForm) {
  EXPECT_EQ(fmt_e(1234.56, 12, 4), "  0.1235E+04");
  EXPECT_EQ(fmt_e(-0.000123456, 12, 4), " -0.1235E-03");
  EXPECT_EQ(fmt_e(0.0, 10, 4), "0.0000E+00");
  EXPECT_EQ(fmt_e(9.99999, 10, 3), " 0.100E+02");
}

TEST(FixedFormat, NonFiniteValuesNeverBreakColumns) {
  EXPECT_EQ(fmt_f(std::numeric_limits<double>::quiet_NaN(), 6, 2), "   NaN");
  EXPECT_EQ(fmt_f(-std::numeric_limits<double>::infinity(), 3, 1), "***");
  EXPECT_EQ(fmt_f(1e305, 10, 2), "**********");
}

TEST(FixedFormat, TextAndBuilder) {
  EXPECT_EQ(fmt_a("abc", 5), "abc  ");
  EXPECT_EQ(fmt_a("abcdef", 4), "abcd");
  EXPECT_EQ(Fields().x(2).t("n=").i(7, 3).f(1.25, 6, 2).a("xy", 3).str(), "  n=  7  1.25xy ");
}

TEST(FixedFormat, AppendedFieldsMatchTheSingleFieldFormatters) {
  // The appending forms used for long records must give exactly the digits of
  // printf (through fmt_f) for ordinary values, ties, narrow fields and non-finite
  // values alike.
  std::uint64_t state = 88172645463325252ULL;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::vector<double> values = {0.0, -0.0, 0.005, 0.015, 0.125, 2.675, 999.995, 999.994999, 1000.0, -0.5, 1e27,
                                1e40, -1e300, std::nan(""), INFINITY, -INFINITY};
  for (int k = 0; k < 20000; ++k) {
    const double v = static_cast<double>(next() % 2000000) / 1000.0 * ((k % 7 == 0) ? -1.0 : 1.0);
    values.push_back(v);
    values.push_back(v / 3.0);
  }
  for (double v : values)
    for (auto [w, d] : {std::pair{6, 2}, {6, 1}, {5, 3}, {4, 3}, {12, 4}}) {
      std::string s = "x";
      append_f(s, v, w, d);
      EXPECT_EQ(s, "x" + fmt_f(v, w, d)) << v << " " << w << " " << d;
    }
  for (long long v : {0LL, 7LL, -12LL, 999LL, 1000LL, -100LL, 123456789012LL}) {
    std::string s;
    append_i(s, v, 3);
    EXPECT_EQ(s, fmt_i(v, 3));
  }
}

TEST(FixedFormat, FieldsReuseTheirLine) {
  Fields line;
  line.a("AB", 4).x(1).i(-7, 3).f(0.5, 4, 3);
  EXPECT_EQ(line.str(), "AB    -7.500");
  line.clear().i(123, 2).a("toolong", 3);
  EXPECT_EQ(line.str(), "**too");
}

TEST(FixedFormat, FixedPointAgreesWithPrintfNearEveryRoundingBoundary) {
  // The appended field against the C library's correctly rounded conversion, for
  // values a few units in the last place either side of halves at each number of
  // decimals (where a scaled product can land on the wrong side), at the largest
  // magnitudes the field takes, tiny and subnormal values, and random doubles of
  // every size.
  rgtest::Bits next(0x9E3779B97F4A7C15ULL);
  auto printf_fixed = [](double v, int d) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", d, v);
    return std::string(buf);
  };
  int failures = 0;
  auto check = [&](double v, int d) {
    const std::string expected = printf_fixed(v, d);
    if (expected.size() > 30 || failures >= 10) return;
    std::string s;
    append_f(s, v, 30, d);
    if (s != std::string(30 - expected.size(), ' ') + expected) {
      ++failures;
      ADD_FAILURE() << std::hexfloat << v << " at " << d << " decimals: " << s;
    }
  };
  for (int d = 1; d <= 12; ++d)
    for (int k = 0; k < 2000; ++k) {
      // A half at d decimals: (m + 0.5) / 10^d, with m of up to 16 digits.
      const double m = static_cast<double>(next() % (k % 2 ? 1000ULL : 10000000000000000ULL));
      double v = (m + 0.5) / std::pow(10.0, d);
      for (int step = 0; step < 3; ++step) v = std::nextafter(v, 0.0);
      for (int step = 0; step < 7; ++step, v = std::nextafter(v, INFINITY)) {
        check(v, d);
        check(-v, d);
      }
    }
  std::vector<double> values = {0.125, 0.375, 2.5, 1e-320, -4.9e-324, 0x1p50, 0x1p53, 9.999999999999999e27, -1e-9};
  for (int k = 0; k < 15000; ++k) {
    double v;
    const std::uint64_t bits = next();
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v) && std::fabs(v) < 1e28) values.push_back(v);
    values.push_back(std::ldexp(static_cast<double>(next() >> 11), static_cast<int>(next() % 90) - 120));
  }
  for (double v : values)
    for (int d = 1; d <= 12; ++d) check(v, d);
}

TEST(FixedFormat, AppendedIntegersAgreeWithTheirDecimalText) {
  std::vector<long long> values = {0, 9, 10, -9, -10, 99999, -99999, std::numeric_limits<long long>::max(),
                                   std::numeric_limits<long long>::min()};
  for (long long p = 1; p < 1000000000000000000LL; p *= 10)
    for (long long v : {p - 1, p, p + 1}) {
      values.push_back(v);
      values.push_back(-v);
    }
  for (long long v : values)
    for (int w = -1; w <= 21; ++w) {
      const std::string text = std::to_string(v);
      const std::string expected = static_cast<int>(text.size()) > w
                                       ? std::string(static_cast<std::size_t>(std::max(w, 0)), '*')
                                       : std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
      std::string s = "x";
      append_i(s, v, w);
      EXPECT_EQ(s, "x" + expected) << v << " in " << w;
    }
}
