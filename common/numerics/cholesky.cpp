#include "cholesky.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "cholesky_columns.hpp"

namespace rg {

namespace {

// Below this order a column is updated entry by entry: the chunks in registers only
// pay where columns are long.
constexpr int VECTOR_ORDER = 24;

// The factorisation of the matrix loaded into s (column i: row i of A from the
// diagonal on); a(i, j) gives A's entry for the zero-pivot test.
template <class Entry>
void factorise_work(LowerFactor& s, Entry a, int n, int& ifail) {
  ifail = 0;
  const chol_detail::ColumnUpdate update = chol_detail::column_update_in_use();
  double* const lrow = s.row();
  for (int i = 1; i <= n; ++i) {
    // Entry j of column i: A(i, j) - sum over k < i of L(i, k) L(j, k), the products
    // taken in the order k = 1, 2, ..., i - 1 as choldec takes them.
    for (int k = 1; k < i; ++k) lrow[k - 1] = s.at(i, k);
    if (n >= VECTOR_ORDER) {
      update(s.data(), s.ld(), lrow, i, n);
    } else {
      for (int j = i; j <= n; ++j) {
        double v = s.at(j, i);
        for (int k = 1; k < i; ++k) v -= lrow[k - 1] * s.at(j, k);
        s.at(j, i) = v;
      }
    }
    const double c = s.at(i, i);
    if (!(c >= 0.0)) {  // negative (or not a number): not positive definite
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
}

// Column i of the work matrix: row i of A from the diagonal on (the upper triangle,
// as choldec reads it), then zeros down to the padding. Copied in tiles of eight
// columns, so that both the rows of A and the columns of the work matrix are
// visited a few cache lines at a time.
template <class Entry>
void load_work(LowerFactor& s, Entry a, int n) {
  s.reserve(n);
  for (int i0 = 1; i0 <= n; i0 += 8) {
    const int i1 = std::min(i0 + 7, n);
    for (int j = i0; j <= n; ++j) {
      const int last = std::min(i1, j);
      for (int i = i0; i <= last; ++i) s.at(j, i) = a(i, j);
    }
  }
  for (int i = 1; i <= n; ++i)
    for (int j = n + 1; j < n + LowerFactor::PAD; ++j) s.at(j, i) = 0.0;
}

}  // namespace

void LowerFactor::reserve(int n) {
  const int order = std::max(n, 1);
  ld_ = std::max(ld_, order + PAD);
  const std::size_t size = static_cast<std::size_t>(ld_) * static_cast<std::size_t>(order);
  if (w_.size() < size) w_.resize(size);
  if (row_.size() < static_cast<std::size_t>(order)) row_.resize(static_cast<std::size_t>(order));
}

void choldec_lower(const Matrix& t, const int* idx, int n, LowerFactor& l, int& ifail) {
  ifail = 0;
  if (n <= 0) return;
  // Column i of the work: t(idx[j], idx[i]) down column idx[i] of t.
  l.reserve(n);
  for (int i = 1; i <= n; ++i) {
    const double* src = &t(1, idx[i - 1]);  // src[site - 1] = t(site, idx[i])
    double* dst = &l.at(1, i);
    for (int j = i; j <= n; ++j) dst[j - 1] = src[idx[j - 1] - 1];
    for (int j = n + 1; j < n + LowerFactor::PAD; ++j) dst[j - 1] = 0.0;
  }
  factorise_work(l, [&](int i, int j) { return t(idx[j - 1], idx[i - 1]); }, n, ifail);
}

void choldec_lower(MatRef a, int n, LowerFactor& l, int& ifail) {
  ifail = 0;
  if (n <= 0) return;
  load_work(l, a, n);
  factorise_work(l, a, n, ifail);
}

void add_lower_times(const LowerFactor& l, const double* mean, const double* z, double* x, int n) {
  // Four columns of L per sweep down x, their terms added to each x(k) in column
  // order; the rows above the fourth column's diagonal take only the columns that
  // reach them.
  double* __restrict out = x;
  for (int k = 0; k < n; ++k) out[k] = mean[k];
  int c = 1;
  for (; c + 3 <= n; c += 4) {
    const double z0 = z[c - 1], z1 = z[c], z2 = z[c + 1], z3 = z[c + 2];
    const double* __restrict l0 = l.column(c);
    const double* __restrict l1 = l.column(c + 1);
    const double* __restrict l2 = l.column(c + 2);
    const double* __restrict l3 = l.column(c + 3);
    out[c - 1] += l0[c - 1] * z0;
    out[c] += l0[c] * z0;
    out[c] += l1[c] * z1;
    out[c + 1] += l0[c + 1] * z0;
    out[c + 1] += l1[c + 1] * z1;
    out[c + 1] += l2[c + 1] * z2;
    for (int k = c + 2; k < n; ++k) {
      double v = out[k];
      v += l0[k] * z0;
      v += l1[k] * z1;
      v += l2[k] * z2;
      v += l3[k] * z3;
      out[k] = v;
    }
  }
  for (; c <= n; ++c) {
    const double zc = z[c - 1];
    const double* __restrict col = l.column(c);
    for (int k = c - 1; k < n; ++k) out[k] += col[k] * zc;
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
