// Covariate vector assembly: dispatches every covariate of a model to its family,
// forms the interactions and the derivative columns of the estimated nonlinear
// parameters, and marks the sites whose covariates cannot be formed on the day.
#include "covset.hpp"

#include <array>

#include "effects.hpp"
#include "external.hpp"
#include "files.hpp"
#include "prevday.hpp"

namespace rg {

namespace {

// Covariate codes at or above this in the annual, monthly and daily groups name an
// external predictor (code - 50).
constexpr int EXTERNAL_BASE = 51;
// Daily codes at or below this are previous-day predictors, evaluated per site.
constexpr int LAST_PREVDAY = MAXLAG;

// Kept between calls and shared by all models: the date of the last call and whether
// the external predictors of the current year, month and day are missing.
struct State {
  int oldyr = 0, oldmn = 0;
  int ymiss = 0, mmiss = 0, dmiss = 0;
};
State& state() {
  static State s;
  return s;
}

inline int effect(int code) { return (code < 0 ? -code : code) % 1000; }

// The external predictors of one group on one date: a single missing value makes
// the date missing for the whole group.
struct ExternalGroup {
  int kind;
  bool seen = false, missing = false;

  double value(int code, int dd, int mm, int yy) {
    double v = 0.0;
    int miss = 0;
    extset(kind, effect(code) - 50, dd, mm, yy, code / 1000, v, miss);
    seen = true;
    missing = missing || miss == 1;
    return v;
  }
  // Sets the group's marker, unless no predictor of the group was read.
  void settle(int& marker) const {
    if (seen) marker = missing ? 1 : 0;
  }
};
inline bool prevday(int code) { return code >= 0 && effect(code) <= LAST_PREVDAY; }

[[noreturn]] void capacity() { prgerr(" COVSET", "glm_base", 1); }

// Stops on a record or arrays that the assembly cannot index safely.
void check(const Matrix& covs, const Model& m, const SiteTable& sites, const Matrix& previous,
           const Array1<int>& missing) {
  const int n = sites.nsites;
  if (n < 0 || n > MAXSIT) capacity();
  int last = 0;
  for (int g = 1; g <= 6; ++g) {
    if (m.np(g) < last || m.np(g) > MAXPAR) capacity();
    last = m.np(g);
  }
  if (m.np(7) != 0 && (m.np(7) < m.np(6) || m.np(7) > MAXPAR)) capacity();
  if (m.mxlag < 0 || m.mxlag > MAXLAG) capacity();
  if (covs.rows() < n || covs.cols() < m.npar()) capacity();
  if (previous.rows() < n || previous.cols() < m.mxlag) capacity();
  if (missing.lo() > 1 || missing.hi() < n) capacity();
  for (int k = 1; k <= m.np(1); ++k)
    if (m.covcod(k) < 1 || m.covcod(k) > MAXATT) capacity();
  for (int j = m.np(4) + 1; j <= m.np(5); ++j)
    for (int q = 1; q <= 2; ++q)
      if (m.twoway(j, q) < 1 || m.twoway(j, q) > m.np(4)) capacity();
  for (int j = m.np(5) + 1; j <= m.np(6); ++j)
    for (int q = 1; q <= 3; ++q)
      if (m.thrway(j, q) < 1 || m.thrway(j, q) > m.np(4)) capacity();
  for (int j = m.np(3) + 1; j <= m.np(4); ++j)
    if (prevday(m.covcod(j)) && effect(m.covcod(j)) > previous.cols()) capacity();
}

// Stores the derivatives d(1..3) of covariate n in the rows of the nonlinear-
// parameter entries that estimate its parameters.
void store_derivatives(Model& m, int n, const double* d) {
  for (int v = m.np(6) + 1; v <= m.np(7); ++v) {
    const int c = m.covcod(v);
    const int p = c % 1000;
    if (c / 1000 == n && p >= 1 && p <= MAXNLP) m.theta(v, p) = d[p - 1];
  }
}

void fill_column(Matrix& covs, int col, int n, double value) {
  for (int s = 1; s <= n; ++s) covs(s, col) = value;
}

}  // namespace

void covset(Matrix& covs, Model& m, const SiteTable& sites, int yy, int mm, int dd, const Matrix& previous,
            double trace, int parmod, int force, Array1<int>& missing, int icheck, int stpmis, int rstflg) {
  check(covs, m, sites, previous, missing);
  State& st = state();
  const int n = sites.nsites;
  const bool ponly = parmod >= 1, forced = force == 1, stop = stpmis == 1;
  const bool reset = rstflg == 1 || rstflg == 2, skip_flagged = rstflg != 1;
  const int g1 = m.np(1), g2 = m.np(2), g3 = m.np(3), g4 = m.np(4), g5 = m.np(5), g6 = m.np(6);
  const int g7 = m.np(7) != 0 ? m.np(7) : g6;

  // Per main effect: its weighting scheme when it is a previous-day average, and
  // whether its value moves with the nonlinear parameters.
  std::array<int, MAXPAR + 1> scheme{};
  std::array<bool, MAXPAR + 1> estimated{};  // previous-day average with an estimated parameter
  std::array<bool, MAXPAR + 1> moves{};
  for (int j = 1; j <= g4; ++j) {
    if (j > g3 && prevday(m.covcod(j))) {
      const int s = prvwts(m.covcod(j));
      scheme[j] = s;
      estimated[j] = s != 0 && (m.pwtidx(s, 2) != 0 || m.pwtidx(s, 3) != 0 || m.pwtidx(s, 4) != 0);
    }
    // A covariate sharing another one's weighting parameters has none in its own
    // row, yet moves with them.
    moves[j] = isdef(m.theta(j, 1)) || estimated[j];
  }

  if (rstflg == 1)
    for (int s = 1; s <= n; ++s) missing(s) = 0;

  // Annual covariates, recomputed when the year changes.
  static Array1<double> trend(1, 3, 0.0);
  ExternalGroup annual{EXT_ANNUAL};
  for (int j = g1 + 1; j <= g2; ++j) {
    if (ponly && !isdef(m.theta(j, 1))) continue;
    if (yy == st.oldyr && !forced) continue;
    const int code = m.covcod(j);
    const int e = effect(code);
    double value = 0.0, d[3] = {0.0, 0.0, 0.0};
    if (e < EXTERNAL_BASE) {
      trendsb(trend, yy, j, e, m.theta, icheck, MAXPAR);
      value = trend(1);
      d[0] = trend(2);
      d[1] = trend(3);
    } else {
      value = annual.value(code, dd, mm, yy);
    }
    fill_column(covs, j, n, value);
    store_derivatives(m, j, d);
  }
  // One missing predictor of several makes the year missing.
  annual.settle(st.ymiss);
  st.oldyr = yy;

  if (!ponly) {
    // Monthly covariates, recomputed when the month changes.
    ExternalGroup monthly{EXT_MONTHLY};
    for (int j = g2 + 1; j <= g3; ++j) {
      if (mm == st.oldmn && !forced) continue;
      const int code = m.covcod(j);
      const int e = effect(code);
      double value = 0.0;
      if (e < EXTERNAL_BASE) {
        monsb(value, mm, yy, e);
      } else {
        value = monthly.value(code, dd, mm, yy);
      }
      fill_column(covs, j, n, value);
    }
    monthly.settle(st.mmiss);

    // Daily covariates common to all sites, every day.
    ExternalGroup daily{EXT_DAILY};
    for (int j = g3 + 1; j <= g4; ++j) {
      const int code = m.covcod(j);
      if (prevday(code)) continue;
      const int e = effect(code);
      double value = 0.0;
      if (e < EXTERNAL_BASE) {
        std::array<double, 4> r{};
        dyset(dd, mm, yy, previous, 1, trace, code, m.theta, m.pwtidx, sites, icheck, r);
        value = r[0];
      } else {
        value = daily.value(code, dd, mm, yy);
      }
      fill_column(covs, j, n, value);
    }
    daily.settle(st.dmiss);
  }
  st.oldmn = mm;

  // A day without its external predictors has no covariates. Parameter-only mode
  // refreshes days whose covariates were formed before and does not look at the
  // external predictors, so the markers (left by another date) say nothing there.
  if (!ponly && (st.ymiss == 1 || st.mmiss == 1 || st.dmiss == 1)) {
    if (reset)
      for (int s = 1; s <= n; ++s) missing(s) = 1;
    if (stop) readerr("", yy * 10000 + mm * 100 + dd, 60);
    return;
  }

  // An equal-weight mean over the network is the same at every site of the day:
  // its sums are formed once here, not once per site.
  // Only the daily entries are used: the others are not cleared, which on a small
  // network would cost more than the sums.
  thread_local std::array<NetworkMean, MAXPAR + 1> net;
  for (int j = g3 + 1; j <= g4; ++j) {
    const int code = m.covcod(j);
    if (prevday(code) && scheme[j] == 1 && (!ponly || estimated[j])) prvnet(previous, n, trace, code, net[j]);
    else net[j] = NetworkMean{};
  }

  // What the loop over the sites does not need to find out again at every site: the
  // previous-day covariates to form, and whether the attributes have derivatives
  // to store (only with nonlinear-parameter entries).
  std::array<int, MAXPAR + 1> prev_cols;
  int nprev = 0;
  for (int j = g3 + 1; j <= g4; ++j)
    if (prevday(m.covcod(j)) && (!ponly || estimated[j])) prev_cols[static_cast<std::size_t>(nprev++)] = j;
  const bool attr_derivs = m.np(7) > m.np(6);

  for (int s = 1; s <= n; ++s) {
    if (skip_flagged && missing(s) == 1) continue;

    // Site attributes.
    for (int k = 1; k <= g1; ++k) {
      if (ponly && !isdef(m.theta(k, 1))) continue;
      const int col = m.covcod(k);
      covs(s, k) = sites.sitinf(s, col, 1);
      if (!attr_derivs) continue;
      const double d[3] = {sites.sitinf(s, col, 2), sites.sitinf(s, col, 3), sites.sitinf(s, col, 4)};
      store_derivatives(m, k, d);
    }

    // The history needed by the previous-day predictors must be complete.
    bool complete = true;
    for (int l = 1; l <= m.mxlag; ++l)
      if (previous(s, l) < 0.0) complete = false;
    if (!complete) {
      if (reset) missing(s) = 1;
      continue;
    }

    // Previous-day predictors. Derivatives with respect to the weighting parameters
    // go to the estimating entry's row for the scheme's owner, to the covariate's own
    // row for the others sharing the scheme.
    for (int q = 0; q < nprev; ++q) {
      const int j = prev_cols[static_cast<std::size_t>(q)];
      const int code = m.covcod(j);
      std::array<double, 4> r{};
      dyset(dd, mm, yy, previous, s, trace, code, m.theta, m.pwtidx, sites, icheck, r, &net[j]);
      covs(s, j) = r[0];
      const int w = scheme[j];
      if (w == 0) continue;
      for (int p = 1; p <= MAXNLP; ++p) {
        const int e = m.pwtidx(w, p + 1);
        if (e == 0) continue;
        if (j == m.pwtidx(w, 1)) m.theta(e, p) = r[p];
        else m.theta(j, p) = r[p];
      }
    }

    // Interactions.
    for (int j = g4 + 1; j <= g5; ++j) {
      const int a = m.twoway(j, 1), b = m.twoway(j, 2);
      if (ponly && !moves[a] && !moves[b]) continue;
      covs(s, j) = covs(s, a) * covs(s, b);
    }
    for (int j = g5 + 1; j <= g6; ++j) {
      const int a = m.thrway(j, 1), b = m.thrway(j, 2), c = m.thrway(j, 3);
      if (ponly && !moves[a] && !moves[b] && !moves[c]) continue;
      covs(s, j) = covs(s, a) * covs(s, b) * covs(s, c);
    }

    // Derivative of the linear predictor with respect to each estimated parameter.
    for (int v = g6 + 1; v <= g7; ++v) {
      const int j = m.covcod(v) / 1000, p = m.covcod(v) % 1000;
      const double cj = nlcntr(j, m, covs, s);
      if (p < 1 || p > MAXNLP) capacity();
      const int w = scheme[j];
      if (w == 0) {
        covs(s, v) = m.theta(v, p) * cj;
        continue;
      }
      // A weighting parameter: summed over every covariate of the scheme. The
      // owner's derivative is in this entry's row, the others' in their own rows.
      const int owner = m.pwtidx(w, 1);
      if (owner < 1 || owner > g4) capacity();
      double sum = m.theta(v, p) * (owner == j ? cj : nlcntr(owner, m, covs, s));
      for (int l = g3 + 1; l <= g4; ++l)
        if (l != owner && scheme[l] == w) sum += m.theta(l, p) * nlcntr(l, m, covs, s);
      covs(s, v) = sum;
    }
  }
}

bool sites_assemble_alone(const Model& m) {
  if (m.np(7) > m.np(6)) return false;
  for (int w = 1; w <= 3; ++w)
    for (int p = 2; p <= 4; ++p)
      if (m.pwtidx(w, p) != 0) return false;
  for (int j = m.np(3) + 1; j <= m.np(4); ++j)
    if (prevday(m.covcod(j)) && prvxfn(m.covcod(j)) == 1) return false;
  return true;
}

void covrst() { state() = State{}; }

void install_covariate_texts() {
  CovariateTextHooks& hooks = covariate_text_hooks();
  hooks.prvtxt = prvtxt;
  hooks.extlabel = extlabel;
}

}  // namespace rg
