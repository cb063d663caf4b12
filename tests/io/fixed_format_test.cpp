#include <gtest/gtest.h>

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
