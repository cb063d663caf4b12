#pragma once
// Inside the fast Cholesky factorisation: the update of one column of the transposed
// factor, written once for any width of vector register V (two doubles for SSE2, four
// for AVX2) and compiled once per width in its own file. Each entry j of column i
// gets the products L(i, k) L(j, k), k = 1..i-1, subtracted in that order, as
// separate multiplications and subtractions (no fused multiply-add), so every width
// gives the bits of the plain loop.
#include <cstddef>
#include <cstring>

namespace rg::chol_detail {

// w: the work matrix, column-major with leading dimension ld and zero padding of at
// least 15 rows below row n; lrow: L(i, 1..i-1).
using ColumnUpdate = void (*)(double* w, std::ptrdiff_t ld, const double* lrow, int i, int n);

namespace {

template <class V>
inline V load(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
inline void store(double* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// Entries j0..j0+C-1 of column i, C / width registers of partial results held while
// the earlier columns stream past.
template <class V, int C>
inline void update_chunk(double* w, std::ptrdiff_t ld, const double* lrow, int i, int j0) {
  constexpr int L = static_cast<int>(sizeof(V) / sizeof(double));
  double* const dst = w + (i - 1) * ld + (j0 - 1);
  V c[C / L];
  for (int t = 0; t < C / L; ++t) c[t] = load<V>(dst + L * t);
  const double* col = w + (j0 - 1);
  for (int k = 1; k < i; ++k, col += ld) {
    const double l = lrow[k - 1];
    for (int t = 0; t < C / L; ++t) c[t] -= l * load<V>(col + L * t);
  }
  for (int t = 0; t < C / L; ++t) store<V>(dst + L * t, c[t]);
}

// Entries i..n of column i: chunks of 16, the last ones narrower (on small networks
// most columns are shorter than a chunk).
template <class V>
void update_column(double* w, std::ptrdiff_t ld, const double* lrow, int i, int n) {
  int j0 = i;
  for (; n - j0 >= 8; j0 += 16) update_chunk<V, 16>(w, ld, lrow, i, j0);
  if (j0 > n) return;
  if (n - j0 >= 4) update_chunk<V, 8>(w, ld, lrow, i, j0);
  else update_chunk<V, 4>(w, ld, lrow, i, j0);
}

}  // namespace

void update_column_sse2(double* w, std::ptrdiff_t ld, const double* lrow, int i, int n);
void update_column_avx2(double* w, std::ptrdiff_t ld, const double* lrow, int i, int n);  // x86-64 only
// The update the factorisation uses (AVX2 where the processor has it); tests set it
// to run every build of the update.
ColumnUpdate& column_update_in_use();
bool avx2_available();

}  // namespace rg::chol_detail
