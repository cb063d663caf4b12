// Weighted least-squares fit of a parametric correlation structure to empirical
// inter-site correlations.
//
// The criterion is S = sum n (r - R)^2 / (2 sum n) over the pairs with common days,
// R = a + (1 - a) R0 and R0 = exp(-phi d^k) (k = 1 and a = 0 where the structure
// has no such parameter). The decay phi and power k are found by Newton steps
// projected onto their bounds, a parameter whose minimum lies on its bound staying
// there while the others move, in distances scaled by their mean. The
// limiting correlation a enters S quadratically, so for every phi and k it is
// solved exactly, and the Newton step works on the profile criterion min_a S: its
// gradient is the partial gradient at the solved a, its Hessian the Schur
// complement of the full Hessian in (phi, k, a). This converges quadratically to
// the minimum of S itself, where re-solving a around a Newton step for fixed a
// would creep towards it linearly.
#include <algorithm>
#include <cmath>
#include <vector>

#include "console.hpp"
#include "correl.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "run_exit.hpp"
#include "spatial.hpp"

namespace rg {

namespace {

constexpr int MAXITER = 100;
constexpr double CONVERGED = 1.0e-5;  // largest Newton step component at convergence
constexpr double PARMAX = 1.0e6;      // upper bound of phi and k
constexpr int MAXHALF = 30;           // halvings of a step that would increase S

struct Pair {
  double r, n, d;
};

// Criterion, gradient and Hessian of the profile criterion at (phi, k), with a
// solved for it when the structure has a threshold.
struct Evaluation {
  double s = 0.0;
  double g[2] = {0.0, 0.0};
  double h[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
  double a = 0.0;
};

class Criterion {
 public:
  Criterion(std::vector<Pair> pairs, bool powered, bool threshold)
      : pairs_(std::move(pairs)), powered_(powered), threshold_(threshold) {
    for (const Pair& p : pairs_) total_ += p.n;
  }
  int npar() const { return powered_ ? 2 : 1; }

  // a_fixed is used when the structure has no threshold, or when the data cannot
  // determine it (every R0 equal to 1).
  Evaluation evaluate(double phi, double k, double a_fixed) const {
    Evaluation ev;
    ev.a = threshold_ ? a_fixed : 0.0;
    double haa = 0.0;
    if (threshold_) {
      double num = 0.0;
      for (const Pair& p : pairs_) {
        const double r0 = base(phi, k, p.d, powered_);
        num += p.n * (1.0 - r0) * (p.r - r0);
        haa += p.n * (1.0 - r0) * (1.0 - r0);
      }
      if (haa > 1.0e-14 * total_) ev.a = std::clamp(num / haa, -1.0, 1.0);
    }
    const double a = ev.a, b = 1.0 - a;
    double hpa[2] = {0.0, 0.0};
    for (const Pair& p : pairs_) {
      const double dk = powered_ ? std::pow(p.d, k) : p.d;
      const double x = phi == 0.0 ? 0.0 : phi * dk;  // no decay at phi = 0, whatever d^k
      const double r0 = std::exp(-x);
      // d^k ln d tends to 0 as d does: the power has no effect at distance 0.
      const double ld = p.d > 0.0 ? std::log(p.d) : 0.0;
      const double d1[2] = {-dk * r0, -x * ld * r0};
      const double d2[2][2] = {{dk * dk * r0, ld * dk * r0 * (x - 1.0)}, {ld * dk * r0 * (x - 1.0), (x - 1.0) * x * ld * ld * r0}};
      const double e = p.r - (a + b * r0);
      ev.s += p.n * e * e;
      for (int u = 0; u < npar(); ++u) {
        ev.g[u] -= b * p.n * e * d1[u];
        hpa[u] += p.n * (b * (1.0 - r0) * d1[u] + e * d1[u]);
        for (int v = 0; v < npar(); ++v) ev.h[u][v] += b * p.n * (b * d1[u] * d1[v] - e * d2[u][v]);
      }
    }
    ev.s /= 2.0 * total_;
    for (int u = 0; u < npar(); ++u) {
      ev.g[u] /= total_;
      for (int v = 0; v < npar(); ++v) {
        ev.h[u][v] /= total_;
        // Profile Hessian: a follows phi and k while it is free to move.
        if (threshold_ && haa > 1.0e-14 * total_ && std::fabs(a) < 1.0)
          ev.h[u][v] -= hpa[u] * hpa[v] / (haa * total_);
      }
    }
    return ev;
  }

  static double base(double phi, double k, double d, bool powered) {
    if (phi == 0.0) return 1.0;
    return std::exp(-phi * (powered ? std::pow(d, k) : d));
  }

 private:
  std::vector<Pair> pairs_;
  bool powered_, threshold_;
  double total_ = 0.0;
};

// Newton direction s = H^-1 g in the free parameters (s is 0 in the others); where
// H is not positive definite a multiple of the identity is added until it is, so
// that the step still goes downhill.
void newton_direction(const Evaluation& ev, const bool free[2], double s[2]) {
  s[0] = s[1] = 0.0;
  const bool both = free[0] && free[1];
  const int one = free[0] ? 0 : 1;  // the free parameter when only one is
  if (!free[0] && !free[1]) return;
  double h11 = both ? ev.h[0][0] : ev.h[one][one], h12 = both ? ev.h[0][1] : 0.0, h22 = both ? ev.h[1][1] : 1.0;
  double lambda = 1.0e-8 * std::max({std::fabs(h11), std::fabs(h22), 1.0e-30});
  for (int tries = 0; tries < 200; ++tries) {
    const double det = h11 * h22 - h12 * h12;
    if (h11 > 0.0 && det > 0.0 && std::isfinite(det)) {
      if (!both) {
        s[one] = ev.g[one] / h11;
      } else {
        s[0] = (h22 * ev.g[0] - h12 * ev.g[1]) / det;
        s[1] = (h11 * ev.g[1] - h12 * ev.g[0]) / det;
      }
      return;
    }
    h11 = (both ? ev.h[0][0] : ev.h[one][one]) + lambda;
    if (both) h22 = ev.h[1][1] + lambda;
    lambda *= 10.0;
  }
}

void warn(std::initializer_list<const char*> lines) {
  Console& con = console();
  con.blank();
  for (const char* l : lines) con.line(l);
  con.blank();
}

}  // namespace

void corfit(int spmod, const Matrix& cor, const Matrix& count, const SiteTable& sites, int nsites,
            Array1<double>& rho, int site_capacity, const std::string& /*file*/) {
  if (site_capacity != MAXSIT || cor.rows() < site_capacity || count.rows() < site_capacity || rho.lo() > 1 ||
      rho.hi() < 3)
    prgerr("CORFIT", "fit_both", 1);
  if (spmod < 2 || spmod > 6) {
    Console& con = console();
    con.blank();
    con.line("****ERROR**** In routine CORFIT, an invalid value of variable");
    con.line("SPMOD has been found. This is a programming error - please contact DEV.");
    end_run(1);
  }

  std::vector<Pair> pairs;
  double sn = 0.0, snr = 0.0, snd = 0.0, dmin = 0.0;
  for (int i = 1; i < nsites; ++i)
    for (int j = i + 1; j <= nsites; ++j) {
      const double n = count(i, j), r = cor(i, j);
      if (!(n > 0.0) || !std::isfinite(r)) continue;
      const double d = sitdst(sites, i, j);
      pairs.push_back({r, n, d});
      sn += n;
      snr += n * r;
      snd += n * d;
      if (d > 0.0 && (dmin == 0.0 || d < dmin)) dmin = d;
    }
  if (pairs.empty()) {
    warn({"****WARNING**** No two sites have a day in common, so the spatial dependence",
          "parameters cannot be estimated: they keep the values of the model definition."});
    return;
  }
  const double rbar = snr / sn, dbar = snd / sn;
  if (spmod == 2) {
    rho(1) = std::clamp(rbar, -1.0, 1.0);
    return;
  }
  if (!(dbar > 0.0)) {
    warn({"****WARNING**** All inter-site distances are zero, so the spatial correlation",
          "parameters cannot be estimated: they keep the values of the model definition."});
    return;
  }

  const bool powered = spmod >= 5, threshold = spmod == 4 || spmod == 6;
  const int aslot = spmod == 4 ? 2 : 3;

  double theta[2];
  theta[1] = powered && std::fabs(rho(2)) >= PARMAX ? std::clamp(rho(2), 0.0, PARMAX) : 1.0;
  if (std::fabs(rho(1)) >= PARMAX) {
    theta[0] = std::clamp(rho(1), 0.0, PARMAX);
  } else if (rbar >= 1.0) {
    theta[0] = 0.0;  // every pair perfectly correlated: no decay fits exactly
  } else if (rbar > 0.0) {
    theta[0] = -std::log(rbar) / dbar;
  } else if (threshold) {
    theta[0] = 1.0 / dbar;  // a negative limiting correlation can still be fitted
  } else {
    // exp(-phi d^k) cannot be negative: the best such structure has no correlation
    // left at any distance.
    theta[0] = std::min(PARMAX, 20.0 / std::pow(dmin > 0.0 ? dmin : dbar, theta[1]));
    rho(1) = theta[0];
    if (powered) rho(2) = theta[1];
    warn({"****WARNING**** The mean inter-site correlation is not positive. The correlation",
          "decay rate is set so that correlations are negligible at the smallest distance."});
    return;
  }

  // The search works with distances in units of their weighted mean, so that its
  // steps and stopping rule mean the same whether co-ordinates are in kilometres or
  // metres: the decay becomes phi dbar^k, the power is unchanged.
  for (Pair& p : pairs) p.d /= dbar;
  auto scaled = [&](double phi, double k) { return phi * std::pow(dbar, k); };
  const Criterion crit(pairs, powered, threshold);
  const int np = crit.npar();
  const double lower[2] = {0.0, 0.0}, upper[2] = {PARMAX, PARMAX};
  theta[0] = std::min(scaled(theta[0], theta[1]), PARMAX);

  double a = 0.0;
  double measure = 0.0;
  int iter = 0;
  if (theta[0] > 0.0) {
    for (iter = 1; iter <= MAXITER; ++iter) {
      const Evaluation ev = crit.evaluate(theta[0], theta[1], a);
      a = ev.a;
      // A parameter on a bound whose gradient points out of the region stays on it:
      // the Newton step works in the others and the full step is projected back.
      bool free[2] = {true, np == 2};
      for (int p = 0; p < np; ++p)
        if ((theta[p] <= lower[p] && ev.g[p] > 0.0) || (theta[p] >= upper[p] && ev.g[p] < 0.0)) free[p] = false;
      double s[2];
      newton_direction(ev, free, s);
      measure = std::max(std::fabs(s[0]), std::fabs(s[1]));
      // A step that would increase the criterion is halved until it does not.
      double t = 1.0;
      double next[2] = {theta[0], theta[1]};
      for (int half = 0; half <= MAXHALF; ++half) {
        for (int p = 0; p < np; ++p) next[p] = std::clamp(theta[p] - t * s[p], lower[p], upper[p]);
        if (crit.evaluate(next[0], next[1], a).s <= ev.s * (1.0 + 1.0e-14)) break;
        t *= 0.5;
      }
      theta[0] = next[0];
      theta[1] = next[1];
      if (measure <= CONVERGED) break;
    }
  }
  if (threshold) a = crit.evaluate(theta[0], theta[1], a).a;
  theta[0] = std::min(theta[0] / std::pow(dbar, theta[1]), PARMAX);

  if (!std::isfinite(theta[0]) || !std::isfinite(theta[1]) || !std::isfinite(a)) {
    warn({"****WARNING**** The fit of the spatial correlation parameters failed: they keep",
          "the values of the model definition."});
    return;
  }
  rho(1) = theta[0];
  if (powered) rho(2) = theta[1];
  if (threshold) rho(aslot) = a;
  if (iter > MAXITER) {
    Console& con = console();
    con.blank();
    con.line("****WARNING**** Iteration limit reached while searching for optimal");
    con.line("spatial correlation parameters: largest standardised objective function");
    con.line("gradient is " + fmt_f(measure, 7, 5) + ". You should check the fit graphically; if inadequate");
    con.line("try different starting values.");
    con.blank();
  }
}

}  // namespace rg
