#pragma once
// The latent correlation of a pair of sites: the r at which the sum over their
// common days of the bivariate normal orthant probability P(X > h, Y > k; r) equals
// their number of joint wet days.
//
// Over the days, sum P(r) = sum p_i p_j + G(asin r), where G(theta) is the integral
// from 0 to theta of E(u) = sum over days of exp(-(h^2 + k^2 - 2 h k sin u) /
// (2 cos^2 u)) / (2 pi) (the bivariate density integrated over the correlation,
// with t = sin u). E is smooth and positive; its only singularities lie at u = pi/2
// + n pi, so in v with u = pi/2 tanh v the integrand F(v) = E(u) du/dv is analytic
// in the strip |Im v| < pi/2 and Gauss's rule integrates it to the tolerance with
// few points. Every point costs an exponential per day (the points of one rule share
// one pass over the days), so the root is found in three steps: a first estimate
// from every 16th day (5 points at a sixteenth of the days), Gauss's rule of 6
// points over [0, v0] up to that estimate (halved where the Legendre coefficients
// show that 6 points are not enough), the step from v0 to the root from the
// Legendre series of F there, checked and corrected with one or two points between
// v0 and that root. About 7.7 points per day in all, against 16 or 32 for
// Chebyshev panels in u. Pairs of fewer than 1024 days (too few for the sample), roots
// beyond r = 0.99 and any pair whose checks fail are left to those panels: E
// interpolated at 16 Chebyshev points on panels of u, halved where the
// interpolant's last coefficients show that it is not yet accurate, the root read
// from the interpolant.
#include <vector>

namespace rg {

class LatentRoot {
 public:
  // The days of a pair: fitted wet probabilities pi[d] and pj[d] (negative or 0
  // where the site has no record: such a day adds what a probability of 0 adds,
  // nothing) with their latent thresholds zi = -qnorm(pi) and zj = -qnorm(pj)
  // (anything where a probability is not inside (0, 1)), d < ndays.
  // The arrays are read, not copied: they must outlive the calls that follow.
  void set_days(const double* pi, const double* zi, const double* pj, const double* zj, std::size_t ndays);

  // The first estimate of a root reads a sample of the days: every SAMPLE-th day,
  // d = 0, SAMPLE, 2 SAMPLE, ..., sample_size(ndays) days in all.
  static constexpr std::size_t SAMPLE = 16;
  static std::size_t sample_size(std::size_t ndays) { return (ndays + SAMPLE - 1) / SAMPLE; }
  // A site's days as above, with the same values on the sample's days.
  struct Site {
    const double *p = nullptr, *z = nullptr;
    const double *sample_p = nullptr, *sample_z = nullptr;
  };
  // Sums over a pair's common days: pi pj (the expected joint wet days at r = 0),
  // min(pi, pj) (at r = 1), max(0, pi + pj - 1) (at r = -1), and the number of days
  // with both probabilities inside (0, 1). Only a pair whose observed joint wet days
  // fall short of the product needs lower: elsewhere 0 does as well.
  struct Sums {
    double product = 0.0, upper = 0.0, lower = 0.0, inner = 0.0;
  };
  static Sums pair_sums(const double* pi, const double* pj, std::size_t ndays);
  // Adds product and upper of days with probabilities in [0, 1] (0 where a site has
  // no record: such a day adds what a probability of 0 adds, nothing) to s; lower
  // and the count of inner days are the caller's.
  static void add_sums(const double* pi, const double* pj, std::size_t ndays, Sums& s);
  // set_days for sites whose samples are laid out already and whose sums are known.
  void set_days(const Site& i, const Site& j, std::size_t ndays, const Sums& sums);
  // The correlation r in [-1, 1] at which the days' expected number of joint wet
  // days equals joint (their observed number); false when no r reaches it (the
  // observed number lies beyond what r = -1 or r = 1 gives), r then being 1 above
  // both and -1 below both.
  bool solve(double joint, double& r);

  // Sum over the days of P(X > h, Y > k; r) (for checks of the root).
  double expected_joint(double r);

 private:
  // Integral over [a, b] of E with the Chebyshev coefficients of E there.
  struct Panel {
    double a, b;
    double integral;
    std::vector<double> c;
  };
  void fit_panel(double a, double b, double sign, Panel& p);
  // For points k < n, the sums over the first m days, or over the sample of every
  // SAMPLE-th day, of exp(alpha[k] (h^2 + k^2) + beta[k] h k): E at a point u is
  // the sum with alpha = -1 / (2 cos^2 u), beta = sin u / cos^2 u, over 2 pi.
  void sums(int n, const double* alpha, const double* beta, bool sample, std::size_t m, double* out) const;
  void cover(double a, double b, double sign, int depth, std::vector<Panel>& out);
  // The Legendre coefficients c[0..n) on [lo, hi] of F(v) = E(pi/2 tanh v) pi/2 sech^2 v
  // (E in u = pi/2 tanh v) from its values at the n Gauss points there, over all
  // days or over the sample of every SAMPLE-th day.
  void fit_gauss(double lo, double hi, double sign, int n, bool sample, double* c) const;
  // The quick root in v; false where it must be left to the panels.
  bool solve_gauss(double target, double total, double sign, double& v) const;
  // The root from Chebyshev panels in u.
  bool fallback(double target, double sign, double& r);
  // Adds the integral of F over [a, b] to sum by Gauss's rule, halving the panel
  // where needed; c and lo receive the coefficients and the start of the last panel.
  bool integrate(double a, double b, double sign, int depth, double& sum, double& lo, double* c) const;

  // The pair's days, as given to set_days.
  Site si_, sj_;
  std::size_t ndays_ = 0;
  double inner_ = 0.0;         // days with both probabilities inside (0, 1)
  double product_ = 0.0;       // sum of pi pj: the expected joint days at r = 0
  double upper_ = 0.0;         // sum of min(pi, pj): at r = 1
  double lower_ = 0.0;         // sum of max(0, pi + pj - 1): at r = -1
  std::vector<Panel> panels_;
  // The samples where set_days lays them out itself, and the sample's sums as above.
  std::vector<double> own_sample_;
  double sproduct_ = 0.0, supper_ = 0.0, slower_ = 0.0;

};

}  // namespace rg
