#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "anscombe.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

const std::string unsolvable =
    "****ERROR**** Can't solve for the mean and variance of Anscombe residuals.\n"
    "Please contact DEV.\n";

}  // namespace

// m and v against the independent solution of the moment equations (R uniroot,
// see the table's header); the bisection stops at an interval of 1e-8.
TEST(Ansprm, MatchesReferenceMoments) {
  auto rows = rgtest::read_csv(rgtest::reference("anscombe_moments.csv"));
  ASSERT_GE(rows.size(), 5u);
  for (const auto& row : rows) {
    const double nu = std::stod(row[0]), mref = std::stod(row[1]), vref = std::stod(row[2]);
    double m = 0, v = 0;
    auto o = capture([&] { ansprm(nu, m, v); });
    ASSERT_FALSE(o.ended) << o.output;
    EXPECT_NEAR(m, mref, 1e-8) << "nu = " << nu;
    EXPECT_NEAR(v, vref, 1e-8) << "nu = " << nu;
    // The two moment equations: E[Z^3] = 1 and Var(Z^3) = 1/nu for normal Z.
    EXPECT_NEAR(m * m * m + 3 * m * v, 1.0, 1e-8) << "nu = " << nu;
    EXPECT_NEAR(9 * std::pow(m, 4) * v + 36 * m * m * v * v + 15 * v * v * v, 1.0 / nu, 1e-8) << "nu = " << nu;
  }
}

TEST(Ansprm, MomentEquationsHoldOverAWideRangeOfShapes) {
  for (double nu : {0.01, 0.1, 3.0, 50.0, 1000.0, 1.0e5}) {
    double m = 0, v = 0;
    auto o = capture([&] { ansprm(nu, m, v); });
    ASSERT_FALSE(o.ended) << "nu = " << nu << "\n" << o.output;
    EXPECT_NEAR(m * m * m + 3 * m * v, 1.0, 1e-8) << "nu = " << nu;
    EXPECT_NEAR((9 * std::pow(m, 4) * v + 36 * m * m * v * v + 15 * v * v * v) * nu, 1.0, 1e-8) << "nu = " << nu;
    // Large shapes: Var(Z) -> 1/(9 nu) (delta method for the cube root).
    if (nu >= 1000.0) {
      EXPECT_NEAR(v * 9 * nu, 1.0, 1e-2);
    }
  }
}

TEST(Ansfn, SolvesTheSecondEquationForTheMean) {
  // Upper end of the search for nu = 1: (1/15)^(1/3), where the mean reaches 0.
  double f = 0, m = 0;
  ansfn(f, m, std::cbrt(1.0 / 15.0), 1.0);
  // g = m^2 is 0 there up to rounding, which the square root lifts to ~1e-8 in m.
  EXPECT_NEAR(m, 0.0, 1e-7);
  EXPECT_NEAR(f, -1.0, 1e-7);

  for (double x : {1e-6, 0.01, 0.2}) {
    ansfn(f, m, x, 2.5);
    EXPECT_NEAR(9 * std::pow(m, 4) * x + 36 * m * m * x * x + 15 * x * x * x, 1.0 / 2.5, 1e-12) << x;
    EXPECT_DOUBLE_EQ(f, m * m * m + 3 * x * m - 1);
  }
}

TEST(Ansfn, TrialVarianceBeyondTheRootOfTheMeanStops) {
  double f = 0, m = 0;
  auto o = capture([&] { ansfn(f, m, 1.0, 1.0); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output,
            "****ERROR**** I've just tried to square root a negative number in routine ANSFN.\n"
            "It's too big to be a rounding error - please contact DEV.\n");
}

TEST(Ansprm, ShapesWithoutASolutionStop) {
  // Beyond about nu = 1e7 the variance falls below the lower end of the search;
  // a shape that is not positive has no solution at all.
  for (double nu : {1.0e9, 0.0, -2.0, std::nan("")}) {
    double m = 0, v = 0;
    auto o = capture([&] { ansprm(nu, m, v); });
    EXPECT_TRUE(o.ended) << nu;
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.output, unsolvable) << nu;
  }
}
