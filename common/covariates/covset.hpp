#pragma once
// Covariate vector assembly: the value of every covariate of one model at every site
// for one day, the derivative columns of the estimated nonlinear parameters, and
// which sites have a usable covariate vector on the day.
#include "arrays.hpp"
#include "model.hpp"
#include "sites.hpp"

namespace rg {

// Fills covs(site, covariate) for sites 1..sites.nsites on day dd/mm/yy.
//
//   previous  history, previous(site, lag) for lags 1..10 (negative = missing)
//   trace     trace threshold (global quantity kind 1) for trace indicators
//   parmod    >= 1: parameter-only mode, recompute only what depends on nonlinear
//             parameters; the other cells keep what the caller put there
//   force     1: recompute the annual and monthly covariates even when the year or
//             month is the one of the last call
//   missing   per-site flag, 1 = no usable covariate vector on the day; sites
//             flagged on entry are skipped unless rstflg is 1
//   icheck    0: verify parameter counts (first evaluation)
//   stpmis    1: a missing external predictor value stops the run
//   rstflg    1: clear the flags first, and flag the sites whose vector cannot be
//             formed; 2: the same for the sites not flagged on entry, while the
//             flagged ones are left out (their cells are not computed)
//
// Cells that are not recomputed keep their previous contents. The derivatives of
// covariates with respect to their parameters are kept between calls in m.theta, in
// the rows of the nonlinear-parameter entries (np(6)+1..np(7)) and of previous-day
// covariates that share another covariate's weighting scheme. The year and month of
// the last call are shared by all models (see covrst).
void covset(Matrix& covs, Model& m, const SiteTable& sites, int yy, int mm, int dd, const Matrix& previous,
            double trace, int parmod, int force, Array1<int>& missing, int icheck, int stpmis, int rstflg);

// True when assembling a site neither prints anything nor leaves anything in the
// model record (no estimated nonlinear parameters, no logarithm of a previous-day
// value that may warn): then leaving sites out with rstflg 2 changes nothing for
// the others.
bool sites_assemble_alone(const Model& m);

// Start-of-run state of the assembly: no year or month seen, no external predictor
// missing.
void covrst();

// Installs the builders of the previous-day and external-predictor descriptions in
// the model report; drivers call it once at start-up, before txtset.
void install_covariate_texts();

}  // namespace rg
