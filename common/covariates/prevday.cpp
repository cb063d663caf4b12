// Previous-day predictors (values, weights, derivatives, descriptions), the daily
// covariate dispatcher and the parameter count check.
#include "prevday.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "console.hpp"
#include "effects.hpp"  // dlyeff: daily effects
#include "files.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

// Below this a distance or a sum of weights counts as zero.
constexpr double TINY = 1.0e-12;
// A parameter slot counts as given at or below this in the count check.
constexpr double GIVEN_LIMIT = 1.0e8;

[[noreturn]] void illegal_prvxfm() {
  console().line("****ERROR**** Illegal transformation found in PRVXFM");
  end_run(1);
}

void log_warning() {
  if (!first_occurrence("Attempt to log a non-positive number")) return;  // once, counted after
  Console& con = console();
  con.line("****WARNING**** Attempt to log a non-positive number while");
  con.line("calculating predictors from previous days");
}

[[noreturn]] void no_weights() {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** You've asked me to compute weighted averages of");
  con.line("previous days' values, but you haven't given me any parameters");
  con.line("for the weighting scheme!");
  end_run(1);
}

[[noreturn]] void illegal_scheme() {
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Illegal weighting scheme requested in SETWGT.");
  end_run(1);
}

[[noreturn]] void illegal_order() {
  Console& con = console();
  con.line("****ERROR**** Invalid value of WXORDR in DYSET. This is a");
  con.line("programming error - contact DEV.");
  end_run(1);
}

// The site had a positive value on each of the last `lag` days (a missing value is
// not positive).
bool all_wet(const Matrix& previous, int site, int lag) {
  for (int l = 1; l <= lag; ++l)
    if (!(previous(site, l) > 0.0)) return false;
  return true;
}

// Some of the last `lag` days of the site are missing.
bool any_missing(const Matrix& previous, int site, int lag) {
  for (int l = 1; l <= lag; ++l)
    if (previous(site, l) < 0.0) return true;
  return false;
}

// Transformations without a logarithm; the logarithms go through prvxfm for the
// warning.
inline double plain_xfm(double y, int xfm, double trace, int lag, const Matrix& previous, int site) {
  switch (xfm) {
    case 0: return y;
    case 3: return y > 0.0 ? 1.0 : 0.0;
    case 4: return (y > 0.0 && y < trace) ? 1.0 : 0.0;
    default: return all_wet(previous, site, lag) ? 1.0 : 0.0;  // 5
  }
}

// ---- Caches ----
//
// An average over the network for one target site needs a weight for every other
// site, and the transformed value of every site. Both are the same for every target
// site of a day (the values) or for the whole run (the weights, unless the fit moves
// the parameters), so they are kept and reused. Each entry records everything its
// contents depend on and is checked on every use, so a reuse can never give a value
// different from a fresh computation.

// Weights (and their derivatives) of one scheme, parameter set and lag for all
// target/site pairs, filled one target row at a time on first use.
struct WeightTable {
  bool used = false;
  const SiteTable* sites = nullptr;
  int nsites = 0, scheme = 0, lag = 0, nderiv = 0;
  double par[3] = {0, 0, 0};
  std::vector<double> xy;             // co-ordinates the weights were computed from
  std::vector<double> w;              // (i-1)*MAXSIT + (j-1)
  std::vector<double> dw[3];          // derivatives, same layout
  std::vector<std::uint32_t> row_ok;  // row i filled when equal to epoch
  std::uint32_t epoch = 1;
  std::uint64_t last_use = 0;
};

// Logarithmic transformations of one history column, for the order "transform
// then average".
struct ValueTable {
  bool used = false;
  int nsites = 0, xfm = 0;
  std::vector<double> y;   // the column the values were computed from
  std::vector<double> v;   // transformed values
  std::vector<char> warn;  // computing the value printed the log warning
  int nwarn = 0;
  std::uint64_t last_use = 0;
};

constexpr int NWTAB = 8;
constexpr int NVTAB = 4;

struct Caches {
  WeightTable wt[NWTAB];
  ValueTable vt[NVTAB];
  std::uint64_t clock = 0;
};

Caches& caches() {
  static Caches c;
  return c;
}

bool same_bits(const double* a, const double* b, int n) {
  return std::memcmp(a, b, sizeof(double) * static_cast<std::size_t>(n)) == 0;
}

// The co-ordinates of the first n sites are those stored in xy.
bool same_coordinates(const SiteTable& sites, int n, const std::vector<double>& xy) {
  for (int a = 1; a <= 2; ++a)
    if (!same_bits(&sites.sitinf(1, a, 1), xy.data() + (a - 1) * n, n)) return false;
  return true;
}

void copy_coordinates(const SiteTable& sites, int n, std::vector<double>& xy) {
  xy.resize(2 * static_cast<std::size_t>(n));
  for (int a = 1; a <= 2; ++a)
    std::memcpy(xy.data() + (a - 1) * n, &sites.sitinf(1, a, 1), sizeof(double) * static_cast<std::size_t>(n));
}

// The weight table for the scheme, its current parameters and the lag (scheme 3
// only), with row `target` filled.
const WeightTable& weight_row(int target, int scheme, int nderiv, const SiteTable& sites,
                              const Array2<double>& theta, const Array2<int>& pwtidx, int lag) {
  Caches& c = caches();
  const int n = sites.nsites;
  const int h = pwtidx(scheme, 1);
  const double par[3] = {theta(h, 1), theta(h, 2), theta(h, 3)};
  const int klag = scheme == 3 ? lag : 0;
  WeightTable* hit = nullptr;
  for (auto& t : c.wt) {
    if (t.used && t.sites == &sites && t.nsites == n && t.scheme == scheme && t.lag == klag &&
        t.nderiv == nderiv && same_bits(t.par, par, 3)) {
      hit = &t;
      break;
    }
  }
  if (hit && !same_coordinates(sites, n, hit->xy)) {
    copy_coordinates(sites, n, hit->xy);
    ++hit->epoch;
  }
  if (!hit) {
    hit = &c.wt[0];
    for (auto& t : c.wt)
      if (!t.used || t.last_use < hit->last_use) hit = &t;
    WeightTable& t = *hit;
    t.used = true;
    t.sites = &sites;
    t.nsites = n;
    t.scheme = scheme;
    t.lag = klag;
    t.nderiv = nderiv;
    std::memcpy(t.par, par, sizeof par);
    copy_coordinates(sites, n, t.xy);
    const auto cells = static_cast<std::size_t>(MAXSIT) * MAXSIT;
    if (t.w.size() != cells) t.w.assign(cells, 0.0);
    for (int m = 0; m < nderiv; ++m)
      if (t.dw[m].size() != cells) t.dw[m].assign(cells, 0.0);
    if (t.row_ok.size() != MAXSIT + 1u) t.row_ok.assign(MAXSIT + 1u, 0);
    ++t.epoch;
  }
  WeightTable& t = *hit;
  t.last_use = ++c.clock;
  if (t.row_ok[target] != t.epoch) {
    // The parameter count was verified by the caller.
    std::array<double, 4> r{};
    const std::size_t base = static_cast<std::size_t>(target - 1) * MAXSIT;
    for (int j = 1; j <= n; ++j) {
      setwgt(target, j, scheme, nderiv, sites, theta, pwtidx, lag, 1, r);
      t.w[base + j - 1] = r[0];
      for (int m = 0; m < nderiv; ++m) t.dw[m][base + j - 1] = r[m + 1];
    }
    t.row_ok[target] = t.epoch;
  }
  return t;
}

// Logarithmic transformation xfm (1 or 2) of previous(1..n, lag).
const ValueTable& log_values(int xfm, const Matrix& previous, int lag, int n) {
  Caches& c = caches();
  const double* col = &previous(1, lag);
  ValueTable* hit = nullptr;
  for (auto& t : c.vt)
    if (t.used && t.nsites == n && t.xfm == xfm && same_bits(t.y.data(), col, n)) {
      hit = &t;
      break;
    }
  if (!hit) {
    hit = &c.vt[0];
    for (auto& t : c.vt)
      if (!t.used || t.last_use < hit->last_use) hit = &t;
    ValueTable& t = *hit;
    t.used = true;
    t.nsites = n;
    t.xfm = xfm;
    t.y.assign(col, col + n);
    t.v.assign(static_cast<std::size_t>(n), 0.0);
    t.warn.assign(static_cast<std::size_t>(n), 0);
    t.nwarn = 0;
    for (int j = 1; j <= n; ++j) {
      const double y = col[j - 1];
      if (y < 0.0) continue;  // missing: not part of any average
      const bool bad = xfm == 1 ? !(y > 0.0) : !(y > -1.0);
      t.warn[j - 1] = bad ? 1 : 0;
      t.nwarn += bad ? 1 : 0;
      t.v[j - 1] = bad ? PRVBAD : (xfm == 1 ? std::log(y) : std::log1p(y));
    }
  }
  hit->last_use = ++c.clock;
  return *hit;
}

// Sums over the sites with a value (y >= 0) of the weights w, of w v, and of the ND
// weight derivatives dw[m] and dw[m] v.
template <int ND>
void sums(int n, const double* y, const double* v, const double* w, const double* const* dw, double& W, double& S,
          double* Wd, double* Sd) {
  double sw = 0.0, sv = 0.0, a[3] = {0, 0, 0}, b[3] = {0, 0, 0};
  for (int j = 0; j < n; ++j) {
    if (y[j] < 0.0) continue;
    sw += w[j];
    sv += w[j] * v[j];
    for (int m = 0; m < ND; ++m) {
      a[m] += dw[m][j];
      b[m] += dw[m][j] * v[j];
    }
  }
  W = sw;
  S = sv;
  for (int m = 0; m < ND; ++m) {
    Wd[m] = a[m];
    Sd[m] = b[m];
  }
}

// Checks that the scheme can give weights, in the order setwgt makes them: a
// parameter row, a known scheme, the right number of parameters.
void check_scheme(int scheme, const Array2<double>& theta, const Array2<int>& pwtidx, int icheck, int maxpar) {
  if (scheme == 1) return;
  if (pwtidx(scheme, 1) == 0) no_weights();
  if (scheme != 2 && scheme != 3) illegal_scheme();
  if (icheck == 0) thtchk(theta, pwtidx(scheme, 1), WTSNPAR[scheme], maxpar);
}

// No site with a value and a positive weight (w null: every weight 1) had a day that
// was not wet among the last `lag` days.
bool weighted_all_wet(const Matrix& previous, int n, int lag, const double* w) {
  const double* y = &previous(1, lag);
  for (int j = 1; j <= n; ++j) {
    if (y[j - 1] < 0.0) continue;
    const double wj = w ? w[j - 1] : 1.0;
    if (wj > 0.0 && !all_wet(previous, j, lag)) return false;
  }
  return true;
}

// The values an average takes over the network: raw for order 1, transformed for
// order 0 (missing sites hold a placeholder, they never enter a sum). nwarn counts
// the logarithms of non-positive values, each of which prints a warning per use.
const double* values_to_average(const Matrix& previous, int n, double trace, int k, int xfm, int order, int& nwarn) {
  const double* y = &previous(1, k);
  nwarn = 0;
  if (order == 0 && (xfm == 1 || xfm == 2)) {
    const ValueTable& vt = log_values(xfm, previous, k, n);
    nwarn = vt.nwarn;
    return vt.v.data();
  }
  if (order == 0 && xfm != 0) {
    static double buf[MAXSIT];
    for (int j = 1; j <= n; ++j) buf[j - 1] = y[j - 1] < 0.0 ? 0.0 : plain_xfm(y[j - 1], xfm, trace, k, previous, j);
    return buf;
  }
  return y;
}

const double* unit_weights() {
  static const std::vector<double> ones(MAXSIT, 1.0);
  return ones.data();
}

// Value of previous-day predictor `code` at site i. An equal-weight mean takes its
// network sums from net when they were formed for this code.
void previous_day(const Matrix& previous, int i, double trace, int code, const Array2<double>& theta,
                  const Array2<int>& pwtidx, const SiteTable& sites, int icheck, std::array<double, 4>& result,
                  const NetworkMean* net) {
  const int k = prvlag(code), xfm = prvxfn(code), scheme = prvwts(code), order = prvord(code);
  const int n = sites.nsites;
  const int maxpar = theta.rows();
  if (k < 1 || k > MAXLAG || k > previous.cols() || n < 1 || n > MAXSIT || previous.rows() < n || i < 1 || i > n ||
      pwtidx.rows() < 9 || pwtidx.cols() < 4 || theta.cols() < MAXNLP)
    prgerr(" DYSET", "funcdefs", 1);
  result = {0.0, 0.0, 0.0, 0.0};

  // 1. The target's own history must be there.
  if (previous(i, k) < 0.0 || (xfm == 5 && any_missing(previous, i, k))) {
    result[0] = PRVBAD;
    return;
  }
  // 2. The site's own value.
  if (scheme == 0) {
    std::array<double, 2> f{};
    prvxfm(previous(i, k), xfm, trace, k, previous, i, 0, f);
    result[0] = f[0];
    return;
  }

  // 3. Averages over the network.
  const bool estimated = pwtidx(scheme, 2) != 0 || pwtidx(scheme, 3) != 0 || pwtidx(scheme, 4) != 0;
  const int nd = estimated && scheme <= 3 ? WTSNPAR[scheme] : 0;
  check_scheme(scheme, theta, pwtidx, icheck, maxpar);
  if (order != 0 && order != 1) illegal_order();
  if (order == 0 && (xfm < 0 || xfm > 5)) illegal_prvxfm();
  if (scheme != 1 || (net && net->code != code)) net = nullptr;

  const WeightTable* tab = scheme == 1 ? nullptr : &weight_row(i, scheme, nd, sites, theta, pwtidx, k);
  const std::size_t base = static_cast<std::size_t>(i - 1) * MAXSIT;
  const double* w = tab ? tab->w.data() + base : nullptr;
  const double* dw[3] = {nullptr, nullptr, nullptr};
  for (int m = 0; m < nd; ++m) dw[m] = tab->dw[m].data() + base;
  const double* y = &previous(1, k);

  // Order 1 with the all-wet indicator: 1 unless a positively weighted site had a
  // day that was not wet.
  if (order == 1 && xfm == 5) {
    if (net ? net->all_wet : weighted_all_wet(previous, n, k, w)) result[0] = 1.0;
    return;
  }

  double W = 0.0, S = 0.0, Wd[3] = {0, 0, 0}, Sd[3] = {0, 0, 0};
  int nwarn = 0;
  if (net) {
    nwarn = net->nwarn;
    W = net->W;
    S = net->S;
  } else {
    const double* v = values_to_average(previous, n, trace, k, xfm, order, nwarn);
    if (!w) w = unit_weights();
    switch (nd) {
      case 0: sums<0>(n, y, v, w, dw, W, S, Wd, Sd); break;
      case 1: sums<1>(n, y, v, w, dw, W, S, Wd, Sd); break;
      default: sums<3>(n, y, v, w, dw, W, S, Wd, Sd); break;
    }
  }
  for (int j = 0; j < nwarn; ++j) log_warning();
  // Every weight underflowed (or overflowed): no average can be formed.
  if (!(W > 0.0) || !std::isfinite(W)) {
    result[0] = PRVBAD;
    return;
  }
  const double mean = S / W;
  // Derivative of the normalised weights sum_j (w'_j W - w_j W') / W^2 * v_j.
  double D[3] = {0, 0, 0};
  if (std::fabs(W) > TINY)
    for (int m = 0; m < nd; ++m) D[m] = (Sd[m] * W - Wd[m] * S) / (W * W);
  if (order == 0) {
    result[0] = mean;
    for (int m = 0; m < nd; ++m) result[m + 1] = D[m];
    return;
  }
  std::array<double, 2> f{};
  prvxfm(mean, xfm, trace, k, previous, i, nd > 0 ? 1 : 0, f);
  result[0] = f[0];
  for (int m = 0; m < nd; ++m) result[m + 1] = D[m] * f[1];
}

}  // namespace

void thtchk(const Array2<double>& theta, int row, int n, int maxpar) {
  if (row < 1 || row > maxpar || row > theta.rows() || theta.cols() < MAXNLP) prgerr(" THTCHK", "funcdefs", 1);
  bool ok = true;
  for (int k = 1; k <= MAXNLP; ++k) {
    const bool given = theta(row, k) <= GIVEN_LIMIT;
    if (given != (k <= n)) ok = false;
  }
  if (ok) return;
  Console& con = console();
  con.blank();
  con.line("****ERROR**** Wrong number of parameters supplied for transformation ");
  con.line("of covariate " + fmt_i(row, 2) + ". Check model definition file.");
  end_run(1);
}

void prvxfm(double y, int xfm, double trace, int lag, const Matrix& previous, int site, int deriv,
            std::array<double, 2>& result) {
  result = {0.0, 0.0};
  switch (xfm) {
    case 0:
      result = {y, 1.0};
      return;
    case 1:
      if (!(y > 0.0)) break;
      result = {std::log(y), deriv == 1 ? 1.0 / y : 0.0};
      return;
    case 2:
      if (!(y > -1.0)) break;
      result = {std::log1p(y), deriv == 1 ? 1.0 / (1.0 + y) : 0.0};
      return;
    case 3:
    case 4:
    case 5:
      result[0] = plain_xfm(y, xfm, trace, lag, previous, site);
      return;
    default:
      illegal_prvxfm();
  }
  log_warning();
  result = {PRVBAD, PRVBAD};
}

void setwgt(int i, int j, int scheme, int nderiv, const SiteTable& sites, const Array2<double>& theta,
            const Array2<int>& pwtidx, int lag, int icheck, std::array<double, 4>& result) {
  result = {0.0, 0.0, 0.0, 0.0};
  if (scheme == 1) {
    result[0] = 1.0;
    return;
  }
  if (scheme < 1 || scheme > pwtidx.rows()) illegal_scheme();
  const int h = pwtidx(scheme, 1);
  if (h == 0) no_weights();
  if (scheme != 2 && scheme != 3) illegal_scheme();
  if (icheck == 0) thtchk(theta, h, WTSNPAR[scheme], theta.rows());
  const double xi = sites.sitinf(i, 1, 1), yi = sites.sitinf(i, 2, 1);
  const double xj = sites.sitinf(j, 1, 1), yj = sites.sitinf(j, 2, 1);
  if (scheme == 2) {
    const double phi = theta(h, 1);
    const double d = std::sqrt((xj - xi) * (xj - xi) + (yj - yi) * (yj - yi));
    const double w = std::exp(-phi * d);
    result[0] = w;
    if (nderiv >= 1) result[1] = -d * w;
    return;
  }
  const double a = theta(h, 1), b = theta(h, 2), phi = theta(h, 3);
  const double dx = xj - xi - lag * a, dy = yj - yi - lag * b;
  const double d = std::sqrt(dx * dx + dy * dy);
  const double w = std::exp(-phi * d);
  result[0] = w;
  if (nderiv < 1) return;
  if (d > TINY) {
    result[1] = w * lag * phi * dx / d;
    result[2] = w * lag * phi * dy / d;
    result[3] = -d * w;
  } else {
    result[1] = result[2] = -w * lag * phi;
    result[3] = 0.0;
  }
}

void dyset(int dd, int mm, int yy, const Matrix& previous, int site, double trace, int code,
           const Array2<double>& theta, const Array2<int>& pwtidx, const SiteTable& sites, int icheck,
           std::array<double, 4>& result, const NetworkMean* net) {
  if (code >= 1 && code % 1000 <= MAXLAG) {
    previous_day(previous, site, trace, code, theta, pwtidx, sites, icheck, result, net);
    return;
  }
  result = {dlyeff(dd, mm, yy, code), 0.0, 0.0, 0.0};
}

void prvnet(const Matrix& previous, int n, double trace, int code, NetworkMean& net) {
  net = NetworkMean{};
  const int k = prvlag(code), xfm = prvxfn(code), order = prvord(code);
  if (code < 1 || prvwts(code) != 1 || k < 1 || k > MAXLAG || k > previous.cols() || n < 1 || n > MAXSIT ||
      previous.rows() < n || (order != 0 && order != 1) || (order == 0 && xfm > 5))
    return;
  net.code = code;
  if (order == 1 && xfm == 5) {
    net.all_wet = weighted_all_wet(previous, n, k, nullptr);
    return;
  }
  const double* v = values_to_average(previous, n, trace, k, xfm, order, net.nwarn);
  const double* dw[3] = {nullptr, nullptr, nullptr};
  double Wd[3], Sd[3];
  sums<0>(n, &previous(1, k), v, unit_weights(), dw, net.W, net.S, Wd, Sd);
}

void prvtxt(int code, std::string& text) {
  static constexpr std::string_view SCHEME[4] = {"", "Mean of ", "Distance-weighted mean of ",
                                                 "Shift/distance-weighted mean of "};
  static constexpr std::string_view OPEN[6] = {"", "Ln(", "Ln(1+", "I(", "Trace indicator: ", "I(Y[t-k]>0: k=1 to "};
  static constexpr std::string_view CLOSE[6] = {"", ")", ")", ">0)", "", ")"};
  const int k = prvlag(code), xfm = prvxfn(code), scheme = prvwts(code), order = prvord(code);
  if (xfm > 5 || (order != 0 && order != 1)) {
    console().line("****ERROR**** Illegal transformation found in PRVTXT");
    end_run(1);
  }
  std::string label = fmt_a(text, TXTLEN);
  if (xfm == 5) label = fmt_a(fmt_i(k, 2), TXTLEN);
  const auto dbl = label.find("  ");
  label.resize(dbl == std::string::npos ? TXTLEN : dbl);
  const std::string_view w = scheme <= 3 ? SCHEME[scheme] : std::string_view{};
  std::string s;
  if (order == 0) {
    s.append(w).append(OPEN[xfm]).append(label).append(CLOSE[xfm]);
  } else if (xfm == 5) {
    s.append("I(").append(w).append("Y[t-k] > 0: k=1 to ").append(fmt_i(k, 2)).append(")");
  } else {
    s.append(OPEN[xfm]).append(w).append(label).append(CLOSE[xfm]);
  }
  text = fmt_a(s, TXTLEN);
}

void prvrst() {
  Caches& c = caches();
  for (auto& t : c.wt) t = WeightTable{};
  for (auto& t : c.vt) t = ValueTable{};
  c.clock = 0;
}

}  // namespace rg
