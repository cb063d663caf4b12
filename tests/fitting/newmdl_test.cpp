// The updated model definition: value fields, layouts and the round trip through
// the model reader.
#include <gtest/gtest.h>

#include <fstream>

#include <cmath>

#include "channels.hpp"
#include "covset.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "newmdl.hpp"
#include "test_support.hpp"

using namespace rg;

namespace {

std::string header(const std::string& first) {
  std::string h = first + "\n";
  for (int i = 2; i <= 46; ++i) h += "header line " + std::to_string(i) + "\n";
  return h + "line 47\nTitle of the test model\n";
}

const char* kComponents =
    "    0    0.5000    0    0    0 constant\n"
    "    1    0.2500    3    0    0 elevation\n"
    "    1    1.0000    3    1    0 Box-Cox elevation\n"
    "    2    0.0100    1    0    0 trend\n"
    "    3    0.1000    1    0    0 monthly cosine\n"
    "    4    0.3000   21    0    0 daily cosine\n"
    "    4    0.4000    1   23    3 distance-weighted wet yesterday\n"
    "    4    0.5000    2   23    0 distance-weighted wet two days ago\n"
    "    5    0.0500    1    4    0\n"
    "    6   -0.0200    1    4    5\n"
    "    7    0.5000    2    1    1 Box-Cox parameter, estimated\n"
    "    7    0.0300    6    1    0 decay rate of the weighting scheme\n"
    "    8    0.2000    1    1    0\n"
    "    9    0.7500    0    0    0\n"
    "   10    0.4000    4    1    0\n"
    "   10    0.1000    4    2    0\n";

// Reads a definition file with the example network's sites.
Model read_model(const std::string& file, int rsptyp) {
  Model m;
  SiteTable sites;
  auto r = rgtest::capture([&] {
    std::filesystem::copy_file(std::string(RAINGLM_REFERENCE_DIR) + "/fit_example/siteinfo.def", "siteinfo.def",
                               std::filesystem::copy_options::overwrite_existing);
    filchk("siteinfo.def", 36, STFLAG_INPUT);
    sitedef(36, "siteinfo.def", sites);
    install_covariate_texts();
    filchk(file, 42, STFLAG_INPUT);
    mdlset(42, file, rsptyp, 0, sites, m);
    txtset(m, sites.attnam);
  });
  EXPECT_FALSE(r.ended) << r.output;
  return m;
}

std::string write_back(const Model& m) {
  auto r = rgtest::capture([&] {
    filchk("new.def", 70, STFLAG_OUTPUT);
    newmdl(42, 70, MAXPAR, m);
    channels().close_all();
  });
  EXPECT_FALSE(r.ended) << r.output;
  EXPECT_FALSE(channels().connected(42));  // the old definition is closed
  channels().close_all();
  std::ifstream in("new.def");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(Newmdl, ValueFieldKeepsTenColumnsAndReadsBack) {
  EXPECT_EQ(value_field(12345.678), "12345.6780");
  EXPECT_EQ(value_field(-0.00004), "   -0.0000");
  EXPECT_EQ(value_field(0.5), "    0.5000");
  for (double v : {123456.789, -12345.6789, 987654321.0, -1.5e12, 3.25e-7 * 1e20, 1e99}) {
    std::string f = value_field(v);
    ASSERT_EQ(f.size(), 10u) << v;
    EXPECT_EQ(f.find('*'), std::string::npos) << f;
    auto back = parse_real(f, 4);
    ASSERT_TRUE(back) << f;
    EXPECT_NEAR(*back / v, 1.0, 5e-4) << f;
  }
  EXPECT_EQ(value_field(123456.789), "123456.789");
}

TEST(Newmdl, RoundTripGivesTheSameModel) {
  rgtest::TempDir dir;
  std::string longline(95, 'H');
  dir.write("old.def", header(longline) + kComponents);
  Model m = read_model("old.def", RSP_AMOUNT);
  ASSERT_EQ(m.np(7), 10);  // nine coefficients and one estimated parameter
  // Final estimates as the fit leaves them.
  const double est[] = {0.123456, -1.987654, 12345.678, -0.00004, 0.55555, 2.5, -3.25, 0.0001, 0.04, -123456.75};
  for (int j = 0; j <= 9; ++j) m.beta(j) = est[j];
  m.beta(10) = 0.4321;
  m.theta(2, 1) = 0.4321;
  m.theta(6, 1) = 0.0456;
  m.nu = 0.774321;
  m.rho(1) = 0.35;
  m.rho(2) = 0.05;
  std::string text = write_back(m);
  auto lines = rgtest::lines(text);
  ASSERT_GE(lines.size(), 48u);
  EXPECT_EQ(lines[0], std::string(80, 'H'));  // header lines are cut to 80 columns
  EXPECT_EQ(lines[1], fmt_a("header line 2", 80));
  EXPECT_EQ(lines[46], "%%%%%%%%%%%%%%%%%%%%LINE NOT CURRENTLY USED%%%%%%%%%%%%%%%%%%%%");
  EXPECT_EQ(lines[47], fmt_a("Title of the test model", 70));
  EXPECT_EQ(lines[48].substr(0, 30), "    0    0.1235               ");
  EXPECT_EQ(lines[49].substr(0, 30), "    1   -1.9877    3          ");
  EXPECT_EQ(lines[50].substr(0, 30), "    112345.6780    3    1     ");
  EXPECT_EQ(lines[51].substr(0, 30), "    2   -0.0000    1          ");
  EXPECT_EQ(lines[54], "    4   -3.2500    1   23    3Distance-weighted mean of I(Y[t-1]>0)      6");
  EXPECT_EQ(lines[55].substr(0, 30), "    4    0.0001    2   23     ");
  EXPECT_EQ(lines[56], "    5    0.0400    1    4     2-way interaction: covariates  1 and  4");
  EXPECT_EQ(lines[57], "    6-123456.75    1    4    53-way interaction: covariates  1,  4 and  5");
  EXPECT_EQ(lines[58], "    7    0.4321    2    1    1Parameter 1 in xfrmation of covariate   2");
  EXPECT_EQ(lines[59].substr(0, 30), "    7    0.0456    6    1    0");  // once, under the scheme's owner
  EXPECT_EQ(lines[60].substr(0, 30), "    8    0.2000    1    1     ");
  EXPECT_EQ(lines[61], "    9    0.7743               Dispersion parameter");
  EXPECT_EQ(lines[62], "   10    0.3500    4    1     Parameter  1  in spatial dependence model");
  EXPECT_EQ(lines[63], "   10    0.0500    4    2     Parameter  2  in spatial dependence model");
  EXPECT_EQ(lines.size(), 64u);

  Model back = read_model("new.def", RSP_AMOUNT);
  for (int t = 1; t <= NPCNT; ++t) EXPECT_EQ(back.np(t), m.np(t)) << "np " << t;
  for (int j = 0; j <= m.np(7); ++j) EXPECT_NEAR(back.beta(j), m.beta(j), 5e-5) << "beta " << j;
  for (int j = 1; j <= MAXPAR; ++j) {
    EXPECT_EQ(back.covcod(j), m.covcod(j)) << j;
    EXPECT_EQ(back.wtschm(j), m.wtschm(j)) << j;
    for (int c = 1; c <= 2; ++c) EXPECT_EQ(back.sitxfm(j, c), m.sitxfm(j, c)) << j;
    for (int c = 1; c <= 2; ++c) EXPECT_EQ(back.twoway(j, c), m.twoway(j, c)) << j;
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(back.thrway(j, c), m.thrway(j, c)) << j;
    for (int p = 1; p <= MAXNLP; ++p) {
      EXPECT_EQ(back.nlstat(j, p), m.nlstat(j, p)) << j << "," << p;
      EXPECT_NEAR(back.theta(j, p), m.theta(j, p), 5e-5) << j << "," << p;
    }
  }
  for (int w = 1; w <= 4; ++w)
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(back.pwtidx(w, c), m.pwtidx(w, c));
  EXPECT_EQ(back.mxlag, 3);
  EXPECT_EQ(back.glbcod(1), 1001);
  EXPECT_NEAR(back.glbval(1), 0.2, 1e-12);
  EXPECT_NEAR(back.nu, 0.7743, 1e-12);
  EXPECT_EQ(back.spmod, 4);
  EXPECT_NEAR(back.rho(1), 0.35, 1e-12);
  EXPECT_NEAR(back.rho(2), 0.05, 1e-12);
}

TEST(Newmdl, ObservedCorrelationStructureEndsTheFile) {
  rgtest::TempDir dir;
  dir.write("old.def", header("first") +
                           "    0    0.5000    0    0    0\n"
                           "    4    0.3000   21    0    0\n"
                           "   10    0.0000    1    0    0\n");
  Model m = read_model("old.def", RSP_OCCURRENCE);
  m.nu = -1.0;  // occurrence: no dispersion line
  auto lines = rgtest::lines(write_back(m));
  ASSERT_EQ(lines.size(), 51u);
  EXPECT_EQ(lines[50], "   10    0.0000    1          Observed residual correlation structure");
}

// The reader refuses to estimate a parameter of a covariate whose coefficient is 0,
// so such a coefficient that rounds to 0.0000 is written in exponent form.
TEST(Newmdl, TinyCoefficientOfAnEstimatedTransformationReadsBack) {
  rgtest::TempDir dir;
  dir.write("old.def", header("first") +
                           "    0    0.5000    0    0    0\n"
                           "    1    0.2500    3    1    0\n"
                           "    1    0.2500    3    0    0\n"
                           "    7    0.5000    1    1    1\n"
                           "    9    0.7500    0    0    0\n");
  Model m = read_model("old.def", RSP_AMOUNT);
  m.beta(1) = -0.0000312345;
  m.beta(2) = 0.00002;  // no estimated parameter: rounds to 0 as any value
  auto lines = rgtest::lines(write_back(m));
  ASSERT_EQ(lines.size(), 53u);
  EXPECT_EQ(lines[49].substr(0, 15), "    1-.3123E-04");
  EXPECT_EQ(lines[50].substr(0, 15), "    1    0.0000");
  Model back = read_model("new.def", RSP_AMOUNT);
  EXPECT_DOUBLE_EQ(back.beta(1), -0.00003123);
  EXPECT_EQ(back.nlstat(1, 1), 1);
  EXPECT_EQ(back.np(7), 3);
}

// Dependence parameters keep their leading digits through the 10 columns: a decay
// rate per metre (order 1e-6) or a tiny Beta-Binomial shape no longer reads back as
// 0; values the fixed form holds as well are written as before.
TEST(Newmdl, DependenceParametersReadBackWithTheirDigits) {
  struct Case {
    double v;
    const char* field;  // expected field, or "" for value_field's
    double rel;         // relative error allowed on reading back
  };
  const Case cases[] = {{1.234567e-6, ".12346E-05", 5e-5}, {-2.5e-6, "-.2500E-05", 5e-4}, {3e-5, ".30000E-04", 1e-12},
                        {0.0123456, ".12346E-01", 5e-5},   {0.05, "", 1e-12},               {0.35, "", 1e-12},
                        {-0.98765, "", 1e-4},              {1e6, "", 1e-12},                {0.0, "", 0.0}};
  for (const Case& c : cases) {
    const std::string f = dependence_field(c.v);
    SCOPED_TRACE(f);
    const std::string expected = c.field;
    EXPECT_EQ(f, expected.empty() ? value_field(c.v) : blanks(10 - static_cast<int>(expected.size())) + expected);
    auto back = parse_real(f, 4);
    ASSERT_TRUE(back);
    EXPECT_LE(std::fabs(*back - c.v), c.rel * std::fabs(c.v));
  }
  // In reports: the leading digits in the 9 columns of the value where they fit.
  EXPECT_EQ(fmt_sig(1.234567e-6, 9, 4), ".1235E-05");
  EXPECT_EQ(fmt_sig(-2.5e-6, 9, 4), "-.250E-05");
  EXPECT_EQ(fmt_sig(0.0279, 9, 4), "   0.0279");
  EXPECT_EQ(fmt_sig(0.0, 9, 4), "   0.0000");
}
