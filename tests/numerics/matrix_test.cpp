#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

#include "cholesky.hpp"
#include "cholesky_columns.hpp"
#include "dev_math.hpp"
#include "test_support.hpp"

namespace {

using rg::Matrix;
using rgtest::capture;

// An n×n matrix stored with leading dimension ld > n; the unused part holds 99 so
// that a routine touching it is caught.
Matrix padded(int ld, std::initializer_list<std::initializer_list<double>> rows) {
  Matrix m(ld, ld);
  m.fill(99.0);
  int i = 1;
  for (const auto& r : rows) {
    int j = 1;
    for (double v : r) m(i, j++) = v;
    ++i;
  }
  return m;
}

void expect_padding_untouched(Matrix& m, int n) {
  for (int j = 1; j <= m.cols(); ++j)
    for (int i = 1; i <= m.rows(); ++i)
      if (i > n || j > n) {
        EXPECT_EQ(m(i, j), 99.0) << i << "," << j;
      }
}

// A = UᵀU with U = [2 1 -1; 0 3 1; 0 0 2] (worked by hand).
Matrix spd3() { return padded(5, {{4, 2, -2}, {2, 10, 2}, {-2, 2, 6}}); }

TEST(Choldec, FactorOfAKnownProduct) {
  Matrix a = spd3();
  int ifail = -1;
  rg::choldec(a.view(), 3, ifail);
  EXPECT_EQ(ifail, 0);
  const double u[3][3] = {{2, 1, -1}, {0, 3, 1}, {0, 0, 2}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(a(i, j), u[i - 1][j - 1], 1e-14) << i << "," << j;
  expect_padding_untouched(a, 3);
}

TEST(Choldec, ReportsTheRowOfTheFailure) {
  Matrix a = padded(2, {{1, 2}, {2, 1}});
  int ifail = 0;
  rg::choldec(a.view(), 2, ifail);
  EXPECT_EQ(ifail, 2);
  Matrix b = padded(3, {{4, 2, 0}, {2, 5, 3}, {0, 3, 1}});  // pivots 4, 4, -5/4
  rg::choldec(b.view(), 3, ifail);
  EXPECT_EQ(ifail, 3);
}

TEST(Choldec, ZeroPivotOfASemiDefiniteMatrix) {
  // Two perfectly correlated sites: A = UᵀU with U = [1 1; 0 0], no division by 0.
  Matrix a = padded(3, {{1, 1, 0.5}, {1, 1, 0.5}, {0.5, 0.5, 1}});
  int ifail = -1;
  rg::choldec(a.view(), 3, ifail);
  EXPECT_EQ(ifail, 0);
  EXPECT_EQ(a(2, 2), 0.0);
  EXPECT_EQ(a(2, 3), 0.0);
  EXPECT_NEAR(a(3, 3), std::sqrt(0.75), 1e-15);
  // Zero pivot but a non-zero remainder in its row: indefinite (det = -1).
  Matrix b = padded(3, {{1, 1, 0}, {1, 1, 1}, {0, 1, 1}});
  rg::choldec(b.view(), 3, ifail);
  EXPECT_EQ(ifail, 2);
}

TEST(Choldec, FastFactorisationHasTheDigitsAndFailuresOfThePlainOne) {
  // The fast factorisation against choldec, bit for bit in every entry of the factor,
  // with the same failing row, on orders below and above where columns go in
  // vector chunks (24) and around the 16-entry chunks, with every
  // build of the column update (SSE2, and AVX2 where the processor has it):
  // exponential-decay correlations of points on a line with rows of different scale;
  // junk below the diagonal (only the upper triangle is read); two copies of a row (a
  // zero pivot, semi-definite); a diagonal too small (fails). Both forms: the whole
  // matrix, and every other row and column read in place through the transpose.
  struct Case {
    const char* what;
    int n, fail_row;  // fail_row: row whose diagonal is lowered so that it fails, 0 none
    bool twin;        // row 2 repeats row 1
  };
  const Case cases[] = {{"1", 1, 0, false},       {"15", 15, 0, false},      {"16", 16, 0, false},
                        {"17", 17, 0, false},     {"33", 33, 0, false},      {"200", 200, 0, false},
                        {"twin rows", 40, 0, true}, {"fails at 1", 5, 1, false}, {"fails at 29", 40, 29, false}};
  namespace cd = rg::chol_detail;
  const cd::ColumnUpdate chosen = cd::column_update_in_use();
  std::vector<cd::ColumnUpdate> updates{cd::update_column_sse2};
  if (cd::avx2_available()) updates.push_back(cd::update_column_avx2);
  // The plain factor of a's leading n x n block against the fast one.
  auto expect_same_factor = [](const Matrix& a, int n, const rg::LowerFactor& fast, int fast_fail, const char* what) {
    Matrix plain = a;
    int plain_fail = -1;
    rg::choldec(plain.view(), n, plain_fail);
    EXPECT_EQ(fast_fail, plain_fail) << what;
    if (plain_fail != 0) return plain_fail;
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= j; ++i) EXPECT_EQ(fast.at(j, i), plain(i, j)) << what << " " << i << "," << j;
    return 0;
  };
  for (const cd::ColumnUpdate update : updates) {
    cd::column_update_in_use() = update;
    for (const Case& c : cases) {
      Matrix a(c.n + 3, c.n + 3);
      // Point and scale of row i; the twin of row 1 has both of row 1 (scale 1, so
      // that its pivot is exactly 0).
      auto row = [&](int i) { return c.twin && i == 2 ? 1 : i; };
      auto scale = [&](int i) { return 1.0 + 0.1 * ((row(i) - 1) % 7); };
      for (int i = 1; i <= c.n; ++i)
        for (int j = i; j <= c.n; ++j) {
          a(i, j) = scale(i) * scale(j) * std::exp(-0.13 * std::abs(row(i) - row(j)));
          if (j > i) a(j, i) = -7.0;  // junk below the diagonal
        }
      if (c.fail_row > 0) a(c.fail_row, c.fail_row) = c.fail_row == 1 ? -1.0 : 0.5;
      rg::LowerFactor fast;
      int fast_fail = -1;
      Matrix work = a;
      rg::choldec_lower(work.view(), c.n, fast, fast_fail);
      EXPECT_EQ(expect_same_factor(a, c.n, fast, fast_fail, c.what), c.fail_row) << c.what;
      if (c.twin) {
        EXPECT_EQ(fast.at(2, 2), 0.0);
      }

      std::vector<int> idx;
      for (int i = 1; i <= c.n; i += 2) idx.push_back(i);
      const int m = static_cast<int>(idx.size());
      Matrix t(c.n, c.n), block(m, m);
      for (int j = 1; j <= c.n; ++j)
        for (int i = 1; i <= c.n; ++i) t(j, i) = a(i, j);
      for (int j = 1; j <= m; ++j)
        for (int i = 1; i <= m; ++i) block(i, j) = a(idx[i - 1], idx[j - 1]);
      rg::choldec_lower(t, idx.data(), m, fast, fast_fail);
      expect_same_factor(block, m, fast, fast_fail, c.what);
    }
  }
  cd::column_update_in_use() = chosen;
}

TEST(Choldec, FactorTimesVectorSumsInColumnOrder) {
  // x(k) = mean(k) + sum over l <= k of U(l, k) z(l), against the plain loop over the
  // upper factor U = L', for orders around the four columns done together.
  for (int n = 1; n <= 11; ++n) {
    rg::LowerFactor l;
    l.reserve(n);
    std::vector<double> mean(n), z(n), x(n);
    for (int k = 1; k <= n; ++k) {
      mean[k - 1] = 0.3 * k - 1.0;
      z[k - 1] = std::sin(1.7 * k);
      for (int i = 1; i <= k; ++i) l.at(k, i) = std::cos(0.9 * i + 0.4 * k) / (1.0 + i);
    }
    rg::add_lower_times(l, mean.data(), z.data(), x.data(), n);
    for (int k = 1; k <= n; ++k) {
      double v = mean[k - 1];
      for (int i = 1; i <= k; ++i) v += l.at(k, i) * z[i - 1];
      EXPECT_EQ(x[k - 1], v) << n << " " << k;
    }
  }
}

TEST(Utsolv, BothDirectionsAndInPlace) {
  Matrix u = padded(4, {{2, 1, -1}, {0, 3, 1}, {0, 0, 2}});
  // For x = (1, 2, 3): U·x = (1, 9, 6), Uᵀ·x = (2, 7, 7).
  std::vector<double> b1{1, 9, 6}, b0{2, 7, 7}, x(3, 0.0);
  rg::utsolv(u.view(), {x.data()}, {b1.data()}, 1, 3);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(x[i], i + 1.0, 1e-15);
  rg::utsolv(u.view(), {b0.data()}, {b0.data()}, 0, 3);  // x is b
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(b0[i], i + 1.0, 1e-15);
  std::vector<double> keep{-5, -6, -7};
  rg::utsolv(u.view(), {keep.data()}, {b1.data()}, 2, 3);
  EXPECT_EQ(keep, (std::vector<double>{-5, -6, -7}));
  expect_padding_untouched(u, 3);
}

TEST(Utsolv, ZeroDiagonalStops) {
  Matrix u = padded(3, {{2, 1, -1}, {0, 1e-13, 1}, {0, 0, 2}});
  std::vector<double> b{1, 1, 1}, x(3);
  for (int trans : {0, 1}) {
    const auto o = capture([&] { rg::utsolv(u.view(), {x.data()}, {b.data()}, trans, 3); });
    EXPECT_TRUE(o.ended);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.output,
              "****ERROR**** in routine UTSOLV, the matrix A has a zero\n"
              "diagonal element in row   2.\n");
  }
}

TEST(Utinv, KnownInverse) {
  Matrix u = padded(4, {{2, 1, -1}, {0, 3, 1}, {0, 0, 2}});
  Matrix v(5, 5);
  v.fill(7.0);
  rg::utinv(u.view(), v.view(), 3);
  // U⁻¹ = [1/2 -1/6 1/3; 0 1/3 -1/6; 0 0 1/2] (checked by U·U⁻¹ = I by hand).
  const double w[3][3] = {{0.5, -1.0 / 6, 1.0 / 3}, {0, 1.0 / 3, -1.0 / 6}, {0, 0, 0.5}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(v(i, j), w[i - 1][j - 1], 1e-15);
  EXPECT_EQ(v(4, 1), 7.0);  // outside the order: untouched
  u(3, 3) = 0.0;
  const auto o = capture([&] { rg::utinv(u.view(), v.view(), 3); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.output,
            "****ERROR**** in routine UTINV, the matrix U has a zero\n"
            "diagonal element in row   3.\n");
}

TEST(Cdsolv, FactorisedAndUnfactorisedGiveTheSameSolution) {
  // A·(1, 2, 3) = (2, 28, 20).
  Matrix a1 = spd3(), a0 = spd3();
  std::vector<double> b{2, 28, 20}, x1(3), x0(3);
  rg::cdsolv(a1.view(), {x1.data()}, {b.data()}, 3, 1);
  int ifail = 0;
  rg::choldec(a0.view(), 3, ifail);
  rg::cdsolv(a0.view(), {x0.data()}, {b.data()}, 3, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(x1[i], i + 1.0, 1e-14);
    EXPECT_EQ(x0[i], x1[i]);
  }
  EXPECT_EQ(b, (std::vector<double>{2, 28, 20}));
  for (int j = 1; j <= 3; ++j)
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(a1(i, j), a0(i, j));  // a1 now holds its factor
}

TEST(Cdsolv, NotPositiveDefiniteStops) {
  Matrix a = padded(3, {{1, 0, 0}, {0, -1, 0}, {0, 0, 1}});
  std::vector<double> b{1, 1, 1}, x(3);
  const auto o = capture([&] { rg::cdsolv(a.view(), {x.data()}, {b.data()}, 3, 1); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output,
            "****ERROR**** in CDSOLV, matrix A isn't positive definite\n"
            "(problem found on row   2).\n");
}

TEST(Ludcmp, SolvesAPivotingSystem) {
  // A = [0 2 1; 1 1 1; 2 1 0]: det 3, A·(1, -2, 3) = (-1, 2, 0). The zero in the
  // first pivot position forces an interchange.
  Matrix a = padded(4, {{0, 2, 1}, {1, 1, 1}, {2, 1, 0}});
  std::vector<int> indx(3);
  double d = 0;
  rg::ludcmp(a.view(), 3, {indx.data()}, d);
  EXPECT_NEAR(d * a(1, 1) * a(2, 2) * a(3, 3), 3.0, 1e-14);
  std::vector<double> b{-1, 2, 0};
  rg::lubksb(a.view(), 3, {indx.data()}, {b.data()});
  EXPECT_NEAR(b[0], 1.0, 1e-14);
  EXPECT_NEAR(b[1], -2.0, 1e-14);
  EXPECT_NEAR(b[2], 3.0, 1e-14);
  // A right-hand side with leading zeros (the forward sweep skips them).
  std::vector<double> e3{0, 0, 3};  // 3·e3 = A·(1, 1, -2)
  rg::lubksb(a.view(), 3, {indx.data()}, {e3.data()});
  EXPECT_NEAR(e3[0], 1.0, 1e-14);
  EXPECT_NEAR(e3[1], 1.0, 1e-14);
  EXPECT_NEAR(e3[2], -2.0, 1e-14);
  expect_padding_untouched(a, 3);
}

TEST(Ludcmp, TiesGoToTheLaterRow) {
  // Both rows have scaled magnitude 1 in column 1: the later row is the pivot.
  Matrix a = padded(2, {{1, 0}, {1, 0.5}});
  std::vector<int> indx(2);
  double d = 0;
  rg::ludcmp(a.view(), 2, {indx.data()}, d);
  EXPECT_EQ(indx[0], 2);
  EXPECT_EQ(indx[1], 2);
  EXPECT_EQ(d, -1.0);
  std::vector<double> b{1, 2};  // A·(1, 2) = (1, 2)
  rg::lubksb(a.view(), 2, {indx.data()}, {b.data()});
  EXPECT_NEAR(b[0], 1.0, 1e-15);
  EXPECT_NEAR(b[1], 2.0, 1e-15);
}

TEST(Ludcmp, ZeroRowStopsNamingTheRow) {
  Matrix a = padded(3, {{1, 2, 3}, {0, 1e-11, 0}, {4, 5, 7}});
  std::vector<int> indx(3);
  double d;
  const auto o = capture([&] { rg::ludcmp(a.view(), 3, {indx.data()}, d); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output,
            "****ERROR**** All numbers in row   2 of matrix passed \n"
            "to LUDCMP are too small for me to handle. Try rescaling.\n");
}

TEST(Ludcmp, SingularMatrixWarnsAndStaysFinite) {
  Matrix a = padded(3, {{1, 2, 3}, {2, 4, 6}, {1, 0, 1}});
  std::vector<int> indx(3);
  double d;
  const auto o = capture([&] { rg::ludcmp(a.view(), 3, {indx.data()}, d); });
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(o.output, "****WARNING**** Singular matrix in LUDCMP (row   3)\n");
  for (int j = 1; j <= 3; ++j)
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::isfinite(a(i, j)));
}

TEST(Capacity, OrderAbove200) {
  Matrix a(201, 201);
  for (int i = 1; i <= 201; ++i) a(i, i) = 2.0;
  std::vector<int> indx(201);
  double d;
  auto o = capture([&] { rg::ludcmp(a.view(), 201, {indx.data()}, d); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.output, "****ERROR**** Insufficient local storage in LUDCMP.\nIncrease NMAX and recompile.\n");
  for (int method : {1, 2}) {
    o = capture([&] { rg::matinv(a.view(), 201, 1, method); });
    EXPECT_FALSE(o.ended);  // reported, not fatal
    EXPECT_EQ(o.output,
              "****ERROR**** in MATINV, insufficient local storage has been allocated.\n"
              "Increase the parameter MAXDIM in the source code (currently  200).\n");
    EXPECT_EQ(a(1, 1), 2.0);
    EXPECT_EQ(a(2, 1), 0.0);
  }
}

// A·B = I over the order n, to tol.
void expect_inverse(Matrix& a, Matrix& inv, int n, double tol) {
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) {
      double s = 0;
      for (int k = 1; k <= n; ++k) s += a(i, k) * inv(k, j);
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, tol) << i << "," << j;
    }
}

TEST(Matinv, CholeskyInverseFillsBothTriangles) {
  Matrix a = spd3(), orig = spd3();
  rg::matinv(a.view(), 3, 1, 1);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a(i, j), a(j, i));
  expect_inverse(orig, a, 3, 1e-14);
  expect_padding_untouched(a, 3);
  // From an existing factor (ifact 0): the same inverse.
  Matrix f = spd3();
  int ifail;
  rg::choldec(f.view(), 3, ifail);
  rg::matinv(f.view(), 3, 0, 1);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(f(i, j), a(i, j), 1e-15);
}

TEST(Matinv, GeneralInverse) {
  Matrix a = padded(3, {{2, 1}, {5, 3}});
  rg::matinv(a.view(), 2, 1, 2);
  // [2 1; 5 3]⁻¹ = [3 -1; -5 2].
  EXPECT_NEAR(a(1, 1), 3.0, 1e-14);
  EXPECT_NEAR(a(1, 2), -1.0, 1e-14);
  EXPECT_NEAR(a(2, 1), -5.0, 1e-14);
  EXPECT_NEAR(a(2, 2), 2.0, 1e-14);
  expect_padding_untouched(a, 2);
  Matrix p = padded(3, {{0, 2, 1}, {1, 1, 1}, {2, 1, 0}}), porig = p;
  rg::matinv(p.view(), 3, 1, 2);
  expect_inverse(porig, p, 3, 1e-14);
}

TEST(Matinv, FullCapacityBothMethods) {
  // Order 200, symmetric and strictly diagonally dominant (so positive definite).
  const int n = 200;
  Matrix a(n, n);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) a(i, j) = (i == j) ? 2.0 * n : 1.0 / (1.0 + std::abs(i - j));
  for (int method : {1, 2}) {
    Matrix inv = a;
    rg::matinv(inv.view(), n, 1, method);
    expect_inverse(a, inv, n, 1e-13);
  }
}

TEST(Matinv, CholeskyFailureStops) {
  const std::string msg =
      "****ERROR**** in MATINV, matrix isn't positive definite so Cholesky\n"
      "decomposition (METHOD=1) won't work. Problem found on row   2.\n"
      "If matrix is correct, try METHOD=2.\n";
  Matrix a = padded(2, {{1, 2}, {2, 1}});
  auto o = capture([&] { rg::matinv(a.view(), 2, 1, 1); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output, msg);
  // Singular but semi-definite: the factor has a zero pivot, so there is no inverse.
  Matrix s = padded(2, {{1, 1}, {1, 1}});
  o = capture([&] { rg::matinv(s.view(), 2, 1, 1); });
  EXPECT_TRUE(o.ended);
  EXPECT_EQ(o.output, msg);
}

}  // namespace
