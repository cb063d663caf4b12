#pragma once
// Dependent wet/dry indicators with given marginal probabilities and a given
// distribution of their sum: the table of conditional probabilities
// cp(i, s) = P(site i wet | s sites wet) and the routines of the Beta-Binomial
// occurrence scheme that build, condition and draw from it.
#include <vector>

#include "arrays.hpp"
#include "sites.hpp"

namespace rg {

// cp(i, s) for sites 1..MAXSIT and sums 0..MAXSIT, each sum's column contiguous (the
// routines below walk columns).
class BernTable {
 public:
  BernTable() : v_(static_cast<std::size_t>(MAXSIT) * (MAXSIT + 1), 0.0) {}
  double& operator()(int i, int s) { return v_[static_cast<std::size_t>(s) * MAXSIT + static_cast<std::size_t>(i - 1)]; }
  double operator()(int i, int s) const {
    return v_[static_cast<std::size_t>(s) * MAXSIT + static_cast<std::size_t>(i - 1)];
  }
  // Column of sum s, indexed from 0 by site - 1.
  double* column(int s) { return v_.data() + static_cast<std::size_t>(s) * MAXSIT; }

 private:
  std::vector<double> v_;
};

// Builds cp for marginals p(1..n) and sum distribution pz[0..n] so that every entry
// lies in [0, 1], column s sums to s and sum_s pz[s] cp(i, s) = p(i), all within tol
// (columns with pz[s] <= tol^3 hold s/n). Returns 0, or 7 when no such table exists
// (message unless quiet). Inconsistent input (codes 1 to 4) stops the run with its
// message; so do codes 5 and 6 unless quiet, where they are returned as 7.
int bercdb(int n, VecView<const double> p, const double* pz, int capacity, int nmax, double tol, BernTable& cp,
           bool quiet);

// Bounds on the mass of a site with remaining marginal r in the column of sum s:
// lb = max(0, r - P(S > s)), ub = min(r - pz(n), pz(s)), added to suml and sumu (with
// update = 1 the site's previous lb and ub are taken out of the sums first).
void bounds(double r, double pzn, double pzs, double above, double& lb, double& ub, double& suml, double& sumu,
            int update);

// Beta-Binomial(n, alpha, beta) probabilities of 0..n wet sites into pz[0..n]. Returns 1
// when pz cannot go with the marginals (all dry likelier than the wettest site dry, or
// all wet likelier than the driest site wet), else 0. alpha = 0 (beta = 0) puts all
// mass on 0 (n).
int bbzgen(int n, double alpha, double beta, double pmin, double pmax, double* pz, int capacity);

// Fills the unknown states (-1) of the sites 1..n with marginals p and sum
// distribution pz, conditionally on the known states (0 or 1). Returns 0, the code of
// bercdb, or 1 when a known state or a drawn value has probability 0 (reported when
// print is set). total_wet receives the number of wet sites.
int cbvsim(int n, VecView<const double> p, const double* pz, int nobs, int capacity, VecView<double> state,
           int& total_wet, bool quiet, bool print);

// Updates after the first of m remaining sites took value y: the distribution of the
// remaining sum (newpz, returns 1 when y had probability 0), the table of the other
// m - 1 sites for the sums smin..smax of the m sites (y1cond, returns 1 when a sum of
// zero probability had to be used while drawing, i.e. smin = smax), and the marginals
// of the remaining m sites (newp).
int newpz(int y, double p1, BernTable& cp, int m, double* pz, bool print);
int y1cond(int y, BernTable& cp, int m, int smin, int smax, double tol, bool print);
void newp(BernTable& cp, const double* pz, int m, VecView<double> p, double tol);

}  // namespace rg
