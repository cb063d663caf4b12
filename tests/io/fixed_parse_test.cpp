#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "test_support.hpp"
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

TEST(FixedParse, RealsAreTheCorrectlyRoundedValueOfTheirDigits) {
  // Fields of random digits, points, signs, blanks and implied decimals against the C
  // library's conversion of the same number written out plainly: mantissas around
  // 2^53 (9007199254740992, where one division stops being exact), long fractions
  // and leading zeros included.
  rgtest::Bits next(0x2545F4914F6CDD1DULL);
  const std::string edges[] = {"9007199254740991", "9007199254740992", "9007199254740993", "900719925474099",
                               "18014398509481985", "0000000000000000000001", "99999999999999999999999"};
  for (int k = 0; k < 60000; ++k) {
    std::string digits;
    if (k % 10 == 0) {
      digits = edges[next() % std::size(edges)];
    } else {
      const int n = 1 + static_cast<int>(next() % 24);
      for (int i = 0; i < n; ++i) digits += static_cast<char>('0' + next() % 10);
    }
    const int point = static_cast<int>(next() % (digits.size() + 2)) - 1;  // -1: no point
    std::string plain = next() % 3 == 0 ? "-" : (next() % 5 == 0 ? "+" : "");
    for (int i = 0; i <= static_cast<int>(digits.size()); ++i) {
      if (i == point) plain += '.';
      if (i < static_cast<int>(digits.size())) plain += digits[static_cast<std::size_t>(i)];
    }
    const int implied = static_cast<int>(next() % 6);
    std::string field;
    for (char c : plain) {
      if (next() % 8 == 0) field += ' ';
      field += c;
    }
    if (next() % 2) field = "  " + field;
    const std::string reference = plain + (point < 0 ? "e-" + std::to_string(implied) : "");
    const double expected = std::strtod(reference.c_str(), nullptr);
    auto got = parse_real(field, implied);
    ASSERT_TRUE(got) << '"' << field << '"';
    ASSERT_EQ(std::signbit(*got), std::signbit(expected)) << '"' << field << '"';
    ASSERT_EQ(*got, expected) << '"' << field << "\" implied " << implied;
  }
}
