#include "cholesky.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cholesky_columns.hpp"

namespace rg {

namespace {

constexpr int CHUNK = 16;  // column entries kept in registers

// Work space kept between calls: the transpose of the factor, column-major with
// CHUNK rows of zero padding below the last so that every chunk can be loaded whole.
struct Work {
  std::vector<double> w, row;
  int ld = 0;
  void reserve(int n) {
    ld = std::max(ld, n + CHUNK);
    const std::size_t size = static_cast<std::size_t>(ld) * static_cast<std::size_t>(std::max(n, 1));
    if (w.size() < size) w.resize(size);
    if (row.size() < static_cast<std::size_t>(std::max(n, 1))) row.resize(static_cast<std::size_t>(std::max(n, 1)));
  }
  double& at(int j, int i) { return w[static_cast<std::size_t>(i - 1) * ld + (j - 1)]; }
};

Work& work() {
  thread_local Work s;
  return s;
}

// Columns 1..done of the transposed factor back into a as rows of U.
void write_back(MatRef a, Work& s, int n, int done) {
  for (int i = 1; i <= done; ++i) {
    for (int j = i; j <= n; ++j) a(i, j) = s.at(j, i);
    for (int j = i + 1; j <= n; ++j) a(j, i) = 0.0;
  }
}

// The factorisation of the matrix loaded into the work space (column i: row i of A
// from the diagonal on); a(i, j) gives A's entry for the zero-pivot test, out receives
// the factor.
template <class Entry>
void factorise_work(Work& s, Entry a, MatRef out, int n, int& ifail) {
  const chol_detail::ColumnUpdate update = chol_detail::column_update_in_use();
  double* const lrow = s.row.data();
  for (int i = 1; i <= n; ++i) {
    // Entry j of column i: A(i, j) - sum over k < i of L(i, k) L(j, k), the products
    // taken in the order k = 1, 2, ..., i - 1 as choldec takes them.
    for (int k = 1; k < i; ++k) lrow[k - 1] = s.at(i, k);
    update(s.w.data(), s.ld, lrow, i, n);
    const double c = s.at(i, i);
    if (!(c >= 0.0)) {  // negative (or not a number): not positive definite
      write_back(out, s, n, i - 1);
      ifail = i;
      return;
    }
    if (c == 0.0) {
      // choldec's test for a semi-definite row: the remainders must vanish against
      // the size of the products that made them.
      for (int j = i + 1; j <= n; ++j) {
        double scale = 0.0;
        for (int k = 1; k < i; ++k) scale += std::fabs(lrow[k - 1] * s.at(j, k));
        if (!(std::fabs(s.at(j, i)) <= 1e-12 * std::max(scale, std::fabs(a(i, j))))) {
          write_back(out, s, n, i - 1);
          ifail = i;
          return;
        }
      }
      for (int j = i; j <= n; ++j) s.at(j, i) = 0.0;
      continue;
    }
    const double uii = std::sqrt(c);
    s.at(i, i) = uii;
    for (int j = i + 1; j <= n; ++j) s.at(j, i) /= uii;
  }
  write_back(out, s, n, n);
}

// Column i of the work matrix: row i of A from the diagonal on (the upper triangle,
// as choldec reads it), then zeros down to the padding.
template <class Entry>
Work& load_work(Entry a, int n) {
  Work& s = work();
  s.reserve(n);
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) s.at(j, i) = a(i, j);
    for (int j = n + 1; j <= n + CHUNK - 1; ++j) s.at(j, i) = 0.0;
  }
  return s;
}

}  // namespace

void choldec_fast(MatRef a, int n, int& ifail) {
  ifail = 0;
  if (n <= 0) return;
  factorise_work(load_work(a, n), a, a, n, ifail);
}

void choldec_fast(const Matrix& cov, const int* idx, int n, MatRef out, int& ifail) {
  ifail = 0;
  if (n <= 0) return;
  auto entry = [&](int i, int j) { return cov(idx[i - 1], idx[j - 1]); };
  factorise_work(load_work(entry, n), entry, out, n, ifail);
}

void add_factor_times(const MatRef u, const double* mean, const double* z, double* x, int n) {
  int k = 1;
  for (; k + 3 <= n; k += 4) {
    const double *u0 = &u(1, k), *u1 = &u(1, k + 1), *u2 = &u(1, k + 2), *u3 = &u(1, k + 3);
    double x0 = mean[k - 1], x1 = mean[k], x2 = mean[k + 1], x3 = mean[k + 2];
    for (int l = 0; l < k; ++l) {
      const double zl = z[l];
      x0 += u0[l] * zl;
      x1 += u1[l] * zl;
      x2 += u2[l] * zl;
      x3 += u3[l] * zl;
    }
    x1 += u1[k] * z[k];
    x2 += u2[k] * z[k];
    x3 += u3[k] * z[k];
    x2 += u2[k + 1] * z[k + 1];
    x3 += u3[k + 1] * z[k + 1];
    x3 += u3[k + 2] * z[k + 2];
    x[k - 1] = x0;
    x[k] = x1;
    x[k + 1] = x2;
    x[k + 2] = x3;
  }
  for (; k <= n; ++k) {
    const double* uk = &u(1, k);
    double v = mean[k - 1];
    for (int l = 0; l < k; ++l) v += uk[l] * z[l];
    x[k - 1] = v;
  }
}

namespace chol_detail {

ColumnUpdate& column_update_in_use() {
  // Four doubles at a time where the processor has AVX2.
#if defined(RAINGLM_CHOLESKY_AVX2)
  static ColumnUpdate f = __builtin_cpu_supports("avx2") ? update_column_avx2 : update_column_sse2;
#else
  static ColumnUpdate f = update_column_sse2;
#endif
  return f;
}

bool avx2_available() {
#if defined(RAINGLM_CHOLESKY_AVX2)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

void update_column_sse2(double* w, std::ptrdiff_t ld, const double* lrow, int i, int n) {
  typedef double v2 __attribute__((vector_size(16)));
  update_column<v2>(w, ld, lrow, i, n);
}

}  // namespace chol_detail

}  // namespace rg
