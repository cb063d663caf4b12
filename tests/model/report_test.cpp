// Descriptions (txtset) and the model report (chkmdl) in its three modes, compared
// line by line and column by column with the layouts written out by hand here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channels.hpp"
#include "files.hpp"
#include "model.hpp"
#include "model_files.hpp"
#include "sites.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;
using namespace modeltest;

namespace {

// Text left-justified in n columns, cut at n.
std::string P(const std::string& s, int n) {
  return s.size() >= static_cast<size_t>(n) ? s.substr(0, n) : s + std::string(n - s.size(), ' ');
}
std::string sp(int n) { return std::string(n, ' '); }
std::string rep(char c, int n) { return std::string(n, c); }

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

// Reads a model file (and the site table) as the fitting programs do, then builds
// the descriptions.
Model load(const std::string& text, const SiteTable& sites, int rsptyp = RSP_AMOUNT) {
  rgtest::TempDir dir;
  dir.write("model.def", text);
  Model m;
  auto r = capture([&] {
    filchk("model.def", 42, STFLAG_INPUT);
    mdlset(42, "model.def", rsptyp, 0, sites, m);
  });
  channels().close_all();
  EXPECT_FALSE(r.ended) << r.output;
  txtset(m, sites.attnam);
  return m;
}

struct Printed {
  rgtest::Outcome outcome;
  std::string file;  // contents of the results file
};

Printed report(const Model& m, const SiteTable& sites, int mode, int rsptyp = RSP_AMOUNT,
               const std::string& answer = "\n", const Array1<double>* se = nullptr,
               const Array2<double>* seth = nullptr) {
  rgtest::TempDir dir;
  Printed p;
  filchk("results.res", 60, STFLAG_OUTPUT);
  p.outcome = capture(
      [&] {
        if (se) chkmdl(m, *se, *seth, sites.attnam, mode, rsptyp);
        else chkmdl(m, sites.attnam, mode, rsptyp);
      },
      answer);
  channels().close_all();
  p.file = dir.read("results.res");
  return p;
}

const std::string kTitle = "Full model - every component type  (test)";
const std::string kMonthly = "Monthly seasonal effect, cosine component";  // 41 characters
const std::string kDaily = "Daily seasonal effect, cosine component";
const std::string kStructure4 = "Thresholded exp. corr. fn: a + (1-a)exp[-phi*d] for Anscombe residuals";

std::string coef(const std::string& text, const std::string& value) { return P(text, 53) + "  " + value; }

}  // namespace

TEST(Txtset, DescriptionsOfTheFullModel) {
  SiteTable sites = three_sites();
  Model m = load(full_model(), sites);
  EXPECT_EQ(m.covtxt(0), P("Constant", 70));
  EXPECT_EQ(m.covtxt(1), P("Elevation (m)", 70));
  EXPECT_EQ(m.covtxt(4), P("Trend  1 - Linear (0.1 per year) after year Y", 70));
  EXPECT_EQ(m.covtxt(6), P(kMonthly, 70));
  EXPECT_EQ(m.covtxt(8), P(kDaily, 70));
  // Interactions have no description of their own.
  EXPECT_EQ(m.covtxt(13), sp(70));
  EXPECT_EQ(m.partxt(2, 1), P("Lower limit for Fourier representation", 70));
  EXPECT_EQ(m.partxt(2, 2), P("Upper limit for Fourier representation", 70));
  EXPECT_EQ(m.partxt(2, 3), P("NOT USED", 70));
  EXPECT_EQ(m.partxt(3, 1), P("Parameter of transformation", 70));
  EXPECT_EQ(m.partxt(4, 1), P("Date of changepoint (year)", 70));
  EXPECT_EQ(m.partxt(4, 2), P("NOT USED", 70));
  EXPECT_EQ(m.partxt(10, 1), P("Exponential decay rate", 70));
  EXPECT_EQ(m.partxt(10, 2), P("NOT USED", 70));
  EXPECT_EQ(m.partxt(11, 1), sp(70));  // not the holder of the scheme's parameters
  EXPECT_EQ(m.partxt(1, 1), sp(70));
  EXPECT_EQ(m.glbtxt(1), P("Trace threshold", 70));
  // Without the covariate module's builders the previous-day and external texts are
  // plain labels.
  EXPECT_EQ(m.covtxt(9), P("Y[t-1] (previous-day code 3)", 70));
  EXPECT_EQ(m.covtxt(5), P("Lag  -2: External annual predictor 3", 70));
  EXPECT_EQ(m.covtxt(7), P("External monthly predictor 2", 70));
  EXPECT_EQ(m.covtxt(12), P("Lag  -1: External daily predictor 1", 70));
}

TEST(Txtset, VocabularyTablesAndUnknownCodes) {
  SiteTable sites = three_sites();
  Model m = load(constant() + comp(1, "0.1", 1, 3) + comp(1, "0.1", 3, 31) + comp(1, "0.1", 2, 2) +
                     comp(2, "0.1", 3) + comp(2, "0.1", 1) + comp(2, "0.1", 7) +
                     comp(3, "0.1", 13) + comp(3, "0.1", 4) + comp(3, "0.1", 9) +
                     comp(4, "0.1", 42) + comp(4, "0.1", 10) + comp(4, "0.1", 24) + comp(4, "0.1", 1, 31) +
                     comp(4, "0.1", 30) + comp(8, "0.1", 1, 3),
                 sites);
  EXPECT_EQ(m.covtxt(1), P("X co-ordinate", 70));
  EXPECT_EQ(m.partxt(1, 1), P("Location parameter", 70));
  EXPECT_EQ(m.partxt(1, 2), P("Scale parameter", 70));
  EXPECT_EQ(m.partxt(2, 1), P("Lower limit for polynomial representation", 70));
  EXPECT_EQ(m.partxt(2, 2), P("Upper limit for polynomial representation", 70));
  EXPECT_EQ(m.partxt(3, 1), P("Value of a", 70));
  EXPECT_EQ(m.covtxt(4), P("Trend  1 - Cyclical", 70));
  EXPECT_EQ(m.partxt(4, 1), P("Cycle length (years)", 70));
  EXPECT_EQ(m.partxt(4, 2), P("Date of cycle minimum", 70));
  EXPECT_EQ(m.partxt(4, 3), P("NOT USED", 70));
  EXPECT_EQ(m.covtxt(5), P("Trend  2 - Linear (0.1 per year, 0 in 1950)", 70));
  EXPECT_EQ(m.covtxt(6), P("Trend  3 - ", 70));  // undefined trend code: no text
  EXPECT_EQ(m.covtxt(7), P("March indicator", 70));
  EXPECT_EQ(m.covtxt(8), P("Monthly half-year cycle, sine component", 70));
  EXPECT_EQ(m.covtxt(9), sp(70));
  EXPECT_EQ(m.covtxt(10), P("Smooth December effect", 70));
  EXPECT_EQ(m.covtxt(11), P("Y[t-10]", 70));
  EXPECT_EQ(m.covtxt(12), P("Daily half-year cycle, sine component", 70));
  EXPECT_EQ(m.covtxt(13), P("Y[t-1] (previous-day code 31)", 70));
  EXPECT_EQ(m.partxt(13, 1), sp(70));  // scheme 3 without a parameter line: no holder
  EXPECT_EQ(m.covtxt(14), sp(70));
  EXPECT_EQ(m.glbtxt(1), P("`Hard' threshold for +ve values", 70));
}

TEST(Txtset, ShiftedSchemeParameterTextsNameTheCoordinates) {
  SiteTable sites = three_sites();
  sites.attnam(1) = "Easting of the gauge in kilometres from the western edge of the grid";  // 68
  Model m = load(constant() + comp(4, "0.1", 1, 31) + comp(7, "0.5", 1, 1) + comp(8, "0.1", 1, 2), sites);
  EXPECT_EQ(m.partxt(1, 1), P("Offset for Easting of the gauge in kilometres from the western edge of", 70));
  EXPECT_EQ(m.partxt(1, 2), P("Offset for Y co-ordinate", 70));
  EXPECT_EQ(m.partxt(1, 3), P("Exponential decay rate", 70));
  EXPECT_EQ(m.glbtxt(1), P("`Soft' threshold for +ve values", 70));
}

TEST(Txtset, CovariateModuleBuildersReplaceThePlainLabels) {
  auto& hooks = covariate_text_hooks();
  const CovariateTextHooks saved = hooks;
  hooks.prvtxt = [](int code, std::string& text) { text = "prv " + std::to_string(code) + " " + text.substr(0, 6); };
  hooks.extlabel = [](int kind, int p, int off) {
    return "ext " + std::to_string(kind) + " " + std::to_string(p) + " " + std::to_string(off);
  };
  SiteTable sites = three_sites();
  Model m = load(full_model(), sites);
  hooks = saved;
  EXPECT_EQ(m.covtxt(9), P("prv 3001 Y[t-1]", 70));
  EXPECT_EQ(m.covtxt(5), P("ext 1 3 -2", 70));
  EXPECT_EQ(m.covtxt(7), P("ext 2 2 0", 70));
  EXPECT_EQ(m.covtxt(12), P("ext 3 1 -1", 70));
  EXPECT_EQ(m.covtxt(8), P(kDaily, 70));
}

TEST(Chkmdl, InitialReportOfTheFullModel) {
  SiteTable sites = three_sites();
  Model m = load(full_model(), sites);
  auto p = report(m, sites, 1);
  ASSERT_FALSE(p.outcome.ended) << p.outcome.output;

  const std::string dash_main = rep('-', 12) + sp(43) + rep('-', 11);
  const std::string dash_int = rep('-', 19) + sp(36) + rep('-', 11);
  std::vector<std::string> top = {
      P(kTitle, 70),
      rep('=', 33),
      "Initial parameter estimates:",
      P("Main effect:", 55) + "Coefficient",
      dash_main,
      coef("Constant", "  1.500000"),
      coef("Elevation (m)", "  0.200000"),
      coef("Elevation (m)", "  0.100000"),
      coef("X co-ordinate", "  0.050000"),
      coef("Trend  1 - Linear (0.1 per year) after year Y", "  0.010000"),
      coef("Lag  -2: External annual predictor 3", "  0.020000"),
      coef(kMonthly, "  0.300000"),
      coef("External monthly predictor 2", "  0.100000"),
      coef(kDaily, "  0.400000"),
      coef("Y[t-1] (previous-day code 3)", "  0.500000"),
      coef("Y[t-2] (previous-day code 124)", "  0.600000"),
      coef("Y[t-1] (previous-day code 21)", "  0.700000"),
      coef("Lag  -1: External daily predictor 1", "  0.100000"),
      P("2-way interactions:", 55) + "Coefficient",
      dash_int,
  };
  // The file copy shows the first member of an interaction with 40 characters.
  const std::string two_con = coef(kMonthly, "  0.200000");
  const std::string two_file = P("Monthly seasonal effect, cosine componen", 53) + "    0.200000";
  const std::string three_con = coef(kMonthly, "  0.300000");
  const std::string three_file = P("Monthly seasonal effect, cosine componen", 53) + "    0.300000";
  const std::string with = "with " + P(kDaily, 40);
  std::vector<std::string> three_head = {P("3-way interactions:", 55) + "Coefficient", dash_int};
  std::vector<std::string> rest = {
      "and " + P("Y[t-1] (previous-day code 3)", 40),
      "",
      "Parameters in non-linear transformations:",
      rep('-', 40),
      P("Elevation (m)", 53) + ":",
      sp(10) + "Lower limit for Fourier repres:    0.5000 (prespecified)",
      sp(10) + "Upper limit for Fourier repres:    5.0000 (prespecified)",
      P("X co-ordinate", 53) + ":",
      sp(10) + P("Parameter of transformation", 30) + ":    0.2500 ",
      P("Trend  1 - Linear (0.1 per year) after year Y", 53) + ":",
      sp(10) + P("Date of changepoint (year)", 30) + ": 1980.0000 (prespecified)",
      P("Y[t-2] (previous-day code 124)", 53) + ":",
      sp(10) + P("Exponential decay rate", 30) + ":    0.1000 ",
      "",
      "Global quantities:",
      rep('-', 18),
      sp(10) + P("Trace threshold", 30) + ":    0.3000",
      "",
      "Dispersion parameter:   2.5000",
      rep('-', 30),
      "",
      "Spatial dependence structure:",
      rep('-', 30),
  };
  std::vector<std::string> params = {
      sp(10) + P("Correlation decay rate, phi", 30) + ":    0.1000",
      sp(10) + "Limiting correlation at large :    0.5000",
      "",
      "**** NOTE: distance-dependent weights (for averages of previous days'",
      "values and / or correlations) will be based on distances calculated from",
      "",
      "    " + P("X co-ordinate", 70),
      "and  " + P("Y co-ordinate", 70),
  };

  std::vector<std::string> con = top;
  con.push_back(two_con);
  con.push_back(with);
  con.insert(con.end(), three_head.begin(), three_head.end());
  con.push_back(three_con);
  con.push_back(with);
  con.insert(con.end(), rest.begin(), rest.end());
  con.push_back("Structure used is " + P(kStructure4, 50));
  con.insert(con.end(), params.begin(), params.end());
  con.insert(con.end(), {"", "", "OK to continue (Y/N, default Y)?"});

  std::vector<std::string> file = top;
  file.push_back(two_file);
  file.push_back(with);
  file.insert(file.end(), three_head.begin(), three_head.end());
  file.push_back(three_file);
  file.push_back(with);
  file.insert(file.end(), rest.begin(), rest.end());
  file.push_back("Structure used is " + P(kStructure4, 60));
  file.insert(file.end(), params.begin(), params.end());
  file.push_back("");

  EXPECT_EQ(p.outcome.output, joined(con));
  EXPECT_EQ(p.file, joined(file));
  // Spot checks of the columns: coefficients start in column 56.
  EXPECT_EQ(con[5].substr(55), "  1.500000");
  EXPECT_EQ(con[3].find("Coefficient"), 55u);
}

TEST(Chkmdl, AnswerNStopsBeforeFitting) {
  SiteTable sites = three_sites();
  Model m = load(constant(), sites);
  auto p = report(m, sites, 1, RSP_AMOUNT, "no\n");
  EXPECT_TRUE(p.outcome.ended);
  EXPECT_EQ(p.outcome.status, 0);
}

TEST(Chkmdl, SmallInitialReportWithTheNotesOnGlobalsAndIndependence) {
  // Occurrence model: no global quantity, no parameter lines (the Box-Cox transform
  // has none given, so the nonlinear section is left out), independence, dispersion
  // at its initial value; title without a double blank.
  SiteTable sites = three_sites();
  const std::string title = "Occurrence model with a seventy column title" + rep('x', 26);
  ASSERT_EQ(title.size(), 70u);
  Model m = load(header(title) + comp(0, "-0.5") + comp(1, "1.25", 1, 1), sites, RSP_OCCURRENCE);
  auto p = report(m, sites, 1, RSP_OCCURRENCE);
  ASSERT_FALSE(p.outcome.ended);
  std::vector<std::string> body = {
      P(title, 70),
      rep('=', 70),
      "Initial parameter estimates:",
      P("Main effect:", 55) + "Coefficient",
      rep('-', 12) + sp(43) + rep('-', 11),
      coef("Constant", " -0.500000"),
      coef("X co-ordinate", "  1.250000"),
      "",
      "Dispersion parameter:   1.0000",
      rep('-', 30),
      "",
      "Spatial dependence structure:",
      rep('-', 30),
  };
  std::vector<std::string> tail = {
      "",
      "",
      "**** NOTE: the following global quantities have not been defined:",
      "",
      sp(10) + P("Threshold for small positive values", 60),
  };
  std::vector<std::string> con = body, file = body;
  con.push_back("Structure used is " + P("Independence", 50));
  file.push_back("Structure used is " + P("Independence", 60));
  con.insert(con.end(), tail.begin(), tail.end());
  file.insert(file.end(), tail.begin(), tail.end());
  con.insert(con.end(), {"", "", "OK to continue (Y/N, default Y)?"});
  file.push_back("");
  EXPECT_EQ(p.outcome.output, joined(con));
  EXPECT_EQ(p.file, joined(file));
}

TEST(Chkmdl, TitleStartingWithADoubleBlankHasAnEmptyUnderline) {
  SiteTable sites = three_sites();
  Model m = load(header("  indented title") + comp(0, "0.0") + comp(9, "-1.0"), sites);
  auto p = report(m, sites, 1);
  auto lines = rgtest::lines(p.outcome.output);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], P("  indented title", 70));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Initial parameter estimates:");
  // A dispersion that is not positive counts as none.
  EXPECT_NE(p.outcome.output.find("\n\nNo dispersion parameters defined\n"), std::string::npos);
}

TEST(Chkmdl, StructureTextsAreCutDifferentlyOnConsoleAndFile) {
  SiteTable sites = three_sites();
  Model m2 = load(constant() + comp(10, "0.3", 2, 1), sites);
  auto p = report(m2, sites, 1);
  const std::string con2 = "Structure used is Constant inter-site correlations for Anscombe resi\n";
  const std::string file2 = "Structure used is " + P("Constant inter-site correlations for Anscombe residuals", 60) + "\n";
  EXPECT_NE(p.outcome.output.find(con2), std::string::npos);
  EXPECT_NE(p.file.find(file2), std::string::npos);
  EXPECT_NE(p.file.find(sp(10) + P("Inter-site correlation", 30) + ":    0.3000\n"), std::string::npos);
  // Structure 2 needs no distances: no note.
  EXPECT_EQ(p.outcome.output.find("**** NOTE: distance"), std::string::npos);

  Model m3 = load(constant() + comp(10, "0.3", 3, 1), sites);
  p = report(m3, sites, 1);
  EXPECT_NE(p.outcome.output.find("Structure used is Exponential correlation function: exp[-phi*d] for \n"),
            std::string::npos);
  EXPECT_NE(p.file.find("Structure used is Exponential correlation function: exp[-phi*d] for Anscombe r\n"),
            std::string::npos);
  EXPECT_NE(p.outcome.output.find("**** NOTE: distance-dependent weights"), std::string::npos);

  // The occurrence model correlates latent Gaussian variables.
  Model mo = load(constant() + comp(10, "0.3", 2, 1), sites, RSP_OCCURRENCE);
  p = report(mo, sites, 1, RSP_OCCURRENCE);
  EXPECT_NE(p.file.find("Structure used is " + P("Constant inter-site correlations for latent Gaussian variables", 60)),
            std::string::npos);
}

TEST(Chkmdl, ProgressReportGoesToTheConsoleOnly) {
  SiteTable sites = three_sites();
  Model m = load(constant() + comp(1, "0.5", 1, 1) + comp(4, "0.25", 21) + comp(5, "-0.125", 1, 2) +
                     comp(7, "0.3", 1, 1, 1) + comp(8, "0.1", 1, 1) + comp(10, "0.3", 3, 1),
                 sites);
  m.beta(0) = 1.234567;
  m.theta(1, 1) = 0.3125;
  auto p = report(m, sites, 2);
  ASSERT_FALSE(p.outcome.ended);
  EXPECT_EQ(p.file, "");
  EXPECT_EQ(p.outcome.output, joined({
                                  P("Main effect:", 55) + "Coefficient",
                                  rep('-', 12) + sp(43) + rep('-', 11),
                                  coef("Constant", "  1.234567"),
                                  coef("X co-ordinate", "  0.500000"),
                                  coef(kDaily, "  0.250000"),
                                  P("2-way interactions:", 55) + "Coefficient",
                                  rep('-', 19) + sp(36) + rep('-', 11),
                                  coef("X co-ordinate", " -0.125000"),
                                  "with " + P(kDaily, 40),
                                  "",
                                  "Parameters in non-linear transformations:",
                                  rep('-', 40),
                                  P("X co-ordinate", 53) + ":",
                                  sp(10) + P("Parameter of transformation", 30) + ":    0.3125 ",
                              }));
}

TEST(Chkmdl, FinalReportWithStandardErrors) {
  SiteTable sites = three_sites();
  Model m = load(constant() + comp(1, "0.5", 1, 1) + comp(4, "-0.25", 21) + comp(4, "0.1", 22) +
                     comp(6, "2.0", 1, 2, 3) + comp(7, "0.3", 1, 1, 1) + comp(10, "0.3", 2, 1),
                 sites);
  Array1<double> se(0, MAXPAR, 0.0);
  Array2<double> seth(1, MAXPAR, 1, MAXNLP, 0.0);
  se(0) = 0.0123;
  se(1) = 12.5;
  se(2) = 123.4;  // too wide for its field
  se(3) = 0.5;
  se(4) = 0.25;
  seth(1, 1) = 0.01;
  auto p = report(m, sites, 3, RSP_AMOUNT, "", &se, &seth);
  ASSERT_FALSE(p.outcome.ended);
  const std::string heads = rep('-', 12) + sp(43) + rep('-', 11) + "  " + rep('-', 7);
  std::vector<std::string> body = {
      "Final parameter estimates:",
      "",
      P("Main effect:", 55) + "Coefficient  Std Err",
      heads,
      coef("Constant", "  1.500000   0.0123"),
      coef("X co-ordinate", "  0.500000  12.5000"),
      coef(kDaily, " -0.250000  *******"),
      coef("Daily seasonal effect, sine component", "  0.100000   0.5000"),
      "",
      P("3-way interactions:", 55) + "Coefficient  Std Err",
      rep('-', 19) + sp(36) + rep('-', 11) + "  " + rep('-', 7),
      coef("X co-ordinate", "  2.000000   0.2500"),
      "with " + P(kDaily, 40),
      "and " + P("Daily seasonal effect, sine component", 40),
      "",
      "Parameters in non-linear transformations:",
      rep('-', 40),
      P("X co-ordinate", 53) + ":",
      sp(10) + P("Parameter of transformation", 30) + ":    0.3000 (Std Err:    0.0100)",
      "",
      "Spatial dependence structure:",
      rep('-', 30),
  };
  std::vector<std::string> con = body, file = body;
  con.push_back("Structure used is Constant inter-site correlations for Anscombe resi");
  file.push_back("Structure used is " + P("Constant inter-site correlations for Anscombe residuals", 60));
  for (auto* v : {&con, &file}) v->push_back(sp(10) + P("Inter-site correlation", 30) + ":    0.3000");
  EXPECT_EQ(p.outcome.output, joined(con));
  EXPECT_EQ(p.file, joined(file));
}

TEST(Chkmdl, ExampleModelsReportWithoutFaults) {
  rgtest::TempDir dir;
  rgtest::copy_example({"siteinfo.def", "logistic.def", "gammamdl.def"});
  SiteTable sites;
  Model occ;
  auto r = capture(
      [&] {
        filchk("siteinfo.def", 36, STFLAG_INPUT);
        sitedef(36, "siteinfo.def", sites);
        filchk("logistic.def", 42, STFLAG_INPUT);
        mdlset(42, "logistic.def", RSP_OCCURRENCE, 0, sites, occ);
        txtset(occ, sites.attnam);
        filchk("logistic.res", 60, STFLAG_OUTPUT);
        chkmdl(occ, sites.attnam, 1, RSP_OCCURRENCE);
      },
      "\n");
  channels().close_all();
  ASSERT_FALSE(r.ended) << r.output;
  EXPECT_NE(r.output.find(coef("Y[t-1] (previous-day code 13)", "  0.000000")), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Structure used is Constant inter-site correlations for latent Gaussi\n"),
            std::string::npos);
}
