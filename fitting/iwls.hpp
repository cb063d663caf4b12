#pragma once
// Maximum-likelihood fitting of the occurrence (logistic) and amount (gamma, log
// link) models by iteratively reweighted least squares over the design store, with
// a guarded step, the gamma dispersion, and the covariance matrix of the estimates
// (a day-clustered sandwich when the model has a spatial dependence structure).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "arrays.hpp"
#include "model.hpp"
#include "record_store.hpp"
#include "stores.hpp"

namespace rg {

// Convergence and safety constants of the iteration.
constexpr double LLFLOOR = -1.0e32;  // log-likelihood of a failed evaluation
constexpr int MAXRED = 10;           // consecutive step reductions before a step is taken anyway
// Convergence tolerance on the change of the log-likelihood between passes (raised
// in proportion for more than 100000 records). Small enough that the printed
// estimates are the maximum-likelihood values to their last decimal; the sums over
// the records are formed in extended precision so that their rounding stays well
// below it.
constexpr double TOLLL = 1.0e-9;

// Asks for the iteration limit: -1 (unlimited) for an empty answer, otherwise the
// integer in the first four characters; an unreadable answer, or a negative one
// other than -1, asks again.
int mxitst();

// Evaluation of one design record whose linear predictor is eta: sets mu, replaces
// a trace value y of an amount by its approximate conditional expectation, and sets
// term to the record's log-likelihood term. Returns FitcalEvent flags; a fitted
// probability of exactly 0 or 1 puts the log-likelihood of the pass at the floor. It
// prints nothing, so that records can be evaluated on several threads.
struct FitcalContext {
  int rsptyp = RSP_AMOUNT;
  int np6 = 0;           // coefficients besides the constant that enter eta
  int iter = 0;          // iteration number
  double trace = 0.0;    // trace threshold B (0: no trace replacement)
  double nuw = 1.0;      // dispersion used for the conditional expectations
};
enum FitcalEvent : unsigned {
  FITCAL_ZERO_ONE = 1,        // fitted probability exactly 0 or 1
  FITCAL_TRACE_SET = 2,       // y was a trace value and has been replaced
  FITCAL_TRACE_HIGH = 4,      // ... by just below the threshold (expectation above it)
  FITCAL_TRACE_NEGATIVE = 8,  // ... by a hundredth of the threshold (expectation not positive)
};

// The single-precision 0.99 by which a trace value whose conditional expectation
// exceeds the threshold is set just below it.
inline const double TRACE_FACTOR = static_cast<double>(0.99f);

// Inline: it runs once per record on every pass.
inline unsigned fitcal(double eta, const FitcalContext& ctx, double& y, double& term, double& mu) {
  unsigned events = 0;
  if (ctx.rsptyp == RSP_OCCURRENCE) {
    // 1/(1 + e^-eta) rounds to exactly 1 for large eta instead of overflowing.
    const double e = std::exp(-std::fabs(eta));
    const double d = 1.0 + e;
    mu = eta >= 0.0 ? 1.0 / d : e / d;
    if (mu == 0.0 || mu == 1.0) events |= FITCAL_ZERO_ONE;
    // log(1 + e^eta) without overflow. log(1 + e) rather than log1p(e): for e below
    // the rounding of 1 + e the term is off by less than 1e-16, far below what the
    // sum over the records can resolve, and log costs half as much.
    const double log1pe = std::max(eta, 0.0) + std::log(d);
    term = (y > 0.0 ? eta : 0.0) - log1pe;
  } else {
    mu = std::exp(eta);
    if (ctx.trace > y) {
      events |= FITCAL_TRACE_SET;
      const double c = ctx.trace * mu * ctx.nuw / (2.0 * mu + ctx.trace * ctx.nuw);
      if (c > ctx.trace) {
        y = TRACE_FACTOR * ctx.trace;
        events |= FITCAL_TRACE_HIGH;
      } else if (!(c > 0.0)) {
        y = ctx.trace / 100.0;
        events |= FITCAL_TRACE_NEGATIVE;
      } else {
        y = c;
      }
    }
    term = -y / mu - eta;
  }
  return events;
}

// The messages of a pass: a fitted probability of 0 or 1 (which ends the run), and
// the two warnings about replaced trace values.
[[noreturn]] void fitted_zero_one();
void trace_warning(unsigned event);

// Parabolic interpolation on the bracket (x0,y0), (x1,y1), (x2,y2): returns the
// length at the vertex and updates the bracket (x2 receives the new length).
double invpar(double& x0, double& y0, double& x1, double& y1, double& x2, double& y2);

// Maximum-likelihood gamma shape: on entry nu is a starting value and ll the
// parameter-dependent part sum(-y/mu - log mu); on exit nu is the estimate and ll
// the gamma log-likelihood less sum(log y). sumlogy = sum(log y).
void mlnues(double& nu, double sumlogy, std::int64_t n, double& ll);

// Day-clustered sandwich: on entry v(1..m+1, 1..m+1) is the inverse information;
// on exit v * B * v with B the sum of outer products of the ndays daily score
// vectors in the sequential store on channel chscore.
void sndwch(Matrix& v, int chscore, int m, std::int64_t ndays, int capacity = MAXPAR);

// Recomputes the design store after the nonlinear parameters in model.theta have
// changed (supplied by the driver, which owns the data file and the site table).
class NlRebuild {
 public:
  virtual ~NlRebuild() = default;
  virtual void rebuild(Model& model) = 0;
};

// What a fit reports besides the model record.
struct IwlsResult {
  int iterations = 0;
  double loglik = 0.0;       // final log-likelihood (gamma: at the ML shape, less sum log y)
  double loglik0 = 0.0;      // at the initial values
  double deviance = 0.0;
  double lr = 0.0;           // 2 (loglik - loglik0)
  double lradj = 0.0;        // dependence-adjusted statistic (spmod != 0)
  double lrscale = 1.0;      // secondary scale factor a/b of the adjusted statistic (NaN: 0/0, not applied)
  double nu_moment = -1.0;   // moment estimate of the gamma shape
  double nu_ml = -1.0;       // maximum-likelihood estimate of the gamma shape
  double maxscore = 0.0;     // largest standardised score and its position (1 = constant)
  int maxscore_pos = 0;
  std::int64_t ndays = 0;    // daily score records
};

// Fits model (type RSP_OCCURRENCE or RSP_AMOUNT) to the nrec records of width m in
// the design store on channel chdes, starting from model.beta. On return model.beta
// holds the estimates, se(0..m) their standard errors, model.nu the dispersion (-1
// for occurrence), setheta the standard errors of estimated nonlinear parameters
// and model.theta their values; the fitted-value store on chfit holds record n's
// fit; the design store is closed. maxit -1 is unlimited. Progress goes to the
// console, the fit summary to the results file on chres. attnam: attribute names
// for the progress reports. Every failure ends the run.
IwlsResult iwls(int rsptyp, Model& model, int m, std::int64_t nrec, int nsites, int site_capacity, int par_capacity,
                Array1<double>& se, Array2<double>& setheta, int maxit, int chdes, int chfit, int chres,
                const Array1<std::string>& attnam, NlRebuild* nl);

// Copies the estimated nonlinear parameters (positions np(6)+1..np(7) of beta) into
// theta and their standard errors into setheta; a parameter beyond 1e8 in
// magnitude ends the run.
void nlupdt(Model& model, const Array1<double>& se, Array2<double>& setheta);

}  // namespace rg
