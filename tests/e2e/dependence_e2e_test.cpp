// The dependence step of both fitting programs on the example network (example/,
// as shipped: constant inter-site correlation). Amounts: every pair of cor_gamm.dat
// against a plain two-pass recomputation of the Anscombe-ratio correlation from
// the residual listing written by the same run. Occurrence: every pair of
// cor_logi.dat against tests/reference/latent/latent_reference.csv, made by
// latent_reference.R there (R 4.2: uniroot on the mean bivariate orthant
// probability, evaluated by Plackett's identity and Gauss-Legendre quadrature, from
// res_logi.dat of the same network). Both: the fitted constant correlation is the
// count-weighted mean of the file, reported, written into the .de2, and read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>

#include "test_support.hpp"

using namespace rgtest;

namespace {

void copy_example_network(const std::string& model) {
  const std::string answers = std::string("answers_") + (model == "logistic.def" ? "occmodel" : "amtmodel") + ".txt";
  for (const std::string& f : {std::string("siteinfo.def"), std::string("gaugvals.dat"), model, answers})
    std::filesystem::copy_file(std::string(RAINGLM_TRENTINO_DIR) + "/" + f, f,
                               std::filesystem::copy_options::overwrite_existing);
}

struct PairLine {
  std::string s1, s2;
  double r;
  long n;
};

std::vector<PairLine> read_pairs(const std::string& text) {
  std::vector<PairLine> out;
  auto ls = lines(text);
  EXPECT_EQ(ls.at(0), "Site1  Site2  Corr      N   Xsep    Ysep ");
  for (std::size_t i = 1; i < ls.size(); ++i)
    out.push_back({ls[i].substr(0, 4), ls[i].substr(8, 4), std::stod(ls[i].substr(16, 7)), std::stol(ls[i].substr(24, 5))});
  return out;
}

double weighted_mean(const std::vector<PairLine>& pairs) {
  double sn = 0, snr = 0;
  for (const auto& p : pairs)
    if (p.n > 0) {
      sn += static_cast<double>(p.n);
      snr += static_cast<double>(p.n) * p.r;
    }
  return snr / sn;
}

// The structure parameter of the final report and of the .de2, and the one the
// program reports when it reads the .de2 back as its definition.
void check_structure_parameter(const std::string& program, const std::string& model, const std::string& output,
                               double expected, const TempDir& dir) {
  const std::string label = "          Inter-site correlation        : ";
  const auto at = output.rfind(label);
  ASSERT_NE(at, std::string::npos);
  const double reported = std::stod(output.substr(at + label.size(), 10));
  EXPECT_NEAR(reported, expected, 1e-4);
  const std::string de2_name = model.substr(0, model.size() - 4) + ".de2";
  const auto de2 = lines(dir.read(de2_name));
  double written = NAN;
  for (const auto& l : de2)
    if (l.rfind("   10", 0) == 0) written = std::stod(l.substr(5, 10));
  EXPECT_EQ(written, reported);
  std::filesystem::remove_all("again");
  std::filesystem::create_directory("again");
  for (const char* f : {"siteinfo.def", "gaugvals.dat"}) std::filesystem::copy_file(f, std::string("again/") + f);
  std::filesystem::copy_file(de2_name, "again/" + model);
  std::filesystem::current_path("again");
  auto r = run_binary(program, "N\n");
  std::filesystem::current_path("..");
  EXPECT_EQ(r.status, 0) << r.output;
  const auto first = r.output.find(label);
  ASSERT_NE(first, std::string::npos) << r.output;
  EXPECT_EQ(std::stod(r.output.substr(first + label.size(), 10)), written);
}

TEST(DependenceRun, AmountCorrelationsMatchARecomputationFromTheListing) {
  TempDir dir;
  copy_example_network("gammamdl.def");
  auto r = run_binary("amtmodel/amtmodel", dir.read("answers_amtmodel.txt"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("     Iteration complete - now computing spatial dependence structure ..."), std::string::npos);
  // Anscombe ratios by site and date from the listing.
  std::map<std::string, std::map<std::string, double>> v;
  auto listing = lines(dir.read("res_gamm.dat"));
  for (std::size_t i = 1; i < listing.size(); ++i) {
    const std::string& l = listing[i];
    v[l.substr(0, 4)][l.substr(5, 14)] = std::cbrt(std::stod(l.substr(20, 8)) / std::stod(l.substr(30, 8)));
  }
  const auto pairs = read_pairs(dir.read("cor_gamm.dat"));
  ASSERT_EQ(pairs.size(), 190u);
  for (const auto& p : pairs) {
    std::vector<double> a, b;
    for (const auto& [date, x] : v[p.s1])
      if (auto it = v[p.s2].find(date); it != v[p.s2].end()) {
        a.push_back(x);
        b.push_back(it->second);
      }
    const double n = static_cast<double>(a.size());
    double ma = 0, mb = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      ma += a[k] / n;
      mb += b[k] / n;
    }
    double saa = 0, sbb = 0, sab = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      saa += (a[k] - ma) * (a[k] - ma);
      sbb += (b[k] - mb) * (b[k] - mb);
      sab += (a[k] - ma) * (b[k] - mb);
    }
    SCOPED_TRACE(p.s1 + " " + p.s2);
    EXPECT_EQ(p.n, static_cast<long>(a.size()));
    // Printed to 4 decimals; the listing's fitted values carry 4 decimals too.
    EXPECT_NEAR(p.r, sab / std::sqrt(saa * sbb), 0.5e-4 + 2e-6);
  }
  check_structure_parameter("amtmodel/amtmodel", "gammamdl.def", r.output, weighted_mean(pairs), dir);
}

TEST(DependenceRun, LatentCorrelationsMatchAnIndependentRootFinder) {
  TempDir dir;
  copy_example_network("logistic.def");
  auto r = run_binary("occmodel/occmodel", dir.read("answers_occmodel.txt"));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("          --- Sites B857 and T147 ---\n"), std::string::npos);
  const auto pairs = read_pairs(dir.read("cor_logi.dat"));
  const auto ref = read_csv(reference("latent/latent_reference.csv"));
  ASSERT_EQ(pairs.size(), ref.size());
  for (std::size_t k = 0; k < ref.size(); ++k) {
    SCOPED_TRACE(pairs[k].s1 + " " + pairs[k].s2);
    EXPECT_EQ(pairs[k].s1, ref[k][0]);
    EXPECT_EQ(pairs[k].s2, ref[k][1]);
    EXPECT_EQ(pairs[k].n, std::stol(ref[k][2]));
    // The search stops once the frequency is matched to tau or the bracket is
    // narrower than tau: the root lies within tau / slope or tau of the result.
    const double tau = std::stod(ref[k][5]), slope = std::stod(ref[k][6]);
    EXPECT_NEAR(pairs[k].r, std::stod(ref[k][4]), 1.1 * std::max(tau / slope, tau) + 1e-4);
  }
  check_structure_parameter("occmodel/occmodel", "logistic.def", r.output, weighted_mean(pairs), dir);
}

}  // namespace

namespace {

// The example network with distance-decaying structures (occurrence 4, amounts 3),
// its co-ordinates once in kilometres and once in metres: the same correlation
// files, decay rates 1000 times smaller that the .de2 keeps (in exponent form) and
// that the programs read back, and the same simulation. Before, the metre fit
// stopped at its start and both rates were written as 0.0000, which the simulation
// takes as correlation 1 between every pair of gauges.
TEST(DependenceRun, MetreCoordinatesGiveTheFitAndSimulationOfKilometres) {
  TempDir dir;
  struct Run {
    std::string cor_logi, cor_gamm, monthly, report;
    double phi_occ = NAN, a_occ = NAN, phi_amt = NAN;
  } run[2];
  for (int unit = 0; unit < 2; ++unit) {
    const std::string sub = unit == 0 ? "km" : "m";
    std::filesystem::create_directory(sub);
    std::filesystem::current_path(sub);
    for (const char* f : {"siteinfo.def", "gaugvals.dat", "regions.def", "answers_dailygen.txt"})
      std::filesystem::copy_file(std::string(RAINGLM_TRENTINO_DIR) + "/" + f, f);
    std::string out;
    int after = -1;  // lines after "Gauges:": a name line, then code, region, X, Y, elevation
    for (std::string line : lines(dir.read(sub + "/siteinfo.def"))) {
      if (after >= 0 && ++after % 2 == 0 && unit == 1) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%10.3f%10.3f", 1000 * std::stod(line.substr(9, 10)),
                      1000 * std::stod(line.substr(19, 10)));
        line = line.substr(0, 9) + buf + line.substr(29);
      }
      if (line.rfind("Gauges:", 0) == 0) after = 0;
      out += line + "\n";
    }
    dir.write(sub + "/siteinfo.def", out);
    auto with_structure = [&](const std::string& file, const std::string& lines10) {
      std::ifstream in(std::string(RAINGLM_TRENTINO_DIR) + "/" + file);
      std::stringstream all;
      all << in.rdbuf();
      std::string text;
      for (const std::string& l : lines(all.str()))
        if (l.rfind("   10", 0) != 0) text += l + "\n";
      dir.write(sub + "/" + file, text + lines10);
    };
    with_structure("logistic.def", "   10    0.1000    4    1    0\n   10    0.0000    4    2    0\n");
    with_structure("gammamdl.def", "   10    0.1000    3    1    0\n");
    auto occ = run_binary("occmodel/occmodel", "Y\n\nN\n");
    ASSERT_EQ(occ.status, 0) << occ.output;
    auto amt = run_binary("amtmodel/amtmodel", "Y\n\nN\n");
    ASSERT_EQ(amt.status, 0) << amt.output;
    Run& r = run[unit];
    for (const std::string& l : lines(dir.read(sub + "/logistic.de2"))) {
      if (l.rfind("   10", 0) != 0) continue;
      (l.substr(20, 5) == "    1" ? r.phi_occ : r.a_occ) = std::stod(l.substr(5, 10));
    }
    for (const std::string& l : lines(dir.read(sub + "/gammamdl.de2")))
      if (l.rfind("   10", 0) == 0) r.phi_amt = std::stod(l.substr(5, 10));
    // The correlations and counts (the co-ordinate differences differ, of course).
    for (const std::string& l : lines(dir.read(sub + "/cor_logi.dat"))) r.cor_logi += l.substr(0, 29) + "\n";
    for (const std::string& l : lines(dir.read(sub + "/cor_gamm.dat"))) r.cor_gamm += l.substr(0, 29) + "\n";
    std::filesystem::rename("logistic.de2", "logistic.def");
    std::filesystem::rename("gammamdl.de2", "gammamdl.def");
    auto sim = run_binary("dailygen/dailygen", dir.read(sub + "/answers_dailygen.txt"));
    ASSERT_EQ(sim.status, 0) << sim.output;
    r.monthly = dir.read(sub + "/monthly.dat");
    // The simulation's copy of the occurrence report shows the parameter read back.
    r.report = sim.output;
    std::filesystem::current_path("..");
  }
  EXPECT_EQ(run[0].cor_logi, run[1].cor_logi);
  EXPECT_EQ(run[0].cor_gamm, run[1].cor_gamm);
  ASSERT_GT(run[1].phi_occ, 0.0);
  ASSERT_GT(run[1].phi_amt, 0.0);
  EXPECT_NEAR(run[1].phi_occ * 1000 / run[0].phi_occ, 1.0, 1e-4);
  EXPECT_NEAR(run[1].phi_amt * 1000 / run[0].phi_amt, 1.0, 1e-4);
  EXPECT_NEAR(run[1].a_occ, run[0].a_occ, 1e-4);
  char shown[16];
  std::snprintf(shown, sizeof shown, "%.3E", run[1].phi_occ);  // d.dddE-xx: the digits of .ddddE-xx
  const std::string digits = std::string(shown).substr(0, 1) + std::string(shown).substr(2, 3);
  EXPECT_NE(run[1].report.find("Correlation decay rate, phi   : ." + digits), std::string::npos) << run[1].report;
  EXPECT_EQ(run[0].monthly, run[1].monthly);
}

}  // namespace
