#pragma once
// Julian day numbers (astronomical, at noon: 1 January 2000 is 2451545).

namespace rg {

// Julian day number of a Gregorian date; ifail 1 for year 0, 2 before 1 March 4800 BC,
// 3 when the number would not fit an int (julian then unchanged).
void dmytoj(int day, int month, int year, int& julian, int& ifail);
// Date of a Julian day number, or of an offset from a reference date unless the
// reference is 0/0/0; ifail as described in the source.
void jtodmy(int julian, int refday, int refmonth, int refyear, int& day, int& month, int& year, int& ifail);

}  // namespace rg
