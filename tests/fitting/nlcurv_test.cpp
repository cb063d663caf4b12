// The curvature estimate of the nonlinear parameters on a quadratic log-likelihood,
// where the exact Newton step is known in closed form.
#include <gtest/gtest.h>

#include "nlcurv.hpp"

using namespace rg;

namespace {

// l(phi) = b'phi - phi'H phi/2 with H = A + C, where A is the scoring information
// and C the curvature it lacks (rows and columns of the last parameter only).
struct Quadratic {
  Matrix a{3, 3}, h{3, 3};
  Array1<double> b{1, 3};
  Quadratic() {
    const double av[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, 0.2}, {0.5, 0.2, 2.0}};
    const double cv[3][3] = {{0.0, 0.0, 0.7}, {0.0, 0.0, -0.4}, {0.7, -0.4, -1.1}};
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j) {
        a(i, j) = av[i - 1][j - 1];
        h(i, j) = av[i - 1][j - 1] + cv[i - 1][j - 1];
      }
    b(1) = 1.0;
    b(2) = -2.0;
    b(3) = 0.5;
  }
  Array1<double> score(const Array1<double>& phi) const {
    Array1<double> u(1, 3);
    for (int i = 1; i <= 3; ++i) {
      u(i) = b(i);
      for (int j = 1; j <= 3; ++j) u(i) -= h(i, j) * phi(j);
    }
    return u;
  }
};

}  // namespace

TEST(NlCurvature, SecondMoveOfOneParameterGivesTheExactNewtonStep) {
  Quadratic q;
  NlCurvature curv(3, 3);
  Array1<double> delta(1, 3);
  const double pts[3][3] = {{0.0, 0.0, 0.0}, {0.3, -0.2, 0.5}, {0.1, 0.4, -0.2}};
  for (int k = 0; k < 3; ++k) {
    Array1<double> phi(1, 3);
    for (int i = 1; i <= 3; ++i) phi(i) = pts[k][i - 1];
    curv.observe(phi, q.score(phi), q.a);
    // No estimate before the second move (the first one, from the initial values,
    // is not used).
    if (k < 2) {
      EXPECT_FALSE(curv.step(q.a, q.score(phi), delta));
    }
  }
  Array1<double> phi(1, 3);
  for (int i = 1; i <= 3; ++i) phi(i) = pts[2][i - 1];
  ASSERT_TRUE(curv.step(q.a, q.score(phi), delta));
  // One Newton step reaches the maximum H^-1 b (solved here by Cramer's rule).
  auto det3 = [](const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  double hm[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) hm[i][j] = q.h(i + 1, j + 1);
  const double d = det3(hm);
  for (int c = 0; c < 3; ++c) {
    double mc[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) mc[i][j] = j == c ? q.b(i + 1) : hm[i][j];
    EXPECT_NEAR(phi(c + 1) + delta(c + 1), det3(mc) / d, 1e-12) << c;
  }
}

TEST(NlCurvature, CorrectionThatIsNotPositiveDefiniteIsDropped) {
  Quadratic q;
  // The curvature of the parameter outweighs its information: H is indefinite.
  q.h(3, 3) = -5.0;
  NlCurvature curv(3, 3);
  Array1<double> delta(1, 3, 7.0), phi(1, 3);
  for (double t : {0.0, 0.5, 1.0}) {
    phi(3) = t;
    curv.observe(phi, q.score(phi), q.a);
  }
  EXPECT_FALSE(curv.step(q.a, q.score(phi), delta));
  EXPECT_DOUBLE_EQ(delta(1), 7.0);  // left alone: the caller takes the plain step
}
