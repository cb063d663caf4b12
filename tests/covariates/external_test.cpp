// External predictor files: time indices, the file scan and its messages, lagged
// look-ups in any order, and the labels. Expected values are built into the test
// files (each value encodes its record's date), so every look-up is checked against
// the date arithmetic done by hand here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channels.hpp"
#include "external.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

int header_lines(int kind) { return 38 + kind; }

// Header, count and descriptions, and the ignored line before the data.
std::string head(int kind, int n, int ndesc = -1) {
  std::string s;
  for (int i = 1; i <= header_lines(kind); ++i) s += "header " + std::to_string(i) + "\n";
  s += "  " + std::to_string(n) + "   predictors\n";
  if (ndesc < 0) ndesc = n;
  for (int p = 1; p <= ndesc; ++p) s += "Predictor number " + std::to_string(p) + " description\n";
  s += "YEAR   VALUES\n";
  return s;
}

std::string values(const std::vector<double>& v) {
  std::string s;
  for (double x : v) s += fmt_f(x, 10, 2);
  return s;
}

std::string annual_record(int y, const std::vector<double>& v) { return fmt_i(y, 4) + "     " + values(v) + "\n"; }
std::string monthly_record(int y, int m, const std::vector<double>& v) {
  return fmt_i(y, 4) + " " + fmt_i(m, 2) + "  " + values(v) + "\n";
}
std::string daily_record(int y, int m, int d, const std::vector<double>& v) {
  return fmt_i(y, 4) + fmt_i(m, 2) + fmt_i(d, 2) + " " + values(v) + "\n";
}

// Opens a file as the driver does, on the kind's channel, with a fresh state.
void open_kind(const rgtest::TempDir& dir, int kind, const std::string& text) {
  dir.write(extfil(kind), text);
  extrst();
  if (channels().connected(extchn(kind))) channels().close(extchn(kind));
  filchk(extfil(kind), extchn(kind), STFLAG_INPUT);
}

struct Look {
  double value;
  int missing;
};
Look look(int kind, int p, int dd, int mm, int yy, int lag) {
  Look r{0.0, -1};
  extset(kind, p, dd, mm, yy, lag, r.value, r.missing);
  return r;
}

// Annual file 1950..2000 with two predictors: p1 = year, p2 = year / 100.
std::string annual_file() {
  std::string s = head(EXT_ANNUAL, 2);
  for (int y = 1950; y <= 2000; ++y) s += annual_record(y, {double(y), y / 100.0});
  return s;
}

}  // namespace

TEST(Idxset, ConsecutiveIndicesFromTheYear2000) {
  int i = 0;
  idxset(EXT_ANNUAL, 1987, 0, 0, i);
  EXPECT_EQ(i, -13);
  idxset(EXT_MONTHLY, 2000, 1, 0, i);
  EXPECT_EQ(i, 0);
  idxset(EXT_MONTHLY, 1999, 12, 0, i);
  EXPECT_EQ(i, -1);
  idxset(EXT_MONTHLY, 2001, 3, 0, i);
  EXPECT_EQ(i, 14);
  idxset(EXT_DAILY, 2000, 1, 1, i);
  EXPECT_EQ(i, 0);
  // 1 March 2000 follows 31 + 29 days of 2000; 1 January 1999 is 365 days earlier.
  idxset(EXT_DAILY, 2000, 3, 1, i);
  EXPECT_EQ(i, 60);
  idxset(EXT_DAILY, 1999, 1, 1, i);
  EXPECT_EQ(i, -365);
  idxset(EXT_DAILY, 1999, 12, 31, i);
  EXPECT_EQ(i, -1);
}

TEST(Extset, AnnualValuesWithLagsAndThePeriodLimits) {
  rgtest::TempDir dir;
  open_kind(dir, EXT_ANNUAL, annual_file());
  Look r = look(EXT_ANNUAL, 1, 15, 6, 1975, 0);
  EXPECT_EQ(r.missing, 0);
  EXPECT_DOUBLE_EQ(r.value, 1975.0);
  // Lag 1: 1950 has no previous year; 1951 takes the 1950 record.
  r = look(EXT_ANNUAL, 1, 1, 1, 1950, 1);
  EXPECT_EQ(r.missing, 1);
  EXPECT_DOUBLE_EQ(r.value, EXTMIS);
  r = look(EXT_ANNUAL, 2, 1, 1, 1951, 1);
  EXPECT_EQ(r.missing, 0);
  EXPECT_DOUBLE_EQ(r.value, 19.50);
  // After the last record, and a lead (negative lag) running past it.
  EXPECT_EQ(look(EXT_ANNUAL, 1, 1, 1, 2001, 0).missing, 1);
  EXPECT_EQ(look(EXT_ANNUAL, 1, 1, 1, 1999, -2).missing, 1);
  r = look(EXT_ANNUAL, 1, 1, 1, 1998, -2);
  EXPECT_EQ(r.missing, 0);
  EXPECT_DOUBLE_EQ(r.value, 2000.0);
  EXPECT_EQ(look(EXT_ANNUAL, 1, 1, 1, 1900, 0).missing, 1);
}

TEST(Extset, AnyOrderOfRequestsFindsTheRightRecord) {
  rgtest::TempDir dir;
  // Daily file for 1991-1993 with the date coded as (year - 1990) * 10000 + month *
  // 100 + day in predictor 1 and the day of the month in predictor 3.
  std::string s = head(EXT_DAILY, 3);
  int jdays = 0;
  for (int y = 1991; y <= 1993; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= days_in_month(m, y); ++d, ++jdays)
        s += daily_record(y, m, d, {(y - 1990) * 10000.0 + m * 100 + d, -1.0, double(d)});
  ASSERT_EQ(jdays, 365 + 366 + 365);
  open_kind(dir, EXT_DAILY, s);
  // Alternating 1 January and 31 December of the same year, then scattered dates,
  // lags across month and year ends, and repeated same-day requests.
  struct Q {
    int d, m, y, lag, ed, em, ey;
  };
  const std::vector<Q> qs = {
      {1, 1, 1992, 0, 1, 1, 1992},   {31, 12, 1992, 0, 31, 12, 1992}, {1, 1, 1992, 0, 1, 1, 1992},
      {31, 12, 1992, 0, 31, 12, 1992}, {1, 3, 1992, 1, 29, 2, 1992}, {1, 3, 1993, 1, 28, 2, 1993},
      {1, 1, 1993, 1, 31, 12, 1992}, {5, 1, 1991, 0, 5, 1, 1991},     {6, 1, 1991, -3, 9, 1, 1991},
      {6, 1, 1991, -3, 9, 1, 1991},  {31, 12, 1993, 365, 31, 12, 1992}, {2, 1, 1991, 0, 2, 1, 1991},
      {15, 7, 1992, 0, 15, 7, 1992}, {14, 7, 1992, 0, 14, 7, 1992},  {13, 7, 1992, 0, 13, 7, 1992},
      {2, 1, 1991, 0, 2, 1, 1991},   {31, 12, 1993, 0, 31, 12, 1993}, {30, 12, 1993, 0, 30, 12, 1993},
  };
  for (const Q& q : qs) {
    Look r = look(EXT_DAILY, 1, q.d, q.m, q.y, q.lag);
    EXPECT_EQ(r.missing, 0);
    EXPECT_DOUBLE_EQ(r.value, (q.ey - 1990) * 10000.0 + q.em * 100 + q.ed) << q.d << "/" << q.m << "/" << q.y;
    r = look(EXT_DAILY, 3, q.d, q.m, q.y, q.lag);
    EXPECT_DOUBLE_EQ(r.value, q.ed);
  }
  EXPECT_EQ(look(EXT_DAILY, 1, 31, 12, 1990, 0).missing, 1);
  EXPECT_EQ(look(EXT_DAILY, 1, 1, 1, 1994, 0).missing, 1);
  EXPECT_EQ(look(EXT_DAILY, 1, 2, 1, 1991, 2).missing, 1);
}

TEST(Extset, MissingValueCode) {
  rgtest::TempDir dir;
  std::string s = head(EXT_DAILY, 2);
  s += daily_record(1990, 1, 1, {1.0, 2.0});
  s += fmt_i(1990, 4) + fmt_i(1, 2) + fmt_i(2, 2) + " " + "   -9999.9  -9999.85\n";
  s += fmt_i(1990, 4) + fmt_i(1, 2) + fmt_i(3, 2) + " " + " -9999.900 -.99999E4\n";
  open_kind(dir, EXT_DAILY, s);
  EXPECT_EQ(look(EXT_DAILY, 1, 1, 1, 1990, 0).missing, 0);
  Look r = look(EXT_DAILY, 1, 2, 1, 1990, 0);
  EXPECT_EQ(r.missing, 1);
  EXPECT_DOUBLE_EQ(r.value, -9999.9);
  r = look(EXT_DAILY, 2, 2, 1, 1990, 0);
  EXPECT_EQ(r.missing, 0);
  EXPECT_DOUBLE_EQ(r.value, -9999.85);
  EXPECT_EQ(look(EXT_DAILY, 1, 3, 1, 1990, 0).missing, 1);
  EXPECT_EQ(look(EXT_DAILY, 2, 3, 1, 1990, 0).missing, 1);  // the code in another form
  // Values without a decimal point are whole numbers.
  open_kind(dir, EXT_ANNUAL, head(EXT_ANNUAL, 1) + "1990             25\n");
  r = look(EXT_ANNUAL, 1, 1, 1, 1990, 0);
  EXPECT_DOUBLE_EQ(r.value, 25.0);
}

TEST(Extset, MonthlyFileWithAGapStopsAtTheLine) {
  rgtest::TempDir dir;
  std::string s = head(EXT_MONTHLY, 1);  // 40 + 1 + 1 + 1 lines: data from line 44
  s += monthly_record(1990, 2, {1.0}) + monthly_record(1990, 3, {2.0}) + monthly_record(1990, 5, {3.0});
  open_kind(dir, EXT_MONTHLY, s);
  auto r = capture([] { look(EXT_MONTHLY, 1, 1, 3, 1990, 0); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "****ERROR**** line    46 of monthly  input data file carries incorrect date.\n");
}

TEST(Extset, ImpossibleDatesAreIncorrectDates) {
  rgtest::TempDir dir;
  // Month 13 would otherwise pass for January of the next year.
  std::string s = head(EXT_MONTHLY, 1) + monthly_record(1990, 12, {1.0}) + monthly_record(1990, 13, {2.0});
  open_kind(dir, EXT_MONTHLY, s);
  auto r = capture([] { look(EXT_MONTHLY, 1, 1, 12, 1990, 0); });
  EXPECT_EQ(r.output, "****ERROR**** line    45 of monthly  input data file carries incorrect date.\n");
  // 30 February would otherwise pass for 2 March.
  s = head(EXT_DAILY, 1) + daily_record(1990, 2, 28, {1.0}) + daily_record(1990, 2, 29, {1.0});
  open_kind(dir, EXT_DAILY, s);
  r = capture([] { look(EXT_DAILY, 1, 28, 2, 1990, 0); });
  EXPECT_EQ(r.output, "****ERROR**** line    46 of daily    input data file carries incorrect date.\n");
  // A record repeated.
  s = head(EXT_ANNUAL, 1) + annual_record(1990, {1.0}) + annual_record(1990, {1.0});
  open_kind(dir, EXT_ANNUAL, s);
  r = capture([] { look(EXT_ANNUAL, 1, 1, 1, 1990, 0); });
  EXPECT_EQ(r.output, "****ERROR**** line    44 of annual   input data file carries incorrect date.\n");
}

TEST(Extset, UnreadableRecordsStopWithTheirLine) {
  rgtest::TempDir dir;
  // Data start at line 39 + 1 + 2 + 1 + 1 = 44 in an annual file with two predictors.
  const std::string h = head(EXT_ANNUAL, 2);
  const std::string good = annual_record(1990, {1.0, 2.0});
  const std::string expect45 = "****ERROR**** unexpected error in annual   input data file at line    45.\n";
  for (const std::string& bad : {
           std::string("1991          1.0       x.5\n"),  // non-numeric value
           std::string("19x1          1.0       2.0\n"),  // non-numeric year
           std::string("1991          1.0\n"),            // fewer values than predictors
           std::string("1991          1.0          \n"),  // blank value field
       }) {
    open_kind(dir, EXT_ANNUAL, h + good + bad + annual_record(1992, {1.0, 2.0}));
    auto r = capture([] { look(EXT_ANNUAL, 1, 1, 1, 1990, 0); });
    EXPECT_TRUE(r.ended) << bad;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, expect45) << bad;
  }
  // An unreadable count of predictors.
  open_kind(dir, EXT_ANNUAL, head(EXT_ANNUAL, 1).replace(head(EXT_ANNUAL, 1).find("  1   pred"), 3, " x "));
  auto r = capture([] { look(EXT_ANNUAL, 1, 1, 1, 1990, 0); });
  EXPECT_EQ(r.output, "****ERROR**** unexpected error in annual   input data file at line    40.\n");
}

TEST(Extset, BlankLinesMayOnlyTrailTheData) {
  rgtest::TempDir dir;
  const std::string h = head(EXT_ANNUAL, 1);
  open_kind(dir, EXT_ANNUAL, h + annual_record(1990, {1.0}) + annual_record(1991, {2.0}) + "\n   \n");
  Look v = look(EXT_ANNUAL, 1, 1, 1, 1991, 0);
  EXPECT_EQ(v.missing, 0);
  EXPECT_DOUBLE_EQ(v.value, 2.0);
  EXPECT_EQ(look(EXT_ANNUAL, 1, 1, 1, 1992, 0).missing, 1);
  open_kind(dir, EXT_ANNUAL, h + annual_record(1990, {1.0}) + "\n" + annual_record(1991, {2.0}));
  auto r = capture([] { look(EXT_ANNUAL, 1, 1, 1, 1990, 0); });
  EXPECT_EQ(r.output, "****ERROR**** unexpected error in annual   input data file at line    44.\n");
}

TEST(Extset, NoDataRecords) {
  rgtest::TempDir dir;
  for (int kind : {EXT_ANNUAL, EXT_MONTHLY, EXT_DAILY}) {
    open_kind(dir, kind, head(kind, 2));
    auto r = capture([kind] { look(kind, 1, 1, 1, 1990, 0); });
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.status, 1);
    static const char* words[] = {"", "annual  ", "monthly ", "daily   "};
    EXPECT_EQ(r.output, std::string("****ERROR**** no data in ") + words[kind] + " input data file.\n");
  }
  // A file that ends inside its descriptions has no data either.
  open_kind(dir, EXT_DAILY, head(EXT_DAILY, 5, 2));
  auto r = capture([] { look(EXT_DAILY, 1, 1, 1, 1990, 0); });
  EXPECT_EQ(r.output, "****ERROR**** no data in daily    input data file.\n");
}

TEST(Extset, PredictorNumbersBeyondTheStorageOrTheFile) {
  rgtest::TempDir dir;
  // 60 predictors declared: the first 50 have room, predictor 51 is refused.
  std::vector<double> v60;
  for (int p = 1; p <= 60; ++p) v60.push_back(p + 0.25);
  open_kind(dir, EXT_ANNUAL, head(EXT_ANNUAL, 60) + annual_record(1990, v60) + annual_record(1991, v60));
  Look v = look(EXT_ANNUAL, 50, 1, 1, 1991, 0);
  EXPECT_DOUBLE_EQ(v.value, 50.25);
  auto r = capture([] { look(EXT_ANNUAL, 51, 1, 1, 1990, 0); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "****ERROR**** Inadequate storage in routine EXTSET (file funcdefs).\n"
            "Please increase value of MAXNPR and recompile.\n");
  // A predictor the file does not declare.
  open_kind(dir, EXT_MONTHLY, head(EXT_MONTHLY, 2) + monthly_record(1990, 1, {1.0, 2.0}));
  r = capture([] { look(EXT_MONTHLY, 3, 1, 1, 1990, 0); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.output,
            "****ERROR**** you have requested an external monthly  predictor\n"
            "that is not defined in your input data file.\n");
}

TEST(Rdxrec, ReadsRecordsAndReportsTheEnd) {
  rgtest::TempDir dir;
  open_kind(dir, EXT_DAILY, daily_record(1990, 7, 4, {1.5, -2.0}) + "1990 7 4 x\n");
  Array1<double> vals(1, MAXNPR, 0.0);
  int y = 0, m = 0, d = 0, status = -1;
  rdxrec(extchn(EXT_DAILY), EXT_DAILY, y, m, d, 2, vals, MAXNPR, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(y, 1990);
  EXPECT_EQ(m, 7);
  EXPECT_EQ(d, 4);
  EXPECT_DOUBLE_EQ(vals(1), 1.5);
  EXPECT_DOUBLE_EQ(vals(2), -2.0);
  rdxrec(extchn(EXT_DAILY), EXT_DAILY, y, m, d, 1, vals, MAXNPR, status);
  EXPECT_EQ(status, 1);
  rdxrec(extchn(EXT_DAILY), EXT_DAILY, y, m, d, 1, vals, MAXNPR, status);
  EXPECT_EQ(status, 2);
}

TEST(Extxst, LabelsWithAndWithoutLag) {
  rgtest::TempDir dir;
  std::string s;
  for (int i = 1; i <= 39; ++i) s += "header\n";
  s += "3\n";
  s += "Southern Oscillation Index, annual mean\n";
  s += "North Atlantic Oscillation index (winter mean, December to March) of the station pair\n";
  s += "Sea surface temperature anomaly\n";
  s += "ignored\n" + annual_record(1990, {1, 2, 3}) + annual_record(1991, {4, 5, 6});
  open_kind(dir, EXT_ANNUAL, s);
  std::string label;
  extxst(extchn(EXT_ANNUAL), EXT_ANNUAL, 1, 0, label);
  EXPECT_EQ(label, fmt_a("Southern Oscillation Index, annual mean", 70));
  const std::string nao = "North Atlantic Oscillation index (winter mean, December to March) of the station pair";
  extxst(extchn(EXT_ANNUAL), EXT_ANNUAL, 2, 0, label);
  EXPECT_EQ(label, nao.substr(0, 70));
  extxst(extchn(EXT_ANNUAL), EXT_ANNUAL, 2, 1, label);
  EXPECT_EQ(label, "Lag   1: " + nao.substr(0, 61));
  EXPECT_EQ(label.size(), 70u);
  EXPECT_EQ(extlabel(EXT_ANNUAL, 3, -12), fmt_a("Lag -12: Sea surface temperature anomaly", 70));

  // Labels may be asked for between look-ups: the file is rewound, and the next
  // look-up still finds its record.
  EXPECT_DOUBLE_EQ(look(EXT_ANNUAL, 2, 1, 1, 1991, 0).value, 5.0);
  EXPECT_EQ(extlabel(EXT_ANNUAL, 1, 0).substr(0, 8), "Southern");
  EXPECT_DOUBLE_EQ(look(EXT_ANNUAL, 3, 1, 1, 1990, 0).value, 3.0);
  EXPECT_EQ(extlabel(EXT_ANNUAL, 1, 0).substr(0, 8), "Southern");
  EXPECT_DOUBLE_EQ(look(EXT_ANNUAL, 3, 1, 1, 1991, 0).value, 6.0);
}

TEST(Extxst, UndefinedPredictorAndAbsurdCounts) {
  rgtest::TempDir dir;
  open_kind(dir, EXT_DAILY, head(EXT_DAILY, 2) + daily_record(1990, 1, 1, {1, 2}));
  std::string label;
  auto r = capture([&] { extxst(extchn(EXT_DAILY), EXT_DAILY, 3, 0, label); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "****ERROR**** you have requested an external daily    predictor\n"
            "that is not defined in your input data file.\n");
  open_kind(dir, EXT_MONTHLY, head(EXT_MONTHLY, 951, 1));
  r = capture([&] { extxst(extchn(EXT_MONTHLY), EXT_MONTHLY, 1, 0, label); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.output,
            "****ERROR**** you have defined more than 950 external monthly  predictors.\n"
            "I hope you didn't mean to do this!\n"
            "****ERROR**** unexpected error in monthly  input data file at line   41.\n");
  // Descriptions cut short by the end of the file.
  open_kind(dir, EXT_ANNUAL, head(EXT_ANNUAL, 4, 1).substr(0, head(EXT_ANNUAL, 4, 1).rfind("YEAR")));
  r = capture([&] { extxst(extchn(EXT_ANNUAL), EXT_ANNUAL, 3, 0, label); });
  EXPECT_EQ(r.output, "****ERROR**** unexpected error in annual   input data file at line   42.\n");
  // A header shorter than it should be.
  open_kind(dir, EXT_ANNUAL, "only\nthree\nlines\n");
  r = capture([&] { extxst(extchn(EXT_ANNUAL), EXT_ANNUAL, 1, 0, label); });
  EXPECT_EQ(r.output, "****ERROR**** unexpected error in annual   input data file at line    4.\n");
}
