// The simulation program run for real in a scratch directory. Its daily values are
// checked digit for digit against a second, plain simulation written here from the
// algorithm's definition (random numbers from the plain generator of the test
// support; the Anscombe moments from ansprm, itself checked against an independent
// table), and its regional summaries against totals recomputed from daily.dat.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "anscombe.hpp"
#include "plain_random.hpp"
#include "test_support.hpp"

using namespace rgtest;

namespace {

constexpr int NS = 4;
const char* const kCodes[NS] = {"G001", "G002", "G003", "G004"};
const int kRegion[NS] = {1, 1, 2, 0};
const double kElev[NS] = {0.2, 0.9, 1.6, 0.5};

// The models of the network; every number below is what the files say.
struct Network {
  double b0 = -0.6, belev = 0.4, bwet = 1.1;  // occurrence: constant, elevation, wet yesterday,
  double bmean = 0.7;                         // fraction of the network wet yesterday
  double a0 = 1.3, alag = 0.25;               // amounts: constant, ln(1 + yesterday)
  double nu = 0.8;                            // gamma shape
  int thrkind = 0;                            // 0 none, 1 soft, 2 hard (code 8 1 kind+1)
  double tau = 0.0;
  std::string occ_structure = "   10    0.0000    0    0    0";
  std::string amt_structure = "   10    0.0000    0    0    0";
};

std::string fixed(const char* fmt, double v) {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

void write_files(const Network& net) {
  std::ofstream s("siteinfo.def");
  for (int i = 1; i <= 38; ++i) s << "site file header " << i << "\n";
  s << "    3\nX (km)\nY (km)\nElevation (km)\nSites:\n";
  for (int i = 0; i < NS; ++i) {
    char b[80];
    std::snprintf(b, sizeof b, "%s%5d%10.3f%10.3f%10.3f", kCodes[i], kRegion[i], 10.0 * i, 3.0 * i, kElev[i]);
    s << "Gauge " << i + 1 << "\n" << b << "\n";
  }
  std::ofstream r("regions.def");
  for (int i = 1; i <= 19; ++i) r << "region file header " << i << "\n";
  r << "    0Whole network\n    1West\n    2East\n";

  auto header = [](std::ofstream& f, const char* title) {
    for (int i = 1; i <= 47; ++i) f << "model header " << i << "\n";
    f << title << "\n";
  };
  auto line = [](std::ofstream& f, int type, double v, int c1, int c2) {
    char b[80];
    std::snprintf(b, sizeof b, "%5d%10.4f%5d%5d%5d", type, v, c1, c2, 0);
    f << b << "\n";
  };
  std::ofstream o("logistic.def");
  header(o, "Test occurrence");
  line(o, 0, net.b0, 0, 0);
  line(o, 1, net.belev, 3, 0);
  line(o, 4, net.bwet, 1, 3);
  line(o, 4, net.bmean, 1, 13);
  if (net.thrkind > 0) line(o, 8, net.tau, 1, net.thrkind + 1);
  o << net.occ_structure << "\n";
  std::ofstream a("gammamdl.def");
  header(a, "Test amounts");
  line(a, 0, net.a0, 0, 0);
  line(a, 4, net.alag, 1, 2);
  if (net.thrkind > 0) line(a, 8, net.tau, 1, net.thrkind + 1);
  line(a, 9, net.nu, 0, 0);
  a << net.amt_structure << "\n";
}

// A model file of the given term lines (no dependence between gauges).
void write_model(const char* name, const std::vector<std::string>& terms) {
  std::ofstream f(name);
  for (int i = 1; i <= 48; ++i) f << "model header " << i << "\n";
  for (const auto& t : terms) f << t << "\n";
  f << "   10    0.0000    0    0    0\n";
}

// Observations: date (yyyymmdd) -> value per site, negative = missing.
using Observations = std::map<long, std::map<int, double>>;

void write_data(const Observations& obs) {
  std::ofstream d("gaugvals.dat");
  for (const auto& [date, vals] : obs)
    for (const auto& [site, v] : vals) {
      char b[40];
      std::snprintf(b, sizeof b, "%8ld%s%6.2f", date, kCodes[site], v);
      d << b << "\n";
    }
}

int month_days(int y, int m) {
  static const int len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && y % 4 == 0 && (y % 100 != 0 || y % 400 == 0) ? 29 : len[m - 1];
}

long date_of(int y, int m, int d) { return y * 10000L + m * 100 + d; }

long day_before(int y, int m, int d) {
  if (--d == 0) {
    if (--m == 0) {
      m = 12;
      --y;
    }
    d = month_days(y, m);
  }
  return date_of(y, m, d);
}

struct Expected {
  std::string daily, monthly;
};

// The plain simulation: independent occurrence, independent amounts, one day of
// history; months from (sy, sm) to (ey, em); summaries for the regions in `regions`.
Expected simulate(const Network& net, const Observations& obs, int sy, int sm, int ey, int em, int nreal, long seed,
                  const std::vector<int>& regions) {
  PlainRandom rnd(seed);
  double m0 = 0.0, v = 0.0;
  rg::ansprm(net.nu, m0, v);
  const double sd = std::sqrt(v);
  auto onscale = [&](double x) {
    if (net.thrkind == 0) return x;
    if (x < net.tau) return 0.0;
    return net.thrkind == 1 ? x - net.tau : x;
  };
  auto observed = [&](long date, int site, double& x) {
    auto d = obs.find(date);
    if (d == obs.end()) return false;
    auto s = d->second.find(site);
    if (s == d->second.end() || s->second < 0.0) return false;
    x = onscale(s->second);
    return true;
  };
  std::string daily, monthly;
  for (int r = 1; r <= nreal; ++r) {
    double prev[NS];
    for (int i = 0; i < NS; ++i) {
      prev[i] = 0.0;
      double x;
      if (observed(day_before(sy, sm, 1), i, x)) prev[i] = x;
    }
    for (int y = sy; y <= ey; ++y) {
      double tot[NS][13] = {};
      for (int m = 1; m <= 12; ++m) {
        if (y * 100 + m < sy * 100 + sm || y * 100 + m > ey * 100 + em) continue;
        for (int d = 1; d <= month_days(y, m); ++d) {
          double rain[NS];
          int flag[NS];
          for (int i = 0; i < NS; ++i) {
            double x;
            flag[i] = observed(date_of(y, m, d), i, x) ? 0 : 1;
            rain[i] = flag[i] == 0 ? x : -1.0;
          }
          double wetfrac = 0.0;
          for (int i = 0; i < NS; ++i) wetfrac += prev[i] > 0.0 ? 1.0 : 0.0;
          wetfrac /= NS;
          std::vector<int> wet;
          for (int i = 0; i < NS; ++i) {
            if (flag[i] == 0) continue;
            const double eta =
                (net.b0 + net.belev * kElev[i]) + net.bwet * (prev[i] > 0.0 ? 1.0 : 0.0) + net.bmean * wetfrac;
            // The wet probability in the form that cannot overflow.
            const double p = eta >= 0.0 ? 1.0 / (1.0 + std::exp(-eta)) : std::exp(eta) / (1.0 + std::exp(eta));
            if (rnd.uniform() < p) wet.push_back(i);
            else rain[i] = 0.0;
          }
          for (bool done = wet.empty(); !done;) {
            std::vector<double> u;
            for (std::size_t k = 0; k < wet.size(); ++k) u.push_back(rnd.normal(0.0, 1.0));
            done = true;
            for (std::size_t k = 0; k < wet.size(); ++k) {
              const int i = wet[k];
              if (rain[i] >= 0.0) continue;
              const double mu = std::exp(net.a0 + net.alag * std::log1p(prev[i]));
              const double x = m0 + sd * u[k];
              const double val = mu * (x * x * x);
              if (val < 0.0) {
                done = false;
                break;
              }
              rain[i] = val;
            }
          }
          char b[32];
          std::snprintf(b, sizeof b, "%3d %4d %2d %2d ", r, y, m, d);
          daily += b;
          for (int i = 0; i < NS; ++i) {
            const double out = net.thrkind == 1 && rain[i] > 0.0 ? rain[i] + net.tau : rain[i];
            tot[i][m] += out;
            std::snprintf(b, sizeof b, "%6.2f %d ", out, flag[i]);
            daily += b;
            prev[i] = rain[i];
          }
          daily += "\n";
        }
      }
      for (int reg : regions) {
        double sums[13] = {};
        int count = 0;
        for (int i = 0; i < NS; ++i) {
          if (reg != 0 && kRegion[i] != reg) continue;
          ++count;
          for (int m = 1; m <= 12; ++m) sums[m] += tot[i][m];
        }
        if (count == 0) continue;
        char b[32];
        std::snprintf(b, sizeof b, "%3d %4d %3d ", r, y, reg);
        monthly += b;
        double annual = 0.0;
        for (int i = 0; i < NS; ++i)
          if (reg == 0 || kRegion[i] == reg)
            for (int m = 1; m <= 12; ++m) annual += tot[i][m];
        for (int m = 1; m <= 12; ++m) monthly += fixed("%6.1f ", sums[m] / count);
        monthly += fixed("%6.1f\n", annual / count);
      }
    }
  }
  return {daily, monthly};
}

// Monthly means of the selected regions recomputed from the values in daily.dat.
void check_against_daily(const std::string& daily, const std::string& monthly) {
  std::map<std::tuple<int, int, int, int>, double> sums;  // (real, year, site, month)
  for (const auto& l : lines(daily))
    for (int i = 0; i < NS; ++i)
      sums[{std::stoi(l.substr(0, 3)), std::stoi(l.substr(4, 4)), i, std::stoi(l.substr(9, 2))}] +=
          std::stod(l.substr(15 + 9 * i, 6));
  for (const auto& l : lines(monthly)) {
    const int r = std::stoi(l.substr(0, 3)), y = std::stoi(l.substr(4, 4)), reg = std::stoi(l.substr(9, 3));
    for (int m = 1; m <= 12; ++m) {
      double s = 0.0;
      int n = 0;
      for (int i = 0; i < NS; ++i)
        if (reg == 0 || kRegion[i] == reg) {
          s += sums[{r, y, i, m}];
          ++n;
        }
      // Each daily value is rounded to 0.005 at most, each monthly mean to 0.05.
      EXPECT_NEAR(std::stod(l.substr(13 + 7 * (m - 1), 6)), s / n, 0.05 + 31 * 0.005) << l;
    }
  }
}

// Equal texts, or the first line that differs.
void expect_same(const std::string& actual, const std::string& expected, const std::string& what) {
  const auto a = lines(actual), e = lines(expected);
  for (std::size_t i = 0; i < std::min(a.size(), e.size()); ++i)
    if (a[i] != e[i]) {
      ADD_FAILURE() << what << " line " << i + 1 << "\n  actual:   " << a[i] << "\n  expected: " << e[i];
      return;
    }
  EXPECT_EQ(a.size(), e.size()) << what;
  EXPECT_EQ(actual, expected) << what;
}

std::string file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Answers: the four listings, period, realisations, option 3, subareas, all
// realisations daily, seed.
std::string answers(const std::string& period, int nreal, const std::string& subareas, long seed) {
  return "\n\n\n\n" + period + std::to_string(nreal) + "\n3\n" + subareas + "0\n0\n" + std::to_string(seed) + "\n";
}

}  // namespace

TEST(DailygenRun, WithoutObservationsInThePeriodMatchesThePlainSimulation) {
  TempDir dir;
  Network net;
  write_files(net);
  Observations obs;  // only long before the period
  for (int d = 1; d <= 5; ++d) obs[date_of(1990, 1, d)] = {{0, 2.0}, {1, 0.0}, {2, 1.5}, {3, -1.0}};
  write_data(obs);
  // Subarea 2 switched on: the entire area and subarea 2 are summarised.
  auto r = run_binary("dailygen/dailygen", answers("200011\n200102\n", 2, "2\n", 4711));
  ASSERT_EQ(r.status, 0) << r.output;
  const Expected e = simulate(net, obs, 2000, 11, 2001, 2, 2, 4711, {0, 2});
  expect_same(file("daily.dat"), e.daily, "daily.dat");
  expect_same(file("monthly.dat"), e.monthly, "monthly.dat");
  check_against_daily(file("daily.dat"), file("monthly.dat"));
  // Four months per realisation; the months outside the period are summarised as 0.
  for (const char* month : {"11/2000", "12/2000", " 1/2001", " 2/2001"})
    for (const char* real : {"   1 of    2", "   2 of    2"})
      EXPECT_NE(r.output.find(std::string("     Current month: ") + month + " (realisation " + real + ")"),
                std::string::npos);
  EXPECT_NE(file("monthly.dat").find("  1 2000   0    0.0    0.0    0.0    0.0    0.0    0.0    0.0    0.0    0.0"
                                     "    0.0 "),
            std::string::npos);
}

TEST(DailygenRun, ObservedSiteDaysAreKeptAndTheRestSimulatedConditionally) {
  TempDir dir;
  Network net;
  net.thrkind = 1;  // soft threshold: observations below 0.5 are dry, the others lose 0.5
  net.tau = 0.5;
  write_files(net);
  // December and January observed at the first three gauges, with gaps and missing
  // values; the fourth gauge is never observed; nothing after January.
  Observations obs;
  unsigned state = 17;
  auto next = [&] { return (state = state * 1103515245u + 12345u) >> 16; };
  for (int m : {12, 1})
    for (int d = 1; d <= 31; ++d) {
      const long date = m == 12 ? date_of(1999, 12, d) : date_of(2000, 1, d);
      for (int i = 0; i < 3; ++i) {
        const unsigned k = next() % 10;
        if (k == 0) continue;                                   // no record
        obs[date][i] = k == 1 ? -1.0 : k < 5 ? 0.0 : (next() % 2000) / 100.0;  // missing, dry or wet
      }
    }
  obs[date_of(2000, 1, 10)] = {{0, 0.3}, {1, 0.5}, {2, 12.0}};  // below, at and above the threshold
  write_data(obs);
  auto r = run_binary("dailygen/dailygen", answers("200001\n200002\n", 3, "1\n", 99));
  ASSERT_EQ(r.status, 0) << r.output;
  const Expected e = simulate(net, obs, 2000, 1, 2000, 2, 3, 99, {0, 1});
  expect_same(file("daily.dat"), e.daily, "daily.dat");
  expect_same(file("monthly.dat"), e.monthly, "monthly.dat");
  check_against_daily(file("daily.dat"), file("monthly.dat"));
  EXPECT_NE(file("daily.dat").find("  1 2000  1 10   0.00 0   0.00 0  12.00 0 "), std::string::npos);
}

namespace {

// Correlations of every gauge pair: `strong` between the first gauge and the others,
// `pair` between gauges 2 and 3, 0 otherwise.
void write_correlations(const std::string& name, double strong, double pair) {
  std::ofstream c(name);
  c << "heading\n";
  for (int i = 0; i < NS; ++i)
    for (int j = i + 1; j < NS; ++j) {
      const double r = i == 0 ? strong : (i == 1 && j == 2) ? pair : 0.0;
      char b[16];
      std::snprintf(b, sizeof b, "%7.4f", r);
      c << kCodes[i] << "    " << kCodes[j] << "    " << b << "\n";
    }
}

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(DailygenRun, EveryInvalidAnswerRepeatsItsQuestion) {
  TempDir dir;
  write_files(Network{});
  write_data({});
  const std::string input =
      "\n\n\n\n"
      "abcd\n189912\n200000\n"     // unreadable, before 1900, month 0
      "200102\n200011\n"           // end before start: back to the start
      "200011\nx\n200102\n"        // unreadable end
      "\ntwo\n1000\n2\n"           // realisations: more than daily.dat can number
      "0\n4\na\n3\n"               // output option
      "x\n2\n1\n1\n7\n2\n0\n"      // subareas: toggles, all, toggle 2 off again, done
      "x\n3\n"                     // daily output: unreadable, realisation 3 of 2
      "1\n199901\n199812\n"        // window end before its start
      "1\n199001\n199912\n"        // window outside the period
      "1\n200012\n200101\n"        // accepted
      "0\n-5\nabc\n77\n";          // seed
  auto r = run_binary("dailygen/dailygen", input);
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string& o = r.output;
  EXPECT_EQ(count(o, " Input start year and month (YYYYMM):\n"), 5);
  EXPECT_EQ(count(o, " Er ... perhaps not. Please have another go!\n\n"), 2);
  EXPECT_EQ(count(o, " ****ERROR**** End is before start! Try again.\n"), 1);
  EXPECT_EQ(count(o, " Now input number of simulations/realisations:\n"), 4);
  EXPECT_EQ(count(o, " ****ERROR**** At most 999 realisations fit the output files. Run more as blocks\n"
                     " side by side, each with its own seed (scripts/sim_blocks.sh), and join them\n"
                     " with scripts/sim_merge.sh. Try again.\n"),
            1);
  EXPECT_EQ(count(o, " Now please select an output option:\n"), 4);
  EXPECT_EQ(count(o, " ****ERROR**** Invalid option. Try again.\n"), 2);
  EXPECT_EQ(count(o, "NUMBER  NAME"), 7);  // the unreadable answer shows the menu again
  EXPECT_EQ(count(o, " output is required:\n"), 5);
  EXPECT_EQ(count(o, "\n ****ERROR**** I'm only doing   2 realisations!Please try again.\n"), 1);
  EXPECT_EQ(count(o, "\n ****ERROR**** End period precedes start period. Try again.\n"), 1);
  EXPECT_EQ(count(o, "\n ****ERROR**** Outside requested simulation range. Try again.\n"), 1);
  EXPECT_EQ(count(o, " Input seed for random number generator (integer < 424967291):\n"), 4);
  EXPECT_EQ(count(o, " ****ERROR**** Seed must be positive. Try again.\n"), 2);
  // The menu after "7" (include all) shows both subareas selected.
  EXPECT_NE(o.find("   1    " + std::string("West") + std::string(56, ' ') + "   Y\n   2    East" +
                   std::string(56, ' ') + "   Y\n"),
            std::string::npos);

  // Only realisation 1, December 2000 and January 2001.
  auto days = lines(file("daily.dat"));
  ASSERT_EQ(days.size(), 62u);
  EXPECT_EQ(days.front().substr(0, 15), "  1 2000 12  1 ");
  EXPECT_EQ(days.back().substr(0, 15), "  1 2001  1 31 ");
  const std::string spec = file("mdlspec.txt");
  const std::string options =
      "\n**********************************************************************\n"
      "**********************************************************************\n"
      "**********************************************************************\n\n\n"
      "SIMULATION OPTIONS\n==================\n\n"
      "Simulation runs from month 11/2000 to  2/2001.\n"
      "  2 realisations requested.\n\n\n"
      "Output options selected\n-----------------------\n\n"
      "Summary information for these subareas:\n\n"
      "   0     Whole network" + std::string(47, ' ') + "\n"
      "   1     West" + std::string(56, ' ') + "\n"
      "\nMISCELLANEA\n===========\n\n"
      "Seed for random number generator:         77\n";
  ASSERT_GE(spec.size(), options.size());
  EXPECT_EQ(spec.substr(spec.size() - options.size()), options);
  EXPECT_EQ(spec.substr(0, 21), "\nSUBAREA DEFINITIONS\n");
  EXPECT_NE(spec.find("\n\n\nMODEL DEFINITIONS:\n~~~~~~~~~~~~~~~~~~\n\nTest occurrence"), std::string::npos);
}

TEST(DailygenRun, FaultyInputStopsWithItsMessage) {
  struct Case {
    std::string name;
    std::function<void()> change;  // applied to a good set of files
    std::string input;             // answers
    int status;
    std::string message;
  };
  const std::string dialogue = "\n\n\n\n200001\n200001\n1\n2\n0\n5\n";
  auto set_structure = [](std::string Network::*field, const std::string& line) {
    return [field, line] {
      Network n;
      n.*field = line;
      write_files(n);
    };
  };
  // The good amount model with one line changed.
  auto with_line = [](const std::string& from, const std::string& to) {
    return [from, to] {
      std::string text = file("gammamdl.def");
      text.replace(text.find(from), from.size(), to);
      std::ofstream("gammamdl.def") << text;
    };
  };
  const std::vector<Case> cases = {
      {"input ends inside the dialogue", [] {}, "\n\n\n\n200001\n200001\n", 1,
       " Now input number of simulations/realisations:\n\n"
       "****ERROR**** The input ended before the simulation options were complete.\n"},
      {"no region 0",
       [] {
         std::ofstream r("regions.def");
         for (int i = 1; i <= 19; ++i) r << "h\n";
         r << "    1West\n";
       },
       dialogue, 1, "****ERROR**** Subareas are not consecutive at line 20 of file regions.def"},
      {"different global quantities",
       [] {
         Network n;
         n.thrkind = 2;
         n.tau = 0.3;
         write_files(n);
         std::ofstream a("gammamdl.def");  // the same amounts model without the threshold
         for (int i = 1; i <= 47; ++i) a << "h\n";
         a << "Amounts\n    0    1.0000    0    0    0\n    9    0.8000    0    0    0\n";
       },
       dialogue, 1,
       "\n\n          ****ERROR**** Files logistic.def and gammamdl.def contain\n"
       "          different definitions of `global' quantities.\n"},
      {"constant correlation above 1", set_structure(&Network::occ_structure, "   10    1.2000    2    1    0"),
       dialogue, 1, "spatial\ndependence structure parameters is out of bounds."},
      {"empirical correlation above 1",
       [] {
         Network n;
         n.occ_structure = "   10    0.0000    1    0    0";
         write_files(n);
         std::ofstream c("cor_logi.dat");
         c << "heading\n";
         for (int i = 0; i < NS; ++i)
           for (int j = i + 1; j < NS; ++j)
             c << kCodes[i] << "    " << kCodes[j] << "    " << (i == 0 && j == 2 ? " 1.5000" : " 0.3000") << "\n";
       },
       dialogue, 1, "I don't have a valid spatial correlation between sites"},
      {"Beta-Binomial shape of 0", set_structure(&Network::occ_structure, "   10    0.0000   22    1    0"),
       dialogue, 1, "spatial\ndependence structure parameters is out of bounds."},
      {"amount correlations not positive definite",
       [] {
         Network n;
         n.b0 = 5.0;  // nearly every gauge wet every day
         n.amt_structure = "   10    0.0000    1    0    0";
         write_files(n);
         write_correlations("cor_gamm.dat", 0.9, -0.9);
       },
       dialogue, 1,
       "\n     ****ERROR**** input correlation matrix isn't positive definite.\n     Problem found at "},
      {"latent correlations not positive definite",
       [] {
         Network n;
         n.occ_structure = "   10    0.0000    1    0    0";
         write_files(n);
         write_correlations("cor_logi.dat", 0.9, -0.9);
       },
       dialogue, 1,
       "\n     ****ERROR**** input correlation matrix isn't positive definite.\n     Problem found at "},
      // A predictor that is not a finite number stops the run instead of writing Inf
      // or NaN, or a silently dry gauge: an overflowing amount constant; and at gauge
      // G003 (elevation 1.6, Y 6 km) an occurrence predictor of +Inf - Inf.
      {"amount mean overflows", [] { write_model("gammamdl.def", {"    01.797E+308    0    0    0",
                                                                  "    9    0.8000    0    0    0"}); },
       dialogue, 1,
       "\n****ERROR**** The amounts model (gammamdl.def) gives no finite mean amount at\n"
       "site G001 on  1/ 1/2000: its linear predictor is 0.1797+309.\n"},
      // An amount predictor far below any rain gives a mean that underflows to 0.
      {"amount mean underflows", [] { write_model("gammamdl.def", {"    0-1000.0000    0    0    0",
                                                                   "    9    0.8000    0    0    0"}); },
       dialogue, 1,
       "\n****ERROR**** The amounts model (gammamdl.def) gives no positive mean amount at\n"
       "site G001 on  1/ 1/2000: its linear predictor is -0.1000E+04.\n"},
      {"occurrence predictor not a number",
       [] {
         write_model("logistic.def",
                     {"    0    0.0000    0    0    0", "    11.797E+308    3    0    0", "    1-1.79E+308    2    0    0"});
       },
       dialogue, 1,
       "\n****ERROR**** The occurrence model (logistic.def) gives no finite probability of\n"
       "rain at site G003 on  1/ 1/2000: its linear predictor is NaN.\n"},
      // Values the model file can hold but no simulation can use are named.
      {"gamma shape 0", with_line("    9    0.8000", "    9    0.0000"), dialogue, 1,
       "\n****ERROR**** The dispersion parameter in file gammamdl.def is 0,\n"
       "out of range: the simulation needs a gamma shape from 1E-06 to 1E+06.\n"},
      {"gamma shape 1e-300", with_line("    9    0.8000", "    9  1.0E-300"), dialogue, 1,
       "The dispersion parameter in file gammamdl.def is 1e-300,\n"},
      {"gamma shape 1e10", with_line("    9    0.8000", "    9    1.0E10"), dialogue, 1,
       "The dispersion parameter in file gammamdl.def is 1e+10,\n"},
      {"weather-state increase 1e300",
       set_structure(&Network::occ_structure, "   10  1.0E+300   21    1    0"), dialogue, 1,
       "\n****ERROR**** in file logistic.def, parameter 1 of the spatial dependence structure is 1e+300,\n"
       "out of range: a value of 1.0E8 or more means \"not defined\".\n"},
      {"data out of order in the period",
       [] {
         write_data({});
         std::ofstream d("gaugvals.dat");
         d << "20000105G001  1.00\n20000103G002  1.00\n";
       },
       dialogue, 1, "****ERROR**** input file out of order. Offending date is\n 3/ 1/2000, at site G002.\n"},
      // The date of the last record read successfully: none here.
      {"unreadable data record", [] { std::ofstream("gaugvals.dat") << "20000101G001  x.00\n"; }, dialogue, 1,
       "****ERROR**** while reading input file gaugvals.dat. The last successful access\nwas for data on  0/ 0/   0.\n"},
      {"data after the start, user stops", [] { std::ofstream("gaugvals.dat") << "20000105G001  1.00\n"; },
       dialogue + "n\n", 0, "preceded by 1 totally dry days.\n\n\n\nOK to continue (Y/N, default Y)?\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_files(Network{});
    write_data({});
    c.change();
    auto r = run_binary("dailygen/dailygen", c.input);
    EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << "\n" << r.output;
    EXPECT_EQ(r.output.find("nan"), std::string::npos) << c.name;
  }
}

TEST(DailygenRun, LatentOccurrenceAndAmountCorrelationsReachTheDailyFile) {
  // Wet probability 1/2 at every gauge (all coefficients 0), latent correlation 0.6
  // and cube-root amount correlation 0.5 between every pair. For latent threshold 0
  // the joint wet probability has the closed form 1/4 + asin(rho)/(2 pi).
  TempDir dir;
  Network net;
  net.b0 = net.belev = net.bwet = net.bmean = 0.0;
  net.alag = 0.0;
  // Shape 4 and mean 12 mm: the cube roots stay far from 0, so that neither the
  // redraw of negative values nor the rounding of daily.dat to 0.01 mm truncates them.
  net.nu = 4.0;
  net.a0 = std::log(12.0);
  net.occ_structure = "   10    0.6000    2    1    0";
  net.amt_structure = "   10    0.5000    2    1    0";
  write_files(net);
  write_data({});
  auto r = run_binary("dailygen/dailygen", "\n\n\n\n200001\n200012\n30\n2\n0\n31337\n");
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<std::array<double, NS>> days;
  for (const auto& l : lines(file("daily.dat"))) {
    std::array<double, NS> v{};
    for (int i = 0; i < NS; ++i) v[static_cast<std::size_t>(i)] = std::stod(l.substr(15 + 9 * i, 6));
    days.push_back(v);
  }
  ASSERT_EQ(days.size(), 30u * 366u);
  const double n = static_cast<double>(days.size());
  const double both = 0.25 + std::asin(0.6) / (2.0 * 3.14159265358979323846);
  const double cube_mu = std::cbrt(std::exp(net.a0));
  for (int i = 0; i < NS; ++i) {
    double wet = 0.0;
    for (const auto& d : days) wet += d[static_cast<std::size_t>(i)] > 0.0 ? 1.0 : 0.0;
    EXPECT_NEAR(wet / n, 0.5, 4.0 * std::sqrt(0.25 / n)) << "gauge " << i + 1;
    for (int j = i + 1; j < NS; ++j) {
      double joint = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0, k = 0.0;
      for (const auto& d : days) {
        const double a = d[static_cast<std::size_t>(i)], b = d[static_cast<std::size_t>(j)];
        if (a <= 0.0 || b <= 0.0) continue;
        joint += 1.0;
        const double x = std::cbrt(a) / cube_mu, y = std::cbrt(b) / cube_mu;
        sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y, k += 1.0;
      }
      EXPECT_NEAR(joint / n, both, 4.0 * std::sqrt(both * (1.0 - both) / n)) << "gauges " << i + 1 << ", " << j + 1;
      const double cor = (sxy / k - sx / k * sy / k) / std::sqrt((sxx / k - sx / k * sx / k) * (syy / k - sy / k * sy / k));
      EXPECT_NEAR(cor, 0.5, 0.05) << "gauges " << i + 1 << ", " << j + 1;  // standard error about 0.014
    }
  }
}

TEST(DailygenRun, WeatherStateAndBetaBinomialNumbersOfWetGauges) {
  // Wet probability 1/2 at every gauge. Weather state with theta = 2: the calibration
  // gives odds e and 1/e on wet- and dry-type days, each with probability 1/2, so the
  // number of wet gauges is a half-half mixture of binomials with p = 1/(1 + e^-1) and
  // 1/(1 + e). Beta-Binomial with shape 2: alpha = beta = 1, a uniform number of wet
  // gauges on 0..4. Chi-square bound: qchisq(0.999, 4) = 18.47 (R).
  const double pw = 1.0 / (1.0 + std::exp(-1.0)), pd = 1.0 / (1.0 + std::exp(1.0));
  auto binom = [](double p, int k) {
    const double c[] = {1, 4, 6, 4, 1};
    return c[k] * std::pow(p, k) * std::pow(1 - p, 4 - k);
  };
  struct Case {
    std::string structure;
    std::function<double(int)> prob;
  };
  const Case cases[] = {
      {"   10    2.0000   21    1    0", [&](int k) { return 0.5 * binom(pw, k) + 0.5 * binom(pd, k); }},
      {"   10    2.0000   22    1    0\n   10    0.5000   22    2    0", [](int) { return 0.2; }},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Network net;
    net.b0 = net.belev = net.bwet = net.bmean = 0.0;
    net.occ_structure = c.structure;
    write_files(net);
    write_data({});
    auto r = run_binary("dailygen/dailygen", "\n\n\n\n200001\n200012\n30\n2\n0\n4711\n");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("****ERROR"), std::string::npos);
    EXPECT_EQ(r.output.find("****WARNING"), std::string::npos);
    std::array<double, NS + 1> count{};
    double n = 0.0;
    for (const auto& l : lines(file("daily.dat"))) {
      int wet = 0;
      for (int i = 0; i < NS; ++i) wet += std::stod(l.substr(static_cast<std::size_t>(15 + 9 * i), 6)) > 0.0;
      count[static_cast<std::size_t>(wet)] += 1.0;
      n += 1.0;
    }
    ASSERT_EQ(n, 30.0 * 366.0);
    double chi2 = 0.0;
    for (int k = 0; k <= NS; ++k) {
      const double e = n * c.prob(k);
      chi2 += (count[static_cast<std::size_t>(k)] - e) * (count[static_cast<std::size_t>(k)] - e) / e;
    }
    EXPECT_LT(chi2, 18.47) << c.structure;
  }
}

