// Beta-Binomial occurrence: the number of wet sites follows a Beta-Binomial
// distribution with the mean of the sites' probabilities and shape nu, and the sites
// are drawn from a joint Bernoulli table with that sum distribution and the sites'
// own probabilities. Observed sites are conditioned on exactly: the sum distribution
// and the table are updated site by site before the remaining sum is drawn. When the
// probabilities of the day admit no table, they are shrunk towards their mean.
#include <algorithm>
#include <cmath>
#include <string>

#include "bernoulli.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "randgen.hpp"
#include "raingen.hpp"
#include "raingen_parts.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

constexpr double TOL = 1e-12;
constexpr double DEFAULT_SHRINK = 0.01;
// Shrinkage steps of one day before the probabilities are set to their mean, the
// limit the steps converge to (with the default step 0.01 about 4e-5 of the spread
// is left by then).
constexpr int MAX_SHRINK = 1000;

struct BetaBinState {
  double shrfac = -1.0;  // shrinkage step (-1: not yet set)
  int iwarn = -1;        // 1: print the inconsistency messages
  BernTable cp;
  // Per-day work space: the network of sites whose probability is neither 0 nor 1.
  Array1<double> p{1, MAXSIT}, state{1, MAXSIT};
  Array1<int> site{1, MAXSIT};
  std::vector<double> pz = std::vector<double>(MAXSIT + 1);
  // Working order, marginals and sum distribution of cbvsim.
  Array1<int> order{1, MAXSIT};
  Array1<double> wp{1, MAXSIT}, lo{1, MAXSIT}, hi{1, MAXSIT};
  std::vector<double> wpz = std::vector<double>(MAXSIT + 1);
};

BetaBinState& bb() {
  static BetaBinState s;
  return s;
}

void zero_probability_message(const char* routine) {
  Console& con = console();
  con.line(std::string("****ERROR**** In routine ") + routine +
           ", I've found an observation that has zero");
  con.line("probability under the calculated joint distribution for Bernoulli variables.");
}

// Table of the other m - 1 sites for one sum s of the m sites, given that the first
// took value y: bounds on each site's joint probability with the first, interpolated
// so the column sums to s - y, written into column s - y with the rows moved up by
// one. False when y has (almost) no probability at this sum.
bool condition_column(int y, BernTable& cp, int m, int s, double tol) {
  BetaBinState& b = bb();
  const double* col = cp.column(s);
  const double t = y == 1 ? col[0] : 1.0 - col[0];
  if (t < tol) return false;
  const int target = s - y;
  double suml = 0.0, sumu = 0.0;
  for (int i = 2; i <= m; ++i) {
    const double c = col[i - 1];
    double l = std::max(0.0, t + c - 1.0), u = std::min(t, c);
    if (l > u) l = u = 0.5 * (l + u);
    b.lo(i) = l;
    b.hi(i) = u;
    suml += l;
    sumu += u;
  }
  const double a = sumu - suml > tol ? std::clamp((t * target - suml) / (sumu - suml), 0.0, 1.0) : 0.5;
  double* out = cp.column(target);
  double g = 0.0;
  for (int i = 2; i <= m; ++i) {
    const double v = std::clamp((b.lo(i) + a * (b.hi(i) - b.lo(i))) / t, 0.0, 1.0);
    out[i - 2] = v;
    g += v;
  }
  if (g > 0.0)
    for (int i = 0; i < m - 1; ++i) out[i] = std::min(1.0, out[i] * target / g);
  return true;
}

void inconsistency_message(double pbar, double shrfac) {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Beta-binomial distribution for number of wet sites is inconsistent");
  con.line("with individual probabilities of rain. These will be repeatedly shrunk towards");
  con.line(fmt_f(pbar, 5, 3) + " by a factor of " + fmt_f(shrfac, 6, 4) + " until a consistent set is found.");
  con.line("To suppress these messages, add the appropriate line to your logistic.def file.");
}

void first_call(BetaBinState& b, const Array1<double>& rho) {
  if (rho(2) > 0.0 && rho(2) <= 1.0) {
    b.shrfac = rho(2);
  } else {
    b.shrfac = DEFAULT_SHRINK;
    Console& con = console();
    con.blank();
    con.line("****WARNING**** You have asked for spatial dependence in rainfall occurrence ");
    con.line("to be modelled via a Beta-Binomial distribution for the number of wet sites.");
    con.line("This distribution is not guaranteed to be consistent with the forecast probabilities");
    con.line("of rain at each site on all days. You haven't specified a shrinkage parameter between");
    con.line("0 and 1 for adjustment of the probabilities in this case, so I've set it to " +
             fmt_f(DEFAULT_SHRINK, 5, 3) + ".");
    con.blank();
  }
  b.iwarn = rho(3) > 0.0 ? 1 : 0;
}

}  // namespace

int bbzgen(int n, double alpha, double beta, double pmin, double pmax, double* pz, int capacity) {
  if (capacity != MAXSIT || n < 1 || n > capacity) prgerr("BBZGEN", "raingen", 1);
  std::fill(pz, pz + n + 1, 0.0);
  if (!(alpha > 0.0)) {
    pz[0] = 1.0;  // the limit of a vanishing alpha: no site wet
  } else if (!(beta > 0.0)) {
    pz[n] = 1.0;
  } else {
    // The ratio recurrence pz(k+1)/pz(k) in logs, scaled by its largest term and
    // normalised: no underflow of pz(0) for large n and a total of 1 to rounding.
    double lp = 0.0, top = 0.0;
    pz[0] = 0.0;
    for (int k = 0; k < n; ++k) {
      lp += std::log((n - k) * (k + alpha) / ((k + 1) * (n - k - 1 + beta)));
      pz[k + 1] = lp;
      top = std::max(top, lp);
    }
    double total = 0.0;
    for (int k = 0; k <= n; ++k) total += (pz[k] = std::exp(pz[k] - top));
    double mean = 0.0;
    for (int k = 0; k <= n; ++k) mean += k * (pz[k] /= total);
    pz[n] = std::max(0.0, pz[n] - (mean - n * alpha / (alpha + beta)) / n);
    total = 0.0;
    for (int k = 0; k <= n; ++k) total += pz[k];
    pz[0] = std::max(0.0, pz[0] - (total - 1.0));
  }
  return (pz[0] > 1.0 - pmax + TOL || pz[n] > pmin + TOL) ? 1 : 0;
}

int newpz(int y, double p1, BernTable& cp, int m, double* pz, bool print) {
  const double c = y == 1 ? p1 : 1.0 - p1;
  double total = 0.0;
  if (c > 0.0) {
    const double* first = &cp(1, 0);
    for (int s = 0; s <= m - 1; ++s) {
      const double v = y == 1 ? first[static_cast<std::size_t>(s + 1) * MAXSIT] * pz[s + 1]
                              : (1.0 - first[static_cast<std::size_t>(s) * MAXSIT]) * pz[s];
      pz[s] = v / c;
      total += pz[s];
    }
  }
  if (!(total > 0.0)) {
    if (print) zero_probability_message("NEWPZ");
    return 1;
  }
  pz[m] = 0.0;
  for (int s = 0; s <= m - 1; ++s) pz[s] = std::min(1.0, pz[s] / total);
  return 0;
}

int y1cond(int y, BernTable& cp, int m, int smin, int smax, double tol, bool print) {
  const bool drawing = smin == smax;
  // Sums of the m sites that leave a possible sum for the other m - 1.
  const int first = std::max(smin, 1), last = std::min(y == 1 ? m : m - 1, smax);
  for (int s = first; s <= last; ++s) {
    if (condition_column(y, cp, m, s, tol)) continue;
    if (drawing) {
      if (print) zero_probability_message("Y1COND");
      return 1;
    }
    // A sum that the observation rules out: never drawn, filled consistently.
    double* out = cp.column(s - y);
    for (int i = 0; i < m - 1; ++i) out[i] = double(s - y) / (m - 1);
  }
  if (!drawing && m > 1) {
    // Sum 0 and the all-wet sum of the remaining sites are certain either way.
    double* none = cp.column(0);
    double* all = cp.column(m - 1);
    for (int i = 0; i < m - 1; ++i) {
      none[i] = 0.0;
      all[i] = 1.0;
    }
  }
  return 0;
}

void newp(BernTable& cp, const double* pz, int m, VecView<double> p, double tol) {
  double total = 0.0, mean = 0.0;
  for (int s = 1; s <= m; ++s) mean += s * pz[s];
  for (int i = 1; i <= m; ++i) p(i) = 0.0;
  for (int s = 1; s <= m; ++s) {
    const double* col = cp.column(s);
    for (int i = 1; i <= m; ++i) p(i) += col[i - 1] * pz[s];
  }
  for (int i = 1; i <= m; ++i) total += p(i);
  if (total >= tol)
    for (int i = 1; i <= m; ++i) p(i) = std::min(1.0, p(i) * mean / total);
}

int cbvsim(int n, VecView<const double> p, const double* pz, int nobs, int capacity, VecView<double> state,
           int& total_wet, bool quiet, bool print) {
  if (capacity != MAXSIT || n < 1 || n > capacity) prgerr("CBVSIM", "raingen", 1);
  BetaBinState& b = bb();
  // Working order: the known sites, then the sites to draw, each in site order.
  int known = 0, obswet = 0;
  for (int i = 1; i <= n; ++i)
    if (state(i) >= 0.0) {
      b.order(++known) = i;
      if (state(i) > 0.5) ++obswet;
    }
  (void)nobs;
  for (int i = 1, k = known; i <= n; ++i)
    if (state(i) < 0.0) b.order(++k) = i;
  for (int k = 1; k <= n; ++k) b.wp(k) = p(b.order(k));
  for (int s = 0; s <= n; ++s) b.wpz[static_cast<std::size_t>(s)] = pz[s];

  const int code = bercdb(n, {b.wp.data()}, pz, capacity, n, TOL, b.cp, quiet);
  if (code != 0) return code;
  if (known == n) {
    total_wet = obswet;
    return 0;
  }
  double* wpz = b.wpz.data();
  int m = n;
  for (int k = 1; k <= known; ++k) {
    const int y = state(b.order(k)) > 0.5 ? 1 : 0;
    if (newpz(y, b.wp(1), b.cp, m, wpz, print) != 0) return 1;
    y1cond(y, b.cp, m, 0, m, TOL, print);
    --m;
    newp(b.cp, wpz, m, {b.wp.data()}, TOL);
  }

  // The remaining sum, then the sites one by one given what is left of it.
  const double u = zbqlu01();
  int a = m;
  double cum = 0.0;
  for (int s = 0; s <= m; ++s) {
    cum += wpz[s];
    if (u <= cum) {
      a = s;
      break;
    }
  }
  if (cum < u)
    while (a > 0 && wpz[a] <= 0.0) --a;  // rounding left u above the total
  total_wet = a + obswet;
  for (int k = known + 1; k <= n; ++k) {
    const int i = b.order(k);
    const int y = zbqlu01() < b.cp(1, a) ? 1 : 0;
    state(i) = y;
    if (y1cond(y, b.cp, m, a, a, TOL, print) != 0) return 1;
    a -= y;
    --m;
    if (a == 0 || a == m) {
      for (int l = k + 1; l <= n; ++l) state(b.order(l)) = a == 0 ? 0.0 : 1.0;
      break;
    }
  }
  return 0;
}

void wd22(Array1<double>& state, int nsites, int /*nobs*/, int /*nobswet*/, const Array1<int>& flags,
          const Array1<double>& eta, const Array1<double>& rho, int site_capacity) {
  check_site_arrays("WD22", nsites, site_capacity, {covers(state, nsites), covers(flags, nsites), covers(eta, nsites)},
                    {});
  BetaBinState& b = bb();
  if (b.shrfac < 0.0) first_call(b, rho);
  const double nu = rho(1);
  if (!(nu > 0.0)) prgerr("WD22", "raingen", 2);  // refused when the definition was read

  // A site of probability 0 or 1 is dry or wet whatever the others do: it is set
  // directly (or, observed, tells nothing) and left out of the joint draw.
  int n = 0, nsim = 0, nknown = 0;
  for (int i = 1; i <= nsites; ++i) {
    const double p = wet_probability(eta(i));
    if (p > 0.0 && p < 1.0) {
      b.site(++n) = i;
      b.p(n) = p;
      b.state(n) = flags(i) == 0 ? state(i) : -1.0;
      if (flags(i) == 0) {
        ++nknown;
      } else {
        ++nsim;
      }
    } else if (flags(i) != 0) {
      state(i) = p >= 1.0 ? 1.0 : 0.0;
    }
  }
  if (nsim == 0) return;

  double pbar = 0.0, pmin = 1.0, pmax = 0.0;
  for (int k = 1; k <= n; ++k) {
    pbar += b.p(k);
    pmin = std::min(pmin, b.p(k));
    pmax = std::max(pmax, b.p(k));
  }
  pbar /= n;
  const double alpha = nu * pbar, beta = nu * (1.0 - pbar);
  int steps = 0, total = 0;
  for (;;) {
    if (bbzgen(n, alpha, beta, pmin, pmax, b.pz.data(), MAXSIT) == 0 &&
        cbvsim(n, {b.p.data()}, b.pz.data(), nknown, MAXSIT, {b.state.data()}, total, true, b.iwarn == 1) == 0)
      break;
    if (steps == 0 && b.iwarn == 1) inconsistency_message(pbar, b.shrfac);
    if (steps > MAX_SHRINK) {
      Console& con = console();
      con.blank();
      con.line("****ERROR**** Beta-binomial distribution for number of wet sites is inconsistent");
      con.line("with individual probabilities of rain even when every probability is set to");
      con.line("their mean " + fmt_f(pbar, 5, 3) + ". Please check the occurrence model and its shape parameter.");
      end_run(1);
    }
    ++steps;
    const bool to_mean = steps > MAX_SHRINK;
    if (to_mean && b.iwarn == 1) {
      Console& con = console();
      con.blank();
      con.line("****WARNING**** " + std::to_string(MAX_SHRINK) + " shrinkage steps were not enough; the");
      con.line("probabilities of rain on this day are all set to their mean " + fmt_f(pbar, 5, 3) + ".");
    }
    const double keep = to_mean ? 0.0 : 1.0 - b.shrfac;
    for (int k = 1; k <= n; ++k) {
      b.p(k) = pbar - keep * (pbar - b.p(k));
      if (flags(b.site(k)) != 0) b.state(k) = -1.0;
    }
    pmin = pbar - keep * (pbar - pmin);
    pmax = pbar - keep * (pbar - pmax);
  }
  if (steps > 0 && b.iwarn == 1) {
    const double factor = steps > MAX_SHRINK ? 1.0 : 1.0 - std::pow(1.0 - b.shrfac, steps);
    console().line("Final shrinkage factor was " + fmt_f(factor, 6, 4) + ".");
  }
  for (int k = 1; k <= n; ++k)
    if (flags(b.site(k)) != 0) state(b.site(k)) = b.state(k);
}

void betabin_restart() {
  BetaBinState& b = bb();
  b.shrfac = -1.0;
  b.iwarn = -1;
}

}  // namespace rg
