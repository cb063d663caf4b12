// raincsv run as a program in a temporary directory: import of CSV tables (good and
// faulty), export of daily.dat and monthly.dat, and the validation report, whose
// statistics are checked against a plain recomputation in this file from the
// definitions in the README (and, for the shipped example, from the CSV files).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "channels.hpp"
#include "files.hpp"
#include "sites.hpp"
#include "test_support.hpp"

using namespace rgtest;
namespace fs = std::filesystem;

namespace {

Outcome raincsv(const std::string& args) { return run_binary("raincsv/raincsv " + args); }

std::string format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream ss(line);
  std::string cell;
  while (std::getline(ss, cell, ',')) f.push_back(cell);
  if (!line.empty() && line.back() == ',') f.emplace_back();
  return f;
}

int month_length(int m, int y) {
  static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return len[m - 1] + (m == 2 && leap);
}

// ---------------------------------------------------------------- import

const std::string STATIONS = "code,name,x_km,y_km\nA1,One,0,0\nB2,Two,1,1\n";
const std::string DAILY = "code,year,month,day,value_mm\nA1,2001,1,1,0.5\nB2,2001,1,1,0\n";

TEST(RaincsvImport, ReadsTablesAsUsersKeepThem) {
  TempDir dir;
  dir.write("stations.csv",
            "\xEF\xBB\xBF" "code,name,x,y,elev_m,basin,source\r\n"
            "T1,\"Trento, Laste\",1.5,-2.25,312,Adige,X01\r\n"
            "R22,\"Rovereto \"\"Sud\"\"\",0.125,-28,203,Adige,X02\r\n"
            "B333,Bolzano,22.4,28.574,250.5,Isarco,X03\r\n");
  // Rows out of order, a date column, an extra column, missing values as NA, empty
  // and the marker, a repeated row, rows outside the period.
  dir.write("daily.csv",
            "date,code,value,quality\r\n"
            "2001-01-02,B333,12.3,ok\r\n"
            "2001-01-01,R22,NA,ok\r\n"
            "2000-12-31,T1,4,ok\r\n"
            "2001-01-01,T1,0.25,ok\r\n"
            "2001-01-02,T1,,bad\r\n"
            "2001-01-01,B333,-99,ok\r\n"
            "2001-01-02,R22,999.99,ok\r\n"
            "2001-01-01,T1,0.25,ok\r\n"
            "2002-01-01,T1,1,ok\r\n");
  Outcome r = raincsv("import --sites stations.csv --daily daily.csv --from 2001 --to 2001 --missing -99 "
                      "--region basin --out out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("attributes: x, y, elev_m; subareas: 2"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Columns not used (not numeric): source"), std::string::npos);
  EXPECT_NE(r.output.find("Columns not used in daily.csv: quality"), std::string::npos);
  EXPECT_NE(r.output.find("9 read, 6 written (3 missing), 2 outside the period 2001-2001 left out, 1 repeated"),
            std::string::npos)
      << r.output;

  EXPECT_EQ(dir.read("out/gaugvals.dat"),
            "2001 1 1T1    0.25\n"
            "2001 1 1R22  -1.00\n"
            "2001 1 1B333 -1.00\n"
            "2001 1 2T1   -1.00\n"
            "2001 1 2R22 999.99\n"
            "2001 1 2B333 12.30\n");
  auto reg = lines(dir.read("out/regions.def"));
  ASSERT_EQ(reg.size(), 22u);
  EXPECT_EQ(reg[19].substr(0, 19), "    0Entire network");
  EXPECT_EQ(reg[20].substr(0, 10), "    1Adige");
  EXPECT_EQ(reg[21].substr(0, 11), "    2Isarco");

  // The site file reads back through the suite's reader.
  auto sites = std::make_unique<rg::SiteTable>();
  rg::filchk("out/siteinfo.def", 10, rg::STFLAG_INPUT);
  rg::sitedef(10, "siteinfo.def", *sites);
  ASSERT_EQ(sites->nsites, 3);
  ASSERT_EQ(sites->nattr, 3);
  EXPECT_EQ(sites->attnam(3).substr(0, 7), "elev_m ");
  const char* codes[] = {"T1  ", "R22 ", "B333"};
  const char* names[] = {"Trento, Laste", "Rovereto \"Sud\"", "Bolzano"};
  const double attr[3][3] = {{1.5, -2.25, 312}, {0.125, -28, 203}, {22.4, 28.574, 250.5}};
  const int region[] = {1, 1, 2};
  for (int s = 1; s <= 3; ++s) {
    EXPECT_EQ(sites->sitcod(s), codes[s - 1]);
    EXPECT_EQ(sites->sitnam(s).substr(0, std::strlen(names[s - 1]) + 1), std::string(names[s - 1]) + " ");
    EXPECT_EQ(sites->region(s), region[s - 1]);
    for (int k = 1; k <= 3; ++k) EXPECT_DOUBLE_EQ(sites->sitinf(s, k, 1), attr[s - 1][k - 1]);
  }
}

TEST(RaincsvImport, RefusesFaultyTablesAndLeavesTheDirectoryAlone) {
  std::string many = "code,name,x,y\n";
  for (int s = 0; s < 201; ++s) many += format("S%d,Gauge,%d,0\n", s, s);
  struct Case {
    std::string stations, daily, options, message;
  } cases[] = {
      {STATIONS + "A1,Again,2,2\n", DAILY, "", "gauge code A1 is listed twice (lines 2 and 4)"},
      {STATIONS + "ABCDE,Long,2,2\n", DAILY, "", "line 4, column code: gauge code \"ABCDE\" is longer than 4"},
      {STATIONS, DAILY + "C3,2001,1,1,1\n", "", "daily.csv, line 4, column code: gauge C3 is not in stations.csv"},
      {STATIONS, DAILY + "A1,2001,1,1,0.7\n", "", "gauge A1 has two different values for 2001-1-1 (lines 2 and 4)"},
      {STATIONS, DAILY + "A1,2001,2,29,0\n", "", "line 4, column day: there is no date 2001-2-29"},
      {STATIONS, DAILY + "A1,2001,13,1,0\n", "", "there is no date 2001-13-1"},
      {STATIONS, "code,date,value\nA1,2001-02-30,1\n", "", "column date: there is no date 2001-2-30"},
      {STATIONS, "code,date,value\nA1,01/02/2001,1\n", "", "\"01/02/2001\" is not a date of the form YYYY-MM-DD"},
      {STATIONS, DAILY + "A1,2001,1,2,1000\n", "", "1000 does not fit the value field of gaugvals.dat"},
      {many, DAILY, "", "lists 201 gauges; at most 200"},
      {STATIONS, DAILY + "A1,2001,1,3,\"1,5\"\n", "", "daily.csv, line 4, column value_mm: \"1,5\" is not a number."},
      {STATIONS, DAILY + "A1,2001,1,x3,1\n", "", "daily.csv, line 4, column day: \"x3\" is not a whole number."},
      {"code,name,x_km,y_km\nA1,One,abc,0\n", DAILY, "", "stations.csv, line 2, column x_km: \"abc\" is not a number."},
      {STATIONS, DAILY + "A1,2001,1,3,-5\n", "", "line 4, column value_mm: negative value -5"},
      {"", DAILY, "", "File stations.csv is empty."},
      {STATIONS, "code,year,month,day,value_mm\r\n", "", "File daily.csv has a header but no data rows."},
      {STATIONS, "code,year,month,day,rain\nA1,2001,1,1,0\n", "", "has no column value_mm (or value)"},
      {STATIONS, DAILY, "--from 2005", "has no daily values within the period"},
      {STATIONS, DAILY + "A1,2001,1,3,1,9\n", "", "daily.csv, line 4: 6 fields, but the header names 5 columns"},
      {STATIONS + "C3," + std::string(71, 'n') + ",0,0\n", DAILY, "", "column name: name is longer than 70"},
      {STATIONS + "C3,Far,12345678901,0\n", DAILY, "", "does not fit the 10-column attribute field"},
      {STATIONS, DAILY, "--region basin", "has no column basin (named by --region)"},
      {"code;name;x;y\nA1;One;0;0\n", DAILY, "", "separated by semicolons; raincsv reads comma-separated tables"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("stations.csv", c.stations);
    dir.write("daily.csv", c.daily);
    fs::create_directory("out");
    dir.write("out/siteinfo.def", "OLD");
    Outcome r = raincsv("import --sites stations.csv --daily daily.csv --out out " + c.options);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_NE(r.output.find("****ERROR**** "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << "expected: " << c.message << "\ngot: " << r.output;
    EXPECT_EQ(dir.read("out/siteinfo.def"), "OLD");
    EXPECT_EQ(std::distance(fs::directory_iterator("out"), fs::directory_iterator{}), 1) << c.message;
  }
}

// ---------------------------------------------------------------- export

// Import, then a daily.dat in which every site-day is observed (flag 0), exported
// back to CSV: the values of the table come back to the 0.01 mm of the files.
TEST(RaincsvExport, RoundTripGivesBackTheTable) {
  TempDir dir;
  dir.write("stations.csv", "code,name,x_km,y_km\nAB,One,0,0\nC,Two,1,1\nDEFG,Three,2,2\n");
  std::mt19937 rng(5);
  std::map<std::string, std::string> input;  // "date,code" -> value as written
  std::vector<std::string> rows;
  for (int y = 1999; y <= 2000; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= month_length(m, y); ++d)
        for (const char* code : {"AB", "C", "DEFG"}) {
          double v = rng() % 3 == 0 ? (rng() % 99999) / 100.0 : 0.0;
          std::string text = format("%.2f", v);
          input[format("%04d-%02d-%02d,%s", y, m, d, code)] = text;
          rows.push_back(format("%s,%d,%d,%d,%s", code, y, m, d, text.c_str()));
        }
  std::shuffle(rows.begin(), rows.end(), rng);
  std::string daily = "code,year,month,day,value_mm\n";
  for (const auto& r : rows) daily += r + "\n";
  dir.write("daily.csv", daily);
  ASSERT_EQ(raincsv("import --sites stations.csv --daily daily.csv --out obs").status, 0);

  // daily.dat of one realisation with everything observed, in the record layout.
  std::string dat;
  auto gv = lines(dir.read("obs/gaugvals.dat"));
  ASSERT_EQ(gv.size(), rows.size());
  for (std::size_t i = 0; i < gv.size(); i += 3) {
    dat += format("%3d %4s %2s %2s ", 1, gv[i].substr(0, 4).c_str(), gv[i].substr(4, 2).c_str(), gv[i].substr(6, 2).c_str());
    for (std::size_t s = 0; s < 3; ++s) dat += gv[i + s].substr(12, 6) + " 0 ";
    dat += "\n";
  }
  dir.write("daily.dat", dat);
  Outcome r = raincsv("export daily.dat --sites obs/siteinfo.def");
  ASSERT_EQ(r.status, 0) << r.output.substr(0, 500);
  auto out = lines(r.output);
  ASSERT_EQ(out.size(), rows.size() + 1);
  EXPECT_EQ(out[0], "realisation,date,code,value_mm,observed");
  for (std::size_t i = 1; i < out.size(); ++i) {
    auto f = split(out[i]);
    ASSERT_EQ(f.size(), 5u) << out[i];
    EXPECT_EQ(f[0], "1");
    EXPECT_EQ(f[4], "1");
    EXPECT_EQ(f[3], input.at(f[1] + "," + f[2])) << out[i];
  }

  // A daily.dat of another network is refused.
  dir.write("two.dat", "  1 1999  1  1   0.00 1   0.00 1 \n");
  r = raincsv("export two.dat --sites obs/siteinfo.def");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("two.dat, line 1: the record holds 2 sites, but siteinfo.def defines 3."), std::string::npos)
      << r.output;
}

// The same through the simulation program: a year in which every site-day is
// observed comes back from daily.dat unchanged, with observed = 1.
TEST(RaincsvExport, RoundTripThroughTheSimulation) {
  TempDir dir;
  dir.write("stations.csv", "code,name,x_km,y_km\nA1,One,0,0\nB22,Two,1,1\nC333,Three,2,2\n");
  std::mt19937 rng(8);
  std::map<std::string, std::string> input;
  std::string daily = "code,date,value_mm\n";
  for (int m = 1; m <= 12; ++m)
    for (int d = 1; d <= month_length(m, 2001); ++d)
      for (const char* code : {"C333", "A1", "B22"}) {
        std::string date = format("2001-%02d-%02d", m, d);
        std::string text = format("%.2f", rng() % 5 < 2 ? (rng() % 20000) / 100.0 : 0.0);
        input[date + "," + code] = text;
        daily += std::string(code) + "," + date + "," + text + "\n";
      }
  dir.write("daily.csv", daily);
  ASSERT_EQ(raincsv("import --sites stations.csv --daily daily.csv --out .").status, 0);
  std::string header;
  for (int i = 1; i <= 46; ++i) header += "Model header line\n";
  header += "line 47\n";
  dir.write("logistic.def", header + "Occurrence\n    0    0.0000    0    0    0 Constant\n");
  dir.write("gammamdl.def", header + "Amounts\n    0    1.0000    0    0    0 Constant\n    9    1.0000    0    0    0 Dispersion\n");
  // Listings and model reports confirmed, 2001, one realisation, daily output of all.
  Outcome sim = run_binary("dailygen/dailygen", "Y\nY\nY\nY\n200101\n200112\n1\n2\n0\n12345\n");
  ASSERT_EQ(sim.status, 0) << sim.output.substr(0, 2000);
  Outcome r = raincsv("export daily.dat --sites siteinfo.def");
  ASSERT_EQ(r.status, 0) << r.output.substr(0, 500);
  auto out = lines(r.output);
  ASSERT_EQ(out.size(), input.size() + 1);
  for (std::size_t i = 1; i < out.size(); ++i) {
    auto f = split(out[i]);
    ASSERT_EQ(f.size(), 5u) << out[i];
    EXPECT_EQ(f[3], input.at(f[1] + "," + f[2])) << out[i];
    EXPECT_EQ(f[4], "1") << out[i];
  }
}

TEST(RaincsvExport, MonthlyTotalsWithTheAnnualAsMonth13) {
  TempDir dir;
  std::string text;
  for (int r = 1; r <= 2; ++r) {
    text += format("%3d %4d %3d ", r, 1991, 0);
    for (int m = 1; m <= 12; ++m) text += format("%6.1f ", 10.0 * m + r);
    text += format("%6.1f\n", 1234.5 + r);
  }
  dir.write("monthly.dat", text);
  Outcome r = raincsv("export monthly.dat");
  ASSERT_EQ(r.status, 0) << r.output;
  auto out = lines(r.output);
  ASSERT_EQ(out.size(), 27u);
  EXPECT_EQ(out[0], "realisation,region,year,month,total_mm");
  EXPECT_EQ(out[1], "1,0,1991,1,11.0");
  EXPECT_EQ(out[13], "1,0,1991,13,1235.5");
  EXPECT_EQ(out[26], "2,0,1991,13,1236.5");
  dir.write("bad.dat", text.substr(0, 40) + "\n");
  r = raincsv("export bad.dat");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("bad.dat, line 1: not a monthly.dat record"), std::string::npos) << r.output;
}

// ---------------------------------------------------------------- report

struct Day {
  int y, m, d;
  std::vector<double> v;  // per gauge; negative = missing
};
using Series = std::vector<Day>;
using Stats = std::map<std::string, double>;  // "statistic,site,site2,month" -> value

std::string key(const std::string& stat, const std::string& a, const std::string& b, const std::string& m) {
  return stat + "," + a + "," + b + "," + m;
}

double plain_sd(const std::vector<double>& v) {
  if (v.size() < 2) return NAN;
  double m = 0, ss = 0;
  for (double x : v) m += x / static_cast<double>(v.size());
  for (double x : v) ss += (x - m) * (x - m);
  return std::sqrt(ss / static_cast<double>(v.size() - 1));
}

double plain_mean(const std::vector<double>& v) {
  double m = 0;
  for (double x : v) m += x;
  return v.empty() ? NAN : m / static_cast<double>(v.size());
}

double plain_quantile(std::vector<double> v, double p);

// Persistence, year-to-year spread, extremes and joint amounts, from a day-by-day
// calendar of the whole period in which a day not in the series is missing: spells
// are runs with a known day of the other kind on both sides, counted in the season
// of their first day; a year or month counts when every day of it has a value.
void plain_persistence(Stats& st, const Series& series, const std::vector<std::string>& codes, double thr) {
  struct Cal {
    int y, m;
    std::vector<double> v;
  };
  std::vector<Cal> cal;
  std::map<long, const Day*> by_date;
  for (const auto& d : series) by_date[d.y * 10000L + d.m * 100 + d.d] = &d;
  const Day& first = series.front();
  const Day& last = series.back();
  for (int y = first.y; y <= last.y; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= month_length(m, y); ++d) {
        long date = y * 10000L + m * 100 + d;
        if (date < first.y * 10000L + first.m * 100 + first.d || date > last.y * 10000L + last.m * 100 + last.d) continue;
        auto it = by_date.find(date);
        cal.push_back(Cal{y, m, it == by_date.end() ? std::vector<double>(codes.size(), -1) : it->second->v});
      }
  const char* season[] = {"DJF", "DJF", "MAM", "MAM", "MAM", "JJA", "JJA", "JJA", "SON", "SON", "SON", "DJF"};
  std::vector<double> pooled_max;
  for (std::size_t s = 0; s < codes.size(); ++s) {
    auto state = [&](std::size_t t) { return cal[t].v[s] < 0 ? -1 : cal[t].v[s] > thr ? 1 : 0; };
    for (int m = 1; m <= 12; ++m) {
      double ww = 0, w = 0, dw = 0, d = 0;
      for (std::size_t t = 1; t < cal.size(); ++t) {
        if (cal[t].m != m || state(t) < 0 || state(t - 1) < 0) continue;
        if (state(t - 1) == 1) w += 1, ww += state(t);
        else d += 1, dw += state(t);
      }
      st[key("p_wet_wet", codes[s], "", std::to_string(m))] = ww / w;
      st[key("p_wet_dry", codes[s], "", std::to_string(m))] = dw / d;
      std::map<int, std::pair<int, double>> months;  // year -> days with a value, total
      for (const auto& c : cal)
        if (c.m == m && c.v[s] >= 0) months[c.y].first += 1, months[c.y].second += c.v[s];
      std::vector<double> totals;
      for (const auto& [y, dt] : months)
        if (dt.first == month_length(m, y)) totals.push_back(dt.second);
      if (totals.size() >= 2) st[key("month_total_sd", codes[s], "", std::to_string(m))] = plain_sd(totals);
    }
    std::map<std::string, std::vector<double>> spells;  // "wet,DJF" -> lengths
    std::map<int, double> longest_dry;                  // year of the first day -> length
    for (std::size_t t = 1; t < cal.size();) {
      int k = state(t);
      std::size_t e = t;
      while (e + 1 < cal.size() && state(e + 1) == k) ++e;
      if (k >= 0 && state(t - 1) == 1 - k && e + 1 < cal.size() && state(e + 1) == 1 - k) {
        spells[std::string(k ? "wet," : "dry,") + season[cal[t].m - 1]].push_back(static_cast<double>(e - t + 1));
        if (k == 0) longest_dry[cal[t].y] = std::max(longest_dry[cal[t].y], static_cast<double>(e - t + 1));
      }
      t = e + 1;
    }
    for (const char* ss : {"DJF", "MAM", "JJA", "SON"}) {
      if (!spells["wet," + std::string(ss)].empty())
        st[key("wet_spell_mean", codes[s], "", ss)] = plain_mean(spells["wet," + std::string(ss)]);
      if (!spells["dry," + std::string(ss)].empty())
        st[key("dry_spell_mean", codes[s], "", ss)] = plain_mean(spells["dry," + std::string(ss)]);
    }
    std::map<int, std::vector<double>> years;
    for (const auto& c : cal)
      if (c.v[s] >= 0) years[c.y].push_back(c.v[s]);
    std::vector<double> totals, maxima, dry;
    for (const auto& [y, v] : years) {
      if (v.size() != (month_length(2, y) == 29 ? 366u : 365u)) continue;
      double total = 0;
      for (double x : v) total += x;
      totals.push_back(total);
      maxima.push_back(*std::max_element(v.begin(), v.end()));
      if (longest_dry.count(y)) dry.push_back(longest_dry[y]);
    }
    if (totals.size() >= 2) st[key("annual_total_sd", codes[s], "", "")] = plain_sd(totals);
    if (!dry.empty()) st[key("dry_spell_max", codes[s], "", "")] = plain_mean(dry);
    if (!maxima.empty()) {
      st[key("annual_max_mean", codes[s], "", "")] = plain_mean(maxima);
      st[key("annual_max_p90", codes[s], "", "")] = plain_quantile(maxima, 0.9);
    }
  }
  for (std::size_t i = 0; i < codes.size(); ++i)
    for (std::size_t j = i + 1; j < codes.size(); ++j) {
      std::vector<double> a, b;
      for (const auto& c : cal)
        if (c.v[i] > thr && c.v[j] > thr) a.push_back(c.v[i]), b.push_back(c.v[j]);
      double ma = plain_mean(a), mb = plain_mean(b), sab = 0, saa = 0, sbb = 0;
      for (std::size_t t = 0; t < a.size(); ++t)
        sab += (a[t] - ma) * (b[t] - mb), saa += (a[t] - ma) * (a[t] - ma), sbb += (b[t] - mb) * (b[t] - mb);
      if (a.size() >= 2 && saa > 0 && sbb > 0) st[key("amount_corr", codes[i], codes[j], "")] = sab / std::sqrt(saa * sbb);
    }
  for (int m = 1; m <= 12; ++m) {
    std::vector<double> area;
    for (const auto& c : cal) {
      if (c.m != m || *std::min_element(c.v.begin(), c.v.end()) < 0) continue;
      double sum = 0;
      for (double x : c.v) sum += x;
      area.push_back(sum / static_cast<double>(codes.size()));
    }
    if (area.size() >= 2) st[key("area_total_sd", "", "", std::to_string(m))] = plain_sd(area);
  }
}

// The statistics straight from their definitions. A series without missing values
// takes its mean monthly and annual totals as the mean of the calendar totals over
// the years; with missing values, as the mean daily value times the mean length of
// the month.
Stats plain_stats(const Series& series, const std::vector<std::string>& codes, double thr) {
  Stats st;
  const std::size_t n = codes.size();
  bool complete = true;
  std::map<int, int> years;
  for (const auto& d : series) {
    years[d.y] = 1;
    for (double v : d.v) complete = complete && v >= 0;
  }
  for (std::size_t s = 0; s < n; ++s) {
    double annual = 0;
    for (int m = 1; m <= 12; ++m) {
      double cnt = 0, wet = 0, wetsum = 0, sum = 0;
      std::map<int, double> total;  // per year
      std::map<int, int> visited;   // year -> month length
      for (const auto& d : series) {
        if (d.m != m) continue;
        visited[d.y] = month_length(m, d.y);
        if (d.v[s] < 0) continue;
        cnt += 1;
        sum += d.v[s];
        total[d.y] += d.v[s];
        if (d.v[s] > thr) wet += 1, wetsum += d.v[s];
      }
      st[key("wet_freq", codes[s], "", std::to_string(m))] = wet / cnt;
      if (wet > 0) st[key("wet_mean", codes[s], "", std::to_string(m))] = wetsum / wet;
      double mt;
      if (complete) {
        mt = 0;
        for (const auto& [y, t] : total) mt += t;
        mt /= static_cast<double>(total.size());
      } else {
        double days = 0;
        for (const auto& [y, len] : visited) days += len;
        mt = sum / cnt * days / static_cast<double>(visited.size());
      }
      st[key("month_total", codes[s], "", std::to_string(m))] = mt;
      annual += mt;
    }
    if (complete) {
      annual = 0;
      for (const auto& d : series) annual += d.v[s];
      annual /= static_cast<double>(years.size());
    }
    st[key("annual_total", codes[s], "", "")] = annual;
  }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      double c = 0, si = 0, sj = 0;
      for (const auto& d : series)
        if (d.v[i] >= 0 && d.v[j] >= 0) c += 1, si += d.v[i] > thr, sj += d.v[j] > thr;
      double mi = si / c, mj = sj / c, cov = 0, vi = 0, vj = 0;
      for (const auto& d : series)
        if (d.v[i] >= 0 && d.v[j] >= 0) {
          double a = (d.v[i] > thr) - mi, b = (d.v[j] > thr) - mj;
          cov += a * b, vi += a * a, vj += b * b;
        }
      if (vi > 0 && vj > 0) st[key("wet_corr", codes[i], codes[j], "")] = cov / std::sqrt(vi * vj);
    }
  std::vector<double> hist(n + 1);
  double full = 0;
  for (const auto& d : series) {
    int k = 0;
    bool all = true;
    for (double v : d.v) all = all && v >= 0, k += v > thr;
    if (all) hist[k] += 1, full += 1;
  }
  for (std::size_t k = 0; k <= n; ++k) st[key("n_wet", "", "", std::to_string(k))] = hist[k] / full;
  plain_persistence(st, series, codes, thr);
  return st;
}

double plain_quantile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  double h = (v.size() - 1) * p;
  std::size_t lo = static_cast<std::size_t>(h);
  return lo + 1 < v.size() ? v[lo] + (h - lo) * (v[lo + 1] - v[lo]) : v[lo];
}

struct Row {
  double observed, mean, p05, p95;
};

std::map<std::string, Row> read_validation(const std::string& text) {
  std::map<std::string, Row> rows;
  auto ls = lines(text);
  EXPECT_EQ(ls.at(0), "statistic,site,site2,month,observed,sim_mean,sim_p05,sim_p95");
  auto num = [](const std::string& s) { return s.empty() ? NAN : std::stod(s); };
  for (std::size_t i = 1; i < ls.size(); ++i) {
    auto f = split(ls[i]);
    EXPECT_EQ(f.size(), 8u) << ls[i];
    if (f.size() != 8) continue;
    rows[key(f[0], f[1], f[2], f[3])] = Row{num(f[4]), num(f[5]), num(f[6]), num(f[7])};
  }
  return rows;
}

double tolerance(const std::string& k) {
  bool five = false;
  for (const char* s : {"wet_freq", "wet_corr", "n_wet", "p_wet_wet", "p_wet_dry", "amount_corr"})
    five = five || k.rfind(std::string(s) + ",", 0) == 0;
  return five ? 6e-6 : 6e-4;  // half a unit of the last printed decimal, and a little
}

void write_network(const TempDir& dir, const std::vector<std::string>& codes, const std::string& folder = "obs") {
  std::string s;
  for (int i = 1; i <= 38; ++i) s += "header\n";
  s += "    2\nX (km)\nY (km)\nSites\n";
  for (std::size_t i = 0; i < codes.size(); ++i)
    s += "Gauge " + codes[i] + "\n" + format("%-4s%5d%10.3f%10.3f\n", codes[i].c_str(), 0, 3.0 * i, 4.0 * i * i);
  dir.write(folder + "/siteinfo.def", s);
}

// A small network: four gauges, two years of observations with missing days and
// records of a gauge that is not in the site file, seven realisations of the same
// two years. Common day effects make the wet days of the gauges correlated.
TEST(RaincsvReport, StatisticsMatchAPlainRecomputation) {
  TempDir dir;
  fs::create_directories("obs");
  fs::create_directories("sim");
  const std::vector<std::string> codes{"A1", "B22", "C333", "D444"};
  write_network(dir, codes);
  write_network(dir, codes, "sim");
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(0, 1);
  auto draw = [&](bool missing_allowed) {
    std::vector<double> v(codes.size());
    double common = u(rng);
    for (auto& x : v) {
      double own = u(rng);
      if (missing_allowed && own < 0.05) x = -1;
      else if (0.6 * common + 0.4 * own < 0.45) x = own < 0.1 ? 0.30 : std::round(-std::log(u(rng)) * 600) / 100;
      else x = 0;
    }
    return v;
  };
  auto calendar = [&](bool missing_allowed) {
    Series s;
    for (int y = 2000; y <= 2001; ++y)
      for (int m = 1; m <= 12; ++m)
        for (int d = 1; d <= month_length(m, y); ++d) s.push_back(Day{y, m, d, draw(missing_allowed)});
    return s;
  };
  Series obs = calendar(true);
  std::string gv;
  for (auto& d : obs) {
    if (d.d == 15) {  // days with no record at all
      std::fill(d.v.begin(), d.v.end(), -1.0);
      continue;
    }
    for (std::size_t s = 0; s < codes.size(); ++s) gv += format("%4d%2d%2d%-4s%6.2f\n", d.y, d.m, d.d, codes[s].c_str(), d.v[s]);
    if (d.d == 1) gv += format("%4d%2d%2d%-4s%6.2f\n", d.y, d.m, d.d, "ZZZ", 5.0);
  }
  dir.write("obs/gaugvals.dat", gv);
  std::vector<Series> sims;
  std::string dat;
  for (int r = 1; r <= 7; ++r) {
    sims.push_back(calendar(false));
    for (const auto& d : sims.back()) {
      dat += format("%3d %4d %2d %2d ", r, d.y, d.m, d.d);
      for (double v : d.v) dat += format("%6.2f %1d ", v, static_cast<int>(rng() % 2));
      dat += "\n";
    }
  }
  dir.write("sim/daily.dat", dat);

  Outcome r = raincsv("report --threshold 0.3 --no-plots obs sim out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("24 records of gauges not in siteinfo.def left out"), std::string::npos) << r.output;
  auto rows = read_validation(dir.read("out/validation.csv"));
  // per gauge and month 6 x 48, per gauge 5 x 4, per season 2 x 16, per pair 2 x 6,
  // per count of wet gauges 5, per month 12
  EXPECT_EQ(rows.size(), 288u + 20 + 32 + 12 + 5 + 12);

  Stats expected = plain_stats(obs, codes, 0.3);
  std::vector<Stats> per_real;
  for (const auto& s : sims) per_real.push_back(plain_stats(s, codes, 0.3));
  for (const auto& [k, row] : rows) {
    const double tol = tolerance(k);
    if (expected.count(k)) EXPECT_NEAR(row.observed, expected.at(k), tol) << k;
    else EXPECT_TRUE(std::isnan(row.observed)) << k;
    std::vector<double> v;
    for (const auto& st : per_real)
      if (st.count(k)) v.push_back(st.at(k));
    ASSERT_FALSE(v.empty()) << k;
    double mean = 0;
    for (double x : v) mean += x / static_cast<double>(v.size());
    EXPECT_NEAR(row.mean, mean, tol) << k;
    EXPECT_NEAR(row.p05, plain_quantile(v, 0.05), tol) << k;
    EXPECT_NEAR(row.p95, plain_quantile(v, 0.95), tol) << k;
  }

  // A simulation of another network is refused.
  write_network(dir, {"A1", "B22", "C333", "E5"}, "sim");
  r = raincsv("report --no-plots obs sim out2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("different gauges: only in the simulation: E5; only in the observations: D444."),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists("out2/validation.csv"));
}

// An occurrence model whose only global quantity is a threshold of the given kind
// (2 soft, 3 hard) at 0.3 mm.
std::string threshold_model(int kind) {
  std::string s;
  for (int i = 1; i <= 47; ++i) s += "header\n";
  return s + "Threshold model\n    0    0.0000    0    0    0\n" + format("    8    0.3000    1%5d    0\n", kind);
}

// Two gauges A (0,0) and B (3,4), 1-10 January 2001; A has -1.00 on the 6th and B no
// record on the 8th. The simulation folder lists the gauges as B, A, so its columns
// are found by code. Worked values, for the hard threshold (0.30 is wet):
//  A: 0 .3 1 0 0 - 2 .2 0 5  = D W W D D - W D D W;  B: 1 0 .3 .5 0 .4 3 - 0 2 = W D W W D W W - D W
//  p_wet_wet A: after W on 2,3,7 -> W,D,D = 1/3; p_wet_dry A: after D on 1,4,8,9 -> W,D,D,W = 1/2
//  p_wet_wet B: after W on 1,3,4,6 -> D,W,D,W = 1/2; p_wet_dry B: after D on 2,5,9 -> 3 of 3
//  spells (both ends known): A wet 2-3, dry 8-9; B dry 2, wet 3-4, dry 5
//  amount_corr on days wet at both (3, 7, 10): x = 1 2 5, y = .3 3 2: 6.5 / sqrt(26 * 11.18)
//  area_total_sd over days with both values: sd(.5 .15 .65 .25 0 2.5 0 3.5) = 1.3164990
// The one realisation (B, A columns) has A = .1 0 .3 0 on 1-4 January: wet above 0.
TEST(RaincsvReport, WetDaysAsTheModelDefinesThemOnAWorkedNetwork) {
  TempDir dir;
  fs::create_directories("obs");
  fs::create_directories("sim");
  write_network(dir, {"A", "B"});
  const double a[] = {0, 0.3, 1, 0, 0, -1, 2, 0.2, 0, 5}, b[] = {1, 0, 0.3, 0.5, 0, 0.4, 3, -2, 0, 2};
  std::string gv;
  for (int d = 1; d <= 10; ++d) {
    gv += format("2001 1%2dA   %6.2f\n", d, a[d - 1]);
    if (b[d - 1] > -2) gv += format("2001 1%2dB   %6.2f\n", d, b[d - 1]);
  }
  dir.write("obs/gaugvals.dat", gv);
  std::string sites = dir.read("obs/siteinfo.def");
  std::string swapped = sites.substr(0, sites.find("Gauge A")) + "Gauge B\nB       0     3.000     4.000\nGauge A\nA       0     0.000     0.000\n";
  dir.write("sim/siteinfo.def", swapped);
  dir.write("sim/daily.dat", "  1 2001  1  1   0.00 1   0.10 1 \n  1 2001  1  2   0.00 1   0.00 1 \n"
                             "  1 2001  1  3   0.00 1   0.30 1 \n  1 2001  1  4   0.00 1   0.00 1 \n");
  struct Case {
    int kind;                // 0: no model, 2 soft, 3 hard threshold
    const char* option;
    const char* rule;        // what the console says
    std::map<std::string, double> observed, simulated;
  };
  const std::map<std::string, double> hard{
      {"wet_freq,A,,1", 4.0 / 9}, {"wet_freq,B,,1", 6.0 / 9}, {"p_wet_wet,A,,1", 1.0 / 3}, {"p_wet_dry,A,,1", 0.5},
      {"p_wet_wet,B,,1", 0.5}, {"p_wet_dry,B,,1", 1.0}, {"wet_spell_mean,A,,DJF", 2}, {"dry_spell_mean,A,,DJF", 2},
      {"wet_spell_mean,B,,DJF", 2}, {"dry_spell_mean,B,,DJF", 1}, {"amount_corr,A,B,", 6.5 / std::sqrt(26 * 11.18)},
      {"area_total_sd,,,1", 1.3164990}};
  const Case cases[] = {
      {3, "", "observed value of 0.30 mm or more, simulated value above 0 (hard threshold", hard,
       {{"wet_freq,A,,1", 0.5}, {"wet_freq,B,,1", 0}}},
      {2, "", "observed value above 0.30 mm, simulated value above 0 (soft threshold",
       {{"wet_freq,A,,1", 3.0 / 9}, {"wet_freq,B,,1", 5.0 / 9}}, {{"wet_freq,A,,1", 0.5}}},
      {3, "--threshold 0.3 ", "value above 0.30 mm, observed and simulated (--threshold)",
       {{"wet_freq,A,,1", 3.0 / 9}}, {{"wet_freq,A,,1", 0}}},
      {0, "", "value above 0 mm, observed and simulated (no logistic.def", {{"wet_freq,A,,1", 5.0 / 9}},
       {{"wet_freq,A,,1", 0.5}}},
  };
  for (const auto& c : cases) {
    fs::remove("obs/logistic.def");
    if (c.kind) dir.write("obs/logistic.def", threshold_model(c.kind));
    Outcome r = raincsv(std::string("report --no-plots ") + c.option + "obs sim out");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(std::string(" Wet day: ") + c.rule), std::string::npos) << r.output;
    auto rows = read_validation(dir.read("out/validation.csv"));
    for (const auto& [k, v] : c.observed) EXPECT_NEAR(rows.at(k).observed, v, tolerance(k)) << c.rule << " " << k;
    for (const auto& [k, v] : c.simulated) EXPECT_NEAR(rows.at(k).mean, v, tolerance(k)) << c.rule << " " << k;
  }
}

TEST(RaincsvReport, DrawsThePlots) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  fs::create_directories("obs");
  fs::create_directories("sim");
  write_network(dir, {"A1", "B22"});
  write_network(dir, {"A1", "B22"}, "sim");
  dir.write("obs/gaugvals.dat", "2000 1 1A1    1.00\n2000 1 1B22   0.00\n2000 1 2A1    0.00\n2000 1 2B22   2.00\n");
  dir.write("sim/daily.dat", "  1 2000  1  1   1.00 1   0.00 1 \n  1 2000  1  2   0.00 1   3.00 1 \n"
                             "  2 2000  1  1   1.00 1   2.00 1 \n  2 2000  1  2   0.00 1   0.00 1 \n");
  Outcome r = raincsv("report obs sim 'out dir'");
  ASSERT_EQ(r.status, 0) << r.output;
  // Two days of January only: no annual total, so no annual plot.
  EXPECT_NE(r.output.find(" annual_total.png left out: no gauge has a value of annual_total"), std::string::npos);
  for (const char* png : {"wet_freq.png", "wet_mean.png", "month_total.png", "wet_corr.png", "n_wet.png"}) {
    std::string data = dir.read(std::string("out dir/") + png);
    EXPECT_EQ(data.substr(0, 4), "\x89PNG") << png;
  }

  // Without gnuplot the report says that the plots are missing and fails.
  std::string path = std::getenv("PATH");
  setenv("PATH", "/nonexistent", 1);
  r = raincsv("report obs sim out2");
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("gnuplot cannot be started: validation.csv and plots.gp are written"), std::string::npos)
      << r.output;
  EXPECT_TRUE(fs::exists("out2/validation.csv"));
}

bool have(const char* program) { return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0; }

// A two-gauge network observed 1999-2002 and simulated 2001-2002 in three realisations.
void small_report_inputs(TempDir& dir, const std::vector<std::string>& codes) {
  fs::create_directories("obs");
  fs::create_directories("sim");
  write_network(dir, codes);
  write_network(dir, codes, "sim");
  std::string gv, dat;
  std::mt19937 rng(5);
  auto amount = [&] { return rng() % 3 == 0 ? (rng() % 2000) / 100.0 : 0.0; };
  for (int y = 1999; y <= 2002; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= month_length(m, y); ++d)
        for (const auto& c : codes) gv += format("%4d%2d%2d%-4s%6.2f\n", y, m, d, c.c_str(), y < 2001 ? 50.0 : amount());
  for (int r = 1; r <= 3; ++r)
    for (int y = 2001; y <= 2002; ++y)
      for (int m = 1; m <= 12; ++m)
        for (int d = 1; d <= month_length(m, y); ++d) {
          dat += format("%3d %4d %2d %2d ", r, y, m, d);
          for (std::size_t c = 0; c < codes.size(); ++c) dat += format("%6.2f 1 ", amount());
          dat += "\n";
        }
  dir.write("obs/gaugvals.dat", gv);
  dir.write("sim/daily.dat", dat);
}

// Realisations out of order, plots without points and a report written over an
// earlier one.
TEST(RaincsvReport, OutputSetAndFaultyInputs) {
  TempDir dir;
  small_report_inputs(dir, {"A1", "B22"});
  // Realisations 1-3 twice (two files appended) are refused, not merged.
  const std::string once = dir.read("sim/daily.dat");
  dir.write("sim/daily.dat", once + once);
  Outcome r = raincsv("report --no-plots obs sim out2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("realisation 1 follows realisation 3: the realisations are out of order or repeated"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists("out2/validation.csv"));
  dir.write("sim/daily.dat", once);

  if (!have("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
  // A threshold above every value: no wet day, so the wet-day plots are left out
  // with the reason, and the rest is drawn.
  r = raincsv("report --threshold 900 obs sim out3");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find(" wet_mean.png left out: no gauge-month has a value of wet_mean in both the observations "
                          "and the simulation."),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(fs::exists("out3/wet_mean.png"));
  EXPECT_EQ(dir.read("out3/n_wet.png").substr(0, 4), "\x89PNG");

  // A report over an earlier one replaces the whole set: no plots now, so no stale
  // PNG or plots.gp stays beside the new validation.csv.
  dir.write("out3/notes.txt", "mine");
  r = raincsv("report --no-plots obs sim out3");
  EXPECT_EQ(r.status, 0) << r.output;
  for (const auto& f : fs::directory_iterator("out3"))
    EXPECT_TRUE(f.path().extension() != ".png" && f.path().filename() != "plots.gp") << f.path();
  EXPECT_EQ(dir.read("out3/notes.txt"), "mine");

  // A single gauge: no pairs, so the correlation plots are left out.
  TempDir single;
  small_report_inputs(single, {"A1"});
  r = raincsv("report obs sim out");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find(" wet_corr.png left out: no pair of gauges"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::exists("out/return_levels.png"));
}

// Held-out years: the 50 mm days of 1999-2000 are left out of the observations.
TEST(RaincsvReport, HeldOutYears) {
  TempDir dir;
  small_report_inputs(dir, {"A1", "B22"});
  Outcome r = raincsv("report --no-plots --from 2001 --to 2002 obs sim out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("records outside 2001-2002 left out"), std::string::npos) << r.output;
  auto rows = read_validation(dir.read("out/validation.csv"));
  EXPECT_LT(rows.at("annual_max_mean,A1,,").observed, 20.0);
  r = raincsv("report --no-plots --from 2003 obs sim out");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("holds no values of the gauges of siteinfo.def in the years 2003-9999."), std::string::npos);
}

// report.html in a real browser: every embedded plot decodes (a copy of the page with
// a script that counts the decoded images into the title, read back from the DOM),
// and a screenshot of the page is taken.
TEST(RaincsvReport, HtmlPageLoadsInABrowser) {
  if (!have("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
  std::string browser = have("chromium") ? "chromium" : have("chromium-browser") ? "chromium-browser" : "";
  if (browser.empty()) GTEST_SKIP() << "Chromium is not installed (Debian package chromium)";
  TempDir dir;
  small_report_inputs(dir, {"A1", "B22", "C333"});
  Outcome r = raincsv("report --from 2001 obs sim out");
  ASSERT_EQ(r.status, 0) << r.output;
  std::string page = dir.read("out/report.html");
  EXPECT_EQ(page.find("http"), std::string::npos) << "the page must not need the network";
  std::size_t images = 0;
  for (auto at = page.find("<img"); at != std::string::npos; at = page.find("<img", at + 1)) ++images;
  EXPECT_EQ(images, 17u);
  const std::string check = page.substr(0, page.rfind("</body>")) +
                            "<script>window.onload=function(){var n=0;for(const i of document.images)"
                            "if(i.complete&&i.naturalWidth>0)n++;document.title='decoded '+n;}</script></body></html>";
  dir.write("out/check.html", check);
  const std::string flags = " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                            "--disable-background-networking --disable-component-update --disable-sync "
                            "--user-data-dir=" + (fs::current_path() / "profile").string() + " ";
  const std::string url = "file://" + (fs::current_path() / "out").string();
  std::string cmd = browser + flags + "--dump-dom " + url + "/check.html > dom.txt 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_NE(dir.read("dom.txt").find("<title>decoded " + std::to_string(images) + "</title>"), std::string::npos);
  cmd = browser + flags + "--window-size=1000,2000 --screenshot=" + (fs::current_path() / "shot.png").string() + " " +
        url + "/report.html > /dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string shot = dir.read("shot.png");
  EXPECT_EQ(shot.substr(0, 4), "\x89PNG");
  EXPECT_GT(shot.size(), 20000u);
}

// The observed statistics of the shipped example against a direct computation from
// its CSV files (1995-2004, wet above 0.3 mm).
TEST(RaincsvReport, ShippedExampleObservedStatistics) {
  TempDir dir;
  const std::string csv = RAINGLM_CSV_EXAMPLE_DIR;
  Outcome r = raincsv("import --sites " + csv + "/stations.csv --daily " + csv + "/daily.csv --from 1995 --to 2004 --out obs");
  ASSERT_EQ(r.status, 0) << r.output;

  std::vector<std::string> codes;
  std::ifstream st(csv + "/stations.csv");
  std::string line;
  std::getline(st, line);
  while (std::getline(st, line)) codes.push_back(split(line).at(0));
  std::map<std::string, std::size_t> index;
  for (std::size_t s = 0; s < codes.size(); ++s) index[codes[s]] = s;
  std::map<int, Day> days;
  std::ifstream in(csv + "/daily.csv");
  std::getline(in, line);
  while (std::getline(in, line)) {
    auto f = split(line);
    int y = std::stoi(f[1]), m = std::stoi(f[2]), d = std::stoi(f[3]);
    if (y < 1995 || y > 2004) continue;
    auto& day = days.try_emplace(y * 10000 + m * 100 + d, Day{y, m, d, std::vector<double>(codes.size(), -1)}).first->second;
    day.v[index.at(f[0])] = std::stod(f[4]);
  }
  Series obs;
  for (auto& [date, d] : days) obs.push_back(d);

  std::string dat = format("%3d %4d %2d %2d ", 1, 1995, 1, 1);
  for (std::size_t s = 0; s < codes.size(); ++s) dat += "  0.00 1 ";
  fs::create_directories("sim");
  fs::copy_file("obs/siteinfo.def", "sim/siteinfo.def");
  dir.write("sim/daily.dat", dat + "\n");
  r = raincsv("report --threshold 0.3 --no-plots obs sim out");
  ASSERT_EQ(r.status, 0) << r.output;
  auto rows = read_validation(dir.read("out/validation.csv"));
  Stats expected = plain_stats(obs, codes, 0.3);
  ASSERT_EQ(rows.size(), expected.size());
  for (const auto& [k, value] : expected) EXPECT_NEAR(rows.at(k).observed, value, tolerance(k)) << k;
}

}  // namespace
