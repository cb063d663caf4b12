#pragma once
// Pieces shared by the amount and occurrence halves of the daily generator.
#include <initializer_list>
#include <string_view>

#include "arrays.hpp"

namespace rg {

// Reports a correlation or covariance matrix whose Cholesky factorisation failed at
// the given row.
void report_not_positive_definite(int row);

// True when a site vector has the entries 1 to n.
template <class T>
bool covers(const Array1<T>& v, int n) {
  return v.lo() <= 1 && v.hi() >= n;
}

// Stops the run (programming error of routine) unless the capacity is MAXSIT, nsites
// lies within it, every vector covers the sites and every matrix every site pair.
void check_site_arrays(std::string_view routine, int nsites, int site_capacity, std::initializer_list<bool> vectors,
                       std::initializer_list<const Matrix*> matrices);

// Gaussian conditioning on a subset of variables with covariance cov: for the target
// variables target(1..nt) given the variables given(1..ng), the regression weights
// weight = S12 S22^-1 (nt x ng) and the conditional covariance
// cond = S11 - S12 S22^-1 S21 (nt x nt). s12 and s22 are work space (s22 ends as the
// inverse of the given block); an ng of 0 gives cond = S11.
void condition_gaussian(const Matrix& cov, VecView<const int> target, int nt, VecView<const int> given, int ng,
                        Matrix& s12, Matrix& s22, Matrix& weight, Matrix& cond);

// Forgets the latent Gaussian scheme's checks and factorisations.
void latent_restart();
// Forgets the Beta-Binomial scheme's shrinkage step and message switch.
void betabin_restart();

}  // namespace rg
