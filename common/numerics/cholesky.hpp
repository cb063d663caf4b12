#pragma once
// Cholesky factorisation for the daily generator's hot path: the same arithmetic as
// choldec, operation for operation, so the factor is bit-identical, but organised for
// the machine: the factor is built as its transpose, column by column in contiguous
// memory, 16 entries of a column at a time held in registers while the earlier
// columns stream past, instead of one dot product per entry.
#include <vector>

#include "dev_math.hpp"

namespace rg {

// The lower factor L = U' of a Cholesky factorisation as the fast factorisation
// builds it: column-major, column i holding L(i..n, i), with zero padding below row
// n. Kept by a caller that reuses a factor from day to day and draws from it.
class LowerFactor {
 public:
  static constexpr int PAD = 16;  // rows of padding: one chunk of a column update
  // Room for order n (allocates only when n exceeds what was reserved before).
  void reserve(int n);
  double& at(int j, int i) { return w_[static_cast<std::size_t>(i - 1) * ld_ + (j - 1)]; }
  double at(int j, int i) const { return w_[static_cast<std::size_t>(i - 1) * ld_ + (j - 1)]; }
  const double* column(int i) const { return w_.data() + static_cast<std::size_t>(i - 1) * ld_; }  // L(1.., i)
  double* data() { return w_.data(); }
  int ld() const { return ld_; }
  double* row() { return row_.data(); }

 private:
  std::vector<double> w_, row_;
  int ld_ = 0;
};

// Factorises into l, with choldec's arithmetic (the same bits, the same ifail: 0, or
// the row of a pivot that is negative or not a number, or of a zero pivot whose row
// does not vanish), the block A(i, j) = t(idx[j - 1], idx[i - 1]), i <= j <= n, of a
// larger matrix given by its transpose t: A's upper triangle, as choldec reads it, is
// then read down the columns of t. For a symmetric matrix t is the matrix itself.
void choldec_lower(const Matrix& t, const int* idx, int n, LowerFactor& l, int& ifail);
// The same for the upper triangle of the n x n matrix a.
void choldec_lower(MatRef a, int n, LowerFactor& l, int& ifail);

// x(k) = mean(k) + sum over l <= k of L(k, l) z(l), k = 1..n, each sum taken in the
// order l = 1, 2, ..., k as a plain loop over the upper factor would (L(k, l) is
// U(l, k)), done column by column of L: the draw x = mean + U'z of a multivariate
// normal.
void add_lower_times(const LowerFactor& l, const double* mean, const double* z, double* x, int n);

}  // namespace rg
