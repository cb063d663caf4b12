#include "nlcurv.hpp"

#include <cmath>

#include "dev_math.hpp"

namespace rg {

namespace {

// Pivot ratio (squared pivot / diagonal) below which the corrected matrix does not
// count as positive definite: the step would be dominated by rounding.
constexpr double PIVOT_RATIO = 1.0e-11;

}  // namespace

NlCurvature::NlCurvature(int n, int first)
    : n_(n), first_(first), phi_(1, n), u_(1, n), s_(1, n), ws_(1, n), r_(1, n), a_(n, n), c_(n, n), work_(n, n) {}

void NlCurvature::forget() {
  c_.fill(0.0);
  have_estimate_ = false;
}

void NlCurvature::observe(const Array1<double>& phi, const Array1<double>& u, const Matrix& a) {
  // The first move, from the initial values, is rarely local enough to tell the
  // curvature; the estimate starts with the second.
  if (have_prev_ && ++pairs_ > 1) {
    // Moves are measured in the metric of the information, w_t = a(t, t), so that
    // the update does not depend on the parameters' units.
    double st2 = 0.0, raw = 0.0, pt2 = 0.0;
    for (int i = 1; i <= n_; ++i) s_(i) = phi(i) - phi_(i);
    for (int t = first_; t <= n_; ++t) {
      ws_(t) = a(t, t) * s_(t);
      st2 += ws_(t) * s_(t);
      raw += s_(t) * s_(t);
      pt2 += phi(t) * phi(t);
    }
    // A move of the parameters lost in rounding says nothing about the curvature.
    if (std::isfinite(st2) && st2 > 0.0 && raw > 1.0e-24 * (1.0 + pt2)) {
      // Secant residual: what the change of the score shows beyond the information,
      // taken as the mean of its values at both ends (trapezoid rule along the move).
      for (int i = 1; i <= n_; ++i) {
        double as = 0.0;
        for (int j = 1; j <= n_; ++j) as += 0.5 * (a(i, j) + a_(i, j)) * s_(j);
        r_(i) = u_(i) - u(i) - as;
      }
      // Coefficient rows of the parameter columns: each row's residual is spread
      // over the parameter columns (least change in the information metric).
      for (int i = 1; i < first_; ++i) {
        double e = r_(i);
        for (int t = first_; t <= n_; ++t) e -= c_(i, t) * s_(t);
        for (int t = first_; t <= n_; ++t) {
          c_(i, t) += e * ws_(t) / st2;
          c_(t, i) = c_(i, t);
        }
      }
      // Parameter block: the symmetric least change that meets the rest of the
      // secant condition.
      Array1<double>& e = r_;  // reused: residual of the parameter rows
      double es = 0.0;
      for (int t = first_; t <= n_; ++t) {
        double v = r_(t);
        for (int j = 1; j <= n_; ++j) v -= c_(t, j) * s_(j);
        e(t) = v;
        es += v * s_(t);
      }
      for (int t = first_; t <= n_; ++t)
        for (int q = first_; q <= n_; ++q)
          c_(t, q) += (e(t) * ws_(q) + ws_(t) * e(q)) / st2 - es * ws_(t) * ws_(q) / (st2 * st2);
      have_estimate_ = true;
    }
  }
  for (int i = 1; i <= n_; ++i) {
    phi_(i) = phi(i);
    u_(i) = u(i);
  }
  a_ = a;
  have_prev_ = true;
}

bool NlCurvature::step(const Matrix& a, const Array1<double>& u, Array1<double>& delta) {
  if (!have_estimate_) return false;
  for (int j = 1; j <= n_; ++j)
    for (int i = 1; i <= n_; ++i) work_(i, j) = a(i, j) + c_(i, j);
  int ifail = 0;
  choldec(work_.view(), n_, ifail);
  bool ok = ifail == 0;
  for (int i = 1; i <= n_ && ok; ++i) {
    double d = a(i, i) + c_(i, i);
    ok = std::isfinite(work_(i, i)) && work_(i, i) * work_(i, i) > PIVOT_RATIO * std::fabs(d);
  }
  if (!ok) {
    forget();
    return false;
  }
  Array1<double> x(1, n_);
  for (int i = 1; i <= n_; ++i) x(i) = u(i);
  utsolv(work_.view(), x.view(), x.view(), 0, n_);
  utsolv(work_.view(), x.view(), x.view(), 1, n_);
  for (int i = 1; i <= n_; ++i) delta(i) = x(i);
  return true;
}

}  // namespace rg
