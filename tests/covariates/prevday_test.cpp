// Previous-day predictors. Expected values are worked by hand on a small network with
// known distances (noted beside each), weights come from the closed form exp(-phi d)
// written out in the test, and every derivative is checked against a central finite
// difference of the value that dyset itself returns.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "model.hpp"
#include "prevday.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

// Four sites: d(1,2) = 5, d(1,3) = 10, d(1,4) = 1, d(2,3) = 5, d(2,4) = sqrt(18),
// d(3,4) = sqrt(85).
std::unique_ptr<SiteTable> network() {
  auto t = std::make_unique<SiteTable>();
  const double xy[4][2] = {{0, 0}, {3, 4}, {6, 8}, {0, 1}};
  t->nsites = 4;
  t->nattr = 2;
  t->attnam(1) = fmt_a("Easting (km)", 70);
  t->attnam(2) = fmt_a("Northing (km)", 70);
  for (int i = 1; i <= 4; ++i) {
    t->sitinf(i, 1, 1) = xy[i - 1][0];
    t->sitinf(i, 2, 1) = xy[i - 1][1];
  }
  return t;
}

double dist(const SiteTable& t, int i, int j) {
  return std::sqrt(std::pow(t.sitinf(i, 1, 1) - t.sitinf(j, 1, 1), 2) + std::pow(t.sitinf(i, 2, 1) - t.sitinf(j, 2, 1), 2));
}

int code(int lag, int xfm, int scheme = 0, int order = 0) { return lag + 1000 * (xfm + 10 * scheme + 100 * order); }

double central(const std::function<double(double)>& f, double x, double h) { return (f(x + h) - f(x - h)) / (2 * h); }

struct Fixture : ::testing::Test {
  std::unique_ptr<SiteTable> sites = network();
  std::unique_ptr<Model> m = std::make_unique<Model>();
  Matrix prev{MAXSIT, MAXLAG};

  void SetUp() override {
    prvrst();
    prev.fill(1.0);
  }
  // Scheme w held by covariate h with the given parameters; `estimate` marks
  // parameter k (1..3) as estimated at position 10 + k.
  void scheme(int w, int h, std::initializer_list<double> par, std::initializer_list<int> estimate = {}) {
    m->pwtidx(w, 1) = h;
    int k = 1;
    for (double v : par) m->theta(h, k++) = v;
    for (int e : estimate) m->pwtidx(w, 1 + e) = 10 + e;
  }
  std::array<double, 4> eval(int c, int site = 1, double trace = 0.0, int icheck = 0) {
    std::array<double, 4> r{};
    dyset(15, 6, 1990, prev, site, trace, c, m->theta, m->pwtidx, *sites, icheck, r);
    return r;
  }
  // The value as a function of parameter k of the scheme's holder row h.
  std::function<double(double)> value_of(int c, int h, int k, int site = 1) {
    return [=, this](double v) {
      const double keep = m->theta(h, k);
      m->theta(h, k) = v;
      const double r = eval(c, site, 0.0, 1)[0];
      m->theta(h, k) = keep;
      return r;
    };
  }
};

TEST(Thtchk, AcceptsExactlyTheFirstNSlots) {
  Array2<double> theta(1, MAXPAR, 1, 3, NOTDEF);
  EXPECT_FALSE(capture([&] { thtchk(theta, 5, 0, MAXPAR); }).ended);
  theta(5, 1) = 0.3;
  EXPECT_FALSE(capture([&] { thtchk(theta, 5, 1, MAXPAR); }).ended);
  theta(5, 2) = 1.0e8;  // at the limit still counts as given
  EXPECT_FALSE(capture([&] { thtchk(theta, 5, 2, MAXPAR); }).ended);
  auto o = capture([&] { thtchk(theta, 5, 1, MAXPAR); });
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output,
            "\n****ERROR**** Wrong number of parameters supplied for transformation \n"
            "of covariate  5. Check model definition file.\n");
  // A gap (slot 1 missing, slot 2 given) is wrong for any count.
  theta(7, 2) = 1.0;
  EXPECT_TRUE(capture([&] { thtchk(theta, 7, 2, MAXPAR); }).ended);
  EXPECT_TRUE(capture([&] { thtchk(theta, 7, 0, MAXPAR); }).ended);
}

TEST_F(Fixture, TransformationsOfTheSitesOwnValue) {
  std::array<double, 2> f{};
  prvxfm(2.5, 0, 0.0, 1, prev, 1, 1, f);
  EXPECT_EQ(f[0], 2.5);
  EXPECT_EQ(f[1], 1.0);
  prvxfm(2.0, 1, 0.0, 1, prev, 1, 1, f);
  EXPECT_DOUBLE_EQ(f[0], 0.69314718055994531);  // ln 2
  EXPECT_DOUBLE_EQ(f[1], 0.5);
  prvxfm(3.0, 2, 0.0, 1, prev, 1, 1, f);
  EXPECT_DOUBLE_EQ(f[0], 1.3862943611198906);  // ln 4
  EXPECT_DOUBLE_EQ(f[1], 0.25);
  // Indicators have no derivative.
  prvxfm(0.0, 3, 0.0, 1, prev, 1, 1, f);
  EXPECT_EQ(f[0], 0.0);
  prvxfm(0.2, 3, 0.0, 1, prev, 1, 1, f);
  EXPECT_EQ(f[0], 1.0);
  EXPECT_EQ(f[1], 0.0);
  // Trace indicator with threshold 0.3: only 0 < y < 0.3.
  for (auto [y, want] : {std::pair{0.2, 1.0}, {0.3, 0.0}, {0.0, 0.0}, {0.5, 0.0}}) {
    prvxfm(y, 4, 0.3, 1, prev, 1, 0, f);
    EXPECT_EQ(f[0], want) << y;
  }
  // Wet on each of the last 3 days; a dry or missing day among them breaks it, a dry
  // day further back does not.
  prev(2, 4) = 0.0;
  prvxfm(0.0, 5, 0.0, 3, prev, 2, 0, f);
  EXPECT_EQ(f[0], 1.0);
  prev(2, 2) = 0.0;
  prvxfm(0.0, 5, 0.0, 3, prev, 2, 0, f);
  EXPECT_EQ(f[0], 0.0);
  prev(2, 2) = -1.0;
  prvxfm(0.0, 5, 0.0, 3, prev, 2, 0, f);
  EXPECT_EQ(f[0], 0.0);
}

TEST_F(Fixture, LogarithmOutsideItsDomainWarnsAndContinues) {
  std::array<double, 2> f{};
  auto o = capture([&] { prvxfm(0.0, 1, 0.0, 1, prev, 1, 1, f); });
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(o.output, "****WARNING**** Attempt to log a non-positive number while\ncalculating predictors from previous days\n");
  EXPECT_EQ(f[0], -1.0e12);
  EXPECT_EQ(f[1], -1.0e12);
  o = capture([&] { prvxfm(-1.0, 2, 0.0, 1, prev, 1, 1, f); });
  EXPECT_NE(o.output.find("WARNING"), std::string::npos);
  EXPECT_EQ(f[0], -1.0e12);
  o = capture([&] { prvxfm(1.0, 6, 0.0, 1, prev, 1, 1, f); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.output, "****ERROR**** Illegal transformation found in PRVXFM\n");
}

TEST_F(Fixture, OwnSiteValues) {
  // Lag 1, indicator: 0 gives 0, 0.2 gives 1.
  prev(1, 1) = 0.0;
  EXPECT_EQ(eval(code(1, 3))[0], 0.0);
  prev(1, 1) = 0.2;
  EXPECT_EQ(eval(code(1, 3))[0], 1.0);
  // ln(1 + 3) at lag 2; no derivatives for the own value.
  prev(1, 2) = 3.0;
  auto r = eval(code(2, 2));
  EXPECT_DOUBLE_EQ(r[0], std::log(4.0));
  EXPECT_EQ(r[1], 0.0);
  // Missing target value, or a missing day inside an all-wet window.
  prev(1, 2) = -1.0;
  EXPECT_EQ(eval(code(2, 0))[0], -1.0e12);
  prev(1, 2) = 1.0;
  prev(1, 1) = -1.0;
  EXPECT_EQ(eval(code(2, 5))[0], -1.0e12);
  EXPECT_EQ(eval(code(2, 0))[0], 1.0);  // lag 1 is not needed here
  // With no averaging the order digit is not looked at.
  prev(1, 1) = 2.0;
  auto o = capture([&] { r = eval(code(1, 0, 0, 7)); });
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(r[0], 2.0);
}

TEST_F(Fixture, MeanOverSitesSkipsMissingValues) {
  // Lag 1 values 1, 3, missing, 5.
  prev(1, 1) = 1.0;
  prev(2, 1) = 3.0;
  prev(3, 1) = -1.0;
  prev(4, 1) = 5.0;
  EXPECT_DOUBLE_EQ(eval(code(1, 0, 1))[0], 3.0);
  // Transform then average: (ln 2 + ln 4 + ln 6) / 3 = ln(48) / 3.
  EXPECT_DOUBLE_EQ(eval(code(1, 2, 1, 0))[0], std::log(48.0) / 3.0);
  // Average then transform: ln(1 + 3).
  EXPECT_DOUBLE_EQ(eval(code(1, 2, 1, 1))[0], std::log(4.0));
  // Wet-day share: 3 of 3 sites wet, then 2 of 3.
  EXPECT_DOUBLE_EQ(eval(code(1, 3, 1))[0], 1.0);
  prev(2, 1) = 0.0;
  EXPECT_DOUBLE_EQ(eval(code(1, 3, 1))[0], 2.0 / 3.0);
  // The same from every target site.
  EXPECT_DOUBLE_EQ(eval(code(1, 3, 1), 4)[0], 2.0 / 3.0);
}

TEST_F(Fixture, DistanceWeightedMeanAgainstClosedForm) {
  const double phi = 0.2;
  scheme(2, 30, {phi}, {1});
  const double y[4] = {1.0, 3.0, 0.5, 5.0};
  for (int j = 1; j <= 4; ++j) prev(j, 2) = y[j - 1];
  for (int i = 1; i <= 4; ++i) {
    double W = 0, S = 0, SL = 0;
    for (int j = 1; j <= 4; ++j) {
      const double w = std::exp(-phi * dist(*sites, i, j));
      W += w;
      S += w * y[j - 1];
      SL += w * std::log(y[j - 1]);
    }
    // Order 0 with ln, order 1 with ln, no transformation.
    auto r0 = eval(code(2, 1, 2, 0), i);
    auto r1 = eval(code(2, 1, 2, 1), i);
    auto rn = eval(code(2, 0, 2, 0), i);
    EXPECT_NEAR(r0[0], SL / W, 1e-13);
    EXPECT_NEAR(r1[0], std::log(S / W), 1e-13);
    EXPECT_NEAR(rn[0], S / W, 1e-13);
    // d/dphi against central differences; unused slots stay 0.
    EXPECT_NEAR(r0[1], central(value_of(code(2, 1, 2, 0), 30, 1, i), phi, 1e-5), 1e-8);
    EXPECT_NEAR(r1[1], central(value_of(code(2, 1, 2, 1), 30, 1, i), phi, 1e-5), 1e-8);
    EXPECT_NEAR(rn[1], central(value_of(code(2, 0, 2, 0), 30, 1, i), phi, 1e-5), 1e-8);
    EXPECT_EQ(r0[2], 0.0);
    EXPECT_EQ(r0[3], 0.0);
  }
  // Without an estimated parameter no derivative is formed.
  m->pwtidx(2, 2) = 0;
  EXPECT_EQ(eval(code(2, 0, 2, 0), 3)[1], 0.0);
}

TEST_F(Fixture, DistanceWeightingWithOneSiteGivesTheOwnValue) {
  sites->nsites = 1;
  scheme(2, 30, {0.7}, {1});
  prev(1, 1) = 4.0;
  auto r = eval(code(1, 2, 2, 1));
  EXPECT_DOUBLE_EQ(r[0], std::log(5.0));
  EXPECT_EQ(r[1], 0.0);
}

TEST_F(Fixture, ShiftedWeightsWithoutShiftEqualDistanceWeights) {
  for (int j = 1; j <= 4; ++j) prev(j, 3) = 0.5 * j;
  scheme(2, 30, {0.3}, {1});
  scheme(3, 31, {0.0, 0.0, 0.3}, {1, 2, 3});
  for (int i = 1; i <= 4; ++i) {
    auto r2 = eval(code(3, 2, 2, 1), i);
    auto r3 = eval(code(3, 2, 3, 1), i);
    EXPECT_DOUBLE_EQ(r3[0], r2[0]);
    EXPECT_NEAR(r3[3], r2[1], 1e-14);  // d/dphi is the third parameter of scheme 3
  }
}

TEST_F(Fixture, ShiftedWeightsAgainstClosedFormAndDifferences) {
  const double a = 0.8, b = 1.1, phi = 0.4;
  const int lag = 2;
  scheme(3, 31, {a, b, phi}, {1, 2, 3});
  const double y[4] = {2.0, 0.0, 1.5, 4.0};
  for (int j = 1; j <= 4; ++j) prev(j, lag) = y[j - 1];
  for (int i = 1; i <= 4; ++i) {
    double W = 0, S = 0;
    for (int j = 1; j <= 4; ++j) {
      const double dx = sites->sitinf(j, 1, 1) - sites->sitinf(i, 1, 1) - lag * a;
      const double dy = sites->sitinf(j, 2, 1) - sites->sitinf(i, 2, 1) - lag * b;
      const double w = std::exp(-phi * std::sqrt(dx * dx + dy * dy));
      W += w;
      S += w * y[j - 1];
    }
    for (int order : {0, 1}) {
      const int c = code(lag, 2, 3, order);
      auto r = eval(c, i);
      if (order == 1) {
        EXPECT_NEAR(r[0], std::log1p(S / W), 1e-13);
      }
      for (int k = 1; k <= 3; ++k)
        EXPECT_NEAR(r[k], central(value_of(c, 31, k, i), m->theta(31, k), 1e-6), 1e-7) << i << " " << k;
    }
  }
}

TEST_F(Fixture, WeightsAndTheirDerivatives) {
  std::array<double, 4> r{};
  setwgt(1, 3, 1, 0, *sites, m->theta, m->pwtidx, 1, 0, r);
  EXPECT_EQ(r[0], 1.0);
  // Scheme 2, phi = 0.2, d(1,2) = 5: w = e^-1, dw/dphi = -5 e^-1.
  scheme(2, 30, {0.2});
  setwgt(1, 2, 2, 1, *sites, m->theta, m->pwtidx, 1, 0, r);
  EXPECT_DOUBLE_EQ(r[0], std::exp(-1.0));
  EXPECT_DOUBLE_EQ(r[1], -5.0 * std::exp(-1.0));
  // Scheme 3, lag 1, shift (3, 4) puts site 2 exactly on the shifted site 1: d = 0,
  // w = 1, dw/da = dw/db = -w k phi, dw/dphi = 0.
  scheme(3, 31, {3.0, 4.0, 0.5});
  setwgt(1, 2, 3, 3, *sites, m->theta, m->pwtidx, 1, 0, r);
  EXPECT_EQ(r[0], 1.0);
  EXPECT_DOUBLE_EQ(r[1], -0.5);
  EXPECT_DOUBLE_EQ(r[2], -0.5);
  EXPECT_EQ(r[3], 0.0);
  // Lag 2 with shift (1, 1) from site 1 to site 3 (6, 8): dx = 4, dy = 6,
  // d = sqrt(52); derivatives w k phi dx / d, w k phi dy / d, -d w.
  scheme(3, 31, {1.0, 1.0, 0.5});
  setwgt(1, 3, 3, 3, *sites, m->theta, m->pwtidx, 2, 0, r);
  const double d = std::sqrt(52.0), w = std::exp(-0.5 * d);
  EXPECT_DOUBLE_EQ(r[0], w);
  EXPECT_DOUBLE_EQ(r[1], w * 2 * 0.5 * 4 / d);
  EXPECT_DOUBLE_EQ(r[2], w * 2 * 0.5 * 6 / d);
  EXPECT_DOUBLE_EQ(r[3], -d * w);
}

TEST_F(Fixture, WeightingFaults) {
  // A weighted scheme without a parameter row.
  auto o = capture([&] { eval(code(1, 0, 2)); });
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.output,
            "\n****ERROR**** You've asked me to compute weighted averages of\n"
            "previous days' values, but you haven't given me any parameters\n"
            "for the weighting scheme!\n");
  // An unknown scheme with a parameter row.
  m->pwtidx(4, 1) = 30;
  m->theta(30, 1) = 1.0;
  o = capture([&] { eval(code(1, 0, 4)); });
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.output, "\n****ERROR**** Illegal weighting scheme requested in SETWGT.\n");
  // Scheme 3 with one parameter only; not checked once counts are known good.
  scheme(3, 31, {1.0});
  o = capture([&] { eval(code(1, 0, 3)); });
  ASSERT_TRUE(o.ended);
  EXPECT_NE(o.output.find("of covariate 31. Check model definition file."), std::string::npos);
  // An order other than 0 and 1 with averaging.
  o = capture([&] { eval(code(1, 0, 1, 2)); });
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.output, "****ERROR**** Invalid value of WXORDR in DYSET. This is a\nprogramming error - contact DEV.\n");
}

TEST_F(Fixture, AllWetIndicatorAveragedOrTestedOnTheAverage) {
  // Lags 1..3 all wet everywhere, except site 3 dry at lag 2.
  prev(3, 2) = 0.0;
  // Transform then average: 3 of 4 sites wet on all three days.
  EXPECT_DOUBLE_EQ(eval(code(3, 5, 1, 0))[0], 0.75);
  // Average then transform: one positively weighted site with a dry day gives 0.
  EXPECT_EQ(eval(code(3, 5, 1, 1))[0], 0.0);
  // A weight that underflows to 0 (phi d = 1000 * 10) keeps site 3 out of the test
  // for target site 1, but not for target site 3 itself.
  scheme(2, 30, {1000.0});
  EXPECT_EQ(eval(code(3, 5, 2, 1), 1)[0], 1.0);
  EXPECT_EQ(eval(code(3, 5, 2, 1), 3)[0], 0.0);
}

TEST_F(Fixture, LogOfADrySiteInsideAnAverageWarnsForEachTarget) {
  prev(2, 1) = 0.0;
  std::array<double, 4> r{};
  for (int target = 1; target <= 2; ++target) {
    auto o = capture([&] { r = eval(code(1, 1, 1, 0), target); });
    EXPECT_EQ(o.output, "****WARNING**** Attempt to log a non-positive number while\ncalculating predictors from previous days\n");
    EXPECT_NEAR(r[0], -1.0e12 / 4, 1.0);
  }
}

TEST_F(Fixture, EqualWeightMeansFormedOncePerDayGiveTheSameBitsAndWarnings) {
  // Histories with wet, dry, trace and missing values; every lag, transformation
  // and order of the equal-weight mean, from every target site: the day's sums
  // handed over by prvnet must give exactly what summing afresh gives, with the same
  // console output (the log warnings are printed per target).
  const double hist[4][3] = {{1.5, 0.2, 3.0}, {0.0, 2.5, 0.1}, {-1.0, 4.0, 2.0}, {0.7, 0.0, -1.0}};
  for (int i = 1; i <= 4; ++i)
    for (int l = 1; l <= 3; ++l) prev(i, l) = hist[i - 1][l - 1];
  for (int lag = 1; lag <= 3; ++lag)
    for (int xfm = 0; xfm <= 5; ++xfm)
      for (int order = 0; order <= 1; ++order) {
        const int c = code(lag, xfm, 1, order);
        NetworkMean net;
        prvnet(prev, sites->nsites, 0.3, c, net);
        EXPECT_EQ(net.code, c);
        for (int target = 1; target <= 4; ++target) {
          std::array<double, 4> plain{}, shared{};
          auto a = capture([&] { dyset(15, 6, 1990, prev, target, 0.3, c, m->theta, m->pwtidx, *sites, 0, plain); });
          auto b = capture([&] { dyset(15, 6, 1990, prev, target, 0.3, c, m->theta, m->pwtidx, *sites, 0, shared, &net); });
          EXPECT_EQ(a.output, b.output) << "code " << c << " target " << target;
          EXPECT_EQ(std::memcmp(plain.data(), shared.data(), sizeof plain), 0) << "code " << c << " target " << target;
        }
      }
  // Sums formed for another code, or a code that is no equal-weight mean, are not
  // used.
  NetworkMean other;
  prvnet(prev, sites->nsites, 0.3, code(2, 0, 1), other);
  std::array<double, 4> r{};
  dyset(15, 6, 1990, prev, 1, 0.3, code(1, 0, 1), m->theta, m->pwtidx, *sites, 0, r, &other);
  EXPECT_DOUBLE_EQ(r[0], (1.5 + 0.0 + 0.7) / 3.0);
  prvnet(prev, sites->nsites, 0.3, code(1, 0, 2), other);
  EXPECT_EQ(other.code, -1);
}

TEST_F(Fixture, RecomputesWhenCoordinatesOrParametersChange) {
  scheme(2, 30, {0.2}, {1});
  prev(1, 1) = 0.0;
  prev(2, 1) = 2.0;
  prev(3, 1) = -1.0;
  prev(4, 1) = -1.0;
  // Two sites 5 apart: mean 2 e^-1 / (1 + e^-1).
  const double e1 = std::exp(-1.0);
  EXPECT_DOUBLE_EQ(eval(code(1, 0, 2))[0], 2 * e1 / (1 + e1));
  // Site 2 moved to distance 10.
  sites->sitinf(2, 1, 1) = 6.0;
  sites->sitinf(2, 2, 1) = 8.0;
  const double e2 = std::exp(-2.0);
  EXPECT_DOUBLE_EQ(eval(code(1, 0, 2))[0], 2 * e2 / (1 + e2));
  // phi halved: back to e^-1.
  m->theta(30, 1) = 0.1;
  EXPECT_DOUBLE_EQ(eval(code(1, 0, 2))[0], 2 * e1 / (1 + e1));
}

TEST_F(Fixture, DailyEffectsGoToTheirOwnBranch) {
  // Daily seasonal cosine on 15 June: day 152 + 15 = 167 of the leap-year calendar.
  auto r = eval(21);
  EXPECT_NEAR(r[0], std::cos(3.141592653589793 * 167 / 183), 1e-15);
}

TEST(Prvtxt, DescriptionsOfEveryTransformationSchemeAndOrder) {
  auto txt = [](int c) {
    std::string label = fmt_a("Y[t-" + std::to_string(c % 1000) + "]", 70);
    prvtxt(c, label);
    EXPECT_EQ(label.size(), 70u);
    return std::string(trim_right(label));
  };
  EXPECT_EQ(txt(code(1, 1, 1, 0)), "Mean of Ln(Y[t-1])");
  EXPECT_EQ(txt(code(3, 5, 0, 0)), "I(Y[t-k]>0: k=1 to  3)");
  EXPECT_EQ(txt(code(2, 2, 2, 1)), "Ln(1+Distance-weighted mean of Y[t-2])");
  EXPECT_EQ(txt(code(10, 3, 3, 0)), "Shift/distance-weighted mean of I(Y[t-10]>0)");
  EXPECT_EQ(txt(code(4, 4, 0, 0)), "Trace indicator: Y[t-4]");
  EXPECT_EQ(txt(code(1, 4, 1, 1)), "Trace indicator: Mean of Y[t-1]");
  EXPECT_EQ(txt(code(1, 0, 2, 0)), "Distance-weighted mean of Y[t-1]");
  EXPECT_EQ(txt(code(1, 0, 3, 1)), "Shift/distance-weighted mean of Y[t-1]");
  EXPECT_EQ(txt(code(3, 5, 3, 1)), "I(Shift/distance-weighted mean of Y[t-k] > 0: k=1 to  3)");
  EXPECT_EQ(txt(code(10, 5, 1, 0)), "Mean of I(Y[t-k]>0: k=1 to 10)");
  EXPECT_EQ(txt(code(5, 3, 0, 1)), "I(Y[t-5]>0)");
  for (int c : {code(1, 6, 0, 0), code(1, 1, 1, 2)}) {
    auto o = capture([&] { txt(c); });
    EXPECT_TRUE(o.ended);
    EXPECT_EQ(o.output, "****ERROR**** Illegal transformation found in PRVTXT\n");
  }
}

}  // namespace
