// Both fitting programs on the real example network (example/: 20 Trentino gauges,
// 1995-2004), run as shipped (day-clustered sandwich standard errors, spatial
// structure 2) and with the spatial structure line removed (usual standard errors).
// The printed results are checked against independent fits in R 4.2 (base R glm on
// the design rebuilt from the raw files; sandwich, gamma shape and adjusted LR by
// hand): tests/reference/trentino/reference_*.csv, made by reference_fit.R there.
// Tolerances are those of the printed precision: half a unit of the last printed
// decimal plus a small margin for the convergence of the fits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "test_support.hpp"

using namespace rgtest;

namespace {

std::string example_file(const std::string& f) { return std::string(RAINGLM_TRENTINO_DIR) + "/" + f; }

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A number printed in a fixed field; nullopt for asterisks or anything else that
// is not entirely a number.
std::optional<double> field(const std::string& line, std::size_t col, std::size_t width) {
  if (line.size() < col + width) return std::nullopt;
  std::string s = line.substr(col, width);
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str()) return std::nullopt;
  while (*end == ' ') ++end;
  if (*end != '\0') return std::nullopt;
  return v;
}

struct Reference {
  std::vector<double> coef, se, se_cluster;
  std::map<std::string, double> scalars;
};

Reference reference_of(const std::string& model, std::size_t nterms) {
  Reference ref;
  for (const auto& row : read_csv(reference("trentino/reference_coefficients.csv"))) {
    if (row.at(0) != model) continue;
    ref.coef.push_back(std::stod(row.at(2)));
    ref.se.push_back(std::stod(row.at(3)));
    ref.se_cluster.push_back(std::stod(row.at(4)));
  }
  for (const auto& row : read_csv(reference("trentino/reference_scalars.csv")))
    if (row.at(0).rfind(model + "_", 0) == 0) ref.scalars[row.at(0).substr(model.size() + 1)] = std::stod(row.at(1));
  EXPECT_EQ(ref.coef.size(), nterms);
  return ref;
}

struct Printed {
  std::vector<double> coef, se;  // final estimates in covariate order (0 = constant)
  std::string text;              // the whole results file
};

// The final estimates and standard errors of the results file: coefficient in
// columns 56-65, standard error in columns 66-74 of the estimate lines.
Printed parse_results(const std::string& text) {
  Printed p;
  p.text = text;
  auto at = text.find("Final parameter estimates:");
  if (at == std::string::npos) return p;
  for (const auto& l : lines(text.substr(at))) {
    if (l.rfind("Global quantities:", 0) == 0 || l.rfind("Spatial dependence", 0) == 0) break;
    auto c = field(l, 55, 10);
    auto s = field(l, 65, 9);
    if (c && s) {
      p.coef.push_back(*c);
      p.se.push_back(*s);
    }
  }
  return p;
}

// The number printed after a label in the results file (the rest of the line).
std::optional<double> after(const std::string& text, const std::string& label) {
  auto at = text.find(label);
  if (at == std::string::npos) return std::nullopt;
  at += label.size();
  auto eol = text.find('\n', at);
  std::string rest = text.substr(at, eol - at);
  return field(rest, 0, rest.size());
}

// Runs a fitting program on the example network in a fresh directory, with the
// shipped answers; independence drops the spatial structure line of the model.
Printed run_fit(const std::string& program, const std::string& model_file, const std::string& results,
                bool independence) {
  TempDir dir;
  for (const char* f : {"siteinfo.def", "gaugvals.dat"})
    std::filesystem::copy_file(example_file(f), f);
  std::string def;
  for (const auto& l : lines(slurp(example_file(model_file))))
    if (!(independence && l.rfind("   10", 0) == 0)) def += l + "\n";
  dir.write(model_file, def);
  auto r = run_binary(program + "/" + program, slurp(example_file("answers_" + program + ".txt")));
  EXPECT_EQ(r.status, 0) << r.output;
  return parse_results(dir.read(results));
}

void expect_estimates(const Printed& p, const Reference& ref, const std::vector<double>& se) {
  ASSERT_EQ(p.coef.size(), ref.coef.size()) << p.text;
  for (std::size_t j = 0; j < ref.coef.size(); ++j) {
    EXPECT_NEAR(p.coef[j], ref.coef[j], 1.5e-6) << "coefficient " << j;  // 6 decimals printed
    EXPECT_NEAR(p.se[j], se[j], 0.51e-4) << "standard error " << j;      // 4 decimals printed
  }
}

// Summary lines shared by both structures: N, log-likelihood, LR against the initial values.
void expect_summary(const Printed& p, const Reference& ref) {
  EXPECT_EQ(after(p.text, "     Number of observations -").value_or(-1.0), ref.scalars.at("N"));
  auto ll = after(p.text, "     Log-likelihood -");
  ASSERT_TRUE(ll);
  EXPECT_NEAR(*ll, ref.scalars.at("loglik"), 0.51e-3);
  auto dev = after(p.text, "     Deviance -");
  ASSERT_TRUE(dev);
  EXPECT_NEAR(*dev, ref.scalars.at("deviance"), 0.51e-3);
  auto lr = after(p.text, "     Likelihood ratio statistic (initial vs final) -");
  ASSERT_TRUE(lr);
  EXPECT_NEAR(*lr, ref.scalars.at("LR"), 0.6e-4);
}

void expect_adjusted_lr(const Printed& p, const Reference& ref) {
  auto adj = after(p.text, "     Dependence-adjusted LR statistic -");
  ASSERT_TRUE(adj) << p.text;
  // The amount fit stops on the log-likelihood change, about 2e-8 from the optimum
  // in the coefficients, which moves this statistic by about 1e-5.
  EXPECT_NEAR(*adj, ref.scalars.at("LR_adjusted"), 1e-4);
  auto scale = after(p.text, "        vector contained zeroes: scale factor was");
  ASSERT_TRUE(scale);
  EXPECT_NEAR(*scale, ref.scalars.at("LR_scale"), 0.6e-5);
}

void expect_dispersion(const Printed& p, const Reference& ref) {
  // "Dispersion parameter (NU) - " moment estimate, 9 columns, " (ML estimate is " ML, 9 columns, ")"
  auto at = p.text.find("     Dispersion parameter (NU) - ");
  ASSERT_NE(at, std::string::npos) << p.text;
  std::string l = p.text.substr(at, p.text.find('\n', at) - at);
  auto moment = field(l, 33, 9);
  auto ml = field(l, 59, 9);
  ASSERT_TRUE(moment && ml) << l;
  EXPECT_NEAR(*moment, ref.scalars.at("nu_moment"), 0.6e-6);
  EXPECT_NEAR(*ml, ref.scalars.at("nu_ml"), 0.6e-6);
}

}  // namespace

TEST(TrentinoFit, OccurrenceWithDayClusteredErrors) {
  Reference ref = reference_of("occ", 9);
  Printed p = run_fit("occmodel", "logistic.def", "logistic.res", false);
  expect_estimates(p, ref, ref.se_cluster);
  expect_summary(p, ref);
  expect_adjusted_lr(p, ref);
}

TEST(TrentinoFit, OccurrenceIndependence) {
  Reference ref = reference_of("occ", 9);
  Printed p = run_fit("occmodel", "logistic.def", "logistic.res", true);
  expect_estimates(p, ref, ref.se);
  expect_summary(p, ref);
  EXPECT_EQ(p.text.find("Dependence-adjusted"), std::string::npos);
}

TEST(TrentinoFit, AmountWithDayClusteredErrors) {
  Reference ref = reference_of("amt", 6);
  Printed p = run_fit("amtmodel", "gammamdl.def", "gammamdl.res", false);
  expect_estimates(p, ref, ref.se_cluster);
  expect_summary(p, ref);
  expect_dispersion(p, ref);
  expect_adjusted_lr(p, ref);
}

TEST(TrentinoFit, AmountIndependence) {
  Reference ref = reference_of("amt", 6);
  Printed p = run_fit("amtmodel", "gammamdl.def", "gammamdl.res", true);
  expect_estimates(p, ref, ref.se);
  expect_summary(p, ref);
  expect_dispersion(p, ref);
  EXPECT_EQ(p.text.find("Dependence-adjusted"), std::string::npos);
}
