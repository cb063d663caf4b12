#pragma once
// The latent correlation of a pair of sites: the r at which the sum over their
// common days of the bivariate normal orthant probability P(X > h, Y > k; r) equals
// their number of joint wet days.
//
// Over the days, sum P(r) = sum p_i p_j + G(asin r), where G(theta) is the integral
// from 0 to theta of E(u) = sum over days of exp(-(h^2 + k^2 - 2 h k sin u) /
// (2 cos^2 u)) / (2 pi) (the bivariate density integrated over the correlation,
// with t = sin u). E is smooth and positive, so on a few panels of u its Chebyshev
// interpolant, from one sweep over the days per node, gives G at every u of the
// panel to rounding, and the root comes from the interpolant without further
// sweeps. Panels are halved where the interpolant's last coefficients show that it
// is not yet accurate.
#include <vector>

namespace rg {

class LatentRoot {
 public:
  // The days of a pair: fitted wet probabilities pi[d] and pj[d] (negative where
  // the site has no record; the pair's common days are those where both have one)
  // with their latent thresholds zi = -qnorm(pi) and zj = -qnorm(pj), d < ndays.
  void set_days(const double* pi, const double* zi, const double* pj, const double* zj, std::size_t ndays);
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
  // Over the first m days.
  double sum_exp(double alpha, double beta, std::size_t m) const;
  // E(u) for the pair (X, sign Y).
  double density(double u, double sign) const;
  void cover(double a, double b, double sign, int depth, std::vector<Panel>& out);

  // h^2 + k^2 and h k of every day; a day that is not common or has a
  // probability of 0 or 1 has h^2 + k^2 so large that its terms are 0.
  std::vector<double> hk2_, hk_;
  double inner_ = 0.0;         // days with both probabilities inside (0, 1)
  double product_ = 0.0;       // sum of pi pj: the expected joint days at r = 0
  double upper_ = 0.0;         // sum of min(pi, pj): at r = 1
  double lower_ = 0.0;         // sum of max(0, pi + pj - 1): at r = -1
  std::vector<Panel> panels_;
};

}  // namespace rg
