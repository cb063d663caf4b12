#pragma once
// Cholesky factorisation for the daily generator's hot path: the same arithmetic as
// choldec, operation for operation, so the factor is bit-identical, but organised for
// the machine: the factor is built column by column of its transpose in a contiguous
// work matrix, 16 entries of a column at a time held in registers while the earlier
// columns stream past, instead of one dot product per entry.
#include "dev_math.hpp"

namespace rg {

// A = U'U in place, exactly as choldec: upper triangle U, strict lower set to 0,
// ifail = row of a negative (or not-a-number) pivot and 0 on success, a zero pivot
// accepted where the rest of its row is zero too. Reads only the upper triangle of A.
// On failure the rows before the failing one hold their factor rows, like choldec.
void choldec_fast(MatRef a, int n, int& ifail);
// The same for the submatrix cov(idx[i], idx[j]), i, j < n, of a larger matrix,
// factorised into out (which may not be cov); no copy of the submatrix is needed.
void choldec_fast(const Matrix& cov, const int* idx, int n, MatRef out, int& ifail);

// x(k) = mean(k) + sum over l <= k of u(l, k) z(l), for k = 1..n, each sum taken in
// the order l = 1, 2, ..., k as a plain loop would, four columns at a time: the draw
// x = mean + U'z of a multivariate normal from the factor U.
void add_factor_times(const MatRef u, const double* mean, const double* z, double* x, int n);

}  // namespace rg
