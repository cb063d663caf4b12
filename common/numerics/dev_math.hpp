#pragma once
// Dense matrix routines and special functions. Matrices are column-major views with
// 1-based indices; n is the order in use, the view's ld the declared number of rows.
#include "arrays.hpp"

namespace rg {

constexpr int NMAX = 200;    // local scale vector of ludcmp
constexpr int MAXDIM = 200;  // local work matrix of matinv

using MatRef = MatView<double>;
using VecRef = VecView<double>;

// Cholesky factorisation A = U'U in place (upper triangle U, strict lower set to 0);
// ifail = row of a negative pivot, 0 on success.
void choldec(MatRef a, int n, int& ifail);
// trans 0: solves U'x = b; trans 1: solves Ux = b; other values do nothing. x may be b.
void utsolv(MatRef u, VecRef x, VecRef b, int trans, int n);
// V = inverse of upper-triangular U.
void utinv(MatRef u, MatRef v, int n);
// Solves Ax = b for symmetric positive-definite A (factorised first if ifact = 1).
void cdsolv(MatRef a, VecRef x, VecRef b, int n, int ifact);
// LU decomposition with implicit partial pivoting (Crout).
void ludcmp(MatRef a, int n, VecView<int> indx, double& d);
// Solves Ax = b with the output of ludcmp; b becomes x.
void lubksb(MatRef a, int n, VecView<int> indx, VecRef b);
// Inverse in place: method 1 through Cholesky, otherwise through LU.
void matinv(MatRef a, int n, int ifact, int method);
// The report of a failed Cholesky factorisation in matinv (row of the failing
// pivot); ends the run. For callers that factorise a matrix of the same kind.
[[noreturn]] void not_positive_definite(int row);

double gammln(double x, int& ifail);
double gamma(double x, int& ifail);
double digamm(double x, int& ifail);
// Normal distribution function: P(X <= x) for upper = 0, P(X > x) for upper = 1.
double cdfnor(double x, double mean, double sd, int upper);
double qnorm(double p, double mean, double sd, int& ifail);
// P(X > h, Y > k) for the standard bivariate normal with correlation rho.
double cdfbvn(double h, double k, double rho, double tol);

// What the bivariate probability needs of one threshold besides the correlation,
// so that a caller evaluating the same thresholds at many correlations computes it
// once; cdfbvn(BvnLimit(h), BvnLimit(k), rho, tol) equals cdfbvn(h, k, rho, tol)
// exactly. With a term store attached, the Poisson terms of Owen's series for the
// threshold are also kept for the next evaluation, instead of being formed again.
struct OwenTerms {
  static constexpr int CAPACITY = 40;
  int n = 0;  // terms p_1..p_n held
  double p[CAPACITY];
};
struct OwenArg {
  double h = 0.0;               // a non-negative threshold
  double tail = 0.0;            // its upper normal tail
  double logx = 0.0;            // ln(h^2/2), 0 when that is not positive
  OwenTerms* terms = nullptr;   // optional store of the series terms
  OwenArg() = default;
  explicit OwenArg(double x);
  OwenArg(double x, double upper);
};
struct BvnLimit {
  double h = 0.0;     // the threshold
  double tail = 0.0;  // its upper normal tail
  OwenArg abs;        // its magnitude
  BvnLimit() = default;
  explicit BvnLimit(double x);
};
double cdfbvn(const BvnLimit& h, const BvnLimit& k, double rho, double tol);

}  // namespace rg
