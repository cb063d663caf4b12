#include "dateutil.hpp"

#include <climits>
#include <cstdint>

#include "console.hpp"

namespace rg {

// The conversions are integer formulas whose divisions truncate towards zero. They
// run in 64 bits so that no int argument can overflow an intermediate product; for
// every date whose Julian number fits an int the results equal the 32-bit formulas.

void dmytoj(int day, int month, int year, int& julian, int& ifail) {
  ifail = 0;
  if (year == 0) {
    ifail = 1;
    console().line("****ERROR**** in date-to-Julian conversion: Gregorian year 0 doesn't exist!");
    return;
  }
  const std::int64_t y = year, m = month, d = day;
  if (y * 10000 + m * 100 + d < -48000301) {
    ifail = 2;
    console().line("****ERROR**** in date-to-Julian conversion: ");
    console().line("Algorithm only works for dates before 1st March 4800BC!");
    return;
  }
  const std::int64_t a = (m - 14) / 12;
  const std::int64_t j =
      d - 32075 + 1461 * (y + 4800 + a) / 4 + 367 * (m - 2 - 12 * a) / 12 - 3 * ((y + 4900 + a) / 100) / 4;
  if (j < INT_MIN || j > INT_MAX) {
    // Only absurd years or month/day counts get here; the number has no int form.
    ifail = 3;
    console().line("****ERROR**** in date-to-Julian conversion: ");
    console().line("Julian day number out of range!");
    return;
  }
  julian = static_cast<int>(j);
}

void jtodmy(int julian, int refday, int refmonth, int refyear, int& day, int& month, int& year, int& ifail) {
  ifail = 0;
  std::int64_t l = julian;
  if (refday != 0 || refmonth != 0 || refyear != 0) {
    int jref = 0;
    dmytoj(refday, refmonth, refyear, jref, ifail);
    if (ifail != 0) return;
    l += jref;
  }
  l += 68569;
  const std::int64_t n = 4 * l / 146097;
  l -= (146097 * n + 3) / 4;
  const std::int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  const std::int64_t j = 80 * l / 2447;
  const std::int64_t d = l - 2447 * j / 80;
  l = j / 11;
  const std::int64_t m = j + 2 - 12 * l;
  const std::int64_t y = 100 * (n - 49) + i + l;
  // From two int day numbers the year stays within about 12 million: it fits.
  day = static_cast<int>(d);
  month = static_cast<int>(m);
  year = static_cast<int>(y);
  if (y * 10000 + m * 100 + d < -49000301) {
    ifail = 1;
    console().line("****ERROR**** in Julian-to-date conversion: ");
    console().line("Algorithm only works for dates before 1st March 4900BC!");
  }
}

}  // namespace rg
