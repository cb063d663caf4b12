// The column update of the fast Cholesky factorisation with AVX2 registers (four
// doubles); compiled with -mavx2 (not -mfma), called only where the processor has it.
#include "cholesky_columns.hpp"

namespace rg::chol_detail {

void update_column_avx2(double* w, std::ptrdiff_t ld, const double* lrow, int i, int n) {
  typedef double v4 __attribute__((vector_size(32)));
  update_column<v4>(w, ld, lrow, i, n);
}

}  // namespace rg::chol_detail
