#pragma once
// Residual analysis of a fit: goodness of fit, the occurrence model's classification
// and calibration tables or the amount model's moments, and mean Pearson residuals
// by month, site and year, with the standard errors of the overall, monthly and
// yearly means inflated for the correlation of the residuals between sites.
#include <cstdint>

#include "sites.hpp"

namespace rg {

// Years of the by-year table; records of other years are left out of it (and said
// so), but counted everywhere else.
constexpr int RESID_FIRST_YEAR = 1870;
constexpr int RESID_LAST_YEAR = 2069;

// Summarises the nrec records of the fitted-value store on channel chfit of a
// model of type rsptyp (RSP_OCCURRENCE or RSP_AMOUNT) with npar estimated
// parameters and dispersion nu (amounts: the moment estimate), and writes the
// analysis to the console and the results file on channel chres. site_capacity
// must be MAXSIT.
void resid(int rsptyp, double nu, int npar, std::int64_t nrec, int chfit, int chres, const SiteTable& sites,
           int nsites, int site_capacity);

}  // namespace rg
