#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "dev_math.hpp"
#include "test_support.hpp"

namespace {

using rgtest::capture;

constexpr double PI = 3.14159265358979323846;

double num(const std::string& s) { return std::stod(s); }

// The six-term Lanczos sum is good to about 1e-10 (about 6e-12 relative on the
// reference points, worst near x = 0.1; 1.8e-10 absolute at x = 1000, where ln Γ is
// 5905), far from double precision: this is the accuracy the routine offers.
TEST(Gammln, AgreesWithReferenceToTheAccuracyOfTheLanczosSum) {
  const auto rows = rgtest::read_csv(rgtest::reference("lgamma_digamma.csv"));
  ASSERT_GE(rows.size(), 10u);
  for (const auto& r : rows) {
    const double x = num(r[0]), ref = num(r[1]);
    int ifail = -1;
    const double g = rg::gammln(x, ifail);
    EXPECT_EQ(ifail, 0);
    EXPECT_NEAR(g, ref, 1e-11 * std::max(1.0, std::fabs(ref))) << "x = " << x;
  }
}

TEST(Gammln, NonPositiveArgument) {
  for (double x : {0.0, -1.5}) {
    int ifail = 0;
    double g = 0;
    const auto o = capture([&] { g = rg::gammln(x, ifail); });
    EXPECT_FALSE(o.ended);
    EXPECT_EQ(ifail, 1);
    EXPECT_EQ(g, -1e12);
    EXPECT_EQ(o.output, "****ERROR**** In GAMMLN, you've asked me to calculate ln[Gamma(x)] for x <= 0.\n");
  }
}

TEST(Gamma, AgreesWithReferenceIncludingNegativeArguments) {
  const auto rows = rgtest::read_csv(rgtest::reference("gamma.csv"));
  ASSERT_GE(rows.size(), 5u);
  for (const auto& r : rows) {
    const double x = num(r[0]), ref = num(r[1]);
    int ifail = -1;
    const double g = rg::gamma(x, ifail);
    EXPECT_EQ(ifail, 0);
    EXPECT_NEAR(g, ref, 2e-11 * std::fabs(ref)) << "x = " << x;
  }
  int ifail;
  EXPECT_NEAR(rg::gamma(-0.5, ifail), -2.0 * std::sqrt(PI), 1e-10);
  EXPECT_NEAR(rg::gamma(5.0, ifail), 24.0, 1e-9);
}

TEST(Gamma, PolesAtNonPositiveIntegers) {
  for (double x : {-2.0, 0.0, -7.0}) {
    int ifail = 0;
    double g = 0;
    const auto o = capture([&] { g = rg::gamma(x, ifail); });
    EXPECT_FALSE(o.ended);
    EXPECT_EQ(ifail, 2);
    EXPECT_TRUE(std::isinf(g));
    EXPECT_EQ(o.output,
              "****WARNING**** Attempt to evaluate gamma function at an integer <= 0\n"
              "(routine GAMMA).\n");
  }
}

TEST(Digamm, AgreesWithReference) {
  // Ridders' extrapolation of differences of gammln inherits the Lanczos error: on
  // the reference points the result is within 8e-11 (worst at x = 0.01).
  const auto rows = rgtest::read_csv(rgtest::reference("lgamma_digamma.csv"));
  for (const auto& r : rows) {
    const double x = num(r[0]), ref = num(r[2]);
    int ifail = -1;
    double d = 0;
    const auto o = capture([&] { d = rg::digamm(x, ifail); });
    EXPECT_EQ(ifail, 0);
    EXPECT_EQ(o.output, "") << "x = " << x;
    EXPECT_NEAR(d, ref, 2e-10) << "x = " << x;
  }
  int ifail;
  EXPECT_NEAR(rg::digamm(1.0, ifail), -0.5772156649015329, 1e-10);
}

TEST(Digamm, ArgumentsJustAboveOneTenth) {
  // With a first step of 0.1 these would difference ln Γ next to its pole at 0;
  // the step is at most x/2. Reference values: mpmath 1.3 digamma at 40 digits.
  const struct {
    double x, psi, tol;
  } cases[] = {
      {0.11, -9.5004233669807851, 1e-10},
      {0.15, -7.0209933446429462, 1e-10},
      {0.10001, -10.422740707502642, 1e-10},
      // Small x: the absolute error grows with the curvature of ln Γ (and the routine
      // warns), the relative error stays small.
      {0.001, -1000.5755719318103, 1e-8},
  };
  for (const auto& c : cases) {
    int ifail = -1;
    double d = 0;
    capture([&] { d = rg::digamm(c.x, ifail); });
    EXPECT_EQ(ifail, 0);
    EXPECT_NEAR(d, c.psi, c.tol) << "x = " << c.x;
  }
}

TEST(Digamm, FailuresAndWarnings) {
  int ifail = 0;
  double d = 0;
  auto o = capture([&] { d = rg::digamm(0.0, ifail); });
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(ifail, 1);
  EXPECT_EQ(d, -1e12);
  EXPECT_EQ(o.output, "****ERROR**** In DIGAMM, you've asked me to calculate Psi(x) for x <= 0.\n");
  // Very small x: the best error estimate stays above 1e-10.
  o = capture([&] { d = rg::digamm(1e-4, ifail); });
  EXPECT_EQ(o.output,
            "****WARNING**** Unable to compute digamma function \n"
            "to required accuracy at    0.000\n");
  EXPECT_NEAR(d, -10000.577051183514, 1e-5);  // mpmath digamma(1e-4)
  // Very large x: rounding of ln Γ ~ 1e6 limits the differences; 8-column field.
  o = capture([&] { d = rg::digamm(1e5, ifail); });
  EXPECT_EQ(o.output,
            "****WARNING**** Unable to compute digamma function \n"
            "to required accuracy at ********\n");
}

TEST(Cdfnor, BodyAgreesWithReference) {
  // AS 66 is good to about 1e-10 absolute; the tails are good relatively as well.
  const auto rows = rgtest::read_csv(rgtest::reference("pnorm.csv"));
  ASSERT_GE(rows.size(), 20u);
  for (const auto& r : rows) {
    const double x = num(r[0]), lo = num(r[1]), up = num(r[2]);
    const double z = std::fabs(x);
    const double clo = rg::cdfnor(x, 0, 1, 0), cup = rg::cdfnor(x, 0, 1, 1);
    EXPECT_NEAR(clo, lo, 1e-10) << "x = " << x;
    EXPECT_NEAR(cup, up, 1e-10) << "x = " << x;
    const double small = (x > 0) ? up : lo, csmall = (x > 0) ? cup : clo;
    const double clarge = (x > 0) ? clo : cup;
    if (z >= 12) {
      EXPECT_EQ(clarge, 1.0) << "x = " << x;
    }
    if (z > 25) {
      EXPECT_EQ(csmall, 0.0) << "x = " << x;
    } else if (z >= 3) {
      EXPECT_NEAR(csmall / small, 1.0, 1e-9) << "x = " << x;
    }
  }
  EXPECT_EQ(rg::cdfnor(0, 0, 1, 0), 0.5);
  EXPECT_EQ(rg::cdfnor(13, 0, 1, 0), 1.0);
  EXPECT_EQ(rg::cdfnor(30, 0, 1, 1), 0.0);
  EXPECT_GT(rg::cdfnor(20, 0, 1, 1), 0.0);
}

TEST(Cdfnor, MeanAndStandardDeviation) {
  // P(X <= 13) for N(10, 2²) is Φ(1.5) = 0.933192798731142 (pnorm.csv).
  EXPECT_NEAR(rg::cdfnor(13, 10, 2, 0), 0.93319279873114191, 1e-10);
  EXPECT_NEAR(rg::cdfnor(13, 10, 2, 1), 0.066807201268858071, 1e-10);
  // Zero standard deviation: all mass at the mean, no 0/0.
  EXPECT_EQ(rg::cdfnor(3, 3, 0, 0), 1.0);
  EXPECT_EQ(rg::cdfnor(3, 3, 0, 1), 0.0);
  EXPECT_EQ(rg::cdfnor(2.9, 3, 0, 0), 0.0);
}

TEST(Cdfnor, UpperMustBeZeroOrOne) {
  const auto o = capture([] { rg::cdfnor(0, 0, 1, 2); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output, "****ERROR**** In routine CDFNOR, UPPER must be 0 or 1\n");
}

TEST(Qnorm, AgreesWithReferenceToDoublePrecision) {
  const auto rows = rgtest::read_csv(rgtest::reference("qnorm.csv"));
  ASSERT_GE(rows.size(), 20u);
  for (const auto& r : rows) {
    const double p = num(r[0]), ref = num(r[1]);
    int ifail = -1;
    const double q = rg::qnorm(p, 0, 1, ifail);
    EXPECT_EQ(ifail, 0);
    EXPECT_NEAR(q, ref, 1e-15 * std::fabs(ref)) << "p = " << p;
  }
  int ifail;
  EXPECT_DOUBLE_EQ(rg::qnorm(0.975, 0, 1, ifail), 1.959963984540054);
  EXPECT_NEAR(rg::qnorm(0.975, 10, 2, ifail), 10 + 2 * 1.959963984540054, 1e-14);
}

TEST(Qnorm, ProbabilityOutsideTheOpenInterval) {
  for (double p : {0.0, 1.0, 1.5}) {
    int ifail;
    const auto o = capture([&] { rg::qnorm(p, 0, 1, ifail); });
    EXPECT_TRUE(o.ended);
    EXPECT_EQ(o.status, 1);
    char val[16];
    std::snprintf(val, sizeof val, "%8.3f", p);
    EXPECT_EQ(o.output,
              "****ERROR**** In routine QNORM, probability must be in open interval (0,1)\n"
              "- value requested is " + std::string(val) + "\n");
  }
}

TEST(Qnorm, NegativeStandardDeviationWarnsAndGoesOn) {
  int ifail = 0;
  double q = 0;
  const auto o = capture([&] { q = rg::qnorm(0.975, 1, -2, ifail); });
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(ifail, 1);
  EXPECT_NEAR(q, 1 - 2 * 1.959963984540054, 1e-14);
  EXPECT_EQ(o.output, "****WARNING**** negative standard deviation in routine QNORM\n");
}

TEST(Cdfbvn, AgreesWithReferenceToTheRequestedTolerance) {
  // The result inherits the ~1e-10 absolute accuracy of cdfnor, so the bound is the
  // tolerance plus that floor.
  const auto rows = rgtest::read_csv(rgtest::reference("bivariate_normal.csv"));
  ASSERT_GE(rows.size(), 100u);
  for (double tol : {1e-4, 1e-6, 1e-8, 1e-10}) {
    for (const auto& r : rows) {
      const double h = num(r[0]), k = num(r[1]), rho = num(r[2]), ref = num(r[3]);
      EXPECT_NEAR(rg::cdfbvn(h, k, rho, tol), ref, tol + 1e-10)
          << "h = " << h << " k = " << k << " rho = " << rho << " tol = " << tol;
    }
  }
}

TEST(Cdfbvn, ClosedForms) {
  for (double rho : {-0.9, -0.3, 0.25, 0.5, 0.95}) {
    EXPECT_NEAR(rg::cdfbvn(0, 0, rho, 1e-12), 0.25 + std::asin(rho) / (2 * PI), 1e-15) << rho;
  }
  const double ph = rg::cdfnor(0.3, 0, 1, 1), pk = rg::cdfnor(-1.1, 0, 1, 1);
  EXPECT_EQ(rg::cdfbvn(0.3, -1.1, 0.0, 1e-8), ph * pk);
  // Correlation exactly ±1.
  EXPECT_EQ(rg::cdfbvn(0.3, -1.1, 1.0, 1e-8), std::min(ph, pk));
  EXPECT_EQ(rg::cdfbvn(0.3, -1.1, -1.0, 1e-8), ph + pk - 1);
  EXPECT_EQ(rg::cdfbvn(0.3, 1.1, -1.0, 1e-8), 0.0);
  // Infinite limits reduce to one margin.
  const double inf = HUGE_VAL;
  EXPECT_EQ(rg::cdfbvn(-inf, 0.4, 0.5, 1e-8), rg::cdfnor(0.4, 0, 1, 1));
  EXPECT_EQ(rg::cdfbvn(0.4, inf, 0.5, 1e-8), 0.0);
}

TEST(Cdfbvn, NearSingularAndUnevenArguments) {
  // Reference values: P(X > h, Y > k) = ∫_h^∞ φ(x)·Φ̄((k − ρx)/√(1−ρ²)) dx by mpmath 1.3
  // quad at 40 digits (the same integral reproduces bivariate_normal.csv to 1e-16).
  struct Case {
    double h, k, rho, p;
  };
  const Case cases[] = {
      {0.5, 0.5, 1e-9, 0.095195412927039858},       // a within 1e-9 of 1
      {1, 1, 0.999999, 0.15851873656915789},        // s ≈ 1.4e-3
      {-1, -1, 0.9999999, 0.84130157548805255},     // s ≈ 4.5e-4
      {2, -3, 0.7, 0.02275013194586379},            // h·k < 0
      {5, 5, 0.99999, 2.8399913278805792e-7},       // far tail
      {-1.3, 0.7, -0.999, 0.1451631676374627},      // strongly negative
  };
  for (const auto& c : cases) {
    const double tol = 1e-12;
    EXPECT_NEAR(rg::cdfbvn(c.h, c.k, c.rho, tol), c.p, 1e-10) << c.h << " " << c.k << " " << c.rho;
  }
  // One argument zero or negligible: the h = 0 branch and its neighbour agree.
  EXPECT_NEAR(rg::cdfbvn(0, 0.8, 0.4, 1e-12), rg::cdfbvn(1e-300, 0.8, 0.4, 1e-12), 1e-15);
  EXPECT_NEAR(rg::cdfbvn(0.8, 0, 0.4, 1e-12), rg::cdfbvn(0.8, -1e-300, 0.4, 1e-12), 1e-15);
  // A tolerance far below double precision still ends (and far tails give 0).
  EXPECT_EQ(rg::cdfbvn(20, 20, 0.3, 1e-300), 0.0);
  EXPECT_NEAR(rg::cdfbvn(0.5, 0.5, 0.3, 1e-300), rg::cdfbvn(0.5, 0.5, 0.3, 1e-12), 1e-12);
}

TEST(Cdfbvn, ArgumentChecks) {
  auto o = capture([] { rg::cdfbvn(0, 0, 1.0000001, 1e-8); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output, "****ERROR**** In routine CDFBVN, RHO must be in range (-1,1)\n");
  o = capture([] { rg::cdfbvn(0, 0, std::nan(""), 1e-8); });
  EXPECT_TRUE(o.ended);
  o = capture([] { rg::cdfbvn(0, 0, 0.5, 0.0); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output, "****ERROR**** in routine CDFBVN, TOL must be strictly positive\n");
}

}  // namespace
