#pragma once
// Covariates that depend on neither the response history nor external files:
// transformed site attributes (with orthogonal-series expansions), long-term trends,
// monthly effects and daily seasonal effects.
#include <string>

#include "arrays.hpp"
#include "model.hpp"
#include "sites.hpp"

namespace rg {

constexpr double PI = 3.141592653589793;

// Site-attribute covariates w = 1..np(1). Every covariate with a transformation code
// sitxfm(w,2) > 0 gets the next derived column of the site table, nattr+1, nattr+2,
// ... in covariate order; covcod(w) becomes that column, sitinf(.,column,1) its value
// at every site, layers 2..4 the derivatives with respect to the transformation's
// parameters 1..3 (zero where there is none), and attnam(column) its 70-character
// text. nattr (the raw attributes) is not changed, so a repeated call after a change
// of nonlinear parameters reuses the same columns. icheck 0 verifies the parameter
// count of every row used. Faults (missing series limits, Box-Cox of a non-positive
// value, unknown transformation codes, too many columns) stop the run.
void attrxfm(const std::string& mdltit, Array3<double>& sitinf, int nsites, Array1<std::string>& attnam, int nattr,
             Array1<int>& covcod, const Array2<int>& sitxfm, const Array1<int>& fouidx, const Array1<int>& legidx,
             const Array2<double>& theta, const Array1<int>& np, int icheck, int maxsit, int maxpar);
// The same on a model record and a site table (call after mdlset and the spatial
// structure check, before txtset).
void attrxfm(Model& m, SiteTable& sites, int icheck);

// Trend `code` (1 linear, 2 linear after a changepoint, 3 cyclical) of covariate
// `covno` in year yy: result(1) value, result(2) and result(3) derivatives with
// respect to the covariate's parameters 1 and 2 (theta(covno,1..2)). result must
// hold indices 1..3. icheck 0 verifies the parameter count first.
void trendsb(Array1<double>& result, int yy, int covno, int code, const Array2<double>& theta, int icheck, int maxpar);

// Monthly effect `code` (1-4 harmonics, 11-22 month indicators) in month mm.
void monsb(double& result, int mm, int yy, int code);

// Day of the year with every year treated as a leap year: 1 March is always day 61.
int dayofy(int dd, int mm);

// Daily effect `code` 11..50 (21-24 harmonics of the day of the year, 31-42 smooth
// month effects) on day dd, month mm of year yy: the value, the same at every site.
// This is the daily-effect branch of dyset; undefined codes stop the run.
double dlyeff(int dd, int mm, int yy, int code);

}  // namespace rg
