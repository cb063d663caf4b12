#pragma once
// Set-up of a simulation run: the region file, the listings of regions and sites,
// the agreement of the two models on their global quantities, and the moments of
// transformed amounts that the amount generator works with.
#include <string>

#include "arrays.hpp"
#include "model.hpp"
#include "sites.hpp"

namespace rg {

constexpr int MAXREG = 200;     // subareas (regions 1..MAXREG besides region 0)
constexpr int REGNAM_LEN = regionfile::NAME_WIDTH;  // characters of a region name

// Region names 0..MAXREG (0 is the entire area).
using RegionNames = Array1<std::string>;
inline RegionNames region_table() { return RegionNames(0, MAXREG, std::string(REGNAM_LEN, ' ')); }

// Reads the region file open on the channel (19 header lines, then one region per
// line: number in columns 1-5, name in 6-65, numbered 0, 1, 2, ...), closes it and
// returns the number of subareas n in nreg. Faults stop the run.
void regdef(const std::string& file, int channel, RegionNames& names, int& nreg);

// Lists the regions, then the sites, on the console and on the output channel
// (the set-up record); each listing ends with the continue question.
void chkreg(const RegionNames& names, int nreg, int channel);
void chksit(const SiteTable& sites, int nreg, int channel);

// Stops the run unless both models define the same global quantities (same codes in
// the same order, values within 1E-6).
void glbchk(const Model& occ, const Model& amt, const std::string& occfile, const std::string& amtfile);

// Stops the run unless the amount model's dispersion parameter (the gamma shape) lies
// in the range within which the moments of transformed amounts can be solved for.
void nuchk(double nu, const std::string& amtfile);

// Turns the amount model's correlation matrix cormat2 (1..nsites) into the covariance
// of transformed amounts (Y/mu)^(1/3) for shape nu, and fills their mean m.
void anset(Array1<double>& m, Matrix& cormat2, double nu, int nsites, int site_capacity);

}  // namespace rg
