#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "channels.hpp"
#include "spatial.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

// Four sites on 3-4-5 triangles: d(1,2) = 5, d(1,3) = 10, d(2,3) = 5, d(1,4) = 1,
// d(2,4) = sqrt(9 + 9), d(3,4) = sqrt(36 + 49).
std::unique_ptr<SiteTable> network(int nattr = 2) {
  auto t = std::make_unique<SiteTable>();
  const double xy[4][2] = {{0, 0}, {3, 4}, {6, 8}, {0, 1}};
  const char* codes[4] = {"S001", "S002", "AB", "S004"};
  t->nsites = 4;
  t->nattr = nattr;
  for (int i = 1; i <= 4; ++i) {
    t->sitcod(i) = codes[i - 1];
    t->sitinf(i, 1, 1) = xy[i - 1][0];
    t->sitinf(i, 2, 1) = xy[i - 1][1];
  }
  return t;
}

Array1<double> params(std::initializer_list<double> given) {
  Array1<double> rho(1, MAXRHO, 1.0e9);
  int k = 1;
  for (double v : given) rho(k++) = v;
  return rho;
}

const double D[5][5] = {{0, 0, 0, 0, 0},
                        {0, 0, 5, 10, 1},
                        {0, 5, 0, 5, std::sqrt(18.0)},
                        {0, 10, 5, 0, std::sqrt(85.0)},
                        {0, 1, std::sqrt(18.0), std::sqrt(85.0), 0}};

struct Built {
  rgtest::Outcome outcome;
  Matrix cor{MAXSIT, MAXSIT};
};

Built build(int spmod, const Array1<double>& rho, const SiteTable& sites, const std::string& file = "gammamdl.def") {
  Built b;
  b.outcome = capture([&] { corset(file, 66, spmod, rho, b.cor, sites.nsites, sites, MAXSIT); });
  return b;
}

// Every element against a closed form of the distance.
template <class F>
void expect_matrix(const Built& b, int n, F expected) {
  ASSERT_FALSE(b.outcome.ended) << b.outcome.output;
  for (int p = 1; p <= n; ++p)
    for (int q = 1; q <= n; ++q)
      EXPECT_NEAR(b.cor(p, q), p == q ? 1.0 : expected(D[p][q]), 1e-14) << p << "," << q;
}

std::string rhochk_output(int spmod, const Array1<double>& rho) {
  auto o = capture([&] { rhochk(rho, spmod, "gammamdl.def", MAXRHO); });
  if (o.ended) {
    EXPECT_EQ(o.status, 1);
  }
  return o.output;
}

const std::string wrong_number =
    "\n****ERROR**** in file gammamdl.def, wrong number of parameters\n"
    "supplied for spatial dependence structure.\n";
const std::string out_of_bounds =
    "\n****ERROR**** in file gammamdl.def, one or more of the spatial\n"
    "dependence structure parameters is out of bounds.\n";

}  // namespace

TEST(Corset, ParametricStructuresFollowTheirClosedForms) {
  auto s = network();
  expect_matrix(build(0, params({}), *s), 4, [](double) { return 0.0; });
  expect_matrix(build(2, params({-0.35}), *s), 4, [](double) { return -0.35; });
  expect_matrix(build(3, params({0.2}), *s), 4, [](double d) { return std::exp(-0.2 * d); });
  expect_matrix(build(4, params({0.2, 0.3}), *s), 4, [](double d) { return 0.3 + 0.7 * std::exp(-0.2 * d); });
  expect_matrix(build(5, params({0.01, 2.0}), *s), 4, [](double d) { return std::exp(-0.01 * d * d); });
  expect_matrix(build(6, params({0.01, 2.0, -0.2}), *s), 4,
                [](double d) { return -0.2 + 1.2 * std::exp(-0.01 * d * d); });
}

TEST(Corset, LimitingParameterValues) {
  auto s = network();
  auto ones = [](double) { return 1.0; };
  expect_matrix(build(3, params({0.0}), *s), 4, ones);
  expect_matrix(build(4, params({0.7, 1.0}), *s), 4, ones);
  expect_matrix(build(4, params({1.0e6, 0.25}), *s), 4, [](double) { return 0.25; });
  // No decay even where d^k overflows: the product must not become 0 * inf.
  expect_matrix(build(5, params({0.0, 1.0e6}), *s), 4, ones);
  expect_matrix(build(5, params({1.0, 1.0e6}), *s), 4, [](double d) { return d < 1.5 ? std::exp(-1.0) : 0.0; });

  Built b3 = build(3, params({0.37}), *s), b5 = build(5, params({0.37, 1.0}), *s);
  for (int p = 1; p <= 4; ++p)
    for (int q = 1; q <= 4; ++q) EXPECT_DOUBLE_EQ(b3.cor(p, q), b5.cor(p, q));
}

TEST(Corset, DistanceUsesTheCoordinatesTheSiteFileDefines) {
  auto one = network(1);  // x only: |x_i - x_j|
  Built b = build(3, params({0.5}), *one);
  ASSERT_FALSE(b.outcome.ended);
  EXPECT_DOUBLE_EQ(b.cor(1, 2), std::exp(-1.5));
  EXPECT_DOUBLE_EQ(b.cor(1, 4), 1.0);
  EXPECT_DOUBLE_EQ(b.cor(3, 4), std::exp(-3.0));
  EXPECT_DOUBLE_EQ(sitdst(*one, 3, 2), 3.0);

  auto none = network(0);  // no co-ordinates: every distance 0
  expect_matrix(build(3, params({0.5}), *none), 4, [](double) { return 1.0; });
  EXPECT_EQ(ncoord(*network(5)), 2);
}

TEST(Corset, MissingOrInvalidParametersStop) {
  auto s = network();
  const std::string undefined =
      "****ERROR**** In file gammamdl.def, you haven't defined all the parameters\n"
      "required for your chosen correlation structure\n";
  for (auto [spmod, rho] : {std::pair{4, params({0.1})}, {5, params({0.1})}, {6, params({0.1, 1.0})}}) {
    Built b = build(spmod, rho, *s);
    EXPECT_TRUE(b.outcome.ended && b.outcome.status == 1) << spmod;
    EXPECT_EQ(b.outcome.output, undefined) << spmod;
  }

  Built c = build(2, params({1.2}), *s);
  EXPECT_TRUE(c.outcome.ended && c.outcome.status == 1);
  EXPECT_EQ(c.outcome.output,
            "****ERROR**** In file gammamdl.def, you have asked for a constant spatial\n"
            "correlation whose magnitude is greater than 1!\n");
  EXPECT_FALSE(build(2, params({-1.0}), *s).outcome.ended);

  // 21 and 22 are valid structures but have no correlation matrix.
  for (int spmod : {7, 21}) {
    Built u = build(spmod, params({0.5}), *s);
    EXPECT_TRUE(u.outcome.ended && u.outcome.status == 1);
    EXPECT_EQ(u.outcome.output, "\n****ERROR**** you've asked for spatial correlation model " +
                                    std::string(spmod == 7 ? " 7" : "21") + " - \nI don't have one of those!\n");
  }
}

TEST(Corset, EmpiricalCorrelationsFromFile) {
  rgtest::TempDir dir;
  auto s = network();
  // Pairs in either order, CRLF endings, a value without a decimal point (four
  // implied decimals), lines for unknown sites, a site paired with itself, a short
  // line, trailing comment columns, a later line overriding an earlier one and an
  // empty last line.
  dir.write("cor_gamm.dat",
            "Site1  Site2  Corr      N   Xsep    Ysep \r\n"
            "S001    S002     0.5000  100  -3.000  -4.000\r\n"
            "S003    S001     0.9000   10   0.000   0.000\r\n"
            "AB      S001     0.2500\r\n"
            "S004    S001    -0.1000\r\n"
            "S002    AB        -0.75\r\n"
            "S002    S004       1000\r\n"
            "S004    S004     0.3000\r\n"
            "AB      S004    -1.0000\r\n"
            "XXXX    S002      abc\r\n"
            "S00\r\n"
            "S001    S002     0.6000\r\n"
            "\r\n");
  Built b = build(1, params({}), *s, "cor_gamm.dat");
  ASSERT_FALSE(b.outcome.ended) << b.outcome.output;
  EXPECT_TRUE(b.outcome.output.empty());
  EXPECT_FALSE(channels().connected(66));  // closed after reading
  const double want[5][5] = {{0, 0, 0, 0, 0},
                             {0, 1, 0.6, 0.25, -0.1},
                             {0, 0.6, 1, -0.75, 0.1},
                             {0, 0.25, -0.75, 1, -1.0},
                             {0, -0.1, 0.1, -1.0, 1}};
  for (int p = 1; p <= 4; ++p)
    for (int q = 1; q <= 4; ++q) EXPECT_DOUBLE_EQ(b.cor(p, q), want[p][q]) << p << "," << q;
}

TEST(Corset, EmpiricalPairWithoutValidCorrelationStops) {
  rgtest::TempDir dir;
  auto s = network();
  const std::string complete_but_2_4 =
      "heading\n"
      "S001    S002     0.5000\n"
      "S001    AB       0.5000\n"
      "S001    S004     0.5000\n"
      "S002    AB       0.5000\n"
      "AB      S004     0.5000\n";
  auto message = [](const std::string& p, const std::string& q) {
    return "****ERROR**** I don't have a valid spatial correlation between sites\n" + p + " and " + q +
           ". This is either because there is no entry in file cor_gamm.dat\n"
           "for this site pair, or because the correlation in the file exceeds 1 in\n"
           "magnitude (which itself could be a missing value flag of -9.999).\n"
           "     Please sort this out!\n";
  };
  dir.write("cor_gamm.dat", complete_but_2_4);
  Built b = build(1, params({}), *s, "cor_gamm.dat");
  EXPECT_TRUE(b.outcome.ended && b.outcome.status == 1);
  EXPECT_EQ(b.outcome.output, message("S002", "S004"));

  dir.write("cor_gamm.dat", complete_but_2_4 + "S004    S002    -9.9990   0\n");
  b = build(1, params({}), *s, "cor_gamm.dat");
  EXPECT_EQ(b.outcome.output, message("S002", "S004"));

  // The code of site 3 is padded to four characters in the message.
  dir.write("cor_gamm.dat", "heading\nS001    S002     0.5000\n");
  b = build(1, params({}), *s, "cor_gamm.dat");
  EXPECT_EQ(b.outcome.output, message("S001", "AB  "));
}

TEST(Corset, EmpiricalUnreadableValueIsAnInputError) {
  rgtest::TempDir dir;
  auto s = network();
  auto input_error = [](int line) {
    return "\n****ERROR**** Input error while reading line " + std::string(line < 10 ? "  " : " ") +
           std::to_string(line) +
           " of file cor_gamm.dat.\n"
           "This *may* (but no promises!) be because you have at least one empty\n"
           "line at the end of the file. If this is the case, delete the \n"
           "offending line(s) and try again.\n";
  };
  for (std::string bad : {"S002    S001     0.5x00", "S002    S001", "S002    S001    ", "S002    S001     1.2.3"}) {
    dir.write("cor_gamm.dat", "heading\nS001    AB       0.5000\n" + bad + "\n");
    Built b = build(1, params({}), *s, "cor_gamm.dat");
    EXPECT_TRUE(b.outcome.ended && b.outcome.status == 1) << bad;
    EXPECT_EQ(b.outcome.output, input_error(3)) << bad;
    EXPECT_FALSE(channels().connected(66));
  }

  Built missing = build(1, params({}), *s, "nofile.dat");
  EXPECT_TRUE(missing.outcome.ended && missing.outcome.status == 1);
  EXPECT_EQ(missing.outcome.output, "\n****ERROR**** Input file nofile.dat   does not exist\n");
}

TEST(Rhochk, AcceptsEachStructureWithItsParameters) {
  EXPECT_EQ(rhochk_output(0, params({})), "");
  EXPECT_EQ(rhochk_output(1, params({})), "");
  EXPECT_EQ(rhochk_output(2, params({-1.0})), "");
  EXPECT_EQ(rhochk_output(3, params({1.0e6})), "");
  EXPECT_EQ(rhochk_output(4, params({0.0, 1.0})), "");
  EXPECT_EQ(rhochk_output(5, params({2.0, 0.0})), "");
  EXPECT_EQ(rhochk_output(6, params({2.0, 1.5, -1.0})), "");
  EXPECT_EQ(rhochk_output(21, params({-1.0e6})), "");
  // Bounds are those of the structure checked: 5 is out of bounds for structure 2
  // but not for 21, whatever was checked before.
  EXPECT_EQ(rhochk_output(2, params({5.0})), out_of_bounds);
  EXPECT_EQ(rhochk_output(21, params({5.0})), "");
  // The Beta-Binomial structure may also be given its shrinkage step and message switch.
  EXPECT_EQ(rhochk_output(22, params({3.0})), "");
  EXPECT_EQ(rhochk_output(22, params({3.0, 0.05, 0.0})), "");
}

TEST(Rhochk, RejectsUnknownStructuresCountsAndBounds) {
  for (int spmod : {-1, 7, 20, 23}) {
    EXPECT_EQ(rhochk_output(spmod, params({})),
              "\n****ERROR**** unknown spatial dependence structure requested\nin file gammamdl.def.\n")
        << spmod;
  }
  EXPECT_EQ(rhochk_output(3, params({0.5, 1.0})), wrong_number);
  EXPECT_EQ(rhochk_output(4, params({0.5})), wrong_number);
  EXPECT_EQ(rhochk_output(1, params({0.5})), wrong_number);
  EXPECT_EQ(rhochk_output(21, params({})), wrong_number);
  EXPECT_EQ(rhochk_output(22, params({3.0, 0.05, 1.0, 1.0})), wrong_number);
  Array1<double> last = params({0.5});
  last(MAXRHO) = 1.0;  // a stray parameter in the last slot
  EXPECT_EQ(rhochk_output(3, last), wrong_number);
  Array1<double> gap = params({0.5});
  gap(2) = 9.9e7;  // just below the not-given threshold: a given value
  EXPECT_EQ(rhochk_output(3, gap), wrong_number);

  EXPECT_EQ(rhochk_output(3, params({-0.1})), out_of_bounds);
  // A Beta-Binomial shape of 0 or below has no distribution.
  EXPECT_EQ(rhochk_output(22, params({0.0})), out_of_bounds);
  EXPECT_EQ(rhochk_output(22, params({-2.0, 0.05})), out_of_bounds);
  EXPECT_EQ(rhochk_output(3, params({1.0e6 + 1.0})), out_of_bounds);
  EXPECT_EQ(rhochk_output(2, params({1.0001})), out_of_bounds);
  EXPECT_EQ(rhochk_output(4, params({0.1, -1.5})), out_of_bounds);
  EXPECT_EQ(rhochk_output(5, params({0.1, -0.5})), out_of_bounds);
  EXPECT_EQ(rhochk_output(6, params({0.1, 1.0, 1.01})), out_of_bounds);
  EXPECT_EQ(rhochk_output(22, params({1.0, -2.0e6})), out_of_bounds);
}

TEST(SpatialNames, TablesForTheReport) {
  EXPECT_EQ(spmtxt(0), "Independence");
  EXPECT_EQ(spmtxt(6), "Thresholded pow. exp. corr. fn: a + (1-a)exp[-phi*(d^k)] for");
  EXPECT_EQ(spmtxt(7), "");
  EXPECT_EQ(rhotxt(6, 2), "Power of distance, d");
  EXPECT_EQ(rhotxt(22, 3), "Print errors? (0=no, else yes)");
  EXPECT_EQ(rhotxt(3, 2), "");
  EXPECT_EQ(sptitl(3, 11), "Exponential correlation function: exp[-phi*d] for Anscombe residuals");
  EXPECT_EQ(sptitl(6, 1), "Thresholded pow. exp. corr. fn: a + (1-a)exp[-phi*(d^k)] for latent Ga");
  EXPECT_EQ(sptitl(21, 1), "Conditional independence given 'wet/dry' weather state");
  EXPECT_EQ(sptitl(0, 11), "Independence");
}
