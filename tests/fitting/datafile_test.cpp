// The daily data reader: calendar walk, history, thresholds and faulty records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "channels.hpp"
#include "datafile.hpp"
#include "files.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

struct Network {
  Array1<std::string> codes{1, MAXSIT, std::string("    ")};
  int nsites = 2;
  Network() {
    codes(1) = "AB01";
    codes(2) = "ab01";
  }
};

// Walks the whole file, returning each day as "dd/mm/yyyy v1 v2".
std::vector<std::string> walk(const std::string& text, Thresholds thr = {}, int mxlag = 2,
                              std::vector<std::string>* history = nullptr) {
  rgtest::TempDir dir;
  dir.write("gaugvals.dat", text);
  Network net;
  std::vector<std::string> days;
  auto r = capture([&] {
    filchk("gaugvals.dat", 30, STFLAG_INPUT);
    DayState day;
    while (day.more == 1) {
      update(30, day, thr, net.nsites, mxlag, MAXSIT, net.codes);
      char buf[96];
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %g %g", day.dd, day.mm, day.yy, day.rain(1), day.rain(2));
      days.emplace_back(buf);
      if (history) {
        std::snprintf(buf, sizeof buf, "%g %g", day.previous(1, 1), day.previous(1, 2));
        history->emplace_back(buf);
      }
    }
  });
  EXPECT_FALSE(r.ended) << r.output;
  EXPECT_FALSE(channels().connected(30));  // closed at the end of the file
  return days;
}

rgtest::Outcome walk_failing(const std::string& text) {
  rgtest::TempDir dir;
  dir.write("gaugvals.dat", text);
  Network net;
  auto r = capture([&] {
    filchk("gaugvals.dat", 30, STFLAG_INPUT);
    DayState day;
    while (day.more == 1) update(30, day, Thresholds{}, net.nsites, 1, MAXSIT, net.codes);
  });
  channels().close_all();
  return r;
}

}  // namespace

TEST(DataFile, GapsAreVisitedDayByDayAcrossTheYearEnd) {
  auto days = walk("19991231AB01  1.50\n2000 1 2AB01   250\n");
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0], "31/12/1999 1.5 -1");
  EXPECT_EQ(days[1], "01/01/2000 -1 -1");
  EXPECT_EQ(days[2], "02/01/2000 2.5 -1");  // "250" without a point: two implied decimals
}

TEST(DataFile, LeapYearsFollowTheGregorianRule) {
  for (auto [year, expect] : std::vector<std::pair<int, std::string>>{
           {2000, "29/02/2000"}, {1996, "29/02/1996"}, {1900, "01/03/1900"}, {1999, "01/03/1999"}}) {
    std::string y = std::to_string(year);
    auto days = walk(y + " 228AB01   0.0\n" + y + " 3 2AB01   0.0\n");
    ASSERT_GE(days.size(), 2u);
    EXPECT_EQ(days[1].substr(0, 10), expect) << year;
  }
}

TEST(DataFile, HistoryShiftsAndSitesAreMatchedExactly) {
  std::vector<std::string> hist;
  // Codes differ only in case: each record reaches its own site; an unknown code and
  // a blank line are passed over.
  auto days = walk(
      "2001 1 1AB01  1.00\n2001 1 1ab01  7.00\n2001 1 1ZZ99  9.00\n\n"
      "2001 1 2AB01  3.00\n2001 1 3AB01 -9.99\n",
      {}, 2, &hist);
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0], "01/01/2001 1 7");
  EXPECT_EQ(days[1], "02/01/2001 3 -1");
  EXPECT_EQ(days[2], "03/01/2001 -9.99 -1");  // the last day is delivered before the end
  EXPECT_EQ(hist[0], "-1 -1");
  EXPECT_EQ(hist[1], "1 -1");
  EXPECT_EQ(hist[2], "3 1");
}

TEST(DataFile, SmallValueThresholds) {
  const std::string text = "2001 1 1AB01  0.20\n2001 1 2AB01  0.30\n2001 1 3AB01  1.00\n2001 1 4AB01 -1.00\n";
  auto soft = walk(text, Thresholds{0.3, 0.0, 1});
  EXPECT_EQ(soft[0], "01/01/2001 0 -1");
  EXPECT_EQ(soft[1], "02/01/2001 0 -1");
  EXPECT_EQ(soft[2], "03/01/2001 0.7 -1");
  EXPECT_EQ(soft[3], "04/01/2001 -1 -1");
  auto hard = walk(text, Thresholds{0.3, 0.0, 2});
  EXPECT_EQ(hard[0], "01/01/2001 0 -1");
  EXPECT_EQ(hard[1], "02/01/2001 0.3 -1");
  EXPECT_EQ(hard[2], "03/01/2001 1 -1");
  auto trace = walk(text, Thresholds{0.0, 0.3, 0});  // a trace threshold leaves values alone
  EXPECT_EQ(trace[0], "01/01/2001 0.2 -1");
}

TEST(DataFile, CrlfAndCrLineEndingsReadLikeLf) {
  for (const char* end : {"\r\n", "\r"}) {
    auto days = walk(std::string("2001 1 1AB01  1.25") + end + "2001 1 2ab01  2.50" + end);
    ASSERT_EQ(days.size(), 2u) << end;
    EXPECT_EQ(days[0], "01/01/2001 1.25 -1");
    EXPECT_EQ(days[1], "02/01/2001 -1 2.5");
  }
}

TEST(DataFile, DuplicateSiteDaysAndImpossibleAmountsAreRefused) {
  const std::string head = "2001 1 1AB01  1.00\n";
  struct Case {
    std::string records, message;
  } cases[] = {
      // The same site twice on one day, adjacent or not, missing value or not.
      {"2001 1 2AB01  2.00\n2001 1 2AB01  3.00\n", "two records for one site and day. Offending date is\n 2/ 1/2001, at site AB01."},
      {"2001 1 2AB01 -1.00\n2001 1 2ab01  1.00\n2001 1 2AB01  3.00\n",
       "two records for one site and day. Offending date is\n 2/ 1/2001, at site AB01."},
      // An amount that no gauge measures, written with an exponent.
      {"2001 1 2ab01 1E300\n", "a value above 99999 mm. Offending date is\n 2/ 1/2001, at site ab01."},
      {"2001 1 2ab01 1.E+5\n", "a value above 99999 mm. Offending date is\n 2/ 1/2001, at site ab01."},
  };
  for (const auto& c : cases) {
    auto r = walk_failing(head + c.records);
    EXPECT_EQ(r.status, 1) << c.records;
    EXPECT_EQ(r.output, "\n\n****ERROR**** input file has " + c.message + "\n") << c.records;
  }
  // The largest amount the field holds without an exponent is accepted.
  EXPECT_EQ(walk(head + "2001 1 2AB0199999.\n")[1], "02/01/2001 99999 -1");
}

TEST(DataFile, RecordOutOfOrderStopsWithItsDateAndSite) {
  auto r = walk_failing("2001 1 5AB01  1.00\n2001 1 4ab01  1.00\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n\n****ERROR**** input file out of order. Offending date is\n 4/ 1/2001, at site ab01.\n");
}

TEST(DataFile, UnreadableRecordsShowTheDateAsTheFailedReadLeftIt) {
  const std::string head = "\n\n****ERROR**** while reading input file. The last successful access\nwas for data on ";
  // A letter in the value field: the record's own date is shown.
  auto r = walk_failing("2001 1 5AB01  1.00\n2001 1 6AB01  1.x0\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, head + " 6/ 1/2001.\n");
  // A letter in the month field: the year of the failing record, month and day of
  // the last good record read in the same call.
  r = walk_failing("2001 1 5AB01  1.00\n2002x16AB01  1.00\n");
  EXPECT_EQ(r.output, head + " 5/ 1/2002.\n");
  // Nothing readable: the last good record's date.
  r = walk_failing("2001 1 5AB01  1.00\nnot a record\n");
  EXPECT_EQ(r.output, head + " 5/ 1/2001.\n");
  // The call for 6 January read its own record before the fault, not 5 January's.
  r = walk_failing("2001 1 5AB01  1.00\n2001 1 6AB01  1.00\nnot a record\n");
  EXPECT_EQ(r.output, head + " 6/ 1/2001.\n");
  // Nothing good read in the call at all.
  r = walk_failing("x001 1 5AB01  1.00\n");
  EXPECT_EQ(r.output, head + " 0/ 0/   0.\n");
  // A line that stops before the value field is malformed, not a dry day.
  r = walk_failing("2001 1 5AB01  1.00\n2001 1 6AB01\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, head + " 6/ 1/2001.\n");
}

TEST(DataFile, BlankValueFieldReadsAsDry) {
  auto days = walk("2001 1 5AB01      \n2001 1 6AB01 \n2001 1 7AB01    \r\n");
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0], "05/01/2001 0 -1");
  EXPECT_EQ(days[1], "06/01/2001 0 -1");
  EXPECT_EQ(days[2], "07/01/2001 0 -1");
}

TEST(DataFile, ImpossibleDatesAreRefusedAndAnyCalendarYearIsRead) {
  auto r = walk_failing("2001 1 5AB01  1.00\n2001 232AB01  1.00\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n\n****ERROR**** impossible date in input file. Offending date is\n32/ 2/2001, at site AB01.\n");
  r = walk_failing("   0 1 1AB01  1.00\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n\n****ERROR**** impossible date in input file. Offending date is\n 1/ 1/   0, at site AB01.\n");
  // Years outside the range of the residual analysis's yearly table are data too.
  auto days = walk("18691231AB01  1.00\n");
  EXPECT_EQ(days[0], "31/12/1869 1 -1");
  days = walk("20700101AB01  1.00\n");
  EXPECT_EQ(days[0], "01/01/2070 1 -1");
}

TEST(DataFile, EmptyFileEndsAtOnceWithoutADate) {
  auto days = walk("");
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0], "00/00/0000 -1 -1");
}

TEST(DataFile, DateColumnsAreReadAgainWheneverTheyChange) {
  // One day written two ways, and a day that follows a record of a later day read
  // and put back: the dates are those of the columns of each record.
  auto days = walk("2001 1 5AB01  1.00\n20010105ab01  2.00\n2001 1 7AB01  3.00\n2001 1 7ab01  4.00\n");
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0], "05/01/2001 1 2");
  EXPECT_EQ(days[1], "06/01/2001 -1 -1");
  EXPECT_EQ(days[2], "07/01/2001 3 4");
  // Columns that are no date at all are refused even as the very first record.
  auto r = walk_failing(std::string(8, '\0') + "AB01  1.00\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n\n****ERROR**** while reading input file. The last successful access\nwas for data on  0/ 0/   0.\n");
}

TEST(DataFile, ReadingAheadOnASecondThreadChangesNothing) {
  // Several times the records handed over at a time (so the read-ahead wraps round
  // its chunks), with blank lines and CRLF, read with and without the second thread
  // and against the values the file was written from; then a fault far into the
  // file, and a walk stopped and restarted from the top while the thread is ahead.
  std::string text;
  auto value = [](int k, int site) { return (k * 37 + site * 11) % 500 - 20; };  // hundredths; < 0 missing
  const int ndays = 6000;
  int y = 1950, m = 1, d = 1;
  std::vector<std::string> expected;
  for (int k = 0; k < ndays; ++k) {
    char line[400], day[400];
    for (int site = 1; site <= 2; ++site) {
      std::snprintf(line, sizeof line, "%4d%2d%2d%s%6.2f%s", y, m, d, site == 1 ? "AB01" : "ab01",
                    value(k, site) / 100.0, k % 3 ? "\n" : "\r\n");
      text += line;
    }
    if (k % 1000 == 0) text += "\n";
    std::snprintf(day, sizeof day, "%02d/%02d/%04d %g %g", d, m, y, value(k, 1) / 100.0, value(k, 2) / 100.0);
    expected.emplace_back(day);
    if (++d > days_in_month(m, y)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  for (const char* threads : {"1", "2"}) {
    ::setenv("RAINGLM_THREADS", threads, 1);
    EXPECT_EQ(walk(text), expected) << threads << " thread(s)";
    const std::size_t middle = text.find('\n', text.size() / 2) + 1;
    auto r = walk_failing(text.substr(0, middle) + "1966 230AB01  1.00\n" + text.substr(middle));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("impossible date in input file. Offending date is\n30/ 2/1966, at site AB01."),
              std::string::npos)
        << r.output;
    rgtest::TempDir dir;
    dir.write("gaugvals.dat", text);
    Network net;
    auto run = capture([&] {
      filchk("gaugvals.dat", 30, STFLAG_INPUT);
      DayState day;
      for (int k = 0; k < 3; ++k) update(30, day, Thresholds{}, net.nsites, 1, MAXSIT, net.codes);
      day.reset();
      channels().input(30).rewind();
      update(30, day, Thresholds{}, net.nsites, 1, MAXSIT, net.codes);
      EXPECT_EQ(day.rain(1), value(0, 1) / 100.0);
      EXPECT_EQ(day.dd, 1);
    });
    EXPECT_FALSE(run.ended) << run.output;
    channels().close_all();
  }
  ::unsetenv("RAINGLM_THREADS");
}
