#include <gtest/gtest.h>

#include "channels.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "sites.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

std::string header(int nattr, const std::string& count_line = "") {
  std::string s;
  for (int i = 1; i <= 38; ++i) s += "free text line " + std::to_string(i) + "\n";
  s += (count_line.empty() ? "    " + std::to_string(nattr) : count_line) + "\n";
  for (int k = 1; k <= nattr; ++k) s += "Attribute " + std::to_string(k) + "\n";
  s += "Sites:\n";
  return s;
}

std::string site(const std::string& name, const std::string& data) { return name + "\n" + data + "\n"; }

struct Read {
  rgtest::Outcome outcome;
  SiteTable table;
};

// Reads text as siteinfo.def the way the programs do.
Read read_sites(const rgtest::TempDir& dir, const std::string& text) {
  dir.write("siteinfo.def", text);
  Read r;
  r.outcome = capture([&] {
    filchk("siteinfo.def", 36, STFLAG_INPUT);
    sitedef(36, "siteinfo.def", r.table);
  });
  channels().close_all();
  return r;
}

std::string input_error(int line) {
  return "\n****ERROR**** Input error while reading line " + fmt_i(line, 3) +
         " of file siteinfo.def.\n"
         "This *may* (but no promises!) be because you have at least one empty\n"
         "line at the end of the file. If this is the case, delete the \n"
         "offending line(s) and try again.\n";
}

}  // namespace

TEST(Sitedef, ReadsCodesRegionsNamesAndAttributes) {
  rgtest::TempDir dir;
  auto r = read_sites(dir, header(3) + site("Gauge one", "S001    1    24.026    63.095     0.260") +
                               site("Second gauge", "S2     12       -10     1.5E1          ") +
                               site("Short line", "S3"));
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  const SiteTable& t = r.table;
  EXPECT_EQ(t.nsites, 3);
  EXPECT_EQ(t.nattr, 3);
  EXPECT_EQ(t.attnam(2), fmt_a("Attribute 2", 70));
  EXPECT_EQ(t.sitcod(1), "S001");
  EXPECT_EQ(t.sitcod(2), "S2  ");  // padded: "S2" and "S2  " are the same code
  EXPECT_EQ(t.sitcod(3), "S3  ");
  EXPECT_EQ(t.sitnam(1), fmt_a("Gauge one", 70));
  EXPECT_EQ(t.region(1), 1);
  EXPECT_EQ(t.region(2), 12);
  EXPECT_EQ(t.region(3), 0);
  EXPECT_DOUBLE_EQ(t.sitinf(1, 1, 1), 24.026);
  EXPECT_DOUBLE_EQ(t.sitinf(1, 3, 1), 0.26);
  EXPECT_DOUBLE_EQ(t.sitinf(2, 1, 1), -10.0);  // no decimal point: a whole number
  EXPECT_DOUBLE_EQ(t.sitinf(2, 2, 1), 15.0);
  EXPECT_DOUBLE_EQ(t.sitinf(2, 3, 1), 0.0);   // blank field
  EXPECT_DOUBLE_EQ(t.sitinf(3, 2, 1), 0.0);   // line ended early
  EXPECT_FALSE(channels().connected(36));     // closed after reading
}

TEST(Sitedef, CrlfMissingFinalNewlineAndTrailingTextReadCorrectly) {
  rgtest::TempDir dir;
  std::string text = header(1) + site("A", "AAAA    2       1.5") + "B\nBBBB    3       2.5   extra columns ignored";
  std::string crlf;
  for (char c : text) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
  for (const std::string& t : {text, crlf}) {
    auto r = read_sites(dir, t);
    ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
    EXPECT_EQ(r.table.nsites, 2);
    EXPECT_EQ(r.table.sitcod(2), "BBBB");
    EXPECT_DOUBLE_EQ(r.table.sitinf(2, 1, 1), 2.5);
    EXPECT_EQ(r.table.sitnam(2), fmt_a("B", 70));  // no carriage return kept in the name
  }
}

TEST(Sitedef, ZeroAttributes) {
  rgtest::TempDir dir;
  auto r = read_sites(dir, header(0) + site("Only", "ONLY    7"));
  ASSERT_FALSE(r.outcome.ended);
  EXPECT_EQ(r.table.nattr, 0);
  EXPECT_EQ(r.table.region(1), 7);
}

TEST(Sitedef, EmptySiteListAndBlankFile) {
  rgtest::TempDir dir;
  auto empty = read_sites(dir, header(2));
  EXPECT_EQ(empty.outcome.status, 1);
  EXPECT_EQ(empty.outcome.output, "\n****ERROR**** No sites defined in file siteinfo.def\n");
  // A file of blank lines has no number of attributes on line 39.
  auto blank = read_sites(dir, std::string(60, '\n'));
  EXPECT_EQ(blank.outcome.status, 1);
  EXPECT_EQ(blank.outcome.output, input_error(39));
  auto nothing = read_sites(dir, "");
  EXPECT_EQ(nothing.outcome.status, 1);
  EXPECT_EQ(nothing.outcome.output, input_error(1));
}

TEST(Sitedef, BadFieldsNameTheirLine) {
  rgtest::TempDir dir;
  // 38 header lines, count on 39, two names on 40-41, heading 42, first site 43-44.
  auto letters = read_sites(dir, header(2) + site("A", "AAAA    1       1.0       abc"));
  EXPECT_EQ(letters.outcome.status, 1);
  EXPECT_EQ(letters.outcome.output, input_error(44));
  auto region = read_sites(dir, header(2) + site("A", "AAAA    1       1.0       2.0") + site("B", "BBBB   x1"));
  EXPECT_EQ(region.outcome.output, input_error(46));
  auto count = read_sites(dir, header(2, "  two") + site("A", "AAAA    1"));
  EXPECT_EQ(count.outcome.output, input_error(39));
  // More attributes than a data line can carry.
  auto many = read_sites(dir, header(51) + site("A", "AAAA    1"));
  EXPECT_EQ(many.outcome.output, input_error(39));
}

TEST(Sitedef, EmptyLastLineIsASiteWithoutData) {
  rgtest::TempDir dir;
  auto r = read_sites(dir, header(1) + site("A", "AAAA    1       1.0") + "\n");
  EXPECT_EQ(r.outcome.status, 1);
  EXPECT_EQ(r.outcome.output, input_error(45));  // the data line that is missing
}

TEST(Sitedef, TooManySites) {
  rgtest::TempDir dir;
  std::string text = header(0);
  for (int s = 1; s <= MAXSIT; ++s) text += site("Site", std::string("S").append(fmt_i(s, 3)).append("    1"));
  auto full = read_sites(dir, text);
  ASSERT_FALSE(full.outcome.ended);
  EXPECT_EQ(full.table.nsites, MAXSIT);
  auto over = read_sites(dir, text + site("Extra", "X201    1"));
  EXPECT_EQ(over.outcome.status, 1);
  EXPECT_EQ(over.outcome.output,
            "\n****ERROR**** No. of sites defined in file siteinfo.def exceeds available storage.\n"
            "Contact DEV please.\n");
}

TEST(Sitedef, AGaugeListedTwiceIsRefused) {
  rgtest::TempDir dir;
  // Codes compare after padding to 4 characters: "AB" and "AB  " are one code.
  for (const char* first : {"AB01    1", "AB  "}) {
    auto r = read_sites(dir, header(0) + site("A", first) + site("B", "CD01    1") +
                                 site("C", std::string(first).substr(0, 2) + std::string(first).substr(2, 2) + "    2"));
    EXPECT_EQ(r.outcome.status, 1) << first;
    EXPECT_EQ(r.outcome.output, "\n****ERROR**** Site code " + fmt_a(first, 4) +
                                    " is defined twice in file siteinfo.def (sites   1 and   3).\n");
  }
}
