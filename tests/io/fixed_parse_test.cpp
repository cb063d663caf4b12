#include <gtest/gtest.h>

#include "fixed_parse.hpp"

using namespace rg;

TEST(FixedParse, FieldsByColumnSurviveShortLines) {
  EXPECT_EQ(column_field("abcdef", 2, 3), "bcd");
  EXPECT_EQ(column_field("abc", 2, 5), "bc");
  EXPECT_EQ(column_field("abc", 5, 2), "");
}

TEST(FixedParse, IntegersIgnoreBlanksAndRejectJunk) {
  EXPECT_EQ(parse_int("   42"), 42);
  EXPECT_EQ(parse_int(" 1 2 "), 12);  // blanks inside a field are ignored
  EXPECT_EQ(parse_int("     "), 0);
  EXPECT_EQ(parse_int(""), 0);
  EXPECT_EQ(parse_int("  -7"), -7);
  EXPECT_FALSE(parse_int("1.0"));
  EXPECT_FALSE(parse_int("12a"));
  EXPECT_FALSE(parse_int("-"));
  EXPECT_FALSE(parse_int("\t3"));
  EXPECT_FALSE(parse_int("99999999999999999999999"));
}

TEST(FixedParse, RealsWithImpliedDecimals) {
  EXPECT_DOUBLE_EQ(*parse_real("  1234", 2), 12.34);
  EXPECT_DOUBLE_EQ(*parse_real(" 12.5 ", 2), 12.5);   // a written point wins
  EXPECT_EQ(*parse_real("15000", 4), 1.5);             // exactly, not 1.5000000000000002
  EXPECT_DOUBLE_EQ(*parse_real("1.5E3", 4), 1500.0);
  EXPECT_DOUBLE_EQ(*parse_real("15E3", 4), 1.5);       // implied decimals apply to the mantissa
  EXPECT_DOUBLE_EQ(*parse_real("-2.5D-1"), -0.25);
  EXPECT_DOUBLE_EQ(*parse_real("1.0+2"), 100.0);        // a signed exponent without a letter
  EXPECT_DOUBLE_EQ(*parse_real("   ", 4), 0.0);
  EXPECT_DOUBLE_EQ(*parse_real(".5"), 0.5);
}

TEST(FixedParse, UnreadableRealsAreRefused) {
  for (const char* bad : {"abc", "1.2.3", "1.5E", "E5", "1,5", "1.5x", "--1", "1e999", "\t1.0"})
    EXPECT_FALSE(parse_real(bad)) << bad;
}

TEST(FixedParse, FirstIntegerOfAFreeFormatLine) {
  EXPECT_EQ(first_int("    3   attributes"), 3);
  EXPECT_EQ(first_int("5,6"), 5);
  EXPECT_FALSE(first_int(""));
  EXPECT_FALSE(first_int("   "));
  EXPECT_FALSE(first_int("three"));
  EXPECT_FALSE(first_int("3.5"));
}
