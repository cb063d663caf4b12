// Reading CSV tables as users write them, and the quantile used for the ranges over
// realisations.
#include <gtest/gtest.h>

#include <cmath>

#include "csv_table.hpp"
#include "test_support.hpp"
#include "validation.hpp"

using namespace rgtest;

namespace {

std::vector<std::vector<std::string>> rows_of(const std::string& path) {
  rg::CsvTable t(path);
  std::vector<std::vector<std::string>> rows{t.header()};
  std::vector<std::string_view> f;
  while (t.next(f)) rows.emplace_back(f.begin(), f.end());
  return rows;
}

TEST(CsvTable, ReadsWhatUsersWrite) {
  TempDir dir;
  // Byte order mark, CRLF, quoted fields with commas, doubled quotes and a line
  // break, blanks around a quoted field, empty lines and no final line end.
  dir.write("t.csv",
            "\xEF\xBB\xBF" "code, Name ,x\r\n"
            "A1,\"Bolzano, city\",1.5\r\n"
            "\r\n"
            "B2, \"say \"\"hi\"\"\" ,\r\n"
            "C3,\"two\nlines\",-2\n"
            "\n"
            "D4,,3");
  auto rows = rows_of("t.csv");
  std::vector<std::vector<std::string>> expected{{"code", "Name", "x"},
                                                 {"A1", "Bolzano, city", "1.5"},
                                                 {"B2", "say \"hi\"", ""},
                                                 {"C3", "two\nlines", "-2"},
                                                 {"D4", "", "3"}};
  EXPECT_EQ(rows, expected);
  rg::CsvTable t("t.csv");
  EXPECT_EQ(t.column("NAME"), 1);
  EXPECT_EQ(t.column("y"), -1);
  std::vector<std::string_view> f;
  for (long line : {2L, 4L, 5L, 8L}) {
    ASSERT_TRUE(t.next(f));
    EXPECT_EQ(t.line(), line);
  }
  EXPECT_EQ(rg::csv_field("Bolzano, \"city\""), "\"Bolzano, \"\"city\"\"\"");
  EXPECT_EQ(rg::csv_field("T147"), "T147");
}

TEST(CsvTable, RefusesBrokenTables) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "is empty"},
      {"\xEF\xBB\xBF\r\n\r\n", "is empty"},
      {"code,name\r\n", "has a header but no data rows"},
      {"code,name\nA,b,c\n", "line 2: 3 fields, but the header names 2 columns"},
      {"code,name\nA,b\nB\n", "line 3: 1 fields"},
      {"code,name\nA,\"open\n", "line 2: a quoted field is not closed"},
      {"code,name\nA,\"x\"y\n", "text after the closing quote"},
      {"code,,name\nA,b,c\n", "column 2 of the header has no name"},
      {"code,Code\nA,b\n", "column Code is named twice"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("t.csv", c.text);
    Outcome r = capture([] { rows_of("t.csv"); });
    EXPECT_TRUE(r.ended && r.status == 1) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(r.output.rfind("****ERROR**** ", 0), 0u) << r.output;
  }
}

TEST(CsvTable, Numbers) {
  EXPECT_EQ(rg::csv_number(" 2.5 "), 2.5);
  EXPECT_EQ(rg::csv_number("+1e2"), 100.0);
  EXPECT_EQ(rg::csv_number("-0.01"), -0.01);
  for (const char* bad : {"", "NA", "1,5", "2.5mm", "inf", "nan", "--1", "0x10"})
    EXPECT_FALSE(rg::csv_number(bad).has_value()) << bad;
  EXPECT_EQ(rg::csv_integer("2004"), 2004L);
  EXPECT_FALSE(rg::csv_integer("2004.0").has_value());
}

// Values as R's default quantile (type 7) gives them: quantile(c(1, 2, 3, 4, 10),
// c(0.05, 0.95)) is 1.2 and 8.8 (linear interpolation at position (n - 1) p).
TEST(Quantile, InterpolatesBetweenOrderStatistics) {
  std::vector<double> v{1, 2, 3, 4, 10};
  EXPECT_DOUBLE_EQ(rg::quantile(v, 0.05), 1.2);
  EXPECT_DOUBLE_EQ(rg::quantile(v, 0.95), 8.8);
  EXPECT_DOUBLE_EQ(rg::quantile({7.0}, 0.95), 7.0);
  EXPECT_TRUE(std::isnan(rg::quantile({}, 0.5)));
}

}  // namespace
