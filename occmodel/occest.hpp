#pragma once
// Spatial dependence of rainfall occurrence, estimated from the fitted wet-day
// probabilities and the observed occurrences of the fitted-value store: the daily
// weather state (structure 21) and the Beta-Binomial number of wet sites
// (structure 22) by moments, and the correlations of latent Gaussian variables
// (structures 1 to 6) pair by pair.
#include <cstdint>
#include <string>

#include "model.hpp"
#include "sites.hpp"
#include "weather_days.hpp"

namespace rg {

// Structures 21 and 22: sets model.rho(1) from the nrec records of the fitted-value
// store on chfit. site_capacity must be MAXSIT. The weather-state variance of
// structure 21 is evaluated on nthreads threads (0: one per core); the estimate does
// not depend on the number.
void spest(int chfit, std::int64_t nrec, const SiteTable& sites, Model& model, int site_capacity,
           int nthreads = 0);

// Structure 21: D(rho), the mean over the nrec records of the day terms of the
// weather-state variance of the days collected by spest.
double spvar(WeatherDays& days, std::int64_t nrec, int nsites, double rho, int spmod, int nthreads = 0);

// Latent Gaussian correlations of every pair of sites from their joint wet
// frequency, written to the correlation file open on chcorrel (then closed); for
// structures 2 to 6 the structure is fitted to them. Pairs are worked on by
// nthreads threads (0: as many as the machine has cores, or RAINGLM_THREADS); the
// results do not depend on the number. site_capacity must be MAXSIT.
void corlat(int chfit, std::int64_t nrec, const SiteTable& sites, Model& model, int chcorrel,
            const std::string& model_file, int site_capacity, int nthreads = 0);

}  // namespace rg
