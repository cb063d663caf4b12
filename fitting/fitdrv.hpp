#pragma once
// The run shared by the two fitting programs: fixed-name files, sites, model,
// the data pass that fills the design store, the fit, the final report, the
// updated definition and the residual listing. The programs differ only in what
// FitProgram describes.
#include <cstdint>
#include <string>

#include "datafile.hpp"
#include "model.hpp"
#include "sites.hpp"

namespace rg {

struct FitProgram;
// The program's estimation of the inter-site dependence after the fit (model with a
// spatial structure): reads the nrec records of the fitted-value store on chfit,
// writes the correlation file where the structure has one, and sets model.rho.
using DependenceStep = void (*)(const FitProgram& prog, const SiteTable& sites, int chfit, std::int64_t nrec,
                                Model& model);

struct FitProgram {
  int rsptyp = RSP_AMOUNT;
  std::string name;        // program name, in the design-store message
  std::string model_file;  // model definition read
  std::string results;     // results file
  std::string listing;     // residual listing
  std::string newdef;      // updated model definition
  std::string correl;      // inter-site correlation file
  int chcorrel = 66;
  std::string listing_question;
  int eta_gap = 2;         // blanks between fitted value and eta in the listing
  DependenceStep dependence = nullptr;
};

const FitProgram& amount_program();
const FitProgram& occurrence_program();

// The whole run of a fitting program in the current directory.
void fit_run(const FitProgram& prog);

// Data pass: reads the data file on channel 30 day by day, assembles the covariates
// and writes one design record of width m per usable site-day (amounts: value
// above 0; occurrence: value not missing, response 1 if above 0) to the design
// store on channel chdes. Returns the number of records.
std::int64_t datapass(const FitProgram& prog, Model& model, const SiteTable& sites, const Thresholds& thr, int m,
                      int chdes);

// Writes the residual listing of the nrec fitted-value records (store on chfit) to
// the text file open on channel chout.
void write_listing(const FitProgram& prog, const SiteTable& sites, int chfit, std::int64_t nrec, int chout);

}  // namespace rg
