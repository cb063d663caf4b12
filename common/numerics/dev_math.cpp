#include "dev_math.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "console.hpp"
#include "fixed_format.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double TWOPI = 2.0 * PI;

// Fixed work space of the routines with local storage, allocated once for the
// whole run (the programs are single-threaded).
double ludscale[NMAX];              // row scales of ludcmp
double invwork[MAXDIM * MAXDIM];    // work matrix of matinv, leading dimension MAXDIM
int invindx[MAXDIM];                // row permutation of matinv's own LU factorisation
bool invindx_set = false;

std::string row3(int row) { return fmt_i(row, 3); }

}  // namespace

// ---------------------------------------------------------------------------
// Matrix routines
// ---------------------------------------------------------------------------

void choldec(MatRef a, int n, int& ifail) {
  ifail = 0;
  for (int i = 1; i <= n; ++i) {
    double c = a(i, i);
    for (int k = 1; k < i; ++k) c -= a(k, i) * a(k, i);
    if (!(c >= 0.0)) {  // negative (or not a number): not positive definite
      ifail = i;
      return;
    }
    if (c == 0.0) {
      // A zero pivot is accepted (positive semi-definite matrices, e.g. two sites
      // with correlation exactly 1), but the row cannot be divided by it. In a
      // semi-definite matrix the rest of the row's remainder is zero too, and the
      // factor row is then zero beyond the diagonal; a clearly non-zero remainder
      // means the matrix is indefinite, reported like a negative pivot.
      for (int j = i + 1; j <= n; ++j) {
        double num = a(i, j);
        double scale = 0.0;
        for (int k = 1; k < i; ++k) {
          num -= a(k, i) * a(k, j);
          scale += std::fabs(a(k, i) * a(k, j));
        }
        if (!(std::fabs(num) <= 1e-12 * std::max(scale, std::fabs(a(i, j))))) {
          ifail = i;
          return;
        }
      }
      a(i, i) = 0.0;
      for (int j = i + 1; j <= n; ++j) {
        a(i, j) = 0.0;
        a(j, i) = 0.0;
      }
      continue;
    }
    const double uii = std::sqrt(c);
    a(i, i) = uii;
    for (int j = i + 1; j <= n; ++j) {
      double num = a(i, j);
      for (int k = 1; k < i; ++k) num -= a(k, i) * a(k, j);
      a(i, j) = num / uii;
      a(j, i) = 0.0;
    }
  }
}

void utsolv(MatRef u, VecRef x, VecRef b, int trans, int n) {
  auto zero_diagonal = [](int row) {
    console().line("****ERROR**** in routine UTSOLV, the matrix A has a zero");
    console().line("diagonal element in row " + row3(row) + ".");
    end_run(1);
  };
  if (trans == 0) {
    for (int i = 1; i <= n; ++i) {
      if (!(std::fabs(u(i, i)) >= 1e-12)) zero_diagonal(i);
      double s = b(i);
      for (int k = 1; k < i; ++k) s -= u(k, i) * x(k);
      x(i) = s / u(i, i);
    }
  } else if (trans == 1) {
    for (int i = n; i >= 1; --i) {
      if (!(std::fabs(u(i, i)) >= 1e-12)) zero_diagonal(i);
      double s = b(i);
      for (int k = i + 1; k <= n; ++k) s -= u(i, k) * x(k);
      x(i) = s / u(i, i);
    }
  }
}

void utinv(MatRef u, MatRef v, int n) {
  for (int i = 1; i <= n; ++i) {
    if (u(i, i) == 0.0) {
      // A singular factor has no inverse; never let 1/0 through.
      console().line("****ERROR**** in routine UTINV, the matrix U has a zero");
      console().line("diagonal element in row " + row3(i) + ".");
      end_run(1);
    }
  }
  for (int i = 1; i <= n; ++i) {
    v(i, i) = 1.0 / u(i, i);
    for (int j = i + 1; j <= n; ++j) v(j, i) = 0.0;
    for (int j = 1; j < i; ++j) {
      double s = 0.0;
      for (int k = j; k < i; ++k) s += v(j, k) * u(k, i);
      v(j, i) = -s / u(i, i);
    }
  }
}

void cdsolv(MatRef a, VecRef x, VecRef b, int n, int ifact) {
  if (ifact == 1) {
    int ifail = 0;
    choldec(a, n, ifail);
    if (ifail != 0) {
      console().line("****ERROR**** in CDSOLV, matrix A isn't positive definite");
      console().line("(problem found on row " + row3(ifail) + ").");
      end_run(1);
    }
  }
  utsolv(a, x, b, 0, n);
  utsolv(a, x, x, 1, n);
}

void ludcmp(MatRef a, int n, VecView<int> indx, double& d) {
  if (n > NMAX) {
    console().line("****ERROR**** Insufficient local storage in LUDCMP.");
    console().line("Increase NMAX and recompile.");
    end_run(1);
  }
  for (int i = 1; i <= n; ++i) {
    double big = 0.0;
    for (int j = 1; j <= n; ++j) big = std::max(big, std::fabs(a(i, j)));
    if (big <= 1e-10) {
      console().line("****ERROR**** All numbers in row " + row3(i) + " of matrix passed ");
      console().line("to LUDCMP are too small for me to handle. Try rescaling.");
      end_run(1);
    }
    ludscale[i - 1] = 1.0 / big;
  }
  d = 1.0;
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i < j; ++i) {
      double s = a(i, j);
      for (int k = 1; k < i; ++k) s -= a(i, k) * a(k, j);
      a(i, j) = s;
    }
    double big = 0.0;
    int imax = j;
    for (int i = j; i <= n; ++i) {
      double s = a(i, j);
      for (int k = 1; k < j; ++k) s -= a(i, k) * a(k, j);
      a(i, j) = s;
      const double dum = ludscale[i - 1] * std::fabs(s);
      if (dum >= big) {
        big = dum;
        imax = i;
      }
    }
    if (j != imax) {
      for (int k = 1; k <= n; ++k) std::swap(a(imax, k), a(j, k));
      d = -d;
      ludscale[imax - 1] = ludscale[j - 1];
    }
    indx(j) = imax;
    if (std::fabs(a(j, j)) <= 1e-10) {
      console().line("****WARNING**** Singular matrix in LUDCMP (row " + row3(j) + ")");
      // An exactly zero pivot would turn the multipliers (and later lubksb) into
      // infinities; a tiny pivot keeps the warned-about result finite.
      if (a(j, j) == 0.0) a(j, j) = 1e-20;
    }
    if (j != n) {
      const double dum = 1.0 / a(j, j);
      for (int i = j + 1; i <= n; ++i) a(i, j) *= dum;
    }
  }
}

void lubksb(MatRef a, int n, VecView<int> indx, VecRef b) {
  int ii = 0;  // first non-zero element of the permuted b, 0 while none met
  for (int i = 1; i <= n; ++i) {
    const int ll = indx(i);
    double s = b(ll);
    b(ll) = b(i);
    if (ii != 0) {
      for (int j = ii; j < i; ++j) s -= a(i, j) * b(j);
    } else if (s != 0.0) {
      ii = i;
    }
    b(i) = s;
  }
  for (int i = n; i >= 1; --i) {
    double s = b(i);
    for (int j = i + 1; j <= n; ++j) s -= a(i, j) * b(j);
    b(i) = s / a(i, i);
  }
}

void not_positive_definite(int row) {
  console().line("****ERROR**** in MATINV, matrix isn't positive definite so Cholesky");
  console().line("decomposition (METHOD=1) won't work. Problem found on row " + row3(row) + ".");
  console().line("If matrix is correct, try METHOD=2.");
  end_run(1);
}

void matinv(MatRef a, int n, int ifact, int method) {
  if (n > MAXDIM) {
    console().line("****ERROR**** in MATINV, insufficient local storage has been allocated.");
    console().line("Increase the parameter MAXDIM in the source code (currently " + fmt_i(MAXDIM, 4) + ").");
    return;
  }
  MatRef w{invwork, MAXDIM};
  if (method == 1) {
    int ifail = 0;
    if (ifact == 1) choldec(a, n, ifail);
    // A zero diagonal in the factor means a singular matrix: no inverse exists.
    for (int i = 1; i <= n && ifail == 0; ++i)
      if (a(i, i) == 0.0) ifail = i;
    if (ifail != 0) not_positive_definite(ifail);
    utinv(a, w, n);
    for (int j = 1; j <= n; ++j) {
      for (int i = 1; i <= j; ++i) {
        double s = 0.0;
        for (int k = j; k <= n; ++k) s += w(i, k) * w(j, k);
        a(i, j) = s;
        a(j, i) = s;
      }
    }
    return;
  }
  VecView<int> indx{invindx};
  if (ifact == 1) {
    double d = 0.0;
    ludcmp(a, n, indx, d);
    invindx_set = true;
  } else if (!invindx_set) {
    // A factor supplied by the caller without a known permutation: take it as
    // unpermuted.
    for (int i = 1; i <= MAXDIM; ++i) indx(i) = i;
  }
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) w(i, j) = (i == j) ? 1.0 : 0.0;
    lubksb(a, n, indx, VecRef{&w(1, j)});
  }
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) a(i, j) = w(i, j);
}

// ---------------------------------------------------------------------------
// Special functions
// ---------------------------------------------------------------------------

double gammln(double x, int& ifail) {
  if (!(x > 0.0)) {
    console().line("****ERROR**** In GAMMLN, you've asked me to calculate ln[Gamma(x)] for x <= 0.");
    ifail = 1;
    return -1e12;
  }
  ifail = 0;
  static constexpr double c[6] = {76.18009172947146,     -86.50532032941678,    24.01409824083091,
                                  -1.231739572450155,    0.001208650973866179, -5.395239384953e-06};
  const double y = x - 1.0;
  const double t = y + 5.5;
  double s = 1.000000000190015;
  for (int i = 0; i < 6; ++i) s += c[i] / (y + (i + 1));
  return std::log(s) + 0.9189385332046727 + (y + 0.5) * std::log(t) - t;
}

double gamma(double x, int& ifail) {
  ifail = 0;
  if (x > 0.0) {
    int fail = 0;
    const double g = std::exp(gammln(x, fail));
    if (fail != 0) ifail = 1;
    return g;
  }
  if (std::isnan(x)) {
    int fail = 0;
    ifail = 1;
    return gammln(x, fail);  // reports the bad argument
  }
  // Reflection for x <= 0 with the integer part n (towards zero) and f = n - x.
  const double n = std::trunc(x);
  const double f = n - x;
  if (std::fabs(f) < 1e-20) {
    console().line("****WARNING**** Attempt to evaluate gamma function at an integer <= 0");
    console().line("(routine GAMMA).");
    ifail = 2;
    return std::numeric_limits<double>::infinity();
  }
  int f1 = 0, f2 = 0, f3 = 0;
  const double lg = gammln(1.0 - f, f1) + gammln(f, f2) - gammln(f - n + 1.0, f3);
  if (f1 + f2 + f3 != 0) ifail = 1;
  const bool even = std::fmod(n, 2.0) == 0.0;
  return even ? -std::exp(lg) : std::exp(lg);
}

double digamm(double x, int& ifail) {
  if (!(x > 0.0)) {
    console().line("****ERROR**** In DIGAMM, you've asked me to calculate Psi(x) for x <= 0.");
    ifail = 1;
    return -1e12;
  }
  ifail = 0;
  constexpr int NTAB = 20;
  constexpr double CON = 1.4, CON2 = CON * CON, SAFE = 2.0;
  // Initial step 0.1, but never more than x/2: the first difference must keep x - h
  // well away from the pole of ln Γ at 0, or its meaningless value spoils the whole
  // tableau (with h = 0.1, ψ(0.11) would come out 0.03 wrong).
  double hh = std::min(0.1, 0.5 * x);
  auto diff = [x](double h) {
    int f = 0;
    return (gammln(x + h, f) - gammln(x - h, f)) / (2.0 * h);
  };
  double tab[NTAB][NTAB];  // tab[j][i]: j-th extrapolation of the i-th step
  tab[0][0] = diff(hh);
  double err = std::numeric_limits<double>::max();
  double best = tab[0][0];
  for (int i = 1; i < NTAB; ++i) {
    hh /= CON;
    tab[0][i] = diff(hh);
    double fac = CON2;
    for (int j = 1; j <= i; ++j) {
      tab[j][i] = (tab[j - 1][i] * fac - tab[j - 1][i - 1]) / (fac - 1.0);
      fac *= CON2;
      const double errt = std::max(std::fabs(tab[j][i] - tab[j - 1][i]), std::fabs(tab[j][i] - tab[j - 1][i - 1]));
      if (errt <= err) {
        err = errt;
        best = tab[j][i];
      }
    }
    if (std::fabs(tab[i][i] - tab[i - 1][i - 1]) >= SAFE * err) break;
  }
  // The message recurs on every evaluation of a troubled fit: shown once, counted after.
  if (err > 1e-10 && first_occurrence("Unable to compute digamma function")) {
    console().line("****WARNING**** Unable to compute digamma function ");
    console().line("to required accuracy at " + fmt_f(x, 8, 3));
  }
  return best;
}

double cdfnor(double x, double mean, double sd, int upper) {
  if (upper != 0 && upper != 1) {
    console().line("****ERROR**** In routine CDFNOR, UPPER must be 0 or 1");
    end_run(1);
  }
  constexpr double LTONE = 12.0, UTZERO = 25.0, CON = 1.28;
  constexpr double P = 0.398942280444, Q = 0.399903438504, R = 0.398942280385;
  constexpr double A1 = 5.75885480458, A2 = 2.62433121679, A3 = 5.92885724438;
  constexpr double B1 = -29.8213557808, B2 = 48.6959930692;
  constexpr double C1 = -3.8052e-08, C2 = 0.000398064794, C3 = -0.151679116635, C4 = 4.8385912808,
                   C5 = 0.742380924027, C6 = 3.990194;
  constexpr double D1 = 1.00000615302, D2 = 1.98615381364, D3 = 5.29330324926, D4 = -15.1508972451,
                   D5 = 30.789933034;
  double z;
  if (sd == 0.0) {
    // All mass at the mean: a step at x = mean (P(X <= mean) = 1).
    if (std::isnan(x) || std::isnan(mean)) return std::numeric_limits<double>::quiet_NaN();
    z = (x >= mean) ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
  } else {
    z = (x - mean) / sd;
  }
  if (std::isnan(z)) return z;
  bool up = (upper == 1);
  if (z < 0.0) {
    up = !up;
    z = -z;
  }
  double p;
  if (z <= LTONE || (up && z <= UTZERO)) {
    const double y = 0.5 * z * z;
    if (z > CON) {
      p = R * std::exp(-y) /
          (z + C1 + D1 / (z + C2 + D2 / (z + C3 + D3 / (z + C4 + D4 / (z + C5 + D5 / (z + C6))))));
    } else {
      p = 0.5 - z * (P - Q * y / (y + A1 + B1 / (y + A2 + B2 / (y + A3))));
    }
  } else {
    p = 0.0;
  }
  return up ? p : 1.0 - p;
}

double qnorm(double p, double mean, double sd, int& ifail) {
  ifail = 0;
  if (!(p > 0.0 && p < 1.0)) {
    console().line("****ERROR**** In routine QNORM, probability must be in open interval (0,1)");
    console().line("- value requested is " + fmt_f(p, 8, 3));
    end_run(1);
  }
  if (sd < 0.0) {
    console().line("****WARNING**** negative standard deviation in routine QNORM");
    ifail = 1;
  }
  constexpr double SPLIT1 = 0.425, SPLIT2 = 5.0, CONST1 = 0.180625, CONST2 = 1.6;
  constexpr double A0 = 3.3871328727963666080e0, A1 = 1.3314166789178437745e+2, A2 = 1.9715909503065514427e+3,
                   A3 = 1.3731693765509461125e+4, A4 = 4.5921953931549871457e+4, A5 = 6.7265770927008700853e+4,
                   A6 = 3.3430575583588128105e+4, A7 = 2.5090809287301226727e+3;
  constexpr double B1 = 4.2313330701600911252e+1, B2 = 6.8718700749205790830e+2, B3 = 5.3941960214247511077e+3,
                   B4 = 2.1213794301586595867e+4, B5 = 3.9307895800092710610e+4, B6 = 2.8729085735721942674e+4,
                   B7 = 5.2264952788528545610e+3;
  constexpr double C0 = 1.42343711074968357734e0, C1 = 4.63033784615654529590e0, C2 = 5.76949722146069140550e0,
                   C3 = 3.64784832476320460504e0, C4 = 1.27045825245236838258e0, C5 = 2.41780725177450611770e-1,
                   C6 = 2.27238449892691845833e-2, C7 = 7.74545014278341407640e-4;
  constexpr double D1 = 2.05319162663775882187e0, D2 = 1.67638483018380384940e0, D3 = 6.89767334985100004550e-1,
                   D4 = 1.48103976427480074590e-1, D5 = 1.51986665636164571966e-2, D6 = 5.47593808499534494600e-4,
                   D7 = 1.05075007164441684324e-9;
  constexpr double E0 = 6.65790464350110377720e0, E1 = 5.46378491116411436990e0, E2 = 1.78482653991729133580e0,
                   E3 = 2.96560571828504891230e-1, E4 = 2.65321895265761230930e-2, E5 = 1.24266094738807843860e-3,
                   E6 = 2.71155556874348757815e-5, E7 = 2.01033439929228813265e-7;
  constexpr double F1 = 5.99832206555887937690e-1, F2 = 1.36929880922735805310e-1, F3 = 1.48753612908506148525e-2,
                   F4 = 7.86869131145613259100e-4, F5 = 1.84631831751005468180e-5, F6 = 1.42151175831644588870e-7,
                   F7 = 2.04426310338993978564e-15;
  const double q = p - 0.5;
  double z;
  if (std::fabs(q) <= SPLIT1) {
    const double r = CONST1 - q * q;
    z = q * (((((((A7 * r + A6) * r + A5) * r + A4) * r + A3) * r + A2) * r + A1) * r + A0) /
        (((((((B7 * r + B6) * r + B5) * r + B4) * r + B3) * r + B2) * r + B1) * r + 1.0);
  } else {
    double r = std::sqrt(-std::log(q < 0.0 ? p : 1.0 - p));
    if (r <= SPLIT2) {
      r -= CONST2;
      z = (((((((C7 * r + C6) * r + C5) * r + C4) * r + C3) * r + C2) * r + C1) * r + C0) /
          (((((((D7 * r + D6) * r + D5) * r + D4) * r + D3) * r + D2) * r + D1) * r + 1.0);
    } else {
      r -= SPLIT2;
      z = (((((((E7 * r + E6) * r + E5) * r + E4) * r + E3) * r + E2) * r + E1) * r + E0) /
          (((((((F7 * r + F6) * r + F5) * r + F4) * r + F3) * r + F2) * r + F1) * r + 1.0);
    }
    if (q < 0.0) z = -z;
  }
  return mean + sd * z;
}

namespace {

double upper_tail(double z) { return cdfnor(z, 0.0, 1.0, 1); }

// ln i for the series terms, from a table for the usual short series.
double log_of(int i) {
  static const auto table = [] {
    std::array<double, 512> t{};
    for (int j = 1; j < static_cast<int>(t.size()); ++j) t[static_cast<std::size_t>(j)] = std::log(static_cast<double>(j));
    return t;
  }();
  return i < static_cast<int>(table.size()) ? table[static_cast<std::size_t>(i)] : std::log(static_cast<double>(i));
}

void check_bvn(double rho, double tol) {
  if (!(std::fabs(rho) <= 1.0)) {
    console().line("****ERROR**** In routine CDFBVN, RHO must be in range (-1,1)");
    end_run(1);
  }
  if (!(tol > 0.0)) {
    console().line("****ERROR**** in routine CDFBVN, TOL must be strictly positive");
    end_run(1);
  }
}

// Owen's T(h, a) for h >= 0 and 0 <= a < 1 by its series, to absolute accuracy tol:
// T = (atan a − a·P)/(2π), P = Σ_j (−a²)^j·(1 − e^(−x)·Σ_{i≤j} x^i/i!)/(2j+1), x = h²/2.
// The bracket is the Poisson tail Σ_{i>j} p_i (p_i = e^(−x)·x^i/i!), so the same sum
// is P = Σ_{i≥1} p_i·S_i with S_i = Σ_{j<i} (−a²)^j/(2j+1), |S_i| <= 1. In this order
// every term is formed without cancellation, and once i+1 > x the rest after term i
// is at most p_i·x/(i+1−x): the sum stops on a true bound of what is left. (Summed
// in j, the bracket stalls at its rounding level, and with a near 1 the terms then
// shrink only like a^(2j).)
double owen_series(const OwenArg& g, double a, double tol) {
  if (a == 0.0) return 0.0;
  // |T(h, a)| <= Φ̄(h)/2 for every a; this also bounds the work for large h.
  if (0.5 * g.tail <= 0.25 * tol) return 0.0;
  const double x = 0.5 * g.h * g.h;
  double sum = 0.0;
  if (x > 0.0) {
    const double a2 = a * a;
    const double limit = TWOPI * tol / a;
    double logp = -x;  // log p_0
    double si = 0.0;   // S_i
    double pw = 1.0;   // (−a²)^(i−1)
    for (int i = 1;; ++i) {
      si += pw / (2 * i - 1);
      pw *= -a2;
      logp += g.logx - log_of(i);
      double pi;
      if (g.terms && i <= OwenTerms::CAPACITY) {
        if (i > g.terms->n) {
          g.terms->p[i - 1] = std::exp(logp);
          g.terms->n = i;
        }
        pi = g.terms->p[i - 1];
      } else {
        pi = std::exp(logp);
      }
      sum += pi * si;
      if (i + 1 > x && pi * x / (i + 1 - x) <= limit) break;
    }
  }
  return (std::atan(a) - a * sum) / TWOPI;
}

// Owen's T(h, a) with a = num/(h·s), h != 0, s > 0, to absolute accuracy tol (h's
// sign is that of the threshold, g holds |h|). For |a| > 1 it uses
// T(h, a) = Φ̄(h)/2 + Φ̄(ah)/2 − Φ̄(h)·Φ̄(ah) − T(ah, 1/a) (a > 0, T odd in a, even in
// h) with a·h = num/s and 1/a = h·s/num, so a tiny h and a huge a cost no accuracy
// and nothing is divided by zero.
double owent(double hsigned, const OwenArg& g, double num, double s, double tol) {
  if (num == 0.0) return 0.0;
  const double sign = ((num < 0.0) != (hsigned < 0.0)) ? -1.0 : 1.0;
  const double h = g.h;
  num = std::fabs(num);
  const double ph = g.tail;
  if (0.5 * ph <= 0.25 * tol) return 0.0;
  const double hs = h * s;
  if (std::fabs(num - hs) <= tol * hs) return sign * 0.5 * ph * (1.0 - ph);
  if (num < hs) return sign * owen_series(g, num / hs, tol);
  const OwenArg ag(num / s);
  const double pah = ag.tail;
  return sign * (0.5 * ph + 0.5 * pah - ph * pah - owen_series(ag, hs / num, tol));
}

}  // namespace

BvnLimit::BvnLimit(double x) : h(x), tail(upper_tail(x)), abs(x < 0.0 ? OwenArg(-x) : OwenArg(x, tail)) {}

OwenArg::OwenArg(double x) : OwenArg(x, upper_tail(x)) {}

OwenArg::OwenArg(double x, double upper) : h(x), tail(upper) {
  const double half = 0.5 * x * x;
  logx = half > 0.0 ? std::log(half) : 0.0;
}

double cdfbvn(double h, double k, double rho, double tol) {
  check_bvn(rho, tol);
  if (std::isnan(h) || std::isnan(k)) return std::numeric_limits<double>::quiet_NaN();
  return cdfbvn(BvnLimit(h), BvnLimit(k), rho, tol);
}

double cdfbvn(const BvnLimit& hl, const BvnLimit& kl, double rho, double tol) {
  check_bvn(rho, tol);
  const double h = hl.h, k = kl.h;
  if (std::isnan(h) || std::isnan(k)) return std::numeric_limits<double>::quiet_NaN();
  const double ph = hl.tail, pk = kl.tail;
  if (std::isinf(h)) return (h > 0.0) ? 0.0 : pk;
  if (std::isinf(k)) return (k > 0.0) ? 0.0 : ph;
  if (std::fabs(rho) < tol) return ph * pk;
  if (std::fabs(1.0 - rho) < tol) return std::min(ph, pk);
  if (std::fabs(1.0 + rho) < tol) return std::max(ph + pk - 1.0, 0.0);
  const double s = std::sqrt((1.0 - rho) * (1.0 + rho));
  if (std::fabs(h) < tol && std::fabs(k) < tol) return 0.25 + std::atan(rho / s) / TWOPI;
  // Two T terms enter the result: each is computed to half the tolerance.
  const double ttol = 0.5 * tol;
  double p;
  if (h == 0.0) {
    p = 0.5 * pk - owent(k, kl.abs, h - rho * k, s, ttol);
  } else if (k == 0.0) {
    p = 0.5 * ph - owent(h, hl.abs, k - rho * h, s, ttol);
  } else {
    p = 0.5 * ph + 0.5 * pk - owent(h, hl.abs, k - rho * h, s, ttol) - owent(k, kl.abs, h - rho * k, s, ttol);
    if ((h < 0.0) != (k < 0.0)) p -= 0.5;
  }
  return std::clamp(p, 0.0, 1.0);
}

}  // namespace rg
