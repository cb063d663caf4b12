#pragma once
// Inter-site correlation of the amount residuals after the fit.
#include <cstdint>
#include <string>

#include "model.hpp"
#include "sites.hpp"

namespace rg {

// Correlations of the Anscombe ratios (y/mu)^(1/3) of every pair of sites over their
// common wet days, from the nrec records of the fitted-value store on chfit, written
// to the correlation file open on chcorrel (which is then closed); for structures 2
// to 6 the structure's parameters in model.rho are fitted to them. site_capacity
// must be MAXSIT.
void corest(int chfit, std::int64_t nrec, const SiteTable& sites, Model& model, int chcorrel,
            const std::string& model_file, int site_capacity);

}  // namespace rg
