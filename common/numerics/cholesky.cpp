#include "cholesky.hpp"

#include <cmath>
#include <cstring>
#include <vector>

namespace rg {

namespace {

// Two doubles, one SSE2 register. Multiplications and subtractions stay separate
// operations (no fused multiply-add on the target), each rounding as the scalar
// loop's.
typedef double v2 __attribute__((vector_size(16)));

inline v2 load(const double* p) {
  v2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store(double* p, v2 v) { std::memcpy(p, &v, sizeof v); }

constexpr int CHUNK = 16;  // column entries kept in registers

// Work space kept between calls: the transpose of the factor, column-major with
// CHUNK rows of zero padding below the last so that every chunk can be loaded whole.
struct Work {
  std::vector<double> w, row;
  int ld = 0;
  void reserve(int n) {
    const int need = n + CHUNK;
    if (need > ld || w.size() < static_cast<std::size_t>(need) * n) {
      ld = std::max(ld, need);
      w.assign(static_cast<std::size_t>(ld) * std::max(n, 1), 0.0);
      row.assign(static_cast<std::size_t>(std::max(n, 1)), 0.0);
    }
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

// Entries j0..j0+C-1 of column i of the transposed factor: from each the products
// L(i, k) L(j, k), k = 1..i-1, are subtracted in order, C / 2 registers of partial
// results held while the earlier columns stream past.
template <int C>
inline void update_chunk(Work& s, const double* lrow, int i, int j0) {
  double* const dst = &s.at(j0, i);
  v2 c[C / 2];
  for (int t = 0; t < C / 2; ++t) c[t] = load(dst + 2 * t);
  const double* col = &s.at(j0, 1);
  for (int k = 1; k < i; ++k, col += s.ld) {
    const double l = lrow[k - 1];
    for (int t = 0; t < C / 2; ++t) c[t] -= l * load(col + 2 * t);
  }
  for (int t = 0; t < C / 2; ++t) store(dst + 2 * t, c[t]);
}

// The factorisation of the matrix loaded into the work space (column i: row i of A
// from the diagonal on); a(i, j) gives A's entry for the zero-pivot test, out receives
// the factor.
template <class Entry>
void factorise_work(Work& s, Entry a, MatRef out, int n, int& ifail) {
  double* const lrow = s.row.data();
  for (int i = 1; i <= n; ++i) {
    // Entry j of column i: A(i, j) - sum over k < i of L(i, k) L(j, k), the products
    // taken in the order k = 1, 2, ..., i - 1 as choldec takes them.
    for (int k = 1; k < i; ++k) lrow[k - 1] = s.at(i, k);
    int j0 = i;
    for (; n - j0 >= 8; j0 += CHUNK) update_chunk<CHUNK>(s, lrow, i, j0);
    // The last entries of the column in a narrower chunk: on small networks most
    // columns are shorter than a chunk.
    if (j0 <= n) {
      if (n - j0 >= 4) update_chunk<8>(s, lrow, i, j0);
      else update_chunk<4>(s, lrow, i, j0);
    }
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

}  // namespace rg
