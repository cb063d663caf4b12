// The iteration of the fit: passes over the design store, guarded steps, final
// statistics and the covariance matrix of the estimates.
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "channels.hpp"
#include "console.hpp"
#include "dev_math.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "design_pass.hpp"
#include "iwls.hpp"
#include "nlcurv.hpp"
#include "ordered_chunks.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

std::string label(std::string_view text, int width) { return fmt_a(std::string(5, ' ') + std::string(text), width); }

void summary_lines(std::vector<std::string>& out, int k, double ll, double dev, double score, int pos,
                   std::int64_t nrec, int m) {
  out.clear();
  out.emplace_back();
  out.emplace_back();
  out.push_back(Fields().x(5).t("Results after ").i(k, 3).t(" iterations:").str());
  out.push_back(label("Log-likelihood - ", 34) + fmt_f(ll, 14, 3));
  out.push_back(label("Deviance - ", 34) + fmt_f(dev, 14, 3));
  out.push_back(label("Largest standardised score - ", 38) + fmt_f(score, 10, 4) + "  (parameter " + fmt_i(pos, 3) + ")");
  out.push_back(label("Number of observations - ", 34) + fmt_i(nrec, 14));
  out.push_back(label("No. of parameters estimated - ", 34) + fmt_i(m + 1, 14));
  out.push_back(label("Residual degrees of freedom - ", 34) + fmt_i(nrec - m - 1, 14));
}

std::string dispersion_line(double nu, double nuw) {
  return Fields().x(5).t("Dispersion parameter (NU) - ").f(nu, 9, 6).t(" (ML estimate is ").f(nuw, 9, 6).t(")").str();
}

// Ratio (pivot squared / diagonal) at or below which the information matrix counts
// as singular: exact collinearity leaves rounding noise of order 1e-16 there.
constexpr double SINGULAR_RATIO = 1.0e-11;

[[noreturn]] void singular(int row) {
  Console& con = console();
  con.blank();
  con.line("     ****ERROR**** in routine IWLS, design matrix seems singular.");
  con.line("     Problem found on row " + fmt_i(row, 3) + ". Have you accidentally duplicated a covariate");
  con.line("     that was already defined in another way, or specified a covariate that");
  con.line("     doesn't vary in your data set?");
  end_run(1);
}

// Cholesky factor of a symmetric positive-definite matrix (upper triangle given) in
// place; a failure, or a zero pivot (a singular matrix), is reported as by matinv.
void cholesky(Matrix& a, int n) {
  int ifail = 0;
  choldec(a.view(), n, ifail);
  for (int i = 1; i <= n && ifail == 0; ++i)
    if (a(i, i) == 0.0) ifail = i;
  if (ifail != 0) not_positive_definite(ifail);
}

// Largest moment estimate of the gamma shape that still describes rainfall: beyond it
// the amounts hardly vary about their means (coefficient of variation below 1%), and
// the likelihood grows without bound as the shape does.
constexpr double NUMAX = 1.0e4;
// Full steps that may run into fitted probabilities of exactly 0 or 1 without one
// succeeding in between, before the estimates count as running away.
constexpr int MAXZERO_ONE = 3;
// Iterations without an improvement of the log-likelihood beyond the tolerance after
// which the fit counts as making no progress.
constexpr int MAXSTALL = 50;
// Standard errors from here on do not fit the report's field (7 columns, 4 decimals).
constexpr double SEMAX = 99.99995;

[[noreturn]] void fit_stops(std::initializer_list<std::string> lines) {
  Console& con = console();
  con.blank();
  bool first = true;
  for (const auto& l : lines) {
    con.line(blanks(5) + (first ? "****ERROR**** " : "") + l);
    first = false;
  }
  end_run(1);
}

std::string trimmed(const std::string& s) { return std::string(trim_right(s)); }

}  // namespace

IwlsResult iwls(int rsptyp, Model& model, int m, std::int64_t nrec, int nsites, int site_capacity, int par_capacity,
                Array1<double>& se, Array2<double>& setheta, int maxit, int chdes, int chfit, int chres,
                const Array1<std::string>& attnam, NlRebuild* nl) {
  if (site_capacity != MAXSIT || par_capacity != MAXPAR || nsites > site_capacity || m > par_capacity || m < 0)
    prgerr("IWLS", "fit_both", 1);
  if (maxit < -1) maxit = 0;  // no negative count of iterations: the initial values only
  Console& con = console();
  Channels& chans = channels();
  TextOut& res = chans.output(chres);
  RecordStore& design = chans.store(chdes);
  RecordStore& fitted = chans.store(chfit);
  DesignPass pass(design, m, nrec, pass_threads());
  PassResult sums;
  IwlsResult out;

  const int n = m + 1;  // order of the work matrices; parameter j sits in row j + 1
  const int np6 = model.np(6);
  const int np7 = model.np(7);
  const bool nonlinear = np7 > np6;
  if (nonlinear && nl == nullptr) prgerr("IWLS", "fit_both", 3);
  Array1<double>& beta = model.beta;

  // Set-up.
  double tau = TOLLL;
  if (nrec > 100000) tau = TOLLL * static_cast<double>(nrec) / 100000.0;
  double ll = LLFLOOR, llprev = LLFLOOR, llbest = LLFLOOR, ll0 = 0.0, delta = 1.0e32;
  int k = 0, r = 0;
  bool final = false, record = false, rebuild = true;
  bool factored = false;  // a holds the Cholesky factor of the current information
  // Guards against a fit that never ends: full steps that ran into fitted 0 or 1 in a
  // row, and the best log-likelihood with the iteration that reached it.
  bool full_trial = false;
  int zero_one = 0;
  double top = -std::numeric_limits<double>::infinity();
  int top_k = 0;
  double sumlogy = 0.0, pearson = 0.0, nuw = model.nu;
  long double slogy = 0.0L;  // sums over the records are kept in extended precision
  if (rsptyp == RSP_OCCURRENCE) model.nu = -1.0;
  double postiv = 0.0, trace = 0.0;
  int kind = 0;
  taudef(model, postiv, trace, kind);
  int chscore = 0;
  if (model.spmod != 0) {
    chscore = 85;
    scropn("SEQUENTIAL", "UNFORMATTED", 0, chscore);
  }
  Array1<double> beta0(0, MAXPAR);
  for (int j = 0; j <= m; ++j) beta0(j) = beta(j);

  Matrix a(n, n);
  // With estimated nonlinear parameters the steps solve with the information
  // corrected for their curvature; afull keeps the information the factor replaces.
  std::optional<NlCurvature> curvature;
  Matrix afull;
  Array1<double> phi;
  if (nonlinear) {
    curvature.emplace(n, np6 + 2);
    afull = Matrix(n, n);
    phi = Array1<double>(1, n);
  }
  Array1<double> xwz(1, n), score(1, n), sqdiag(1, n), betaold(1, n), step(1, n), sol(1, n);
  double x0 = 0.0, x1 = 1.0, x2 = 1.0, y0 = 0.0, y1 = 0.0, y2 = 0.0;  // step bracket; x2 is the step length
  double maxscore = 0.0, deviance = 0.0;
  int maxpos = 1;
  std::int64_t ndays = 0;
  int passes = 0;
  std::vector<std::string> block;
  FitcalContext ctx;
  ctx.rsptyp = rsptyp;
  ctx.np6 = np6;
  ctx.trace = trace;

  for (;;) {
    // --- One pass over the design store at the current beta.
    if (r == 0) llprev = llbest = ll;
    ndays = 0;
    // The gamma information does not change between passes, but a pass that stopped
    // before factorising it leaves it to be formed again.
    rebuild = !(passes >= 1 && rsptyp == RSP_AMOUNT && !nonlinear) || !factored;
    if (rebuild) {
      a.fill(0.0);
      factored = false;
    }
    if (!final) chkmdl(model, attnam, 2, rsptyp, chres);
    record = final || std::fabs(delta) < 100.0 * tau || (maxit >= 0 && k >= maxit);
    ctx.iter = k;
    ctx.nuw = nuw;
    PassRequest req;
    req.ctx = ctx;
    req.np7 = np7;
    req.information = rebuild;
    req.logy = rsptyp == RSP_AMOUNT && (k == 0 || trace > 0.0);
    pass.run(req, beta, sums, record ? &fitted : nullptr,
             record && chscore != 0 ? &chans.sequential(chscore) : nullptr);
    // The warnings of the pass, in the order of the records that first gave them.
    if (sums.trace_high_at != 0 && (sums.trace_negative_at == 0 || sums.trace_high_at < sums.trace_negative_at)) {
      trace_warning(FITCAL_TRACE_HIGH);
      if (sums.trace_negative_at != 0) trace_warning(FITCAL_TRACE_NEGATIVE);
    } else if (sums.trace_negative_at != 0) {
      trace_warning(FITCAL_TRACE_NEGATIVE);
      if (sums.trace_high_at != 0) trace_warning(FITCAL_TRACE_HIGH);
    }
    const bool failed = sums.zero_one_at != 0;
    if (failed && k == 0) fitted_zero_one();
    for (int j = 1; j <= n; ++j) {
      xwz(j) = sums.xwz[static_cast<std::size_t>(j - 1)];
      score(j) = sums.score[static_cast<std::size_t>(j - 1)];
    }
    if (rebuild)
      for (int l = 1; l <= n; ++l)
        for (int j = 1; j <= l; ++j)
          a(j, l) = sums.info[static_cast<std::size_t>(l - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(j - 1)];
    if (record) ndays = sums.ndays;
    long double llsum = sums.ll, psum = sums.pearson;
    if (req.logy) slogy = sums.logy;
    ++passes;
    ll = static_cast<double>(llsum);
    pearson = static_cast<double>(psum);
    sumlogy = static_cast<double>(slogy);
    if (full_trial) {
      // Each time a full step has pushed fitted probabilities to 0 or 1 the reduced
      // steps creep a little further out: the estimates run away instead of converging.
      zero_one = failed ? zero_one + 1 : 0;
      if (zero_one >= MAXZERO_ONE) {
        std::string moves;  // the covariate whose coefficient moves most
        for (int j = 2, big = 0; j <= np6 + 1; ++j)
          if (big == 0 || std::fabs(step(j)) > std::fabs(step(big))) moves = trimmed(model.covtxt((big = j) - 1));
        fit_stops({"The estimates run away: at iteration " + fmt_i(k, 3) + " a full step gives fitted",
                   "probabilities of exactly 0 or 1 for the " + std::to_string(MAXZERO_ONE) +
                       "rd time running. The data separate wet",
                   "from dry days, so no finite estimates exist." +
                       (moves.empty() ? std::string() : " The coefficient moving most is"),
                   moves.empty() ? "Try a simpler model." : "that of " + moves + ": remove or merge that covariate."});
      }
    }

    if (!failed) {
      // Deviance and dispersion.
      if (rsptyp == RSP_OCCURRENCE) {
        deviance = -2.0 * ll;
      } else {
        deviance = -2.0 * (ll + sumlogy + static_cast<double>(nrec));
        double q = static_cast<double>(nrec - m - 1) / pearson;
        model.nu = q > -1.0e11 ? q : 0.0;
        if (!(model.nu <= NUMAX))
          fit_stops({"At iteration " + fmt_i(k, 3) + " the amounts hardly vary about their fitted means",
                     "(dispersion estimate " + (std::isfinite(model.nu) ? fmt_e(model.nu, 10, 3) : std::string("infinite")) +
                         "), so the gamma shape cannot be estimated.",
                     "Are the wet-day amounts in the data file all (nearly) equal?"});
        nuw = model.nu;
        mlnues(nuw, sumlogy, nrec, ll);
      }
      // A log-likelihood of minus infinity is a trial step gone too far, which the step
      // reduction below takes back; at the initial values there is nothing to go back to.
      if (std::isnan(ll) || (ll > 0.0 && std::isinf(ll)) || (k == 0 && !std::isfinite(ll)))
        fit_stops({"At iteration " + fmt_i(k, 3) + " the log-likelihood is not a finite number, so the fit",
                   "cannot go on. Check the starting values in the model definition and the",
                   "covariates for extreme values."});
      if (ll > top + tau) {
        top = ll;
        top_k = k;
      } else if (k - top_k >= MAXSTALL) {
        fit_stops({"No progress: the log-likelihood has not improved for " + std::to_string(MAXSTALL) + " iterations.",
                   "Try other starting values or a simpler model."});
      }
      if (k == 0) ll0 = ll;
      delta = ll - llprev;

      // Termination.
      if (!final && ((std::fabs(delta) <= tau && r == 0) || (k == maxit && ll >= llbest) || (maxit != -1 && k > maxit))) {
        final = true;
        if (!record) continue;  // once more at the same beta, writing the stores
      }

      // Factorisation and the largest standardised score.
      if (rebuild) {
        for (int j = 1; j <= n; ++j) sqdiag(j) = std::sqrt(a(j, j));
        for (int j = 1; j <= n; ++j)
          for (int i = 1; i < j; ++i) a(j, i) = a(i, j);
        if (curvature) {
          for (int j = 1; j <= n; ++j) phi(j) = beta(j - 1);
          curvature->observe(phi, score, a);
          afull = a;
        }
        int ifail = 0;
        choldec(a.view(), n, ifail);
        if (ifail != 0) singular(ifail);
        for (int i = 1; i <= n; ++i)
          if (!(a(i, i) * a(i, i) > SINGULAR_RATIO * sqdiag(i) * sqdiag(i))) singular(i);
        factored = true;
      }
      maxscore = 0.0;
      maxpos = 1;
      for (int j = 1; j <= n; ++j) {
        double s = score(j) / sqdiag(j);
        if (std::fabs(s) > std::fabs(maxscore)) {
          maxscore = s;
          maxpos = j;
        }
      }
    }

    // Report.
    ll = std::max(ll, LLFLOOR);
    summary_lines(block, k, ll, deviance, maxscore, maxpos, nrec, m);
    for (const auto& line : block) con.line(line);
    res.line(Fields().x(5).t("Iteration ").i(k, 4).t(": Log-likelihood=").f(ll, 14, 3).str());
    if (rsptyp == RSP_AMOUNT) con.line(dispersion_line(model.nu, nuw));
    if (final) break;

    ++k;
    con.blank();
    con.blank();
    con.blank();
    if (maxit == -1 || k <= maxit) con.line("Beginning iteration " + fmt_i(k, 3));
    else con.line("Recalculating best estimates found ...");

    // Step.
    if (ll > llbest || r == MAXRED || k <= 1) {
      // A pass cut short by a fitted probability of 0 or 1 left no usable system to
      // solve: the fit cannot go on from that point.
      if (failed) fitted_zero_one();
      x0 = 0.0;
      x1 = 1.0;
      x2 = 1.0;
      y0 = ll;
      for (int j = 1; j <= n; ++j) {
        betaold(j) = beta(j - 1);
        sol(j) = xwz(j);
      }
      if (curvature && curvature->step(afull, score, sol)) {
        for (int j = 1; j <= n; ++j) sol(j) += betaold(j);
      } else {
        utsolv(a.view(), sol.view(), sol.view(), 0, n);
        utsolv(a.view(), sol.view(), sol.view(), 1, n);
      }
      for (int j = 1; j <= n; ++j) {
        step(j) = sol(j) - betaold(j);
        beta(j - 1) = sol(j);
      }
      r = 0;
      full_trial = true;
    } else {
      full_trial = false;
      // The step lowered the likelihood: shorten it, and start the curvature
      // estimate afresh from the points that follow.
      if (curvature) curvature->forget();
      ++r;
      if (r == 1) y1 = ll;
      else y2 = ll;
      double s = x2;
      for (int j = 1; j <= n; ++j) {
        beta(j - 1) -= step(j);
        step(j) /= s;
      }
      if (maxit == -1 || k <= maxit) {
        double wlen;
        if (r == 1) {
          wlen = 0.5;
        } else if (ll > LLFLOOR) {
          wlen = invpar(x0, y0, x1, y1, x2, y2);
          if (wlen < 0.0) wlen = x1 / 10.0;
          if (wlen > x1 || !std::isfinite(wlen)) wlen = x1 / 2.0;
        } else {
          wlen = s / 100.0;
        }
        x2 = wlen;
        con.line("Reducing step size to " + fmt_f(100.0 * wlen, 7, 3) + "% of original");
      } else {
        x2 = 0.0;
      }
      for (int j = 1; j <= n; ++j) {
        step(j) *= x2;
        beta(j - 1) += step(j);
      }
    }

    for (int j = 0; j <= m; ++j)
      if (!std::isfinite(beta(j)))
        fit_stops({"At iteration " + fmt_i(k, 3) + " the step gives an estimate that is not a finite",
                   "number, so the fit cannot go on. Check the starting values in the model",
                   "definition and the covariates for extreme values."});
    if (nonlinear && maxit != 0) {
      nlupdt(model, se, setheta);
      nl->rebuild(model);
    }
  }

  // --- After the iteration.
  if (!record) {
    con.line("     ****ERROR**** Scratch file #2 not written properly in routine");
    con.line("IWLS. This is a programming error - contact DEV.");
    end_run(1);
  }
  for (const auto& line : block) res.line(line);
  double scale = 1.0;
  if (rsptyp == RSP_AMOUNT) {
    double q = static_cast<double>(nrec - m - 1) / pearson;
    model.nu = q > -1.0e11 ? q : 0.0;
    res.line(dispersion_line(model.nu, nuw));
    scale = model.spmod != 0 ? 1.0 : 1.0 / std::sqrt(model.nu);
  }
  out.lr = 2.0 * (ll - ll0);
  std::string lrline = label("Likelihood ratio statistic (initial vs final) - ", 54) + fmt_f(out.lr, 10, 4);
  con.line(lrline);
  res.line(lrline);

  con.line(" Computing covariance matrix of estimates ...");
  Matrix uinv(n, n);
  if (model.spmod != 0) utinv(a.view(), uinv.view(), n);
  Matrix cov = a;  // the factor; inverted in place
  matinv(cov.view(), n, 0, 1);
  if (model.spmod != 0) {
    sndwch(cov, chscore, m, ndays, par_capacity);
    // Dependence-adjusted likelihood ratio.
    Matrix h = cov;
    matinv(h.view(), n, 1, 1);  // H_A = V_A^-1
    Matrix ua = h;
    for (int j = 1; j <= n; ++j)
      for (int i = j + 1; i <= n; ++i) ua(i, j) = 0.0;
    cholesky(ua, n);
    Matrix c(n, n);
    double cscale = rsptyp == RSP_AMOUNT ? 1.0 / std::sqrt(model.nu) : 1.0;
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= j; ++i) {
        double s = 0.0;
        for (int l = i; l <= j; ++l) s += uinv(i, l) * ua(l, j);
        c(i, j) = s * cscale;
      }
    std::vector<int> zero;
    for (int j = 0; j <= np6; ++j)
      if (std::fabs(beta0(j)) < 1.0e-12) zero.push_back(j);
    Array1<double> g(1, n), bstar(0, MAXPAR);
    for (int j = 1; j <= n; ++j) g(j) = beta0(j - 1) - beta(j - 1);
    for (int i = 1; i <= n; ++i) {
      double s = 0.0;
      for (int j = i; j <= n; ++j) s += c(i, j) * g(j);
      bstar(i - 1) = beta(i - 1) + s;
    }
    con.line(" Computing dependence-adjusted likelihood ratio ...");
    PassRequest star;
    star.ctx.rsptyp = rsptyp;
    star.ctx.np6 = np6;
    star.ctx.iter = k + 1;
    star.ctx.trace = 0.0;
    star.sums = false;
    star.stop_at_zero_one = false;
    pass.run(star, bstar, sums);
    long double llacc = sums.ll;
    double llstar = static_cast<double>(llacc);
    if (rsptyp == RSP_AMOUNT) {
      double nustar = model.nu;
      mlnues(nustar, sumlogy, nrec, llstar);
    }
    llstar = std::max(llstar, LLFLOOR);
    double ratio = 1.0;
    if (!zero.empty()) {
      const int nz = static_cast<int>(zero.size());
      Matrix vz(nz, nz);
      Array1<double> bz(1, nz);
      for (int i = 1; i <= nz; ++i) {
        bz(i) = beta(zero[static_cast<std::size_t>(i - 1)]);
        for (int j = 1; j <= nz; ++j)
          vz(i, j) = cov(zero[static_cast<std::size_t>(i - 1)] + 1, zero[static_cast<std::size_t>(j - 1)] + 1);
      }
      matinv(vz.view(), nz, 1, 1);
      double qa = 0.0;
      for (int i = 1; i <= nz; ++i)
        for (int j = 1; j <= nz; ++j) qa += bz(i) * vz(i, j) * bz(j);
      double qb = 0.0;
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) qb += g(i) * h(i, j) * g(j);
      // Both forms vanish when the estimates equal the initial values: the scale
      // factor is then 0/0, undefined, and is said to be so rather than invented.
      ratio = qb > 0.0 ? qa / qb : std::numeric_limits<double>::quiet_NaN();
    }
    const bool undefined = std::isnan(ratio);
    out.lrscale = ratio;
    out.lradj = (undefined ? 1.0 : ratio) * 2.0 * (ll - llstar);
    std::string adj = label("Dependence-adjusted LR statistic - ", 54) + fmt_f(out.lradj, 10, 4);
    con.line(adj);
    res.line(adj);
    std::vector<std::string> nb;
    if (undefined) {
      nb = {Fields().x(8).t("NB secondary adjustment for hypothesis testing").str(),
            Fields().x(8).t("(initial coefficient vector contained zeroes)").str(),
            Fields().x(8).t("is undefined (0/0) and was not applied.").str()};
    } else if (!zero.empty()) {
      nb = {Fields().x(8).t("NB incorporates secondary adjustment for").str(),
            Fields().x(8).t("hypothesis testing, since initial coefficient").str(),
            fmt_a(std::string(8, ' ') + "vector contained zeroes: scale factor was", 57) + fmt_f(ratio, 7, 5)};
    }
    for (const auto& l : nb) {
      con.line(l);
      res.line(l);
    }
  }
  if (rsptyp == RSP_AMOUNT && trace > 0.0) {
    for (const char* l : {"", "     ****WARNING**** Computation of likelihood ratio statistics may be",
                          "     inaccurate, because trace values have been replaced by their",
                          "     approximate conditional expectations."}) {
      con.line(l);
      res.line(l);
    }
  }
  for (int i = 0; i < 3; ++i) {
    res.line("");
    con.blank();
  }
  // The limit counts as reached also when the last pass re-evaluated the best point
  // after it.
  if (maxit >= 0 && k >= maxit) {
    res.line("");
    res.line("     ****WARNING**** Reached maximum number of iterations.");
  }
  chans.close(chdes);
  if (chscore != 0) chans.close(chscore);

  for (int j = 0; j <= m; ++j) se(j) = std::sqrt(cov(j + 1, j + 1)) * scale;
  // A coefficient whose standard error does not fit its field in the report is not
  // identified by the data; typically the fitted probabilities are 0 or 1 for a whole
  // class (a month without rain, with its indicator in the model).
  for (int j = 0; j <= np6; ++j) {
    if (se(j) < SEMAX) continue;
    for (const auto& l : {std::string(), "     ****WARNING**** The coefficient of " + trimmed(model.covtxt(j)),
                          std::string("     is not identified by the data: its standard error is too large to print."),
                          std::string("     Perhaps the fitted values are 0 or 1 for a whole class of days (a month"),
                          std::string("     without rain, with its indicator in the model).")}) {
      con.line(l);
      res.line(l);
    }
  }
  if (nonlinear) nlupdt(model, se, setheta);
  out.nu_moment = rsptyp == RSP_AMOUNT ? model.nu : -1.0;
  out.nu_ml = rsptyp == RSP_AMOUNT ? nuw : -1.0;
  if (rsptyp == RSP_AMOUNT && trace > 0.0) model.nu = nuw;
  out.iterations = k;
  out.loglik = ll;
  out.loglik0 = ll0;
  out.deviance = deviance;
  out.maxscore = maxscore;
  out.maxscore_pos = maxpos;
  out.ndays = ndays;
  return out;
}

}  // namespace rg
