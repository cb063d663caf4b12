#include "latent_root.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "vector_clones.hpp"

namespace rg {

namespace {

// Nodes of a panel, and the largest last coefficient per day of an accepted one:
// an error in the integral of about 1e-9 per day, 1e-8 in r or less. The first
// panels are narrow enough to be accepted whole for wet-day probabilities from
// 0.005 to 0.9.
constexpr int NODES = 16;
constexpr double TAIL_TOL = 1e-9;
constexpr int MAXDEPTH = 30;       // halvings of a panel
// The first estimate's sample (every SAMPLE-th day) and its points, the points of a
// Gauss panel of the integral, and the most points of any rule. The error of a Gauss
// panel is taken as its last two Legendre coefficients extrapolated to degree 2n
// along their decay, and must be below TAIL_TOL per day, as for the Chebyshev panels.
constexpr int GSAMPLE = 5, GMAIN = 6, GMAX = 8;

struct GaussRule {
  double x[GMAX], w[GMAX];
};

// Gauss-Legendre points and weights on [-1, 1], n <= GMAX, by Newton's method on P_n.
GaussRule gauss_rule(int n) {
  GaussRule g{};
  for (int i = 0; i < n; ++i) {
    double x = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5)), dp = 0.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = x;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / (x * x - 1.0);
      const double dx = p1 / dp;
      x -= dx;
      if (std::fabs(dx) < 1e-16) break;
    }
    g.x[i] = x;
    g.w[i] = 2.0 / ((1.0 - x * x) * dp * dp);
  }
  return g;
}

const GaussRule& gauss(int n) {
  static const GaussRule rules[GMAX + 1] = {{},           gauss_rule(1), gauss_rule(2), gauss_rule(3), gauss_rule(4),
                                            gauss_rule(5), gauss_rule(6), gauss_rule(7), gauss_rule(8)};
  return rules[n];
}

// The Legendre series sum c_k P_k at x, and S(x) = sum over k >= 1 of c_k (P_{k+1}(x)
// - P_{k-1}(x)) / (2k + 1): its integral from -1 to x is c_0 (x + 1) + S(x), from 1
// to x c_0 (x - 1) + S(x).
void legendre(const double* c, int n, double x, double& value, double& s) {
  double p0 = 1.0, p1 = x;  // P_{k-1}, P_k
  value = c[0];
  s = 0.0;
  for (int k = 1; k < n; ++k) {
    const double p2 = ((2.0 * k + 1.0) * x * p1 - k * p0) / (k + 1.0);
    value += c[k] * p1;
    s += c[k] * (p2 - p0) / (2.0 * k + 1.0);
    p0 = p1;
    p1 = p2;
  }
}

// 2^y for y <= 0 in plain arithmetic that the compiler can put on vector
// registers. y itself is formed in double precision (near r = 1 it is a
// difference of large terms); the rest is single precision, on twice the lanes of
// double: y rounded, y = n + g with |g| <= 1/2 (g exact), 2^g = exp(g ln 2) by its
// Taylor polynomial of degree 7 (relative error 7e-9 at |g| = 1/2, far less near
// 0, where the largest terms have theirs), times 2^n. Rounding y costs a relative
// error of at most 4.2e-8 |y| in a term of size 2^y, so at most 2.2e-8 of the size
// of the largest terms (y near 0); with the rounding of the polynomial each term is
// right to about 1e-7 relative, rounding that is independent from day to day, so a
// sum over the days is right to about 1e-7 / sqrt(days) relative: well below the
// 1e-9 per day to which the panels are fitted. (A polynomial of degree 6 that
// interpolates 2^g at Chebyshev points has a smaller greatest error but errs to
// one side where the largest terms lie, which moved the roots by 1e-9.) Below
// -126 the argument is taken as -126: 2^-126, the smallest normal single, which no
// sum of these terms can tell from 0.
inline float exp2_single(double y) {
  constexpr float SHIFT = 12582912.0f;  // 1.5 * 2^23: rounds to an integer in the low bits
  const float yf = static_cast<float>(std::max(y, -126.0));
  const float kf = yf + SHIFT;
  const float nf = kf - SHIFT;
  const float g = yf - nf;
  const std::uint32_t n = std::bit_cast<std::uint32_t>(kf) - std::bit_cast<std::uint32_t>(SHIFT);
  // (ln 2)^k / k!
  float p = 1.5252733804059840e-05f;
  p = p * g + 1.5403530393381606e-04f;
  p = p * g + 1.3333558146428441e-03f;
  p = p * g + 9.6181291076284769e-03f;
  p = p * g + 5.5504108664821576e-02f;
  p = p * g + 2.4022650695910069e-01f;
  p = p * g + 6.9314718055994529e-01f;
  p = p * g + 1.0f;
  return p * std::bit_cast<float>((n << 23) + (std::uint32_t{127} << 23));
}

}  // namespace

// The loops over the days in versions for wider vector registers (and fused
// multiply-adds, see CMakeLists.txt) where the machine has them.
#define DAY_LOOPS VECTOR_CLONES("default", "arch=x86-64-v3", "arch=x86-64-v4")

namespace {

// The most points of one sweep: a Chebyshev panel's.
constexpr int MAXPOINTS = NODES;

// For each point k < n, the sum over days d < m of exp(alpha[k] (h^2 + k^2) + beta[k]
// h k) with h = zi[d], k = zj[d], over the days on which both probabilities lie
// inside (0, 1): the work of the whole estimate. All points share one pass over the
// days, so that a day's values are read once for all of them. Lanes are summed
// separately and then in a fixed order, so the sums are the same whatever the
// vector width. N > 0 is the number of points known when compiling (the
// accumulators then stay in registers); N = 0 takes it from n.
template <int N>
[[gnu::always_inline]] inline void sweep_points(const double* pi, const double* zi, const double* pj, const double* zj,
                                                std::size_t m, int n, const double* alpha, const double* beta,
                                                double* out) {
  constexpr std::size_t LANES = 16;
  constexpr int P = N > 0 ? N : MAXPOINTS;
  if constexpr (N > 0) n = N;
  // A day outside has h^2 + k^2 so large that its terms vanish.
  constexpr double OUTSIDE = 1.0e300;
  double acc[P][LANES] = {};
  double al[P], be[P];
  // exp(x) = 2^(x log2 e).
  constexpr double LOG2E = 1.4426950408889634074;
  for (int p = 0; p < n; ++p) {
    al[p] = alpha[p] * LOG2E;
    be[p] = beta[p] * LOG2E;
  }
  // Terms are added in single precision over GROUP blocks of days, few enough that
  // this rounds no more than the terms themselves, and those sums in double.
  constexpr std::size_t GROUP = 4;
  float part[P][LANES] = {};
  auto block = [&](std::size_t d0, std::size_t width) {
    double a[LANES], b[LANES];
    for (std::size_t l = 0; l < LANES; ++l) {
      const std::size_t d = d0 + (l < width ? l : 0);
      const double x = pi[d], y = pj[d], h = zi[d], k = zj[d];
      const bool inner = (l < width) & (std::min(x, y) > 0.0) & (std::max(x, y) < 1.0);
      a[l] = inner ? h * h + k * k : OUTSIDE;
      b[l] = inner ? h * k : 0.0;
    }
    for (int p = 0; p < n; ++p)
      for (std::size_t l = 0; l < LANES; ++l) part[p][l] += exp2_single(al[p] * a[l] + be[p] * b[l]);
  };
  auto add_parts = [&] {
    for (int p = 0; p < n; ++p)
      for (std::size_t l = 0; l < LANES; ++l) {
        acc[p][l] += static_cast<double>(part[p][l]);
        part[p][l] = 0.0f;
      }
  };
  std::size_t d = 0;
  for (; d + GROUP * LANES <= m; d += GROUP * LANES) {
    for (std::size_t g = 0; g < GROUP; ++g) block(d + g * LANES, LANES);
    add_parts();
  }
  for (; d + LANES <= m; d += LANES) block(d, LANES);
  if (d < m) block(d, m - d);
  add_parts();
  for (int p = 0; p < n; ++p) {
    double s = 0.0;
    for (double w : acc[p]) s += w;
    out[p] = s;
  }
}

DAY_LOOPS void sweep(const double* pi, const double* zi, const double* pj, const double* zj, std::size_t m, int n,
                     const double* alpha, const double* beta, double* out) {
  switch (n) {
    case 1: return sweep_points<1>(pi, zi, pj, zj, m, n, alpha, beta, out);
    case 2: return sweep_points<2>(pi, zi, pj, zj, m, n, alpha, beta, out);
    case GMAIN: return sweep_points<GMAIN>(pi, zi, pj, zj, m, n, alpha, beta, out);
    default: return sweep_points<0>(pi, zi, pj, zj, m, n, alpha, beta, out);
  }
}

}  // namespace

void LatentRoot::sums(int n, const double* alpha, const double* beta, bool sample, std::size_t m, double* out) const {
  if (sample) sweep(si_.sample_p, si_.sample_z, sj_.sample_p, sj_.sample_z, sample_size(ndays_), n, alpha, beta, out);
  else sweep(si_.p, si_.z, sj_.p, sj_.z, m, n, alpha, beta, out);
}

namespace {

// The sums of pair_sums over days d < m, added to s. PLAIN: the probabilities lie in
// [0, 1], 0 where a site has no record, and only product and upper are formed;
// otherwise a negative probability marks a day without a record. Lanes as in the
// sweeps. The sum of max(0, pi + pj - 1) is that of max(1, pi + pj) less the days.
template <bool PLAIN>
[[gnu::always_inline]] inline void add_day_sums(const double* pi, const double* pj, std::size_t m,
                                                LatentRoot::Sums& s) {
  constexpr std::size_t LANES = 16;
  double prod[LANES] = {}, up[LANES] = {}, low[LANES] = {}, in[LANES] = {};
  auto add = [&](std::size_t l, std::size_t d) {
    // A day without a record adds to each sum what a probability of 0 adds: nothing.
    const double x = PLAIN ? pi[d] : std::max(pi[d], 0.0), y = PLAIN ? pj[d] : std::max(pj[d], 0.0);
    prod[l] += x * y;
    up[l] += std::min(x, y);
    if constexpr (!PLAIN) {
      low[l] += std::max(1.0, x + y);
      in[l] += (std::min(x, y) > 0.0) & (std::max(x, y) < 1.0) ? 1.0 : 0.0;
    }
  };
  std::size_t d0 = 0;
  for (; d0 + LANES <= m; d0 += LANES)
    for (std::size_t l = 0; l < LANES; ++l) add(l, d0 + l);
  for (std::size_t l = 0; d0 < m; ++d0, ++l) add(l, d0);
  double lower = 0.0;
  for (std::size_t l = 0; l < LANES; ++l) {
    s.product += prod[l];
    s.upper += up[l];
    lower += low[l];
    s.inner += in[l];
  }
  if constexpr (!PLAIN) s.lower += lower - static_cast<double>(m);
}

}  // namespace

DAY_LOOPS LatentRoot::Sums LatentRoot::pair_sums(const double* pi, const double* pj, std::size_t ndays) {
  Sums s;
  add_day_sums<false>(pi, pj, ndays, s);
  return s;
}

DAY_LOOPS void LatentRoot::add_sums(const double* pi, const double* pj, std::size_t ndays, Sums& s) {
  add_day_sums<true>(pi, pj, ndays, s);
}

void LatentRoot::set_days(const double* pi, const double* zi, const double* pj, const double* zj, std::size_t ndays) {
  const std::size_t ns = sample_size(ndays);
  own_sample_.resize(4 * ns);
  double* sp = own_sample_.data();
  for (std::size_t e = 0; e < ns; ++e) {
    sp[e] = pi[e * SAMPLE];
    sp[ns + e] = zi[e * SAMPLE];
    sp[2 * ns + e] = pj[e * SAMPLE];
    sp[3 * ns + e] = zj[e * SAMPLE];
  }
  set_days(Site{pi, zi, sp, sp + ns}, Site{pj, zj, sp + 2 * ns, sp + 3 * ns}, ndays, pair_sums(pi, pj, ndays));
}

void LatentRoot::set_days(const Site& i, const Site& j, std::size_t ndays, const Sums& sums) {
  si_ = i;
  sj_ = j;
  ndays_ = ndays;
  product_ = sums.product;
  upper_ = sums.upper;
  lower_ = sums.lower;
  inner_ = sums.inner;
  const Sums ss = pair_sums(i.sample_p, j.sample_p, sample_size(ndays));
  sproduct_ = ss.product;
  supper_ = ss.upper;
  slower_ = ss.lower;
}

// E at the Chebyshev points of [a, b] and its coefficients there; sign -1
// integrates the density of (X, -Y).
void LatentRoot::fit_panel(double a, double b, double sign, Panel& p) {
  p.a = a;
  p.b = b;
  p.c.assign(NODES, 0.0);
  double f[NODES], alpha[NODES], beta[NODES];
  const double mid = 0.5 * (a + b), half = 0.5 * (b - a);
  for (int j = 0; j < NODES; ++j) {
    const double u = mid + half * std::cos((j + 0.5) * std::numbers::pi / NODES);
    const double c2 = std::cos(u) * std::cos(u);
    alpha[j] = -0.5 / c2;
    beta[j] = sign * std::sin(u) / c2;
  }
  sums(NODES, alpha, beta, false, ndays_, f);
  for (int j = 0; j < NODES; ++j) f[j] /= 2.0 * std::numbers::pi;
  for (int n = 0; n < NODES; ++n) {
    double c = 0.0;
    for (int j = 0; j < NODES; ++j) c += f[j] * std::cos(n * (j + 0.5) * std::numbers::pi / NODES);
    p.c[static_cast<std::size_t>(n)] = 2.0 * c / NODES;
  }
  // The interpolant c0/2 + sum c_n T_n integrates to c0 + sum over even n of 2 c_n / (1 - n^2).
  double integral = p.c[0];
  for (int n = 2; n < NODES; n += 2) integral += 2.0 * p.c[static_cast<std::size_t>(n)] / (1.0 - n * n);
  p.integral = half * integral;
}

void LatentRoot::cover(double a, double b, double sign, int depth, std::vector<Panel>& out) {
  Panel p;
  fit_panel(a, b, sign, p);
  double tail = 0.0;
  for (int n = NODES - 3; n < NODES; ++n) tail = std::max(tail, std::fabs(p.c[static_cast<std::size_t>(n)]));
  if (tail <= TAIL_TOL * inner_ || depth >= MAXDEPTH) {
    out.push_back(std::move(p));
    return;
  }
  const double mid = 0.5 * (a + b);
  cover(a, mid, sign, depth + 1, out);
  cover(mid, b, sign, depth + 1, out);
}

namespace {

// The antiderivative of c0/2 + sum c_n T_n on [-1, 1] that is 0 at -1, at x.
double antiderivative(const std::vector<double>& c, double x) {
  const std::size_t nc = c.size();
  // Coefficients b_n = (c_{n-1} - c_{n+1}) / (2n), n >= 1; b_0 makes the value 0 at -1.
  double bsum = 0.0, value = 0.0;
  double t0 = 1.0, t1 = x;  // T_{n-1}(x), T_n(x)
  for (std::size_t n = 1; n <= nc; ++n) {
    const double next = n + 1 < nc ? c[n + 1] : 0.0;
    const double bn = (c[n - 1] - next) / (2.0 * static_cast<double>(n));
    bsum += (n % 2 == 1 ? -bn : bn);
    value += bn * t1;
    const double t2 = 2.0 * x * t1 - t0;
    t0 = t1;
    t1 = t2;
  }
  return value - bsum;
}

double interpolant(const std::vector<double>& c, double x) {
  double b1 = 0.0, b2 = 0.0;
  for (std::size_t n = c.size(); n-- > 1;) {
    const double b0 = 2.0 * x * b1 - b2 + c[n];
    b2 = b1;
    b1 = b0;
  }
  return x * b1 - b2 + 0.5 * c[0];
}

}  // namespace

void LatentRoot::fit_gauss(double lo, double hi, double sign, int n, bool sample, double* c) const {
  const GaussRule& g = gauss(n);
  const double mid = 0.5 * (lo + hi), half = 0.5 * (hi - lo);
  double f[GMAX], alpha[GMAX], beta[GMAX], t[GMAX];
  for (int i = 0; i < n; ++i) {
    t[i] = std::tanh(mid + half * g.x[i]);
    const double u = 0.5 * std::numbers::pi * t[i];
    const double c2 = std::cos(u) * std::cos(u);
    alpha[i] = -0.5 / c2;
    beta[i] = sign * std::sin(u) / c2;
  }
  sums(n, alpha, beta, sample, ndays_, f);
  for (int i = 0; i < n; ++i)
    f[i] = f[i] / (2.0 * std::numbers::pi) * 0.5 * std::numbers::pi * (1.0 - t[i] * t[i]) * g.w[i];
  for (int k = 0; k < n; ++k) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
      double p0 = 1.0, p1 = g.x[i];
      for (int j = 1; j < k; ++j) {
        const double p2 = ((2.0 * j + 1.0) * g.x[i] * p1 - j * p0) / (j + 1.0);
        p0 = p1;
        p1 = p2;
      }
      sum += f[i] * (k == 0 ? 1.0 : p1);
    }
    c[k] = 0.5 * (2.0 * k + 1.0) * sum;
  }
}

namespace {

// The x near x0 at which base + half * (c_0 (x - x0) + S(x) - S(x0)) = target (x0 = -1 or 1):
// Newton steps.
double legendre_root(const double* c, int n, double x0, double base, double half, double target) {
  double v0, s0;
  legendre(c, n, x0, v0, s0);
  double x = x0;
  for (int it = 0; it < 50; ++it) {
    double v, s;
    legendre(c, n, x, v, s);
    const double g = base + half * (c[0] * (x - x0) + s - s0) - target;
    if (!(v > 0.0)) return NAN;
    const double dx = g / (half * v);
    x -= dx;
    if (std::fabs(dx) <= 1e-15) break;
  }
  return x;
}

}  // namespace

bool LatentRoot::integrate(double a, double b, double sign, int depth, double& sum, double& lo, double* c) const {
  fit_gauss(a, b, sign, GMAIN, false, c);
  const double last = std::fabs(c[GMAIN - 1]) + std::fabs(c[GMAIN - 2]);
  const double before = std::fabs(c[GMAIN - 3]) + std::fabs(c[GMAIN - 4]);
  const double q = before > 0.0 ? std::min(last / before, 1.0) : (last > 0.0 ? 1.0 : 0.0);
  const double err = (b - a) * last * std::pow(q, 0.5 * (GMAIN + 1));
  if (err <= TAIL_TOL * inner_) {
    sum += (b - a) * c[0];
    lo = a;
    return true;
  }
  if (depth >= 4) return false;
  const double m = 0.5 * (a + b);
  return integrate(a, m, sign, depth + 1, sum, lo, c) && integrate(m, b, sign, depth + 1, sum, lo, c);
}

bool LatentRoot::solve_gauss(double target, double total, double sign, double& v) const {
  if (inner_ < 64.0 * SAMPLE) return false;
  // A first estimate from the sample: the same fraction of its total.
  const double stotal = sign > 0.0 ? supper_ - sproduct_ : sproduct_ - slower_;
  if (!(stotal > 0.0)) return false;
  const double starget = target / total * stotal;
  const double VCAP = std::atanh(2.0 / std::numbers::pi * std::asin(0.99));
  double c[GMAX];
  fit_gauss(0.0, VCAP, sign, GSAMPLE, true, c);
  if (!(VCAP * c[0] > starget)) return false;
  const double x0 = legendre_root(c, GSAMPLE, -1.0, 0.0, 0.5 * VCAP, starget);
  if (!(x0 > -1.0 && x0 < 1.0)) return false;
  const double v0 = 0.5 * VCAP * (x0 + 1.0);
  // The integral over [0, v0] by Gauss's rule on panels, halved until its error
  // (about that of the Legendre coefficients extrapolated to degree 2n) is small
  // enough; c then holds the coefficients of the last panel, [lo, v0].
  double g0 = 0.0, lo = 0.0;
  if (!integrate(0.0, v0, sign, 0, g0, lo, c)) return false;
  const double mid = 0.5 * (lo + v0), half = 0.5 * (v0 - lo);
  // The remainder to the root from the Legendre series of F there, then the integral
  // on to that point by a short rule, and the rest from the series again.
  const double x1 = legendre_root(c, GMAIN, 1.0, g0, half, target);
  if (!std::isfinite(x1)) return false;
  const double v1 = mid + half * x1;
  if (!(std::fabs(v1 - v0) <= 0.02)) return false;
  // The short rule has one point where the midpoint rule's error, dv^3 F'' / 24 with
  // F'' from the series, is well below the tolerance, else two.
  double fa, fm, fb, s;
  const double xm = 0.5 * (1.0 + x1);
  legendre(c, GMAIN, 1.0, fa, s);
  legendre(c, GMAIN, xm, fm, s);
  legendre(c, GMAIN, x1, fb, s);
  const double dv = v1 - v0;
  const double f2 = std::fabs(fa - 2.0 * fm + fb) / (0.25 * dv * dv);  // F'' (per unit v)
  const int nshort = std::fabs(dv * dv * dv) * f2 / 24.0 <= 0.1 * TAIL_TOL * inner_ ? 1 : 2;
  double cs[GMAX];
  fit_gauss(v0, v1, sign, nshort, false, cs);
  const double g1 = g0 + dv * cs[0];
  const double e1 = std::fabs(target - g1);  // the series' error over [v0, v1]
  const double x2 = legendre_root(c, GMAIN, x1, g1, half, target);
  if (!std::isfinite(x2)) return false;
  const double v2 = mid + half * x2;
  if (!(e1 * std::fabs(v2 - v1) <= 0.1 * TAIL_TOL * inner_ * std::fabs(v1 - v0))) return false;
  v = v2;
  return true;
}

bool LatentRoot::solve(double joint, double& r) {
  const double flo = joint - lower_, fhi = joint - upper_;
  if (flo * fhi > 0.0) {
    r = flo > 0.0 ? 1.0 : -1.0;
    return false;
  }
  // Positive dependence integrates from 0 towards r = 1; negative dependence is the
  // positive dependence of (X, -Y): sum P(h, k; -r) = sum pi - sum P(h, -k; r).
  const double excess = joint - product_;
  const double sign = excess >= 0.0 ? 1.0 : -1.0;
  const double target = std::fabs(excess);
  const double total = sign > 0.0 ? upper_ - product_ : product_ - lower_;
  if (target == 0.0 || inner_ == 0.0) {
    r = 0.0;
    return true;
  }
  if (target >= total) {
    r = sign;
    return true;
  }
  double v;
  if (solve_gauss(target, total, sign, v)) {
    r = sign * std::sin(0.5 * std::numbers::pi * std::tanh(v));
    return true;
  }
  return fallback(target, sign, r);
}

bool LatentRoot::fallback(double target, double sign, double& r) {
  // Panels in u = asin(t) from 0 outwards until they hold the target. The first
  // ends a little beyond the root of the first-order estimate target = E(0) u, so
  // that a weakly dependent pair does not interpolate E far beyond its root.
  // E(0) for it from the first eighth of the days (years of every season) is
  // close enough, at an eighth of a sweep.
  const std::size_t part = ndays_ / 8 >= 512 ? ndays_ / 8 : ndays_;
  const double alpha = -0.5, beta = 0.0;
  double e0;
  sums(1, &alpha, &beta, false, part, &e0);
  e0 *= static_cast<double>(ndays_) / (static_cast<double>(part) * 2.0 * std::numbers::pi);
  const double guess = 1.5 * target / e0 + 0.05;
  const double first = guess < 0.6 ? guess : std::asin(0.85);
  const double EDGES[] = {0.0, first, std::asin(0.85), std::asin(0.95), std::asin(0.99), std::asin(0.999),
                          std::numbers::pi / 2};
  double reached = 0.0;
  for (std::size_t e = 0; e + 1 < std::size(EDGES); ++e) {
    if (EDGES[e + 1] <= EDGES[e]) continue;
    panels_.clear();
    cover(EDGES[e], EDGES[e + 1], sign, 0, panels_);
    for (const Panel& p : panels_) {
      if (reached + p.integral < target) {
        reached += p.integral;
        continue;
      }
      // The root of reached + half * antiderivative(x) = target on [-1, 1]: Newton
      // steps kept inside a shrinking bracket.
      const double half = 0.5 * (p.b - p.a);
      double lo = -1.0, hi = 1.0, x = 0.0;
      for (int it = 0; it < 100; ++it) {
        const double g = reached + half * antiderivative(p.c, x) - target;
        if (g > 0.0) hi = x;
        else lo = x;
        const double slope = half * interpolant(p.c, x);
        double next = slope > 0.0 ? x - g / slope : 0.5 * (lo + hi);
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        if (std::fabs(next - x) <= 1e-15 || hi - lo <= 1e-15) {
          x = next;
          break;
        }
        x = next;
      }
      r = sign * std::sin(p.a + half * (x + 1.0));
      return true;
    }
  }
  r = sign;  // the target lies within rounding of the total
  return true;
}

double LatentRoot::expected_joint(double r) {
  const double sign = r >= 0.0 ? 1.0 : -1.0;
  const double u = std::asin(std::fabs(r));
  panels_.clear();
  cover(0.0, u, sign, 0, panels_);
  double g = 0.0;
  for (const Panel& p : panels_) g += p.integral;
  // For r < 0: sum P(h, k; r) = sum pi - sum P(h, -k; -r) = product - G(-r).
  return product_ + sign * g;
}

}  // namespace rg
