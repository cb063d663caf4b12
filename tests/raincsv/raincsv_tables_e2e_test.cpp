// raincsv on tables at the edges of what users keep: codes that need quoting in CSV,
// attribute columns with gaps, old Mac line ends, text outside ASCII, impossible
// dates, a full disk. Each outcome is checked against the whole expected output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_support.hpp"

using namespace rgtest;
namespace fs = std::filesystem;

namespace {

Outcome raincsv(const std::string& args) { return run_binary("raincsv/raincsv " + args); }

const std::string STATIONS = "code,name,x_km,y_km\nA1,One,0,0\nB2,Two,1,1\n";
const std::string DAILY = "code,year,month,day,value_mm\nA1,2001,1,1,0.5\nB2,2001,1,1,0\n";
const std::string GAUGVALS = "2001 1 1A1    0.50\n2001 1 1B2    0.00\n";

}  // namespace

// Gauge codes with a comma and a quote (which import accepts) come out of export as
// RFC 4180 fields, so every row has the header's five fields.
TEST(RaincsvTables, ExportQuotesCodesThatNeedIt) {
  TempDir dir;
  dir.write("stations.csv", "code,name,x_km,y_km\n\"A,B\",One,0,0\n\"Q\"\"1\",Two,1,1\nC,Three,2,2\n");
  dir.write("daily.csv", "code,date,value_mm\n\"A,B\",2001-01-01,0.5\n\"Q\"\"1\",2001-01-01,0\nC,2001-01-01,12.3\n");
  Outcome r = raincsv("import --sites stations.csv --daily daily.csv --out .");
  ASSERT_EQ(r.status, 0) << r.output;
  dir.write("daily.dat", "  1 2001  1  1   0.50 0   0.00 1  12.30 0 \n");
  r = raincsv("export daily.dat --sites siteinfo.def");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output,
            "realisation,date,code,value_mm,observed\n"
            "1,2001-01-01,\"A,B\",0.50,1\n"
            "1,2001-01-01,\"Q\"\"1\",0.00,0\n"
            "1,2001-01-01,C,12.30,1\n");
}

// Tables that import reads, and what it writes or says. A numeric column with an
// empty cell is left out and listed (every gauge needs every attribute).
TEST(RaincsvTables, ImportOutcomes) {
  struct Case {
    std::string name, stations, daily;
    int status;
    std::string message;   // part of the console output
    std::string gaugvals;  // the whole file, when the import succeeds
  } cases[] = {
      {"attribute column with a gap", "code,name,x_km,y_km,elev,src\nA1,One,0,0,100,a\nB2,Two,1,1,,b\n", DAILY, 0,
       " Gauges: 2 from stations.csv; attributes: x_km, y_km\n"
       " Columns not used (not numeric): src\n"
       " Columns not used (a gauge has no value): elev (line 3)\n",
       GAUGVALS},
      {"lines ended by CR alone", "code,name,x_km,y_km\rA1,One,0,0\rB2,Two,1,1\r",
       "code,year,month,day,value_mm\rA1,2001,1,1,0.5\rB2,2001,1,1,0\r", 0, " Daily rows: 2 read, 2 written", GAUGVALS},
      {"a quoted last field and CR at the end", STATIONS,
       "code,year,month,day,value_mm\r\nA1,2001,1,1,\"0.5\"\r\nB2,2001,1,1,\"0\"\r", 0, " Daily rows: 2 read", GAUGVALS},
      {"month 13", STATIONS, DAILY + "A1,2001,13,1,0\n", 1,
       "****ERROR**** daily.csv, line 4, column month: there is no date 2001-13-1.\n", ""},
      {"year 0", STATIONS, DAILY + "A1,0,1,1,0\n", 1,
       "****ERROR**** daily.csv, line 4, column year: there is no date 0-1-1.\n", ""},
      {"day 32", STATIONS, DAILY + "A1,2001,1,32,0\n", 1, "line 4, column day: there is no date 2001-1-32.\n", ""},
      {"code of three letters outside ASCII", STATIONS + "\xC3\xA9\xC3\xA9\xC3\xA9,Three,2,2\n", DAILY, 1,
       "****ERROR**** stations.csv, line 4, column code: gauge code \"\xC3\xA9\xC3\xA9\xC3\xA9\" is longer than 4 "
       "bytes (6 bytes in UTF-8, where a character outside ASCII takes 2 to 4; the fields of the suite's files count "
       "bytes).\n",
       ""},
      {"co-ordinate missing", "code,name,x_km,y_km\nA1,One,0,0\nB2,Two,,1\n", DAILY, 1,
       "stations.csv, line 3, column x_km: no value (every gauge needs its co-ordinates).\n", ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("stations.csv", c.stations);
    dir.write("daily.csv", c.daily);
    Outcome r = raincsv("import --sites stations.csv --daily daily.csv --out out");
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << "\n" << r.output;
    if (c.status == 0) EXPECT_EQ(dir.read("out/gaugvals.dat"), c.gaugvals) << c.name;
    else EXPECT_FALSE(fs::exists("out/gaugvals.dat")) << c.name;
  }
}

// A file-size limit stands in for a full disk: the message names the file that
// could not be written and the system's reason, and nothing replaces the old files.
TEST(RaincsvTables, ImportOnAFullDiskNamesTheFileAndWhy) {
  TempDir dir;
  std::string daily = "code,date,value_mm\n";
  for (int y = 1901; y <= 2000; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= 28; ++d)
        for (const char* code : {"A1", "B2"}) daily += std::string(code) + "," + std::to_string(y) + "-" +
                                                        (m < 10 ? "0" : "") + std::to_string(m) + "-" +
                                                        (d < 10 ? "0" : "") + std::to_string(d) + ",1.5\n";
  dir.write("stations.csv", STATIONS);
  dir.write("daily.csv", daily);
  fs::create_directory("out");
  dir.write("out/gaugvals.dat", "OLD");
  const std::string program = std::string(RAINGLM_BIN_DIR) + "/raincsv/raincsv";
  Outcome r = run_script("{ sh -c \"trap '' XFSZ; ulimit -f 256; exec " + program +
                         " import --sites stations.csv --daily daily.csv --out out\"; echo $? > rc.test; } > out.test 2>&1\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("****ERROR**** File out/gaugvals.dat could not be written completely: File too large."),
            std::string::npos)
      << r.output;
  EXPECT_EQ(dir.read("out/gaugvals.dat"), "OLD");
  EXPECT_EQ(std::distance(fs::directory_iterator("out"), fs::directory_iterator{}), 1);
}
