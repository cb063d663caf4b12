#include "raingen.hpp"

#include <cmath>
#include <string>

#include "console.hpp"
#include "cholesky.hpp"
#include "dev_math.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "randgen.hpp"
#include "raingen_parts.hpp"
#include "run_exit.hpp"
#include "sites.hpp"

namespace rg {

namespace {

// What the amount draw keeps between days: the factorisation for the last lists of
// simulated wet sites and observed wet sites, reused while both lists stay the same.
struct AmountState {
  int oldnuw = -1;                 // simulated wet sites at the last factorisation (-1: none yet)
  int oldnkw = -1;                 // observed wet sites at the last factorisation
  Array1<int> oldidx{1, MAXSIT};   // simulated wet sites, then observed wet sites
  Matrix sigma12{MAXSIT, MAXSIT};  // simulated x observed block
  Matrix sigma22{MAXSIT, MAXSIT};  // observed x observed block, then its inverse
  Matrix weight{MAXSIT, MAXSIT};   // sigma12 * inverse of sigma22: regression on the observed
  Matrix sigma{MAXSIT, MAXSIT};    // conditional covariance of the simulated
  LowerFactor lower;               // its Cholesky factor (transposed: L = U')
  int sigchk = 0;                  // 1 once the first factorisation has been checked
  // Per-day work space.
  Array1<int> idx{1, MAXSIT};
  Array1<double> occ{1, MAXSIT};    // occurrence state: 1 wet, 0 dry, -1 unknown
  Array1<double> resid{1, MAXSIT};  // observed cube-root amount minus its mean
  Array1<double> mean{1, MAXSIT};   // conditional mean of the simulated wet sites
  Array1<double> u{1, MAXSIT};
  Array1<double> x{1, MAXSIT};
  Array1<double> sd{1, MAXSIT};  // standard deviations of the simulated wet sites (no correlation)
  // Facts about cormat2 found once, for the matrix and number of sites they were
  // found for: the sites with a non-zero covariance with another site, and the
  // transpose, whose columns are the rows of the blocks to factorise.
  Array1<int> partnered{1, MAXSIT};
  Matrix cov_t{MAXSIT, MAXSIT};
  const Matrix* partners_of = nullptr;
  int partners_n = -1;
};

AmountState& amount_state() {
  static AmountState s = [] {
    AmountState a;
    a.lower.reserve(MAXSIT);  // once: a day allocates nothing
    return a;
  }();
  return s;
}

bool same_lists(const AmountState& s, int nuw, int nkw) {
  if (nuw != s.oldnuw || nkw != s.oldnkw) return false;
  for (int k = 1; k <= nuw + nkw; ++k)
    if (s.idx(k) != s.oldidx(k)) return false;
  return true;
}

// The first factorisation of a run says that it checks the structure, and then that
// the check passed.
void checking(const AmountState& s) {
  if (s.sigchk == 0) console().line(" Checking Ansombe residual correlation structure for amounts model ...");
}

void checked(AmountState& s) {
  if (s.sigchk == 0) console().line(" OK.");
  s.sigchk = 1;
}

// Regression weights of the simulated wet sites on the observed wet sites and the
// factor of their conditional covariance, for the current lists.
void factorise(AmountState& s, int nuw, int nkw, const Matrix& cormat2) {
  s.oldnuw = nuw;
  s.oldnkw = nkw;
  for (int k = 1; k <= nuw + nkw; ++k) s.oldidx(k) = s.idx(k);
  if (nkw > 0)
    condition_gaussian(cormat2, {s.idx.data()}, nuw, {s.idx.data() + nuw}, nkw, s.sigma12, s.sigma22, s.weight,
                       s.sigma);
  checking(s);
  int ifail = 0;
  // With nothing to condition on, the block of the simulated wet sites is
  // factorised where it stands in cormat2.
  if (nkw > 0) choldec_lower(s.sigma.view(), nuw, s.lower, ifail);
  else choldec_lower(s.cov_t, s.idx.data(), nuw, s.lower, ifail);
  if (ifail != 0) {
    // A later failure (another set of sites) would leave a half-made factor behind:
    // it stops the run like the first one.
    report_not_positive_definite(ifail);
    s.oldnuw = -1;
    end_run(1);
  }
  checked(s);
}

// True when the amounts of today's wet sites are uncorrelated (their block of cormat2
// is diagonal) with variances the factorisation would accept: then the factor is the
// diagonal of standard deviations, the regression on the observed sites has weights
// +0 and the conditional covariance is the block itself, and x = m + sd u gives the
// same numbers as the general route, bit for bit (every other term it adds is a zero
// product), without its cubic cost. Variances it would reject (negative, or not
// positive at an observed site) take the general route with its messages.
//
// Like the factor kept for the last lists, this relies on cormat2 staying the same
// during a run: which sites have a non-zero covariance with another site is found
// once, so that a network without any (amount structure 0) needs no look at the
// matrix from day to day.
bool uncorrelated(AmountState& s, int nsites, int nuw, int nkw, const Matrix& cormat2) {
  if (s.partners_of != &cormat2 || s.partners_n != nsites) {
    for (int i = 1; i <= nsites; ++i) s.partnered(i) = 0;
    for (int j = 1; j <= nsites; ++j)
      for (int i = 1; i <= nsites; ++i) {
        if (i != j && cormat2(i, j) != 0.0) s.partnered(i) = s.partnered(j) = 1;
        s.cov_t(j, i) = cormat2(i, j);
      }
    s.partners_of = &cormat2;
    s.partners_n = nsites;
  }
  const int n = nuw + nkw;
  for (int b = 1; b <= n; ++b) {
    const int j = s.idx(b);
    if (s.partnered(j) == 0) continue;
    for (int a = 1; a <= n; ++a)
      if (a != b && cormat2(s.idx(a), j) != 0.0) return false;
  }
  for (int k = 1; k <= n; ++k) {
    const double v = cormat2(s.idx(k), s.idx(k));
    if (!(k <= nuw ? v >= 0.0 : v > 0.0) || !std::isfinite(v)) return false;
    if (k <= nuw) s.sd(k) = std::sqrt(v);
  }
  return true;
}

void independent_occurrence(Array1<double>& state, int nsites, const Array1<int>& flags, const Array1<double>& eta) {
  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) continue;
    const double p = wet_probability(eta(i));
    state(i) = 0.0;
    if (zbqlu01() < p) state(i) = 1.0;
  }
}

}  // namespace

double wet_probability(double eta) {
  if (eta >= 0.0) return 1.0 / (1.0 + std::exp(-eta));
  const double e = std::exp(eta);
  return e / (1.0 + e);
}

void condition_gaussian(const Matrix& cov, VecView<const int> target, int nt, VecView<const int> given, int ng,
                        Matrix& s12, Matrix& s22, Matrix& weight, Matrix& cond) {
  for (int l = 1; l <= ng; ++l)
    for (int k = 1; k <= ng; ++k) s22(k, l) = cov(given(k), given(l));
  if (ng > 0) matinv(s22.view(), ng, 1, 1);
  for (int k = 1; k <= ng; ++k)
    for (int a = 1; a <= nt; ++a) s12(a, k) = cov(target(a), given(k));
  for (int k = 1; k <= ng; ++k)
    for (int a = 1; a <= nt; ++a) {
      double w = 0.0;
      for (int j = 1; j <= ng; ++j) w += s12(a, j) * s22(j, k);
      weight(a, k) = w;
    }
  for (int b = 1; b <= nt; ++b)
    for (int a = 1; a <= nt; ++a) {
      double c = cov(target(a), target(b));
      for (int k = 1; k <= ng; ++k) c -= s12(b, k) * weight(a, k);
      cond(a, b) = c;
    }
}

void report_not_positive_definite(int row) {
  Console& con = console();
  con.blank();
  con.line("     ****ERROR**** input correlation matrix isn't positive definite.");
  con.line("     Problem found at " + fmt_i(row, 3) + "th site. If you are using an empirical");
  con.line("     correlation matrix, you may need to fit a valid correlation model to");
  con.line("     get round this problem.");
}

void check_site_arrays(std::string_view routine, int nsites, int site_capacity, std::initializer_list<bool> vectors,
                       std::initializer_list<const Matrix*> matrices) {
  bool ok = site_capacity == MAXSIT && nsites >= 0 && nsites <= MAXSIT;
  for (bool v : vectors) ok = ok && v;
  for (const Matrix* a : matrices) ok = ok && a->rows() >= nsites && a->cols() >= nsites;
  if (!ok) prgerr(routine, "raingen", 1);
}

void check_occurrence_scheme(int spmod1) {
  if (spmod1 < 0 || (spmod1 >= 20 && spmod1 != 21 && spmod1 != 22)) {
    Console& con = console();
    con.blank();
    con.line("****ERROR**** In routine WDALLOC, an invalid value of variable");
    con.line("SPMOD has been found. This is a programming error - please contact DEV.");
    end_run(1);
  }
}

void wdalloc(Array1<double>& state, int nsites, int nobs, int nobswet, const Array1<int>& flags, int spmod1,
             const Array1<double>& eta, const Array1<double>& rho1, const Matrix& cormat1, int site_capacity) {
  check_occurrence_scheme(spmod1);
  if (spmod1 == 0) {
    independent_occurrence(state, nsites, flags, eta);
  } else if (spmod1 == 21) {
    wd21(state, nsites, nobs, flags, eta, rho1, site_capacity);
  } else if (spmod1 == 22) {
    wd22(state, nsites, nobs, nobswet, flags, eta, rho1, site_capacity);
  } else {
    wdlg(state, nsites, nobs, flags, eta, cormat1, site_capacity);
  }
}

void raingen(Array1<double>& rain, const Array1<int>& flags, int nsites, int spmod1, const Array1<double>& eta,
             const Array1<double>& rho1, const Matrix& cormat1, int /*spmod2*/, const Array1<double>& mu,
             double /*nu*/, const Matrix& cormat2, const Array1<double>& m, int site_capacity) {
  check_site_arrays("RAINGEN", nsites, site_capacity,
                    {covers(rain, nsites), covers(flags, nsites), covers(eta, nsites), covers(mu, nsites),
                     covers(m, nsites)},
                    {&cormat2});
  AmountState& s = amount_state();

  int nobs = 0;
  for (int i = 1; i <= nsites; ++i)
    if (flags(i) == 0) ++nobs;
  if (nobs == nsites) return;

  int nobswet = 0;
  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) {
      s.occ(i) = rain(i) > 0.0 ? 1.0 : 0.0;
      if (rain(i) > 0.0) ++nobswet;
    } else {
      s.occ(i) = -1.0;
    }
  }
  wdalloc(s.occ, nsites, nobs, nobswet, flags, spmod1, eta, rho1, cormat1, site_capacity);

  // Simulated wet sites first, then observed wet sites, each in site order.
  int nuw = 0;
  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) continue;
    if (std::fabs(s.occ(i)) >= 0.5) {  // the state rounds to a non-zero integer
      rain(i) = -1.0;
      s.idx(++nuw) = i;
    } else {
      rain(i) = 0.0;
    }
  }
  if (nuw == 0) return;
  int nkw = 0;
  for (int i = 1; i <= nsites; ++i)
    if (flags(i) == 0 && rain(i) > 0.0) {
      ++nkw;
      s.idx(nuw + nkw) = i;
      s.resid(nkw) = std::cbrt(rain(i) / mu(i)) - m(i);
    }

  // The factor of the last lists is kept; uncorrelated amounts need none.
  bool diagonal = false;
  if (!same_lists(s, nuw, nkw)) {
    diagonal = uncorrelated(s, nsites, nuw, nkw, cormat2);
    if (diagonal) {
      checking(s);
      checked(s);
    } else {
      factorise(s, nuw, nkw, cormat2);
    }
  }

  if (diagonal) {
    for (int i = 1; i <= nuw; ++i) s.mean(i) = m(s.idx(i));
  } else {
    for (int i = 1; i <= nuw; ++i) {
      double c = m(s.idx(i));
      for (int k = 1; k <= nkw; ++k) c += s.weight(i, k) * s.resid(k);
      s.mean(i) = c;
    }
  }

  // Passes of full normal vectors until every simulated wet site has a value >= 0; a
  // negative value abandons the pass, and sites already filled keep their amounts.
  for (;;) {
    for (int k = 1; k <= nuw; ++k) s.u(k) = zbqlnor(0.0, 1.0);
    if (diagonal) {
      for (int k = 1; k <= nuw; ++k) s.x(k) = s.mean(k) + s.sd(k) * s.u(k);
    } else {
      add_lower_times(s.lower, s.mean.data(), s.u.data(), s.x.data(), nuw);
    }
    bool complete = true;
    for (int k = 1; k <= nuw; ++k) {
      const int i = s.idx(k);
      if (rain(i) >= 0.0) continue;
      const double x = s.x(k);
      const double amount = mu(i) * (x * x * x);
      if (amount < 0.0) {
        complete = false;
        break;
      }
      rain(i) = amount + 0.0;  // a zero product is stored as +0
    }
    if (complete) return;
  }
}

void raingen_restart() {
  AmountState& s = amount_state();
  s.oldnuw = -1;
  s.oldnkw = -1;
  s.sigchk = 0;
  s.partners_of = nullptr;
  latent_restart();
  betabin_restart();
}

}  // namespace rg
