// Set-up and per-day routines of the simulation program, each against a plain
// restatement of what it must produce: the region file reader and its errors, the
// agreement of the two models' global quantities, the transformed-amount covariance,
// the staged predictors against a direct sum, the data reader over a scripted data
// file, and the regional summaries against hand-computed means.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "anscombe.hpp"
#include "channels.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "outputs.hpp"
#include "simdata.hpp"
#include "simsetup.hpp"
#include "test_support.hpp"

using namespace rg;
using namespace rgtest;

namespace {

std::string region_file(const std::vector<std::string>& lines) {
  std::string s;
  for (int i = 1; i <= 19; ++i) s += "header " + std::to_string(i) + "\n";
  for (const auto& l : lines) s += l + "\n";
  return s;
}

std::string region_line(int n, const std::string& name) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%5d%-60s", n, name.c_str());
  return buf;
}

}  // namespace

TEST(Regdef, ReadsRegionsAndRefusesFaultyFiles) {
  struct Case {
    std::string text;
    int status;           // 0 read, 1 stopped
    int nreg;             // subareas when read
    std::string message;  // start of the report when stopped
  };
  std::vector<std::string> many;
  for (int i = 0; i <= 201; ++i) many.push_back(region_line(i, "R" + std::to_string(i)));
  const std::vector<Case> cases = {
      {region_file({region_line(0, "Whole"), region_line(1, "West"), region_line(2, "East")}), 0, 2, ""},
      {region_file({region_line(0, "Whole")}), 0, 0, ""},
      {region_file({region_line(1, "West")}), 1, 0,
       "\n****ERROR**** Subareas are not consecutive at line 20 of file regions.def"},
      {region_file({region_line(0, "Whole"), region_line(2, "East")}), 1, 0,
       "\n****ERROR**** Subareas are not consecutive at line 21 of file regions.def"},
      {region_file({region_line(0, "Whole"), ""}), 1, 0,
       "\n****ERROR**** Input error while reading line  21 of file regions.def ."},
      {region_file({region_line(0, "Whole"), "   x1East"}), 1, 0,
       "\n****ERROR**** Input error while reading line  21 of file regions.def ."},
      {region_file({}), 1, 0, "\n****ERROR**** Region 0 (entire area) is not defined in file regions.def"},
      {"short\n", 1, 0, "\n****ERROR**** Region 0 (entire area) is not defined in file regions.def"},
      {region_file(many), 1, 0, "\n****ERROR**** File regions.def  defines more than 200 subareas (line 221)."},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("regions.def", c.text);
    RegionNames names = region_table();
    int nreg = -5;
    auto r = capture([&] {
      filchk("regions.def", 37, STFLAG_INPUT);
      regdef("regions.def", 37, names, nreg);
    });
    EXPECT_EQ(r.ended ? r.status : 0, c.status) << c.text.substr(c.text.size() > 80 ? c.text.size() - 80 : 0);
    if (c.status == 0) {
      EXPECT_EQ(nreg, c.nreg);
      EXPECT_EQ(names(0), fmt_a("Whole", 60));
      EXPECT_FALSE(channels().connected(37));  // closed after reading
    } else {
      EXPECT_EQ(r.output.substr(0, c.message.size()), c.message);
    }
    channels().close_all();
  }
}

TEST(Listings, RegionsAndSitesGoToConsoleAndRecord) {
  TempDir dir;
  RegionNames names = region_table();
  names(0) = fmt_a("Whole", 60);
  SiteTable sites;
  sites.nsites = 3;
  const int regions[3] = {1, 0, 7};
  for (int i = 1; i <= 3; ++i) {
    sites.sitcod(i) = "S00" + std::to_string(i);
    sites.sitnam(i) = fmt_a("Gauge number " + std::to_string(i), 70);
    sites.region(i) = regions[i - 1];
  }
  auto r = capture([&] {
    filchk("mdlspec.txt", 63, STFLAG_OUTPUT);
    chkreg(names, 0, 63);
    chksit(sites, 1, 63);
    channels().close_all();
  });
  EXPECT_FALSE(r.ended);
  const std::string expected_regions =
      "\nSUBAREA DEFINITIONS\n===================\n\nREGION: " + fmt_a("Whole", 60) + "\n\nNo subareas defined.\n";
  const std::string expected_sites =
      "\nSITE DEFINITIONS\n================\n\nSite  Site  Region  Site\n no.  code   code   name\n"
      "----  ----  ------  ----\n\n"
      "   1  S001       1  " + fmt_a("Gauge number 1", 50) + "\n"
      "   2  S002          " + fmt_a("Gauge number 2", 50) + "\n"
      "   3  S003       7  " + fmt_a("Gauge number 3", 50) + "\n";
  EXPECT_EQ(dir.read("mdlspec.txt"), expected_regions + expected_sites);
  // The console has the same lines, each listing followed by the continue question,
  // and a warning about the site outside the subareas.
  EXPECT_EQ(r.output.substr(0, expected_regions.size()), expected_regions);
  EXPECT_NE(r.output.find(expected_sites + "\n****WARNING**** Some sites have a region number"), std::string::npos);
  EXPECT_NE(r.output.find("OK to continue (Y/N, default Y)?"), std::string::npos);
}

TEST(Glbchk, GlobalQuantitiesMustAgree) {
  auto model = [](int count, int code, double value) {
    Model m;
    m.np(8) = count;
    if (count >= 1) {
      m.glbcod(1) = code;
      m.glbval(code / 1000) = value;
    }
    return m;
  };
  struct Case {
    Model occ, amt;
    bool ok;
  };
  const std::vector<Case> cases = {
      {model(0, 0, 0), model(0, 0, 0), true},
      {model(1, 1003, 2.0), model(1, 1003, 2.0000005), true},
      {model(1, 1003, 2.0), model(1, 1003, 2.00001), false},
      {model(1, 1003, 2.0), model(1, 1002, 2.0), false},
      {model(1, 1001, 0.3), model(0, 0, 0), false},
  };
  for (const auto& c : cases) {
    auto r = capture([&] { glbchk(c.occ, c.amt, "logistic.def", "gammamdl.def"); });
    EXPECT_EQ(!r.ended, c.ok);
    if (!c.ok) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.output,
                "\n\n          ****ERROR**** Files logistic.def and gammamdl.def contain\n"
                "          different definitions of `global' quantities.\n");
    }
  }
}

TEST(Anset, CorrelationBecomesCovarianceOfTransformedAmounts) {
  // Reference moments for shape 0.75 from the independent table.
  const double m_ref = 0.85272739630027450, v_ref = 0.148521235593924883;
  Matrix cor(MAXSIT, MAXSIT);
  const int n = 3;
  const double r[3][3] = {{1, 0.5, 0.2}, {0.5, 1, -0.1}, {0.2, -0.1, 1}};
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) cor(i, j) = r[i - 1][j - 1];
  Array1<double> m(1, MAXSIT, 0.0);
  anset(m, cor, 0.75, n, MAXSIT);
  for (int i = 1; i <= n; ++i) {
    EXPECT_NEAR(m(i), m_ref, 1e-7);
    for (int j = 1; j <= n; ++j) EXPECT_NEAR(cor(i, j), v_ref * r[i - 1][j - 1], 1e-7);
  }
}

TEST(Setpred, StagedPredictorEqualsTheFullSumAndKeepsOlderStages) {
  // Two site attributes, a trend, a monthly and two daily covariates, a two-way
  // interaction of an attribute with a monthly term and a three-way one ending in a
  // daily term.
  Model m;
  const int np[6] = {2, 3, 4, 6, 7, 8};
  for (int g = 1; g <= 6; ++g) m.np(g) = np[g - 1];
  m.twoway(7, 1) = 4;
  m.twoway(7, 2) = 1;
  m.thrway(8, 1) = 1;
  m.thrway(8, 2) = 5;
  m.thrway(8, 3) = 3;
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int k = 0; k <= 8; ++k) m.beta(k) = u(gen);
  const int n = 4;
  Matrix covs(MAXSIT, MAXPAR), pred(MAXSIT, 4);
  auto fill = [&](int from, int to) {
    for (int i = 1; i <= n; ++i) {
      for (int k = from; k <= to; ++k) covs(i, k) = u(gen);
      covs(i, 7) = covs(i, 4) * covs(i, 1);
      covs(i, 8) = covs(i, 1) * covs(i, 5) * covs(i, 3);
    }
  };
  auto full = [&](int i) {
    double s = m.beta(0);
    for (int k = 1; k <= 8; ++k) s += m.beta(k) * covs(i, k);
    return s;
  };
  fill(1, 6);
  setpred(pred, covs, m, n, 1, MAXSIT, MAXPAR);
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(pred(i, 4), full(i), 1e-14);
  // Later days: a new daily term at stage 4, a new month at stage 3, a new year at 2.
  for (int stage : {4, 3, 2, 4}) {
    const int first = stage == 4 ? 5 : stage == 3 ? 4 : 3;
    fill(first, 6);
    setpred(pred, covs, m, n, stage, MAXSIT, MAXPAR);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(pred(i, 4), full(i), 1e-14) << "stage " << stage;
  }
  // At stage 4 a changed annual value is not looked at: the predictor keeps the
  // annual term of the last stage-2 day.
  const double before = pred(1, 4);
  covs(1, 3) += 1.0;
  covs(1, 8) = covs(1, 1) * covs(1, 5) * covs(1, 3);
  setpred(pred, covs, m, n, 4, MAXSIT, MAXPAR);
  EXPECT_NEAR(pred(1, 4), before + m.beta(8) * covs(1, 1) * covs(1, 5) * 1.0, 1e-14);
}

namespace {

std::string record(int y, int mo, int d, const std::string& code, double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%4d%2d%2d%-4s%6.2f", y, mo, d, code.c_str(), v);
  return buf;
}

struct DataRun {
  SimDay day;
  DataSearch search;
  SimThresholds thr;
  int nsites = 2;
  DataRun() {
    SiteTable s;
    s.nsites = 2;
    s.sitcod(1) = "AAAA";
    s.sitcod(2) = "BBBB";
    search.set_codes(s);
    search.channel = 30;
    search.file = "gaugvals.dat";
    filchk("gaugvals.dat", 30, STFLAG_INPUT);
  }
  void start(int state) {
    day.clear();
    search.state = state;
  }
  void step(int y, int m, int d, int mxlag) { updat2(day, thr, nsites, y, m, d, mxlag, search, MAXSIT); }
};

}  // namespace

TEST(Updat2, HistoryAndObservationsFromTheDataFile) {
  TempDir dir;
  std::string data;
  for (auto l : {record(2001, 2, 26, "AAAA", 9.0), record(2001, 2, 27, "AAAA", 1.0), record(2001, 2, 27, "BBBB", 0.2),
                 record(2001, 2, 28, "AAAA", 3.5), record(2001, 2, 28, "BBBB", 0.0), record(2001, 3, 1, "AAAA", 7.25),
                 record(2001, 3, 1, "BBBB", -1.0), record(2001, 3, 2, "BBBB", 4.0)})
    data += l + "\n";
  dir.write("gaugvals.dat", data);
  DataRun run;
  run.thr.kind = 1;  // soft threshold of 0.5: values below become 0, others lose 0.5
  run.thr.postiv = 0.5;
  auto out = capture([&] {
    for (int r = 1; r <= 2; ++r) {
      run.start(r == 1 ? -1 : 0);
      run.step(2001, 3, 1, 3);
      // 28 Feb at lag 1, 27 Feb at lag 2, 26 Feb at lag 3 (only the first site).
      EXPECT_DOUBLE_EQ(run.day.previous(1, 1), 3.0);
      EXPECT_DOUBLE_EQ(run.day.previous(1, 2), 0.5);
      EXPECT_DOUBLE_EQ(run.day.previous(1, 3), 8.5);
      EXPECT_DOUBLE_EQ(run.day.previous(2, 1), 0.0);
      EXPECT_DOUBLE_EQ(run.day.previous(2, 2), 0.0);
      EXPECT_DOUBLE_EQ(run.day.previous(2, 3), 0.0);
      // 1 March: the first site observed, the second missing and so simulated.
      EXPECT_EQ(run.day.flags(1), 0);
      EXPECT_DOUBLE_EQ(run.day.rain(1), 6.75);
      EXPECT_EQ(run.day.flags(2), 1);
      EXPECT_DOUBLE_EQ(run.day.rain(2), -1.0);
      EXPECT_EQ(run.search.state, 1);
      run.day.rain(2) = 2.0;  // what the generator would have given
      run.step(2001, 3, 2, 3);
      EXPECT_DOUBLE_EQ(run.day.previous(1, 1), 6.75);
      EXPECT_DOUBLE_EQ(run.day.previous(2, 1), 2.0);
      EXPECT_EQ(run.day.flags(1), 1);
      EXPECT_EQ(run.day.flags(2), 0);
      EXPECT_DOUBLE_EQ(run.day.rain(2), 3.5);
      run.step(2001, 3, 3, 3);  // past the end of the file: everything simulated from now on
      EXPECT_EQ(run.search.state, 2);
      EXPECT_EQ(run.day.flags(1) + run.day.flags(2), 2);
      channels().input(30).rewind();
    }
    EXPECT_EQ(run.search.nlines, 0);  // the data start with the first date the run asks for
  });
  EXPECT_FALSE(out.ended) << out.output;
  // The search message comes once, in the first realisation.
  EXPECT_EQ(out.output,
            "\n\nHang on a minute, I'm just searching file gaugvals.dat for some data within \n"
            "the period requested...\n");
}

TEST(Updat2, SearchStartAndFaultsOfTheDataFile) {
  struct Case {
    std::vector<std::string> records;
    std::string answers;
    int status;  // -1 no stop
    std::string expect;  // part of the console output
    long nlines;
  };
  const std::vector<Case> cases = {
      // Data only before the period: found to be exhausted, all simulated.
      {{record(1990, 1, 1, "AAAA", 1.0), record(1990, 1, 2, "AAAA", 1.0)}, "", -1, "the period requested...\n", 2},
      // Data starting after the first day: warning and the continue question.
      {{record(2001, 3, 5, "AAAA", 1.0)}, "\n", -1,
       "****WARNING**** Your simulation starts before the first available data\n"
       "in file gaugvals.dat. If you continue, it will be as though the time period of\n"
       "of your simulation were preceded by 1 totally dry days.\n\n\n\nOK to continue (Y/N, default Y)?\n",
       0},
      {{record(2001, 3, 5, "AAAA", 1.0)}, "n\n", 0, "OK to continue", 0},
      // Out of order inside the period.
      {{record(2000, 12, 1, "AAAA", 1.0), record(2001, 3, 1, "AAAA", 1.0), record(2001, 2, 27, "BBBB", 1.0)}, "", 1,
       "\n\n****ERROR**** input file out of order. Offending date is\n27/ 2/2001, at site BBBB.\n", 1},
      // An impossible date.
      {{record(2001, 2, 28, "AAAA", 1.0), "20010229AAAA  1.00"}, "", 1,
       "\n\n****ERROR**** impossible date in input file. Offending date is\n29/ 2/2001, at site AAAA.\n", 0},
      // A blank value field is a dry day.
      {{"20010301AAAA      ", record(2001, 3, 2, "AAAA", 1.0)}, "", -1, "the period requested...\n", 0},
      // A record that cannot be read.
      {{record(2001, 3, 1, "AAAA", 1.0), "2001 3 1BBBB  1.x0"}, "", 1,
       "\n\n****ERROR**** while reading input file gaugvals.dat. The last successful access\n"
       "was for data on  1/ 3/2001.\n",
       0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string data;
    for (const auto& l : c.records) data += l + "\n";
    dir.write("gaugvals.dat", data);
    auto out = capture(
        [&] {
          DataRun run;
          run.start(-1);
          run.step(2001, 3, 1, 1);
          run.step(2001, 3, 2, 1);
          EXPECT_EQ(run.search.nlines, c.nlines);
        },
        c.answers);
    EXPECT_EQ(out.ended ? out.status : -1, c.status) << out.output;
    EXPECT_NE(out.output.find(c.expect), std::string::npos) << out.output;
    channels().close_all();
  }
}

TEST(Outsum, RegionalMeansOfSiteTotals) {
  TempDir dir;
  // Sites 1-3 in subarea 1, site 4 in subarea 3, site 5 in no subarea, site 6 in a
  // region the region file does not have (counted for the entire area only).
  const int nsites = 6;
  Array1<int> region(1, MAXSIT, 0);
  const int reg[6] = {1, 1, 1, 3, 0, 9};
  for (int i = 1; i <= nsites; ++i) region(i) = reg[i - 1];
  Matrix monthly(MAXSIT, 12);
  Array1<double> annual(1, MAXSIT, 0.0);
  const double jan[6] = {10, 20, 60, 5, 1000, 11};
  for (int i = 1; i <= nsites; ++i) {
    monthly(i, 1) = jan[i - 1];
    monthly(i, 7) = 2.0 * i;
    annual(i) = monthly(i, 1) + monthly(i, 7);
  }
  Array1<int> which(0, MAXREG, 0);
  which(0) = 1;
  which(1) = 1;
  which(2) = 1;  // selected but without sites: no line
  auto out = capture([&] {
    filchk("monthly.dat", 62, STFLAG_OUTPUT);
    outsum(channels().output(62), 12, 1999, annual, monthly, nsites, region, which, 3, MAXSIT);
    channels().close_all();
  });
  EXPECT_FALSE(out.ended) << out.output;
  // Entire area: January (10+20+60+5+1000+11)/6 = 184.333, July 2*(1+...+6)/6 = 7.
  EXPECT_EQ(dir.read("monthly.dat"),
            " 12 1999   0  184.3    0.0    0.0    0.0    0.0    0.0    7.0    0.0    0.0    0.0    0.0    0.0  191.3\n"
            " 12 1999   1   30.0    0.0    0.0    0.0    0.0    0.0    4.0    0.0    0.0    0.0    0.0    0.0   34.0\n");
}
