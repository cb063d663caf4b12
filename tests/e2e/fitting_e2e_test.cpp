// Both fitting programs run for real on the example network of
// tests/reference/fit_example (reference fits from R 4.2, see its README).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "test_support.hpp"

using namespace rgtest;

namespace {

void copy_fit_example(const std::vector<std::string>& files) {
  for (const auto& f : files)
    std::filesystem::copy_file(std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/" + f, f,
                               std::filesystem::copy_options::overwrite_existing);
}

// The coefficient column of the final report, in covariate order.
std::vector<double> final_coefficients(const std::string& output) {
  std::vector<double> out;
  auto at = output.find("Final parameter estimates:");
  if (at == std::string::npos) return out;
  auto ls = lines(output.substr(at));
  for (std::size_t i = 4; i < ls.size() && ls[i].size() >= 65; ++i) out.push_back(std::stod(ls[i].substr(55, 10)));
  return out;
}

int iterations(const std::string& output) {
  auto at = output.rfind("     Results after ");
  return at == std::string::npos ? -1 : std::stoi(output.substr(at + 19, 3));
}

// Reference coefficients (R glm, reference_coefficients.csv).
const std::vector<double> kOcc = {-0.924753844704055, 0.794522979753215, 0.464496691381683,
                                  -0.197763534214799, 1.17294699480735,  0.731358456681988};
const std::vector<double> kAmt = {1.32026467241323, 0.283423909998429, 0.22855415348109, 0.0843422690528575,
                                  0.121214323090083};

std::string read(const std::string& f) {
  std::ifstream in(f, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(OccmodelRun, FitsTheExampleAndWritesItsFiles) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
  auto r = run_binary("occmodel/occmodel");
  ASSERT_EQ(r.status, 0) << r.output;
  auto coef = final_coefficients(r.output);
  ASSERT_EQ(coef.size(), kOcc.size()) << r.output;
  for (std::size_t j = 0; j < coef.size(); ++j) EXPECT_NEAR(coef[j], kOcc[j], 6e-7);  // printed to 6 decimals
  EXPECT_NE(r.output.find("     Likelihood ratio statistic (initial vs final) -   3253.4856\n"), std::string::npos);
  std::string res = read("logistic.res");
  const std::string head =
      "\n                    GENERALIZED LINEAR MODEL FITTING RESULTS\n"
      "                    ========================================\n\n"
      "          Data from  5 sites will be used in the fitting.\n";
  EXPECT_EQ(res.substr(0, head.size()), head);  // no explanatory paragraph
  EXPECT_NE(res.find("     Number of observations -              13944\n"), std::string::npos);
  EXPECT_EQ(res.find("Dispersion"), std::string::npos);
  // The residual listing: a heading and one line per design record, eta one
  // column earlier than in the amounts listing.
  auto listing = lines(read("res_logi.dat"));
  ASSERT_EQ(listing.size(), 13945u);
  EXPECT_EQ(listing[0], "SITE YEAR MONTH DAY OBSERVED PREDICTED    ETA");
  EXPECT_EQ(listing[1].size(), 47u);
  EXPECT_EQ(listing[1].substr(0, 30), "S001 1981     1   2   1.0000  ");
  auto de2 = lines(read("logistic.de2"));
  ASSERT_EQ(de2.size(), 55u);
  EXPECT_EQ(de2[53].substr(0, 30), "    4    0.7314    1   13     ");
  // The structure line carries the estimated correlation (checked in the
  // dependence tests), no longer the value of the definition.
  EXPECT_EQ(de2[54].substr(0, 5), "   10");
  EXPECT_EQ(de2[54].substr(15, 15), "    2    1     ");
  EXPECT_NE(de2[54].substr(5, 10), "    0.3000");
}

TEST(AmtmodelRun, FitsTheExampleAndRefitsFromTheUpdatedDefinition) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat", "gammamdl.def"});
  auto r = run_binary("amtmodel/amtmodel");
  ASSERT_EQ(r.status, 0) << r.output;
  auto coef = final_coefficients(r.output);
  ASSERT_EQ(coef.size(), kAmt.size()) << r.output;
  for (std::size_t j = 0; j < coef.size(); ++j) EXPECT_NEAR(coef[j], kAmt[j], 6e-7);
  auto listing = lines(read("res_gamm.dat"));
  ASSERT_EQ(listing.size(), 8489u);
  EXPECT_EQ(listing[1], "S001 1981     1   2   3.7200    5.0798    1.6253");
  // The updated definition reads back as the fitted model: a new fit from it
  // starts at the estimates (to 4 decimals) and stops after a few passes there.
  std::filesystem::copy_file("gammamdl.de2", "refit.def");
  for (const char* f : {"gammamdl.res", "res_gamm.dat", "gammamdl.de2", "cor_gamm.dat"}) std::filesystem::remove(f);
  std::filesystem::rename("refit.def", "gammamdl.def");
  auto again = run_binary("amtmodel/amtmodel");
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_LE(iterations(again.output), 3);
  EXPECT_NE(again.output.find("     Likelihood ratio statistic (initial vs final) -      0.0000\n"),
            std::string::npos);
  EXPECT_EQ(final_coefficients(again.output), coef);
  EXPECT_NE(again.output.find("Dispersion parameter:   0.7431"), std::string::npos);
}

TEST(OccmodelRun, RefitFromTheUpdatedDefinitionStartsAtTheEstimates) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
  auto r = run_binary("occmodel/occmodel", "\n\nn\n");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(read("res_logi.dat"), "");  // no to the residual questions: left empty
  auto coef = final_coefficients(r.output);
  std::filesystem::copy_file("logistic.de2", "refit.def");
  for (const char* f : {"logistic.res", "res_logi.dat", "logistic.de2", "cor_logi.dat"}) std::filesystem::remove(f);
  std::filesystem::rename("refit.def", "logistic.def");
  auto again = run_binary("occmodel/occmodel", "\n\nn\n");
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_LE(iterations(again.output), 2);
  EXPECT_EQ(final_coefficients(again.output), coef);
}

TEST(FittingRun, FaultyDataFilesStopWithStatusOne) {
  struct Case {
    std::string data, message;
  };
  const std::vector<Case> cases = {
      {"1981 1 2S001  1.00\n1981 1 1S002  1.00\n",
       "****ERROR**** input file out of order. Offending date is\n 1/ 1/1981, at site S002.\n"},
      {"1981 1 1S001  1.00\n1981 1 2S001  1,00\n",
       "****ERROR**** while reading input file. The last successful access\nwas for data on  2/ 1/1981.\n"},
      {"1981 1 1S001  1.00\nnot a record at all\n",
       "****ERROR**** while reading input file. The last successful access\nwas for data on  1/ 1/1981.\n"},
      {"1981 1 1S001 -1.00\n1981 1 1S002 -1.00\n", " ****ERROR**** No data found. Check site definition/data files\n"},
      {"1981 1 1X001  1.00\n1981 1 2X001  2.00\n", " ****ERROR**** No data found. Check site definition/data files\n"},
      {"", " ****ERROR**** No data found. Check site definition/data files\n"},
  };
  for (const char* prog : {"occmodel/occmodel", "amtmodel/amtmodel"}) {
    for (const auto& c : cases) {
      TempDir dir;
      copy_fit_example({"siteinfo.def", "logistic.def", "gammamdl.def"});
      dir.write("gaugvals.dat", c.data);
      auto r = run_binary(prog);
      EXPECT_EQ(r.status, 1) << prog << ": " << c.data;
      EXPECT_EQ(r.output.substr(r.output.size() - std::min(r.output.size(), c.message.size())), c.message)
          << prog << ": " << r.output;
    }
  }
}

TEST(FittingRun, CrlfDataFileGivesTheSameFit) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat", "logistic.def"});
  auto unix_run = run_binary("occmodel/occmodel", "\n\nn\nn\n");
  ASSERT_EQ(unix_run.status, 0);
  std::string data = read("gaugvals.dat"), crlf;
  for (char c : data) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  dir.write("gaugvals.dat", crlf);
  for (const char* f : {"logistic.res", "res_logi.dat", "logistic.de2", "cor_logi.dat"}) std::filesystem::remove(f);
  auto dos_run = run_binary("occmodel/occmodel", "\n\nn\nn\n");
  ASSERT_EQ(dos_run.status, 0) << dos_run.output;
  EXPECT_EQ(dos_run.output, unix_run.output);
}

namespace {

// The example's occurrence definition with other component lines.
void write_logistic(TempDir& dir, const std::string& components) {
  std::ifstream in(std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/logistic.def");
  std::string text, line;
  for (int i = 1; i <= 48 && std::getline(in, line); ++i) text += line + "\n";
  dir.write("logistic.def", text + components);
}

// The value of the first "label : value" line of the final report.
double final_parameter(const std::string& output, const std::string& label) {
  auto at = output.find(label, output.find("Final parameter estimates:"));
  if (at == std::string::npos) return 1e300;
  return std::stod(output.substr(output.find(':', at) + 1, 10));
}

}  // namespace

// Reference: R 4.2, the design built from gaugvals.dat as the data pass does, the
// Box-Cox parameter by optimize() of the glm() profile log-likelihood (maximum
// -8080.28137638 at lambda = -3.27203665), the coefficients by glm() at that
// value, and the standard error of lambda from the joint information matrix with
// the derivative column beta1 * d/dlambda BoxCox (3.71607519643).
TEST(OccmodelRun, EstimatesABoxCoxParameterJointly) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat"});
  write_logistic(dir,
                 "    0   -0.2700    0    0    0\n"
                 "    1    0.0070    3    1    0\n"
                 "    4    0.5300   21    0    0\n"
                 "    4   -0.2200   22    0    0\n"
                 "    4    1.4800    1    3    0\n"
                 "    7   -3.0000    1    1    1\n");
  auto r = run_binary("occmodel/occmodel", "\n\nn\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<double> ref = {-0.27693817441433, 0.00759971775003, 0.53154910458356, -0.22258754259254,
                                   1.48633347151275};
  auto coef = final_coefficients(r.output);
  ASSERT_EQ(coef.size(), ref.size());
  for (std::size_t j = 0; j < ref.size(); ++j) EXPECT_NEAR(coef[j], ref[j], 1e-6) << j;
  EXPECT_NE(r.output.find("          Parameter of transformation   :   -3.2720 (Std Err:    3.7161)"),
            std::string::npos);
  EXPECT_NE(r.output.find("     Log-likelihood -                  -8080.281\n"), std::string::npos);
  // The estimate is written back with its estimation flag.
  EXPECT_NE(read("logistic.de2").find("\n    7   -3.2720    1    1    1Parameter 1 in xfrmation of covariate   1"),
            std::string::npos);
}

// A decay rate of a distance-weighted previous-day mean makes every rebuild read
// the data file again. Reference: R 4.2, profile log-likelihood over phi by
// optimize() (maximum -8059.63514354 at phi = 0.0374183896615), glm() at that value.
TEST(OccmodelRun, EstimatesAWeightingDecayRateJointly) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat"});
  write_logistic(dir,
                 "    0    0.0000    0    0    0\n"
                 "    1    0.0000    3    0    0\n"
                 "    4    0.0000   21    0    0\n"
                 "    4    0.0000   22    0    0\n"
                 "    4    1.0000    1   23    0\n"
                 "    7    0.0200    4    1    1\n");
  auto r = run_binary("occmodel/occmodel", "\n\nn\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::vector<double> ref = {-0.887098469933, 0.836401479036, 0.478020168515, -0.201990903626,
                                   1.815664931971};
  auto coef = final_coefficients(r.output);
  ASSERT_EQ(coef.size(), ref.size());
  for (std::size_t j = 0; j < ref.size(); ++j) EXPECT_NEAR(coef[j], ref[j], 1e-6) << j;
  EXPECT_NEAR(final_parameter(r.output, "Exponential decay rate"), 0.0374183896615, 6e-5);
  EXPECT_NE(r.output.find("     Log-likelihood -                  -8059.635\n"), std::string::npos);
  // Steps that allow for the curvature of the decay rate converge about as fast as
  // the fit with the rate fixed (4 iterations), where plain scoring steps took 12.
  EXPECT_LE(iterations(r.output), 7);
  EXPECT_EQ(r.output.find("Reducing step size"), std::string::npos);
}

// From a poor start the joint Gauss-Newton steps drive the Box-Cox parameter off
// until the transformed covariate no longer varies: the run stops with the
// singular-design message rather than printing a fit.
TEST(OccmodelRun, RunawayNonlinearParameterStopsTheFit) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat"});
  write_logistic(dir,
                 "    0    0.0000    0    0    0\n"
                 "    1    0.5000    3    1    0\n"
                 "    4    0.0000   21    0    0\n"
                 "    4    0.0000   22    0    0\n"
                 "    4    0.0000    1    3    0\n"
                 "    7    0.5000    1    1    1\n");
  auto r = run_binary("occmodel/occmodel");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("     ****ERROR**** in routine IWLS, design matrix seems singular."), std::string::npos);
  EXPECT_EQ(r.output.find("Final parameter estimates:"), std::string::npos);
}

// With a trace threshold, amounts below it are replaced by their approximate
// conditional expectations in every pass; the run warns that the likelihood-ratio
// statistics are approximate and keeps the maximum-likelihood shape.
TEST(AmtmodelRun, TraceThresholdKeepsTheMaximumLikelihoodShape) {
  TempDir dir;
  copy_fit_example({"siteinfo.def", "gaugvals.dat"});
  std::ifstream in(std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/gammamdl.def");
  std::string text, line;
  for (int i = 1; i <= 53 && std::getline(in, line); ++i) text += line + "\n";
  dir.write("gammamdl.def", text + "    8    0.5000    1    1    0\n    9    1.0000    0    0    0\n");
  auto r = run_binary("amtmodel/amtmodel", "\n\nn\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string warning =
      "\n     ****WARNING**** Computation of likelihood ratio statistics may be\n"
      "     inaccurate, because trace values have been replaced by their\n"
      "     approximate conditional expectations.\n";
  EXPECT_NE(r.output.find(warning), std::string::npos);
  EXPECT_NE(read("gammamdl.res").find(warning), std::string::npos);
  // The last dispersion line shows the moment and ML estimates; the updated
  // definition carries the ML one.
  auto at = r.output.rfind("(ML estimate is ");
  ASSERT_NE(at, std::string::npos);
  double ml = std::stod(r.output.substr(at + 16, 9));
  auto de2 = lines(read("gammamdl.de2"));
  ASSERT_GE(de2.size(), 2u);
  EXPECT_EQ(de2[de2.size() - 2].substr(0, 30), "    8    0.5000    1    1     ");
  char field[16];
  std::snprintf(field, sizeof field, "%10.4f", ml);
  EXPECT_EQ(de2.back().substr(0, 15), std::string("    9") + field);
  EXPECT_GT(ml, 0.0);
}
