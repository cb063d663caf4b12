// raincsv's climate-data formats run as a program in a temporary directory: the
// simulation's outputs exported to NetCDF and read back by independent readers
// (ncdump, Python's xarray, cdo) against the CSV export, and the import of GHCN-Daily
// files against the CSV import of the same records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>

#include "projection.hpp"
#include "test_support.hpp"

using namespace rgtest;
namespace fs = std::filesystem;

namespace {

const std::string SOURCE = RAINGLM_SOURCE_DIR;

Outcome raincsv(const std::string& args) { return run_binary("raincsv/raincsv " + args); }

// Standard output of a shell command and its exit status.
Outcome shell(const std::string& command) {
  Outcome r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  char buf[65536];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  const int rc = pclose(p);
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return r;
}

bool have(const std::string& command) { return shell("command -v " + command).status == 0; }

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream ss(line);
  for (std::string cell; std::getline(ss, cell, ',');) f.push_back(cell);
  return f;
}

// The values ncdump prints for a variable, "_" for a fill value.
std::vector<std::string> ncdump_values(const std::string& file, const std::string& var) {
  const std::string text = shell("ncdump -v " + var + " " + file).output;
  std::size_t at = text.find("\n " + var + " =", text.find("\ndata:"));
  std::vector<std::string> values;
  if (at == std::string::npos) return values;
  at = text.find('=', at) + 1;
  const std::size_t end = text.find(';', at);
  std::string token;
  for (std::size_t i = at; i <= end; ++i) {
    const char c = text[i];
    if (c == ',' || c == ';' || c == ' ' || c == '\n') {
      if (!token.empty()) values.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  return values;
}

std::string two_decimals(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

// Runs the example network's simulation: 10 realisations of 2004-2006, daily
// output of all and summaries of both regions; its observations end in 2004, so
// there are observed (flag 0) and simulated values.
void simulate_example() {
  for (const char* f : {"siteinfo.def", "gaugvals.dat", "logistic.def", "gammamdl.def", "regions.def"})
    fs::copy_file(SOURCE + "/example/" + f, f);
  std::ifstream answers(SOURCE + "/example/answers_dailygen.txt");
  std::stringstream ss;
  ss << answers.rdbuf();
  Outcome sim = run_binary("dailygen/dailygen", ss.str());
  ASSERT_EQ(sim.status, 0) << sim.output.substr(0, 2000);
}

// ---------------------------------------------------------------- NetCDF

TEST(NetcdfExport, DailyAndMonthlyReadBackAsTheCsvExport) {
  TempDir dir;
  simulate_example();
  ASSERT_EQ(raincsv("export daily.dat --sites siteinfo.def --netcdf daily.nc").status, 0);
  ASSERT_EQ(raincsv("export monthly.dat --netcdf monthly.nc").status, 0);
  Outcome daily_csv = raincsv("export daily.dat --sites siteinfo.def");
  Outcome monthly_csv = raincsv("export monthly.dat");
  ASSERT_EQ(daily_csv.status + monthly_csv.status, 0);
  // Months 1 to 12: the NetCDF file keeps no annual totals.
  std::string monthly_months;
  for (const auto& l : lines(monthly_csv.output))
    if (split(l)[3] != "13") monthly_months += l + "\n";

  if (!have("ncdump")) GTEST_SKIP() << "ncdump (Debian netcdf-bin) is not installed";
  const std::string head = shell("ncdump -h daily.nc").output;
  for (const char* expect :
       {"time = 1096 ;", "realization = 10 ;", "station = 20 ;", "int pr(time, realization, station) ;",
        "pr:scale_factor = 0.01 ;", "pr:standard_name = \"precipitation_amount\" ;", "pr:units = \"kg m-2\" ;",
        "byte observed(time, realization, station) ;", "time:units = \"days since 2004-01-01 00:00:00\" ;",
        "time:calendar = \"standard\" ;", "station_id:cf_role = \"timeseries_id\" ;", "double Elevation_km(station) ;",
        ":Conventions = \"CF-1.8\" ;", ":featureType = \"timeSeries\" ;",
        "raincsv export daily.dat --sites siteinfo.def --netcdf daily.nc\" ;", "seed 20041231)\" ;",
        "amount model: Trentino 1995-2004 - wet-day amounts"})
    EXPECT_NE(head.find(expect), std::string::npos) << expect << "\n" << head;

  // Every value of the CSV export at its place (time, realization, station) of pr,
  // which holds hundredths of a mm.
  auto pr = ncdump_values("daily.nc", "pr"), observed = ncdump_values("daily.nc", "observed");
  auto rows = lines(daily_csv.output);
  ASSERT_EQ(pr.size(), rows.size() - 1);
  ASSERT_EQ(observed.size(), pr.size());
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const std::size_t k = i - 1, real = k / (1096 * 20), day = k / 20 % 1096, station = k % 20;
    const std::size_t at = (day * 10 + real) * 20 + station;
    auto f = split(rows[i]);
    ASSERT_EQ(two_decimals(std::stod(pr[at]) / 100), f[3]) << rows[i];
    ASSERT_EQ(observed[at], f[4]) << rows[i];
  }
  auto total = ncdump_values("monthly.nc", "total");
  auto mrows = lines(monthly_months);
  ASSERT_EQ(total.size(), mrows.size() - 1);  // both regions written every year
  for (std::size_t i = 1; i < mrows.size(); ++i) {
    auto f = split(mrows[i]);
    const std::size_t real = std::stoul(f[0]) - 1, region = std::stoul(f[1]),
                      month = (std::stoul(f[2]) - 2004) * 12 + std::stoul(f[3]) - 1;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::stod(total[(month * 10 + real) * 2 + region]));
    ASSERT_EQ(text, f[4]) << mrows[i];
  }

  if (have("cdo")) {
    for (const char* f : {"daily.nc", "monthly.nc"}) {
      Outcome info = shell(std::string("cdo -s sinfo ") + f);
      EXPECT_EQ(info.status, 0) << info.output;
      EXPECT_NE(info.output.find("Calendar = standard"), std::string::npos) << info.output;
    }
  }
  if (shell("/usr/bin/python3 -c 'import xarray, netCDF4'").status != 0)
    GTEST_SKIP() << "Python's xarray and netCDF4 (Debian python3-xarray, python3-netcdf4) are not installed";
  const std::string reader = "/usr/bin/python3 " + SOURCE + "/tests/raincsv/netcdf_to_csv.py ";
  Outcome back = shell(reader + "daily.nc");
  ASSERT_EQ(back.status, 0) << back.output.substr(0, 2000);
  EXPECT_TRUE(back.output == daily_csv.output) << "xarray's reading of daily.nc differs from the CSV export";
  back = shell(reader + "monthly.nc");
  ASSERT_EQ(back.status, 0) << back.output.substr(0, 2000);
  EXPECT_EQ(back.output, monthly_months);
}

std::string daily_record(int real, int y, int m, int d, double a, int fa, double b, int fb) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%3d %4d %2d %2d %6.2f %1d %6.2f %1d \n", real, y, m, d, a, fa, b, fb);
  return buf;
}

// Two gauges imported from CSV; the site file beside the simulated files.
void two_gauges(const TempDir& dir) {
  dir.write("stations.csv", "code,name,x_km,y_km,height\nA1,Alpha,0,0,100\nB2,Beta,3,4,250.5\n");
  dir.write("obs.csv", "code,year,month,day,value_mm\nA1,2001,1,1,0\n");
  ASSERT_EQ(raincsv("import --sites stations.csv --daily obs.csv --out .").status, 0);
}

// Days a realisation did not write are fill values, left out again by the readers.
TEST(NetcdfExport, DaysNotWrittenAreFillValues) {
  TempDir dir;
  two_gauges(dir);
  dir.write("daily.dat", daily_record(1, 2001, 1, 1, 1.5, 0, 0, 1) + daily_record(1, 2001, 1, 2, 0, 1, 999.99, 1) +
                             daily_record(1, 2001, 1, 3, 0.01, 1, 0, 1) + daily_record(2, 2001, 1, 2, 12.25, 1, 3, 0) +
                             daily_record(2, 2001, 1, 3, 0, 1, 0.1, 1));
  Outcome r = raincsv("export daily.dat --sites siteinfo.def --netcdf out.nc");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Written out.nc: 5 daily records of 2 gauges, 2 realisations, 3 days."), std::string::npos);
  if (!have("ncdump")) GTEST_SKIP() << "ncdump (Debian netcdf-bin) is not installed";
  // (time, realization, station): realisation 2 has no 1 January.
  const std::vector<std::string> pr{"150", "0", "_", "_", "0", "99999", "1225", "300", "1", "0", "0", "10"};
  const std::vector<std::string> observed{"1", "0", "_", "_", "0", "0", "0", "1", "0", "0", "0", "0"};
  EXPECT_EQ(ncdump_values("out.nc", "pr"), pr);
  EXPECT_EQ(ncdump_values("out.nc", "observed"), observed);
  EXPECT_EQ(ncdump_values("out.nc", "height"), (std::vector<std::string>{"100", "250.5"}));
  EXPECT_EQ(ncdump_values("out.nc", "station_name"), (std::vector<std::string>{"\"Alpha\"", "\"Beta\""}));
  if (shell("/usr/bin/python3 -c 'import xarray, netCDF4'").status != 0)
    GTEST_SKIP() << "Python's xarray and netCDF4 are not installed";
  Outcome back = shell("/usr/bin/python3 " + SOURCE + "/tests/raincsv/netcdf_to_csv.py out.nc");
  EXPECT_EQ(back.output, raincsv("export daily.dat --sites siteinfo.def").output);
}

TEST(NetcdfExport, RefusesFaultyRecordsAndKeepsTheEarlierFile) {
  const std::string day1 = daily_record(1, 2001, 1, 1, 0, 1, 0, 1), day2 = daily_record(1, 2001, 1, 2, 0, 1, 0, 1),
                    day3 = daily_record(1, 2001, 1, 3, 0, 1, 0, 1);
  const std::string year =
      "  1 2001   0    1.0    2.0    3.0    4.0    5.0    6.0    7.0    8.0    9.0   10.0   11.0   12.0   78.0\n";
  struct Case {
    std::string file, text, message;
  } cases[] = {
      {"daily.dat", day2 + day1 + day3, "daily.dat, line 2: the records are not in order of realisation and date."},
      {"daily.dat", day1 + day1 + day3, "daily.dat, line 2: the records are not in order"},
      {"daily.dat", day1 + day3 + day2, "daily.dat, line 2: the record lies outside"},
      {"daily.dat", day1 + daily_record(1, 2001, 1, 9, 0, 1, 0, 1) + day3,
       "daily.dat, line 2: the record lies outside"},
      {"daily.dat", "\n\n", "File daily.dat holds no records."},
      {"daily.dat", day1 + "  1 2001  1  2   0.00 1\n" + day3, "daily.dat, line 2: the record holds 1 sites"},
      {"monthly.dat", year + year.substr(0, 11) + "2" + year.substr(12),
       "monthly.dat, line 2: region 2 is not defined"},
      {"monthly.dat", year + year,
       "monthly.dat, line 2: the records are not in order of realisation, year and region."},
  };
  for (const auto& c : cases) {
    TempDir dir;
    two_gauges(dir);
    dir.write(c.file, c.text);
    dir.write("out.nc", "earlier");
    Outcome r =
        raincsv("export " + c.file + (c.file == "daily.dat" ? " --sites siteinfo.def" : "") + " --netcdf out.nc");
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(dir.read("out.nc"), "earlier") << c.message;
    for (const auto& e : fs::directory_iterator("."))
      EXPECT_EQ(e.path().filename().string().find("raincsv-tmp"), std::string::npos) << c.message;
  }
}

// ---------------------------------------------------------------- GHCN-Daily

// The distance and bearing of a point from the centre, by the haversine and
// initial-bearing formulas of spherical trigonometry, against the projected x and y.
TEST(GhcnProjection, KeepsDistanceAndBearingFromTheCentre) {
  constexpr double R = 6371.0, RAD = std::numbers::pi / 180;
  struct Case {
    double lat0, lon0, lat, lon;
  } cases[] = {{46.14861, 11.02719, 46.4056, 11.3183},
               {46.14861, 11.02719, 45.8965, 11.0438},
               {0, 0, 0, 1},
               {0, 0, 1, 0},
               {-33.9, 151.2, -37.8, 144.9},
               {64.1, -21.9, 78.2, 15.6},
               {10, 179.5, -5, -178.2},
               {0, 0, 10, 170}};
  for (const auto& c : cases) {
    rg::ghcn::Projection p({c.lat0, c.lon0});
    double x = 0, y = 0;
    p.project({c.lat, c.lon}, x, y);
    const double p1 = c.lat0 * RAD, p2 = c.lat * RAD, dl = (c.lon - c.lon0) * RAD;
    const double h = std::pow(std::sin((p2 - p1) / 2), 2) + std::cos(p1) * std::cos(p2) * std::pow(std::sin(dl / 2), 2);
    const double distance = 2 * R * std::asin(std::sqrt(h));
    const double bearing = std::atan2(std::sin(dl) * std::cos(p2),
                                      std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl));
    EXPECT_NEAR(std::hypot(x, y), distance, 1e-6 * distance + 1e-9) << c.lat << " " << c.lon;
    EXPECT_NEAR(std::atan2(x, y), bearing, 1e-9) << c.lat << " " << c.lon;
  }
  // Centre of points on both sides of the date line.
  auto centre = rg::ghcn::Projection::centre_of({{-10, 179}, {-10, -179}, {-12, 179.5}, {-12, -179.5}});
  EXPECT_NEAR(std::fabs(centre.lon), 180.0, 1e-9);
  EXPECT_NEAR(centre.lat, -11.0, 0.01);
}

// The example's records written as .dly files by the repository's script import to
// the same gaugvals.dat as the CSV import of the same records rounded to the
// archive's 0.1 mm (rounded here from the decimal text, half up).
TEST(GhcnImport, ExampleGivesTheGaugeValuesOfTheCsvImport) {
  TempDir dir;
  ASSERT_EQ(shell("bash " + SOURCE + "/scripts/example_to_ghcn.sh ghcn").status, 0);
  std::ifstream in(SOURCE + "/example/csv/daily.csv");
  std::string line, rounded;
  std::getline(in, line);
  rounded = line + "\n";
  while (std::getline(in, line)) {
    auto f = split(line);
    std::string v = f[4];
    if (v[0] != '-') {
      const std::size_t dot = v.find('.');
      const std::string decimals = (dot == std::string::npos ? "" : v.substr(dot + 1)) + "00";
      const long hundredths = std::stol(v.substr(0, dot)) * 100 + std::stol(decimals.substr(0, 2));
      const long tenths = (hundredths + 5) / 10;
      v = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    }
    rounded += f[0] + "," + f[1] + "," + f[2] + "," + f[3] + "," + v + "\n";
  }
  dir.write("rounded.csv", rounded);
  Outcome csv = raincsv("import --sites " + SOURCE + "/example/csv/stations.csv --daily rounded.csv --out csv");
  ASSERT_EQ(csv.status, 0) << csv.output;
  Outcome g = raincsv("import --ghcn ghcn --out g");
  ASSERT_EQ(g.status, 0) << g.output;
  EXPECT_NE(
      g.output.find("PRCP records: 7200 station-months; 219160 daily values written (3103 missing in the archive; "
                    "0 failed a quality check and are written as missing)."),
      std::string::npos)
      << g.output;
  EXPECT_TRUE(dir.read("csv/gaugvals.dat") == dir.read("g/gaugvals.dat"));
  auto map = lines(dir.read("g/stations_map.csv"));
  ASSERT_EQ(map.size(), 21u);
  EXPECT_EQ(map[0], "code,ghcn_id,name");
  EXPECT_EQ(map[3], "T129,ITE0000T129,TRENTO (LASTE)");
}

// A .dly record of PRCP (or another element): days not given are -9999.
std::string dly(const std::string& id, int year, int month, const std::map<int, std::string>& days,
                const std::string& element = "PRCP") {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%04d%02d%s", id.c_str(), year, month, element.c_str());
  std::string line = buf;
  for (int d = 1; d <= 31; ++d) line += days.count(d) ? days.at(d) : "-9999   ";
  return line + "\n";
}

std::string day(int value, char qflag = ' ', char mflag = ' ') {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%5d%c%c7", value, mflag, qflag);
  return buf;
}

const std::string LIST =
    "USC00012345  40.1000  -88.2000  220.0 IL NAME ONE                          \n"
    "CAC00012345  45.3000  -75.7000   79.2 ON NAME TWO                          \n"
    "XXX00000001 not a station line of this network\n"
    "USW00099999  41.9800  -87.9000 -999.9 IL AIRPORT, NORTH                    \n";

void ghcn_network(const TempDir& dir) {
  fs::create_directory("in");
  dir.write("in/ghcnd-stations.txt", LIST);
  dir.write("in/USC00012345.dly", dly("USC00012345", 1999, 12, {{1, day(50)}}) +
                                      dly("USC00012345", 2000, 2, {{1, day(25)}, {3, day(100, 'G')}, {29, day(5)}}) +
                                      dly("USC00012345", 2000, 2, {{1, day(-300)}}, "TMAX"));
  dir.write("in/CAC00012345.dly", dly("CAC00012345", 2000, 2, {{1, day(0)}, {2, day(30, 'D')}}));
  dir.write("in/USW00099999.dly", dly("USW00099999", 2000, 3, {{1, day(9999, ' ', 'T')}}));
}

TEST(GhcnImport, QualityFlagsCodesAndTheStationMap) {
  TempDir dir;
  ghcn_network(dir);
  Outcome r = raincsv("import --ghcn in --from 2000 --out out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(
      r.output.find("PRCP records: 4 station-months; 89 daily values written (83 missing in the archive; 2 failed "
                    "a quality check and are written as missing (by quality flag: D 1, G 1)), 31 days outside the "
                    "period left out."),
      std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Elevation unknown (written as -999.9 m) for gauges: 9999"), std::string::npos) << r.output;
  // Gauges in the order of the list; a shared code goes to the first of them.
  std::string expected;
  for (int d = 1; d <= 29; ++d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "2000 2%2d2345%6.2f\n2000 2%2d2340%6.2f\n", d,
                  d == 1    ? 2.5
                  : d == 29 ? 0.5
                            : -1.0,
                  d, d == 1 ? 0.0 : -1.0);
    expected += buf;
  }
  expected += "2000 3 19999999.90\n";
  for (int d = 2; d <= 31; ++d)
    expected += "2000 3" + std::string(d < 10 ? " " : "") + std::to_string(d) + "9999 -1.00\n";
  EXPECT_EQ(dir.read("out/gaugvals.dat"), expected);
  EXPECT_EQ(
      dir.read("out/stations_map.csv"),
      "code,ghcn_id,name\n2345,USC00012345,NAME ONE\n2340,CAC00012345,NAME TWO\n9999,USW00099999,\"AIRPORT, NORTH\"\n");
  auto site = lines(dir.read("out/siteinfo.def"));
  ASSERT_EQ(site.size(), 38u + 1 + 5 + 1 + 6);
  EXPECT_EQ(site[46].substr(0, 9), "2345    0");
  EXPECT_EQ(site[46].substr(29), "      220.      40.1     -88.2");

  // Later outputs name the archive's stations.
  dir.write("out/daily.dat", "  1 2000  2  1   2.50 0   0.00 0   1.25 1 \n");
  Outcome csv = raincsv("export out/daily.dat --sites out/siteinfo.def");
  EXPECT_EQ(csv.output,
            "realisation,date,code,ghcn_id,value_mm,observed\n1,2000-02-01,2345,USC00012345,2.50,1\n"
            "1,2000-02-01,2340,CAC00012345,0.00,1\n1,2000-02-01,9999,USW00099999,1.25,0\n");
  ASSERT_EQ(raincsv("export out/daily.dat --sites out/siteinfo.def --netcdf out.nc").status, 0);
  Outcome report = raincsv("report --no-plots out out rep");
  EXPECT_EQ(dir.read("rep/stations_map.csv"), dir.read("out/stations_map.csv")) << report.output;
  if (!have("ncdump")) GTEST_SKIP() << "ncdump (Debian netcdf-bin) is not installed";
  EXPECT_EQ(ncdump_values("out.nc", "ghcn_id"),
            (std::vector<std::string>{"\"USC00012345\"", "\"CAC00012345\"", "\"USW00099999\""}));
  EXPECT_NE(shell("ncdump -h out.nc").output.find("latitude:units = \"degrees_north\" ;"), std::string::npos);
}

TEST(GhcnImport, RefusesBadRecordsWithFileLineAndColumn) {
  const std::string good = dly("USC00012345", 2001, 2, {{1, day(25)}});
  struct Case {
    std::string file, text, message;
  } cases[] = {
      {"USC00012345.dly", good.substr(0, 200) + "\n",
       "USC00012345.dly, line 1, column 201: the line has 200 columns; a record has 269."},
      {"USC00012345.dly", good + dly("USC00012345", 2001, 3, {{3, day(7, 'Q')}}),
       "USC00012345.dly, line 2, column 44: quality flag \"Q\" is not one of the archive's."},
      {"USC00012345.dly", dly("USC00012345", 2001, 3, {{1, day(7, ' ', '#')}}),
       "USC00012345.dly, line 1, column 27: measurement flag \"#\" is not one of the archive's."},
      {"USC00012345.dly", dly("USC00012345", 2001, 2, {{29, day(0)}}),
       "USC00012345.dly, line 1, column 246: a value for 2001-2-29, a day that does not exist."},
      {"USC00012345.dly", dly("USC00012345", 2001, 13, {}),
       "USC00012345.dly, line 1, column 16: \"13\" is not a month."},
      {"USC00012345.dly", dly("USC00012345", 2001, 2, {{1, "  1a2   "}}),
       "USC00012345.dly, line 1, column 22: \"  1a2\" is not a whole number."},
      {"USC00012345.dly", good + good, "USC00012345.dly, line 2, column 12: a second PRCP record for 2001-2"},
      {"USC00012345.dly", dly("USC00054321", 2001, 2, {}),
       "USC00012345.dly, line 1, column 1: station USC00054321 in the file"},
      {"USC00012345.dly", dly("USC00012345", 2001, 2, {{5, day(-20)}}), "line 1, column 54: negative amount -20."},
      {"USC00012345.dly", dly("USC00012345", 2001, 2, {{2, day(10000)}}),
       "line 1, column 30: 1000.0 mm does not fit the value field of gaugvals.dat"},
      {"USC00077777.dly", good, "USC00077777.dly, line 1, column 1: station USC00077777 is not in the station list"},
      {"ghcnd-stations.txt", "USC00012345  95.0000  -88.2000  220.0 IL NAME ONE\n",
       "ghcnd-stations.txt, line 1, column 13: \"95.0000\" is not a latitude."},
  };
  for (const auto& c : cases) {
    TempDir dir;
    fs::create_directory("in");
    dir.write("in/ghcnd-stations.txt", LIST);
    dir.write("in/USC00012345.dly", good);
    dir.write("in/" + c.file, c.text);
    fs::create_directory("out");
    dir.write("out/gaugvals.dat", "earlier");
    Outcome r = raincsv("import --ghcn in --out out");
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(dir.read("out/gaugvals.dat"), "earlier");
    EXPECT_EQ(std::distance(fs::directory_iterator("out"), fs::directory_iterator()), 1) << c.message;
  }
}

}  // namespace
