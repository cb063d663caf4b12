// Attribute transformations, trends, monthly and daily effects. Expected values are
// closed forms worked by hand (noted beside each) and derivatives are checked
// against central finite differences of the values the routines return.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "effects.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "sites.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

constexpr double pi = 3.141592653589793;

// A network of sites: attributes[s-1] holds the attribute values of site s.
SiteTable network(const std::vector<std::vector<double>>& attributes, const std::vector<std::string>& names) {
  SiteTable t;
  t.nattr = static_cast<int>(names.size());
  t.nsites = static_cast<int>(attributes.size());
  for (int a = 1; a <= t.nattr; ++a) t.attnam(a) = fmt_a(names[a - 1], 70);
  for (int s = 1; s <= t.nsites; ++s)
    for (int a = 1; a <= t.nattr; ++a) t.sitinf(s, a, 1) = attributes[s - 1][a - 1];
  return t;
}

// A model with one site-attribute covariate per entry: (attribute, transformation).
Model attribute_model(const std::vector<std::pair<int, int>>& covariates) {
  Model m;
  const int n = static_cast<int>(covariates.size());
  for (int t = 1; t <= 6; ++t) m.np(t) = n;
  for (int w = 1; w <= n; ++w) {
    m.covcod(w) = covariates[w - 1].first;
    if (covariates[w - 1].second != 0) {
      m.sitxfm(w, 1) = covariates[w - 1].first;
      m.sitxfm(w, 2) = covariates[w - 1].second;
      m.nlstat(w, 1) = m.nlstat(w, 2) = 0;
    }
  }
  return m;
}

// Value in layer 1 of column `col` at site s after transforming with parameter
// `k` of covariate w set to v.
double value_with(Model m, SiteTable t, int w, int k, double v, int s) {
  m.theta(w, k) = v;
  attrxfm(m, t, 1);
  return t.sitinf(s, m.covcod(w), 1);
}

double central(const std::function<double(double)>& f, double x, double h) { return (f(x + h) - f(x - h)) / (2 * h); }

}  // namespace

// ---- Site-attribute transformations ----

TEST(Attrxfm, BoxCoxValuesLimitsAndDerivative) {
  const SiteTable base = network({{0.5}, {1.0}, {4.0}, {20.0}}, {"Elevation"});
  Model m = attribute_model({{1, 1}});
  SiteTable t = base;

  // lambda = 0: ln x and (ln x)^2 / 2.
  m.theta(1, 1) = 0.0;
  attrxfm(m, t, 0);
  EXPECT_EQ(m.covcod(1), 2);
  for (int s = 1; s <= 4; ++s) {
    const double lx = std::log(base.sitinf(s, 1, 1));
    EXPECT_DOUBLE_EQ(t.sitinf(s, 2, 1), lx);
    EXPECT_DOUBLE_EQ(t.sitinf(s, 2, 2), lx * lx / 2);
    EXPECT_EQ(t.sitinf(s, 2, 3), 0.0);
    EXPECT_EQ(t.sitinf(s, 2, 4), 0.0);
  }
  // lambda = 1: x - 1; lambda = 0.5 at x = 4: (2 - 1)/0.5 = 2.
  m.theta(1, 1) = 1.0;
  attrxfm(m, t, 0);
  for (int s = 1; s <= 4; ++s) EXPECT_NEAR(t.sitinf(s, 2, 1), base.sitinf(s, 1, 1) - 1.0, 1e-14);
  m.theta(1, 1) = 0.5;
  attrxfm(m, t, 0);
  EXPECT_NEAR(t.sitinf(3, 2, 1), 2.0, 1e-14);

  // Derivative with respect to lambda against central differences, including a
  // lambda so small that the closed form would have cancelled to noise.
  for (double lambda : {-0.7, 0.5, 2.0, 1e-3, -2e-4}) {
    m.theta(1, 1) = lambda;
    attrxfm(m, t, 0);
    for (int s = 1; s <= 4; ++s) {
      const double fd = central([&](double v) { return value_with(m, base, 1, 1, v, s); }, lambda, 1e-5);
      EXPECT_NEAR(t.sitinf(s, 2, 2), fd, 1e-7 * (1 + std::fabs(fd))) << "lambda " << lambda << " site " << s;
    }
  }
  // Near 0 the derivative is (ln x)^2/2 + lambda (ln x)^3/3 + O(lambda^2) (Taylor
  // series of (x^l - 1)/l in l).
  m.theta(1, 1) = 1e-9;
  attrxfm(m, t, 0);
  const double l20 = std::log(20.0);
  EXPECT_NEAR(t.sitinf(4, 2, 2), l20 * l20 / 2 + 1e-9 * l20 * l20 * l20 / 3, 4e-15);
  EXPECT_NEAR(t.sitinf(4, 2, 1), l20 + 1e-9 * l20 * l20 / 2, 4e-15);
}

TEST(Attrxfm, ExponentialAndArctanValuesAndDerivatives) {
  const SiteTable base = network({{-1.5}, {0.0}, {2.0}}, {"Distance from coast"});
  Model m = attribute_model({{1, 2}, {1, 3}});
  m.theta(1, 1) = 0.3;
  m.theta(2, 1) = 0.5;   // location
  m.theta(2, 2) = 1.25;  // scale
  SiteTable t = base;
  attrxfm(m, t, 0);
  EXPECT_EQ(m.covcod(1), 2);
  EXPECT_EQ(m.covcod(2), 3);
  for (int s = 1; s <= 3; ++s) {
    const double x = base.sitinf(s, 1, 1);
    EXPECT_DOUBLE_EQ(t.sitinf(s, 2, 1), std::exp(0.3 * x));
    EXPECT_DOUBLE_EQ(t.sitinf(s, 3, 1), std::atan((x - 0.5) / 1.25));
    const double da = central([&](double v) { return value_with(m, base, 1, 1, v, s); }, 0.3, 1e-6);
    const double d1 = central([&](double v) { return value_with(m, base, 2, 1, v, s); }, 0.5, 1e-6);
    const double d2 = central([&](double v) { return value_with(m, base, 2, 2, v, s); }, 1.25, 1e-6);
    EXPECT_NEAR(t.sitinf(s, 2, 2), da, 1e-8);
    EXPECT_NEAR(t.sitinf(s, 3, 2), d1, 1e-8);
    EXPECT_NEAR(t.sitinf(s, 3, 3), d2, 1e-8);
    EXPECT_EQ(t.sitinf(s, 2, 3), 0.0);
    EXPECT_EQ(t.sitinf(s, 3, 4), 0.0);
  }
  // At x = location the value is 0 and the slope in the location is -1/scale.
  EXPECT_NEAR(value_with(m, base, 2, 1, 2.0, 3), 0.0, 1e-15);
}

TEST(Attrxfm, FourierAndLegendreSeriesOverTheInterval) {
  // Attribute 1 on (0, 4), attribute 2 on (-1, 3): hand-worked points.
  const SiteTable base = network({{1.0, 1.0}, {2.0, -0.5}, {3.0, 0.0}}, {"Easting", "Northing"});
  // Codes: 11 sine h=1, 12 cosine h=1, 13 sine h=2, 14 cosine h=2, 30 cosine h=10;
  // Legendre degrees 2, 3, 4 of attribute 2.
  Model m = attribute_model({{1, 11}, {1, 12}, {1, 13}, {1, 14}, {1, 30}, {2, 32}, {2, 33}, {2, 34}});
  m.fouidx(1) = 1;
  m.theta(1, 1) = 0.0;
  m.theta(1, 2) = 4.0;
  m.legidx(2) = 6;
  m.theta(6, 1) = -1.0;
  m.theta(6, 2) = 3.0;
  SiteTable t = base;
  attrxfm(m, t, 0);
  for (int w = 1; w <= 8; ++w) EXPECT_EQ(m.covcod(w), 2 + w);
  // Angle 2*pi*h*(x - 0)/4: x = 1 -> pi/2 h, x = 2 -> pi h, x = 3 -> 3 pi h / 2.
  EXPECT_NEAR(t.sitinf(1, 3, 1), 1.0, 1e-15);   // sin(pi/2)
  EXPECT_NEAR(t.sitinf(1, 4, 1), 0.0, 1e-15);   // cos(pi/2)
  EXPECT_NEAR(t.sitinf(1, 5, 1), 0.0, 1e-15);   // sin(pi)
  EXPECT_NEAR(t.sitinf(1, 6, 1), -1.0, 1e-15);  // cos(pi)
  EXPECT_NEAR(t.sitinf(1, 7, 1), -1.0, 1e-14);  // h = 10: cos(5 pi)
  EXPECT_NEAR(t.sitinf(3, 3, 1), -1.0, 1e-15);  // sin(3 pi/2)
  // z = (2x - 2)/4: x = 1 -> 0, x = -0.5 -> -0.75, x = 0 -> -0.5.
  // P2 = (3z^2 - 1)/2, P3 = (5z^3 - 3z)/2, P4 = (35z^4 - 30z^2 + 3)/8.
  EXPECT_NEAR(t.sitinf(1, 8, 1), -0.5, 1e-15);
  EXPECT_NEAR(t.sitinf(1, 9, 1), 0.0, 1e-15);
  EXPECT_NEAR(t.sitinf(1, 10, 1), 0.375, 1e-15);
  EXPECT_NEAR(t.sitinf(2, 8, 1), 0.34375, 1e-15);
  EXPECT_NEAR(t.sitinf(2, 9, 1), 0.0703125, 1e-15);
  EXPECT_NEAR(t.sitinf(3, 10, 1), -0.2890625, 1e-15);
  for (int s = 1; s <= 3; ++s)
    for (int c = 3; c <= 10; ++c)
      for (int layer = 2; layer <= 4; ++layer) EXPECT_EQ(t.sitinf(s, c, layer), 0.0);
}

TEST(Attrxfm, LegendreAtTheLimitsAndHighDegree) {
  // Points at the limits themselves: P_n(-1) = (-1)^n, P_n(1) = 1; P2 at the
  // midpoint -0.5. P10(0.5) = -49343/262144, worked in exact rational arithmetic
  // from the explicit form P_n(x) = 2^-n sum_k C(n,k)^2 (x-1)^(n-k) (x+1)^k.
  const SiteTable base = network({{10.0}, {20.0}, {15.0}, {17.5}}, {"Height"});
  Model m = attribute_model({{1, 32}, {1, 33}, {1, 40}});
  m.legidx(1) = 2;
  m.theta(2, 1) = 10.0;
  m.theta(2, 2) = 20.0;
  SiteTable t = base;
  attrxfm(m, t, 1);
  EXPECT_DOUBLE_EQ(t.sitinf(1, 2, 1), 1.0);
  EXPECT_DOUBLE_EQ(t.sitinf(1, 3, 1), -1.0);
  EXPECT_DOUBLE_EQ(t.sitinf(2, 4, 1), 1.0);
  EXPECT_DOUBLE_EQ(t.sitinf(3, 2, 1), -0.5);
  EXPECT_NEAR(t.sitinf(4, 4, 1), -49343.0 / 262144.0, 1e-15);
}

TEST(Attrxfm, ColumnsCodesAndTexts) {
  // A 70-character name shows how each text is cut.
  const std::string longname = "Mean annual rainfall over the period 1961-1990 from the gridded product";
  ASSERT_EQ(longname.size(), 71u);
  SiteTable t = network({{1.0, 2.0}, {3.0, 4.0}}, {"Elevation (m)", longname});
  Model m = attribute_model({{1, 0}, {1, 1}, {2, 2}, {2, 3}, {2, 15}, {2, 16}, {2, 35}, {1, 0}});
  m.theta(2, 1) = 0.5;
  m.theta(3, 1) = 0.1;
  m.theta(4, 1) = 1.0;
  m.theta(4, 2) = 2.0;
  m.fouidx(2) = 5;
  m.theta(5, 1) = 0.0;
  m.theta(5, 2) = 10.0;
  m.legidx(2) = 7;
  m.theta(7, 1) = 0.0;
  m.theta(7, 2) = 10.0;
  attrxfm(m, t, 0);
  const int expected[] = {1, 3, 4, 5, 6, 7, 8, 1};
  for (int w = 1; w <= 8; ++w) EXPECT_EQ(m.covcod(w), expected[w - 1]) << w;
  EXPECT_EQ(t.nattr, 2);
  const std::string name70 = longname.substr(0, 70);
  EXPECT_EQ(t.attnam(3), fmt_a("Box-Cox power transform of Elevation (m)", 70));
  EXPECT_EQ(t.attnam(4), ("exp[ax] transform of " + name70).substr(0, 70));
  EXPECT_EQ(t.attnam(5), ("Arctan-transformed " + name70).substr(0, 70));
  EXPECT_EQ(t.attnam(6), "Fourier sine component  3 for " + name70.substr(0, 40));
  EXPECT_EQ(t.attnam(7), "Fourier cosine component  3 for " + name70.substr(0, 38));
  EXPECT_EQ(t.attnam(8), "Legendre polynomial  5 for " + name70.substr(0, 43));
  for (int c = 3; c <= 8; ++c) EXPECT_EQ(t.attnam(c).size(), 70u);

  // A second call (as after a change of parameters) reuses the same columns.
  m.theta(2, 1) = 2.0;
  attrxfm(m, t, 1);
  for (int w = 1; w <= 8; ++w) EXPECT_EQ(m.covcod(w), expected[w - 1]) << w;
  EXPECT_DOUBLE_EQ(t.sitinf(2, 3, 1), (9.0 - 1.0) / 2.0);  // (3^2 - 1)/2
}

TEST(Attrxfm, BoxCoxOfNonPositiveAttributeStops) {
  SiteTable t = network({{2.0, 1.0}, {1.0, 0.0}, {3.0, -1.0}}, {"A", "B"});
  Model m = attribute_model({{1, 1}, {2, 1}});
  m.theta(1, 1) = 0.5;
  m.theta(2, 1) = 0.5;
  auto r = capture([&] { attrxfm(m, t, 0); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "\n****ERROR**** you have asked for a Box-Cox transform of site attribute  2,\n"
            "but the value of this attribute is no strictly positive at site   2.\n");
}

TEST(Attrxfm, SeriesWithoutLimitsStops) {
  SiteTable t = network({{2.0}, {1.0}}, {"A"});
  Model m = attribute_model({{1, 0}, {1, 21}});
  m.mdltit = fmt_a("Amounts at the test network", 70);
  auto r = capture([&] { attrxfm(m, t, 0); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "\n****ERROR**** Wrong number of parameters supplied to ATTRXFM\n"
            "(covariate  2). Check model definition file. (I'm currently working\n"
            "on the following model:\n" +
                fmt_a("Amounts at the test network", 70) + ")\n");
  // A holder row with only one limit, when counts are not verified, is the same fault.
  m.fouidx(1) = 2;
  m.theta(2, 1) = 0.0;
  r = capture([&] { attrxfm(m, t, 1); });
  EXPECT_TRUE(r.ended);
  EXPECT_NE(r.output.find("Wrong number of parameters supplied to ATTRXFM"), std::string::npos);
}

TEST(Attrxfm, ParameterCountsAreVerifiedWhenAsked) {
  SiteTable t = network({{2.0}, {1.0}}, {"A"});
  // Arctan needs two parameters; only one given.
  Model m = attribute_model({{1, 3}});
  m.theta(1, 1) = 0.5;
  auto r = capture([&] { attrxfm(m, t, 0); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Wrong number of parameters supplied for transformation"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("of covariate  1. Check model definition file."), std::string::npos) << r.output;
  // An untransformed attribute carries no parameters.
  Model plain = attribute_model({{1, 0}});
  plain.theta(1, 1) = 0.5;
  r = capture([&] { attrxfm(plain, t, 0); });
  EXPECT_TRUE(r.ended);
}

TEST(Attrxfm, UnknownTransformationAndFullTableStop) {
  SiteTable t = network({{2.0}, {1.0}}, {"A"});
  Model m = attribute_model({{1, 5}});
  auto r = capture([&] { attrxfm(m, t, 1); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "\n****ERROR**** Illegal transformation requested in ATTRXFM\n");

  // 79 raw attributes leave room for one derived column only.
  SiteTable wide;
  wide.nsites = 1;
  wide.nattr = 79;
  for (int a = 1; a <= 79; ++a) wide.sitinf(1, a, 1) = a;
  Model two = attribute_model({{1, 2}, {2, 2}});
  two.theta(1, 1) = two.theta(2, 1) = 0.1;
  r = capture([&] { attrxfm(two, wide, 1); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("insufficient internal storage"), std::string::npos) << r.output;
}

// ---- Trends ----

TEST(Trendsb, LinearChangepointAndCyclicalTrends) {
  Array2<double> theta(1, MAXPAR, 1, 3, NOTDEF);
  Array1<double> r(1, 3);
  trendsb(r, 1990, 1, 1, theta, 0, MAXPAR);
  EXPECT_DOUBLE_EQ(r(1), 4.0);  // (1990 - 1950)/10
  EXPECT_EQ(r(2), 0.0);

  theta(2, 1) = 1970.0;
  trendsb(r, 1970, 2, 2, theta, 0, MAXPAR);  // the changepoint year itself
  EXPECT_EQ(r(1), 0.0);
  EXPECT_EQ(r(2), 0.0);
  trendsb(r, 1985, 2, 2, theta, 0, MAXPAR);
  EXPECT_DOUBLE_EQ(r(1), 1.5);
  EXPECT_DOUBLE_EQ(r(2), -0.1);

  // Cyclical: P = 11, T = 1980. At y = T the value is -cos 0 = -1; at y = T + P/4
  // the value is -cos(pi/2) = 0.
  theta(3, 1) = 11.0;
  theta(3, 2) = 1980.0;
  trendsb(r, 1980, 3, 3, theta, 0, MAXPAR);
  EXPECT_DOUBLE_EQ(r(1), -1.0);
  theta(3, 1) = 8.0;
  trendsb(r, 1982, 3, 3, theta, 0, MAXPAR);
  EXPECT_NEAR(r(1), 0.0, 1e-15);
  for (double period : {8.0, 11.0, 3.7}) {
    for (int year : {1961, 1987, 2003}) {
      theta(3, 1) = period;
      theta(3, 2) = 1980.3;
      trendsb(r, year, 3, 3, theta, 0, MAXPAR);
      const double d1 = r(2), d2 = r(3);
      Array2<double> th = theta;
      Array1<double> q(1, 3);
      auto f = [&](int k, double v) {
        th = theta;
        th(3, k) = v;
        trendsb(q, year, 3, 3, th, 1, MAXPAR);
        return q(1);
      };
      EXPECT_NEAR(d1, central([&](double v) { return f(1, v); }, period, 1e-5), 1e-7);
      EXPECT_NEAR(d2, central([&](double v) { return f(2, v); }, 1980.3, 1e-4), 1e-6);
    }
  }
}

TEST(Trendsb, IllegalCodeAndParameterCount) {
  Array2<double> theta(1, MAXPAR, 1, 3, NOTDEF);
  Array1<double> r(1, 3);
  auto out = capture([&] { trendsb(r, 1990, 1, 4, theta, 0, MAXPAR); });
  EXPECT_TRUE(out.ended);
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.output, "\n****ERROR**** Illegal trend requested in TRENDFN\n");
  // A changepoint trend without its year.
  out = capture([&] { trendsb(r, 1990, 1, 2, theta, 0, MAXPAR); });
  EXPECT_TRUE(out.ended);
  EXPECT_NE(out.output.find("Wrong number of parameters supplied for transformation"), std::string::npos);
}

// ---- Monthly effects ----

TEST(Monsb, HarmonicsAndIndicators) {
  double v = -1;
  monsb(v, 1, 1990, 11);
  EXPECT_EQ(v, 1.0);
  monsb(v, 2, 1990, 11);
  EXPECT_EQ(v, 0.0);
  monsb(v, 12, 1990, 22);
  EXPECT_EQ(v, 1.0);
  monsb(v, 6, 1990, 2);  // sin(pi)
  EXPECT_NEAR(v, 0.0, 1e-15);
  monsb(v, 2, 1990, 1);  // cos(pi/3)
  EXPECT_NEAR(v, 0.5, 1e-15);
  monsb(v, 2, 1990, 3);  // cos(2 pi/3)
  EXPECT_NEAR(v, -0.5, 1e-15);
  monsb(v, 1, 1990, 4);  // sin(pi/3)
  EXPECT_NEAR(v, std::sqrt(3.0) / 2, 1e-15);
  monsb(v, 12, 1990, 1);  // cos(2 pi)
  EXPECT_NEAR(v, 1.0, 1e-15);
  for (int code : {0, 5, 10, 23}) {
    auto r = capture([&] { monsb(v, 3, 1990, code); });
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "****ERROR**** Illegal choice of predictor in MONFN\n");
  }
}

// ---- Daily effects ----

TEST(Dlyeff, DayOfYearIgnoresLeapYears) {
  EXPECT_EQ(dayofy(1, 1), 1);
  EXPECT_EQ(dayofy(29, 2), 60);
  EXPECT_EQ(dayofy(1, 3), 61);
  EXPECT_EQ(dayofy(31, 12), 366);
  // 31 December is day 366 in every year: cos(2 pi) = 1, sin(2 pi) = 0.
  for (int year : {1999, 2000}) {
    EXPECT_NEAR(dlyeff(31, 12, year, 21), 1.0, 1e-15);
    EXPECT_NEAR(dlyeff(31, 12, year, 22), 0.0, 1e-15);
    EXPECT_NEAR(dlyeff(1, 3, year, 21), std::cos(pi * 61 / 183), 1e-15);
  }
  // Day 183 (1 July): cos(pi) = -1; half-year cycle cos(2 pi) = 1.
  EXPECT_EQ(dayofy(1, 7), 183);
  EXPECT_NEAR(dlyeff(1, 7, 1995, 21), -1.0, 1e-15);
  EXPECT_NEAR(dlyeff(1, 7, 1995, 23), 1.0, 1e-15);
  EXPECT_NEAR(dlyeff(1, 7, 1995, 24), 0.0, 1e-14);
  // 1 April is day 91 + 1 = 92.
  EXPECT_NEAR(dlyeff(1, 4, 1995, 24), std::sin(pi * 92 / 91.5), 1e-15);
}

TEST(Dlyeff, SmoothMonthEffects) {
  EXPECT_DOUBLE_EQ(dlyeff(16, 1, 1990, 31), 1.0);
  // 1 January: b = -15/16, (1 - 225/256)^2 = (31/256)^2.
  EXPECT_DOUBLE_EQ(dlyeff(1, 1, 1990, 31), (31.0 / 256) * (31.0 / 256));
  EXPECT_EQ(dlyeff(1, 2, 1990, 31), 0.0);
  // February always has 29 days: h = 15, peak on the 15th in every year.
  EXPECT_DOUBLE_EQ(dlyeff(15, 2, 1991, 32), 1.0);
  EXPECT_DOUBLE_EQ(dlyeff(29, 2, 1992, 32), (1 - (14.0 / 15) * (14.0 / 15)) * (1 - (14.0 / 15) * (14.0 / 15)));
  // April: h = 15.5; on the 1st b = -14.5/15.5.
  const double b = -14.5 / 15.5;
  EXPECT_DOUBLE_EQ(dlyeff(1, 4, 1990, 34), (1 - b * b) * (1 - b * b));
  EXPECT_DOUBLE_EQ(dlyeff(31, 12, 1990, 42), (31.0 / 256) * (31.0 / 256));
}

TEST(Dlyeff, UndefinedEffectsStop) {
  for (int code : {11, 20, 25, 30, 43, 50}) {
    auto r = capture([&] { dlyeff(1, 1, 1990, code); });
    EXPECT_TRUE(r.ended) << code;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "****ERROR**** Undefined effect found in DYSET\n");
  }
}
