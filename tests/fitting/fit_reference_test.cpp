// Fits of the example network through the real data pass and fitting engine,
// against independent reference fits.
//
// Reference values: tests/reference/fit_example/reference_*.csv (R 4.2 glm(),
// binomial logit and Gamma log link; sandwich::vcovCL clustered by day, HC0, see
// the README there). The dependence-adjusted statistics were computed in R 4.2 by
// a separate implementation of the adjustment on the same fits: with A = X'WX,
// U = chol(A), V = A^-1 B A^-1 (B = sum of outer products of daily score totals),
// H = V^-1, C = U^-1 chol(H) (divided by sqrt(moment shape) for amounts),
// beta* = betahat + C (beta0 - betahat), the log-likelihood (amounts: profiled over
// the shape by optimize()) at beta*, and the ratio of the quadratic forms over the
// zero set of beta0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "channels.hpp"
#include "covset.hpp"
#include "effects.hpp"
#include "external.hpp"
#include "files.hpp"
#include "fitdrv.hpp"
#include "iwls.hpp"
#include "test_support.hpp"

using namespace rg;

namespace {

std::string example(const std::string& f) { return std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/" + f; }

struct Fit {
  Model model;
  Array1<double> se{0, MAXPAR, 0.0};
  IwlsResult res;
  std::int64_t n = 0;
  std::string console;
  std::string results;  // the results file
};

// Reads the example network and fits the program's model; with independence the
// spatial structure line of the definition is left out.
Fit fit_example(const FitProgram& prog, bool independence, int maxit = -1) {
  rgtest::TempDir dir;
  for (const char* f : {"siteinfo.def", "gaugvals.dat"}) std::filesystem::copy_file(example(f), f);
  std::ifstream in(example(prog.model_file));
  std::string text, line;
  while (std::getline(in, line))
    if (!(independence && line.rfind("   10", 0) == 0)) text += line + "\n";
  dir.write(prog.model_file, text);

  Fit fit;
  auto r = rgtest::capture([&] {
    covrst();
    extrst();
    install_covariate_texts();
    filchk("gaugvals.dat", 30, STFLAG_INPUT);
    filchk("siteinfo.def", 36, STFLAG_INPUT);
    filchk(prog.model_file, 42, STFLAG_INPUT);
    filchk("fit.res", 60, STFLAG_OUTPUT);
    SiteTable sites;
    sitedef(36, "siteinfo.def", sites);
    mdlset(42, prog.model_file, prog.rsptyp, 0, sites, fit.model);
    attrxfm(fit.model, sites, 0);
    txtset(fit.model, sites.attnam);
    const int m = fit.model.npar();
    int chdes = 85, chfit = 85;
    scropn("DIRECT", "UNFORMATTED", design_record_length(m), chdes);
    scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, chfit);
    fit.n = datapass(prog, fit.model, sites, thresholds_of(fit.model), m, chdes);
    Array2<double> setheta(1, MAXPAR, 1, MAXNLP, 0.0);
    fit.res = iwls(prog.rsptyp, fit.model, m, fit.n, sites.nsites, MAXSIT, MAXPAR, fit.se, setheta, maxit, chdes,
                   chfit, 60, sites.attnam, nullptr);
  });
  channels().close_all();
  EXPECT_FALSE(r.ended) << r.output;
  fit.console = r.output;
  fit.results = dir.read("fit.res");
  return fit;
}

struct Reference {
  std::vector<double> coef, se, se_cluster;
  std::map<std::string, double> scalars;
};

Reference reference(const std::string& model) {
  Reference ref;
  for (const auto& row : rgtest::read_csv(example("reference_coefficients.csv"))) {
    if (row[0] != "\"" + model + "\"") continue;
    ref.coef.push_back(std::stod(row[2]));
    ref.se.push_back(std::stod(row[3]));
    ref.se_cluster.push_back(std::stod(row[4]));
  }
  for (const auto& row : rgtest::read_csv(example("reference_scalars.csv"))) {
    std::string name = row[0].substr(1, row[0].size() - 2);
    ref.scalars[name] = std::stod(row[1]);
  }
  return ref;
}

void expect_estimates(const Fit& fit, const Reference& ref, const std::vector<double>& se) {
  ASSERT_EQ(fit.model.npar() + 1, static_cast<int>(ref.coef.size()));
  for (std::size_t j = 0; j < ref.coef.size(); ++j) {
    EXPECT_NEAR(fit.model.beta(static_cast<int>(j)), ref.coef[j], 1e-6) << "coefficient " << j;
    EXPECT_NEAR(fit.se(static_cast<int>(j)) / se[j], 1.0, 1e-4) << "standard error " << j;
  }
}

}  // namespace

TEST(FitReference, OccurrenceIndependence) {
  Fit fit = fit_example(occurrence_program(), true);
  Reference ref = reference("occ");
  EXPECT_EQ(fit.n, static_cast<std::int64_t>(ref.scalars["occ_N"]));
  expect_estimates(fit, ref, ref.se);
  EXPECT_NEAR(fit.res.loglik, ref.scalars["occ_loglik"], 1e-6);
  EXPECT_NEAR(fit.res.deviance, ref.scalars["occ_deviance"], 1e-5);
  EXPECT_NEAR(fit.res.lr, ref.scalars["occ_LR"], 1e-5);
  EXPECT_DOUBLE_EQ(fit.model.nu, -1.0);
  EXPECT_NEAR(fit.res.maxscore, 0.0, 1e-4);
}

TEST(FitReference, OccurrenceDayClusteredSandwich) {
  Fit fit = fit_example(occurrence_program(), false);
  Reference ref = reference("occ");
  expect_estimates(fit, ref, ref.se_cluster);
  EXPECT_EQ(fit.res.ndays, 2921);  // days with at least one record (R: distinct days of the design)
  EXPECT_NEAR(fit.res.lradj, 2029.60656625, 1e-4);
  EXPECT_NEAR(fit.res.lrscale, 1.0, 1e-12);  // all initial coefficients are zero
  EXPECT_NE(fit.console.find("     Dependence-adjusted LR statistic -                2029.6066"), std::string::npos);
}

TEST(FitReference, AmountsIndependence) {
  Fit fit = fit_example(amount_program(), true);
  Reference ref = reference("amt");
  EXPECT_EQ(fit.n, static_cast<std::int64_t>(ref.scalars["amt_N"]));
  expect_estimates(fit, ref, ref.se);
  EXPECT_NEAR(fit.res.nu_moment / ref.scalars["amt_moment_nu"], 1.0, 1e-5);
  EXPECT_NEAR(fit.res.nu_ml / ref.scalars["amt_ml_nu"], 1.0, 1e-5);
  EXPECT_NEAR(fit.model.nu / ref.scalars["amt_moment_nu"], 1.0, 1e-5);  // the moment estimate is kept
  EXPECT_NEAR(fit.res.loglik, ref.scalars["amt_loglik_less_sumlogy"], 1e-5);
}

TEST(FitReference, AmountsDayClusteredSandwich) {
  Fit fit = fit_example(amount_program(), false);
  Reference ref = reference("amt");
  expect_estimates(fit, ref, ref.se_cluster);
  EXPECT_NEAR(fit.res.lradj, 207.648524945, 1e-4);
  EXPECT_NEAR(fit.res.lrscale, 0.930935338277, 1e-8);
  EXPECT_NE(fit.console.find("        vector contained zeroes: scale factor was        0.93094"), std::string::npos);
}

TEST(FitReference, IterationLimitZeroEvaluatesTheInitialValues) {
  Fit fit = fit_example(amount_program(), true, 0);
  EXPECT_EQ(fit.res.iterations, 0);
  EXPECT_DOUBLE_EQ(fit.res.lr, 0.0);
  EXPECT_DOUBLE_EQ(fit.model.beta(0), 1.5);
  EXPECT_EQ(fit.console.find("Beginning iteration"), std::string::npos);
  EXPECT_NE(fit.results.find("     Iteration    0: Log-likelihood=    -15034.019\n"), std::string::npos);
  EXPECT_NE(fit.results.find("     Results after   0 iterations:\n"), std::string::npos);
  EXPECT_NE(fit.results.find("     Likelihood ratio statistic (initial vs final) -      0.0000\n"), std::string::npos);
  EXPECT_NE(fit.results.find("\n\n\n\n\n     ****WARNING**** Reached maximum number of iterations.\n"),
            std::string::npos);
}

// Stopped at the initial values, which hold zeros, both quadratic forms of the
// secondary adjustment vanish: the run says the scale is undefined, not 1.
TEST(FitReference, SecondaryAdjustmentAtTheInitialValuesIsUndefined) {
  Fit fit = fit_example(occurrence_program(), false, 0);
  EXPECT_TRUE(std::isnan(fit.res.lrscale));
  EXPECT_DOUBLE_EQ(fit.res.lradj, 0.0);
  const std::string said =
      "     Dependence-adjusted LR statistic -                   0.0000\n"
      "        NB secondary adjustment for hypothesis testing\n"
      "        (initial coefficient vector contained zeroes)\n"
      "        is undefined (0/0) and was not applied.\n";
  EXPECT_NE(fit.console.find(said), std::string::npos) << fit.console;
  EXPECT_NE(fit.results.find(said), std::string::npos);
  EXPECT_EQ(fit.results.find("scale factor was"), std::string::npos);
}

TEST(FitReference, ResultsFileCarriesTheIterationsAndTheSummary) {
  Fit fit = fit_example(amount_program(), true);
  auto lines = rgtest::lines(fit.results);
  auto at = std::find(lines.begin(), lines.end(), "     Results after   6 iterations:");
  ASSERT_NE(at, lines.end()) << fit.results;
  const std::vector<std::string> expect = {
      "     Results after   6 iterations:",
      "     Log-likelihood -                 -14837.683",
      "     Deviance -                        13112.612",
      "     Largest standardised score -        -0.0000  (parameter   5)",
      "     Number of observations -               8488",
      "     No. of parameters estimated -             5",
      "     Residual degrees of freedom -          8483",
      "     Dispersion parameter (NU) -  0.743057 (ML estimate is  0.771998)",
      "     Likelihood ratio statistic (initial vs final) -    392.6725",
      "",
      "",
      ""};
  for (std::size_t i = 0; i < expect.size(); ++i) EXPECT_EQ(at[static_cast<std::ptrdiff_t>(i)], expect[i]);
  EXPECT_EQ(fit.results.find("Reached maximum"), std::string::npos);
  EXPECT_EQ(fit.results.find("     Iteration    0: Log-likelihood=    -15034.019\n"), 0u);
}
