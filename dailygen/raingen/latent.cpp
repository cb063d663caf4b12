// Latent Gaussian occurrence. The conditional distribution of the latent values of the
// sites to simulate depends only on which sites are observed, so its regression
// weights and the factor of its covariance are kept per observed/unobserved pattern
// and reused whenever the pattern returns; they are the same numbers a fresh
// computation would give.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "cholesky.hpp"
#include "console.hpp"
#include "dev_math.hpp"
#include "randgen.hpp"
#include "raingen.hpp"
#include "raingen_parts.hpp"
#include "run_exit.hpp"
#include "sites.hpp"

namespace rg {

namespace {

constexpr int PATTERN_WORDS = (MAXSIT + 63) / 64;
using Pattern = std::array<std::uint64_t, PATTERN_WORDS>;  // bit set: observed sites
constexpr int CACHED_PATTERNS = 16;
// Thresholds of observed sites stay finite, so that an observation the model calls
// impossible (a probability that underflows to 0 or 1) still has a latent value.
constexpr double MAX_OBSERVED_THRESHOLD = 40.0;

struct PatternFactor {
  Pattern observed{};
  bool valid = false;
  long long last_used = 0;
  int nobs = 0, nsim = 0;
  Array1<int> obs, sim;  // observed sites and sites to simulate, in site order
  Matrix weight;         // (site to simulate, observed site): regression on the observed latent values
  Matrix cond;           // conditional covariance of the sites to simulate
  LowerFactor factor;    // its Cholesky factor (transposed)
};

struct LatentState {
  bool checked = false;  // the correlation matrix has been checked (first call)
  Matrix rchol;
  std::array<PatternFactor, CACHED_PATTERNS> cache;
  long long clock = 0;
  int last = -1;  // entry of the previous call
  // Work space of the pattern computation and of one day.
  Matrix sigma22, sigma12;
  Array1<double> c{1, MAXSIT};  // thresholds
  Array1<double> z{1, MAXSIT};  // latent values of the observed sites
  Array1<double> u{1, MAXSIT};
  Array1<double> mean{1, MAXSIT};  // conditional means of the latent values to simulate
  Array1<double> x{1, MAXSIT};     // latent values of the sites to simulate
};

LatentState& latent_state() {
  static LatentState s;
  return s;
}

void rtrnor_error() {
  Console& con = console();
  con.blank();
  con.line("     ****ERROR**** Programming error in RTRNOR - contact DEV");
  end_run(1);
}

// Threshold -qnorm(p) of the latent value, from whichever of p and 1 - p is the
// smaller, both evaluated from eta without cancellation; a probability that
// underflows to 0 gives an infinite threshold (always wet, or never).
double threshold(double eta) {
  int ifail = 0;
  if (eta >= 0.0) {
    const double e = std::exp(-eta);
    const double q = e / (1.0 + e);  // dry probability
    return q > 0.0 ? qnorm(q, 0.0, 1.0, ifail) : -std::numeric_limits<double>::infinity();
  }
  const double p = wet_probability(eta);
  return p > 0.0 ? -qnorm(p, 0.0, 1.0, ifail) : std::numeric_limits<double>::infinity();
}

// First call: the latent correlation matrix must hold correlations and is checked
// for positive definiteness once.
void check_correlations(LatentState& s, int nsites, const Matrix& cormat1) {
  s.rchol = Matrix(MAXSIT, MAXSIT);
  s.sigma22 = Matrix(MAXSIT, MAXSIT);
  s.sigma12 = Matrix(MAXSIT, MAXSIT);
  for (int i = 1; i <= nsites; ++i) {
    s.rchol(i, i) = 1.0;
    for (int j = i + 1; j <= nsites; ++j) {
      if (std::fabs(cormat1(i, j)) > 1.0) {
        Console& con = console();
        con.blank();
        con.line("     ****ERROR**** In routine WDLG, an input correlation has been found");
        con.line("     that is larger than 1 in absolute value. If you are using an empirical");
        con.line("     correlation matrix, check that valid estimates are available for all site");
        con.line("     pairs.");
        end_run(1);
      }
      s.rchol(i, j) = cormat1(i, j);
      s.rchol(j, i) = cormat1(i, j);
    }
  }
  Console& con = console();
  con.blank();
  con.line(" Checking latent spatial correlation structure for occurrence model ...");
  int ifail = 0;
  choldec(s.rchol.view(), nsites, ifail);
  if (ifail != 0) {
    report_not_positive_definite(ifail);
  } else {
    con.line(" OK.");
  }
  s.checked = true;
}

// Regression weights and conditional covariance factor for one pattern.
void compute_pattern(LatentState& s, PatternFactor& f, int nsites, const Array1<int>& flags, const Matrix& cormat1) {
  if (f.obs.hi() < MAXSIT) {  // first use of this entry
    f.obs = Array1<int>(1, MAXSIT);
    f.sim = Array1<int>(1, MAXSIT);
    f.weight = Matrix(nsites, nsites);
    f.cond = Matrix(nsites, nsites);
  } else if (f.weight.rows() < nsites) {
    f.weight = Matrix(nsites, nsites);
    f.cond = Matrix(nsites, nsites);
  }
  f.factor.reserve(nsites);
  f.nobs = f.nsim = 0;
  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) {
      f.obs(++f.nobs) = i;
    } else {
      f.sim(++f.nsim) = i;
    }
  }
  condition_gaussian(cormat1, {f.sim.data()}, f.nsim, {f.obs.data()}, f.nobs, s.sigma12, s.sigma22, f.weight,
                     f.cond);
  int ifail = 0;
  choldec_lower(f.cond.view(), f.nsim, f.factor, ifail);
  if (ifail != 0) {
    // A half-made factor would give latent values of the wrong distribution.
    report_not_positive_definite(ifail);
    f.valid = false;
    end_run(1);
  }
}

PatternFactor& pattern_factor(LatentState& s, int nsites, const Array1<int>& flags, const Matrix& cormat1) {
  Pattern key{};
  for (int i = 1; i <= nsites; ++i)
    if (flags(i) == 0) key[static_cast<std::size_t>((i - 1) / 64)] |= std::uint64_t{1} << ((i - 1) % 64);
  ++s.clock;
  if (s.last >= 0 && s.cache[static_cast<std::size_t>(s.last)].valid &&
      s.cache[static_cast<std::size_t>(s.last)].observed == key) {
    s.cache[static_cast<std::size_t>(s.last)].last_used = s.clock;
    return s.cache[static_cast<std::size_t>(s.last)];
  }
  int slot = 0;
  for (int e = 0; e < CACHED_PATTERNS; ++e) {
    PatternFactor& f = s.cache[static_cast<std::size_t>(e)];
    if (f.valid && f.observed == key) {
      f.last_used = s.clock;
      s.last = e;
      return f;
    }
    const PatternFactor& best = s.cache[static_cast<std::size_t>(slot)];
    if (!f.valid ? best.valid : (best.valid && f.last_used < best.last_used)) slot = e;
  }
  PatternFactor& f = s.cache[static_cast<std::size_t>(slot)];
  f.valid = false;
  compute_pattern(s, f, nsites, flags, cormat1);
  f.observed = key;
  f.valid = true;
  f.last_used = s.clock;
  s.last = slot;
  return f;
}

}  // namespace

void latent_restart() {
  LatentState& s = latent_state();
  s.checked = false;
  for (PatternFactor& f : s.cache) f.valid = false;
  s.last = -1;
}

double rtrnor(double mu, double sigma, double c, double s) {
  if (s * (mu + s * sigma - c) > 0.0) {
    for (;;) {
      const double x = zbqlnor(mu, sigma);
      if (s * (x - c) >= 0.0) return x;
    }
  }
  // The allowed region lies beyond a >= 1 standard deviations: exponential proposals
  // a + E with E of rate alpha (the rate that maximises acceptance), accepted with
  // probability exp(-(a + E - alpha)^2 / 2), which gives the normal tail exactly.
  const double a = s * (c - mu) / sigma;
  const double alpha = 0.5 * (a + std::sqrt(a * a + 4.0));
  for (;;) {
    const double t = a + zbqlexp(1.0 / alpha);
    const double accept = std::exp(-0.5 * (t - alpha) * (t - alpha));
    if (!(accept <= 1.0)) rtrnor_error();
    if (zbqlu01() <= accept) {
      if (!(t >= a)) rtrnor_error();
      const double x = mu + s * sigma * t;
      // t >= a puts x on the allowed side; rounding may only land it on c itself.
      return s * (x - c) >= 0.0 ? x : c;
    }
  }
}

void wdlg(Array1<double>& state, int nsites, int /*nobs*/, const Array1<int>& flags, const Array1<double>& eta,
          const Matrix& cormat1, int site_capacity) {
  check_site_arrays("WDLG", nsites, site_capacity, {covers(state, nsites), covers(flags, nsites), covers(eta, nsites)},
                    {&cormat1});
  LatentState& s = latent_state();
  if (!s.checked) check_correlations(s, nsites, cormat1);

  for (int i = 1; i <= nsites; ++i) s.c(i) = threshold(eta(i));
  PatternFactor& f = pattern_factor(s, nsites, flags, cormat1);

  // Observed sites: each latent value from its own marginal, on the side of the
  // threshold that its wet/dry state requires.
  for (int k = 1; k <= f.nobs; ++k) {
    const int i = f.obs(k);
    const double c = std::clamp(s.c(i), -MAX_OBSERVED_THRESHOLD, MAX_OBSERVED_THRESHOLD);
    s.z(k) = rtrnor(0.0, 1.0, c, 2.0 * state(i) - 1.0);
  }
  if (f.nsim == 0) return;
  for (int a = 1; a <= f.nsim; ++a) s.u(a) = zbqlnor(0.0, 1.0);
  for (int a = 1; a <= f.nsim; ++a) {
    double z = 0.0;
    for (int k = 1; k <= f.nobs; ++k) z += f.weight(a, k) * s.z(k);
    s.mean(a) = z;
  }
  add_lower_times(f.factor, s.mean.data(), s.u.data(), s.x.data(), f.nsim);
  for (int a = 1; a <= f.nsim; ++a) {
    const int i = f.sim(a);
    state(i) = s.x(a) > s.c(i) ? 1.0 : 0.0;
  }
}

}  // namespace rg
