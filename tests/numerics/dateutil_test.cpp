#include <gtest/gtest.h>

#include <string>

#include "dateutil.hpp"
#include "files.hpp"
#include "test_support.hpp"

namespace {

using rgtest::capture;

TEST(Dateutil, MatchesReferenceTableBothWays) {
  // julian_day.csv: day numbers from R's Date arithmetic.
  const auto rows = rgtest::read_csv(rgtest::reference("julian_day.csv"));
  ASSERT_GE(rows.size(), 10u);
  for (const auto& r : rows) {
    const int d = std::stoi(r[0]), m = std::stoi(r[1]), y = std::stoi(r[2]), jd = std::stoi(r[3]);
    int j = 0, ifail = -1;
    rg::dmytoj(d, m, y, j, ifail);
    EXPECT_EQ(ifail, 0);
    EXPECT_EQ(j, jd) << d << "/" << m << "/" << y;
    int dd = 0, mm = 0, yy = 0;
    rg::jtodmy(jd, 0, 0, 0, dd, mm, yy, ifail);
    EXPECT_EQ(ifail, 0);
    EXPECT_EQ(dd, d);
    EXPECT_EQ(mm, m);
    EXPECT_EQ(yy, y);
  }
}

TEST(Dateutil, ConsecutiveDaysFollowTheMonthLengths) {
  // Walks every day from 1 March 1583 to the end of 2500 with days_in_month (an
  // independent leap-year rule) and requires consecutive day numbers that convert
  // back to the same date.
  int expect = 0, ifail = 0;
  rg::dmytoj(1, 3, 1583, expect, ifail);
  ASSERT_EQ(ifail, 0);
  int d = 1, m = 3, y = 1583;
  while (y <= 2500) {
    int j = 0;
    rg::dmytoj(d, m, y, j, ifail);
    ASSERT_EQ(j, expect) << d << "/" << m << "/" << y;
    int dd, mm, yy;
    rg::jtodmy(j, 0, 0, 0, dd, mm, yy, ifail);
    ASSERT_TRUE(dd == d && mm == m && yy == y && ifail == 0) << j;
    ++expect;
    if (++d > rg::days_in_month(m, y)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
}

TEST(Dateutil, OffsetsFromAReferenceDate) {
  int d = 0, m = 0, y = 0, ifail = -1;
  rg::jtodmy(0, 17, 6, 1987, d, m, y, ifail);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(d, 17);
  EXPECT_EQ(m, 6);
  EXPECT_EQ(y, 1987);
  rg::jtodmy(-1, 1, 3, 2000, d, m, y, ifail);
  EXPECT_EQ(d, 29);
  EXPECT_EQ(m, 2);
  EXPECT_EQ(y, 2000);
  rg::jtodmy(-1, 1, 3, 1900, d, m, y, ifail);
  EXPECT_EQ(d, 28);
  EXPECT_EQ(m, 2);
  rg::jtodmy(366, 1, 1, 2012, d, m, y, ifail);  // 2012 has 366 days
  EXPECT_EQ(d, 1);
  EXPECT_EQ(m, 1);
  EXPECT_EQ(y, 2013);
}

TEST(Dateutil, YearZeroIsRefused) {
  int j = 12345, ifail = 0;
  const auto o = capture([&] { rg::dmytoj(1, 1, 0, j, ifail); });
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(ifail, 1);
  EXPECT_EQ(j, 12345);
  EXPECT_EQ(o.output, "****ERROR**** in date-to-Julian conversion: Gregorian year 0 doesn't exist!\n");

  // A bad reference date passes its code on and leaves the outputs alone.
  int d = 7, m = 8, y = 9;
  const auto o2 = capture([&] { rg::jtodmy(10, 1, 1, 0, d, m, y, ifail); });
  EXPECT_FALSE(o2.ended);
  EXPECT_EQ(ifail, 1);
  EXPECT_EQ(d, 7);
  EXPECT_EQ(m, 8);
  EXPECT_EQ(y, 9);
}

TEST(Dateutil, LimitsOfTheAlgorithm) {
  int j = 5, ifail = 0;
  auto o = capture([&] { rg::dmytoj(1, 1, -4801, j, ifail); });
  EXPECT_EQ(ifail, 2);
  EXPECT_EQ(j, 5);
  EXPECT_EQ(o.output,
            "****ERROR**** in date-to-Julian conversion: \n"
            "Algorithm only works for dates before 1st March 4800BC!\n");
  o = capture([&] { rg::dmytoj(1, 3, -4800, j, ifail); });
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(o.output, "");

  int d = 0, m = 0, y = 0;
  o = capture([&] { rg::jtodmy(-100000000, 0, 0, 0, d, m, y, ifail); });
  EXPECT_EQ(ifail, 1);
  EXPECT_LT(y, -4900);  // the computed values stay in the outputs
  EXPECT_EQ(o.output,
            "****ERROR**** in Julian-to-date conversion: \n"
            "Algorithm only works for dates before 1st March 4900BC!\n");
  o = capture([&] { rg::jtodmy(-1, 1, 1, 2000, d, m, y, ifail); });
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(o.output, "");
}

TEST(Dateutil, HugeArgumentsDoNotOverflow) {
  // Years beyond about 5.8 million have no int day number: refused, not wrapped.
  int j = 77, ifail = 0;
  const auto o = capture([&] { rg::dmytoj(1, 1, 2000000000, j, ifail); });
  EXPECT_EQ(ifail, 3);
  EXPECT_EQ(j, 77);
  EXPECT_EQ(o.output, "****ERROR**** in date-to-Julian conversion: \nJulian day number out of range!\n");
  // The largest day numbers still convert; a large offset from a reference date too.
  int d, m, y;
  rg::jtodmy(2147483647, 0, 0, 0, d, m, y, ifail);
  EXPECT_EQ(ifail, 0);
  rg::dmytoj(d, m, y, j, ifail);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(j, 2147483647);
  rg::jtodmy(2000000000, 1, 1, 2000, d, m, y, ifail);
  EXPECT_EQ(ifail, 0);
  rg::dmytoj(d, m, y, j, ifail);
  EXPECT_EQ(static_cast<long long>(j), 2451545LL + 2000000000LL);
}

}  // namespace
