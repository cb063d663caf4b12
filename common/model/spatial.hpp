#pragma once
// Spatial dependence structures: the catalogue of structures with their printed
// names and parameters, the check of a model's structure and parameters, and the
// site-by-site correlation matrix of a structure.
//
// Structures: 0 independence; 1 empirical correlations from a correlation file;
// 2 constant correlation rho; 3 exp(-phi*d); 4 a + (1-a)exp(-phi*d);
// 5 exp(-phi*d^k); 6 a + (1-a)exp(-phi*d^k); 21 wet/dry weather state and
// 22 Beta-Binomial number of wet sites (occurrence model only, no matrix).
#include <string>
#include <string_view>

#include "arrays.hpp"
#include "sites.hpp"

namespace rg {

constexpr int MAXSPM = 80;   // structure numbers of the name table, 0 to MAXSPM
constexpr int MAXRHO = 80;   // slots of a structure parameter vector rho
constexpr int MAXSPP = 4;    // parameter names per structure in the name table
// A rho slot at or above this value holds no parameter (its initial value is 1.0E9).
constexpr double RHOUND = 1.0e8;
// Missing correlation in the correlation files.
constexpr double CORMIS = -9.999;

// Printed name of structure spmod ("" for numbers without a structure).
std::string_view spmtxt(int spmod);
// Printed name of parameter k (1 to MAXSPP) of structure spmod ("" if none).
std::string_view rhotxt(int spmod, int k);
// What a structure correlates, by response type: 1 "latent Gaussian variables",
// 11 "Anscombe residuals" ("" for other types).
std::string_view crvtxt(int rsptyp);
// The structure's full description as reported: for structures 1 to 19 the name
// followed by a blank and what is correlated, cut to 70 characters; otherwise the
// name alone.
std::string sptitl(int spmod, int rsptyp);
// Number of parameters a structure requires (-1 for an unknown structure). Structure
// 22 requires one and may also be given slots 2 and 3 (see rhochk).
int rhonum(int spmod);

// Checks the structure number, the number of parameters given in rho(1..capacity)
// and their bounds; stops the run with a message naming the model definition file.
void rhochk(const Array1<double>& rho, int spmod, const std::string& file, int capacity);

// Dry-state odds factor of a site under the wet/dry weather-state structure: the root
// x of psi p x^2 + c x + (p - 1) = 0, c = (psi - 1) pbar + 1 - p (psi + 1), for which a
// site of wet probability p keeps it on average when the odds are multiplied by x on
// dry-state days and by psi x on wet-state days (pbar: probability of the wet state).
// Computed without cancellation; psi = 1 gives 1.
double bcalc(double p, double pbar, double psi);

// Co-ordinates available for distances: site attributes 1 and 2, as many as the
// site file defines (0, 1 or 2).
int ncoord(const SiteTable& sites);
// Distance between sites i and j from the available co-ordinates (0 without any).
double sitdst(const SiteTable& sites, int i, int j);

// Fills cor(1..nsites, 1..nsites) with the correlation matrix of structure spmod.
// Structure 1 reads the correlation file named file, opened on channel unit and
// closed again; file also names the source of the parameters in the messages of
// structures 2 to 6. site_capacity is the dimension the caller gave cor (at least
// nsites, at most MAXSIT); the site codes and co-ordinates come from sites.
void corset(const std::string& file, int unit, int spmod, const Array1<double>& rho, Matrix& cor,
            int nsites, const SiteTable& sites, int site_capacity);

}  // namespace rg
