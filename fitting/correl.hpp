#pragma once
// Inter-site dependence of the residuals of a fit: pairwise empirical statistics
// from the fitted-value store, the correlation file, and the weighted least-squares
// fit of a parametric correlation structure to empirical correlations.
#include <cstdint>
#include <string>

#include "arrays.hpp"
#include "sites.hpp"

namespace rg {

// Residual types of empcor: the observed value, the Pearson residual, the Anscombe
// ratio (y/mu)^(1/3) (amount model only).
constexpr int RES_OBSERVED = 0;
constexpr int RES_PEARSON = 1;
constexpr int RES_ANSCOMBE = 2;
// Dependence statistics of empcor.
constexpr int DEP_COVARIANCE = 1;
constexpr int DEP_CORRELATION = 2;
constexpr int DEP_MEANPRODUCT = 3;  // mean of v_i v_j, not centred

// For every pair of the nsites sites, the statistic deptyp of residual type restyp
// over the days on which both sites have a record among the nrec records of the
// fitted-value store on channel chfit (model: RSP_OCCURRENCE or RSP_AMOUNT), and
// the number of such days. stat and count are symmetric; a pair without common days
// gets CORMIS and count 0; the diagonal holds the site's variance, 1 or its mean
// square. site_capacity must be MAXSIT (the dimension of both matrices). A repeated
// request for the same statistic of the same store is answered from a scratch
// cache. For the amount model the same statistic of the other residual type
// (Pearson for Anscombe and the other way round) comes from the same pass over the
// store and answers the next request for it.
void empcor(int chfit, int nsites, std::int64_t nrec, int model, int restyp, int deptyp, Matrix& stat,
            Matrix& count, int site_capacity);

// Writes the correlation file to the text file open on channel chout: a heading
// and one line per pair i < j in site order with the statistic (CORMIS where the
// count is 0), the count and the co-ordinate differences.
void write_correlations(int chout, const Matrix& stat, const Matrix& count, const SiteTable& sites, int nsites);

// Fits the parameters of structure spmod (2 to 6) in rho to the empirical
// correlations cor of the pairs i < j whose count is above 0, each weighted by its
// count: structure 2 takes the weighted mean; 3 to 6 minimise the weighted sum of
// squared differences over the inter-site distances, by Newton steps in the decay
// (and power), with the limiting correlation of 4 and 6 solved exactly for each.
// Warns when the iteration limit is reached or when the data cannot determine the
// parameters (rho then keeps the values it held). file: the model definition.
void corfit(int spmod, const Matrix& cor, const Matrix& count, const SiteTable& sites, int nsites,
            Array1<double>& rho, int site_capacity, const std::string& file);

}  // namespace rg
