#pragma once
// The days of a simulation: the history of previous days carried from day to day,
// the observations of gaugvals.dat that replace simulated values where they exist,
// and the linear predictors, recomputed only in the parts that can have changed.
#include <cstdint>
#include <string>

#include "arrays.hpp"
#include "model.hpp"
#include "sites.hpp"

namespace rg {

// Small-value settings of the run from the occurrence model's global quantities:
// kind 0 trace threshold (trace), 1 soft and 2 hard threshold for positive values
// (postiv).
struct SimThresholds {
  double postiv = 0.0;
  double trace = 0.0;
  int kind = 0;
};
SimThresholds simthr(const Model& occ);

// Observed values of the threshold kinds 1 and 2 on the model's scale: below the
// threshold dry, above it reduced by the threshold when it is soft.
inline double onscale(double v, const SimThresholds& thr) {
  if (thr.kind != 1 && thr.kind != 2) return v;
  if (v < thr.postiv) return 0.0;
  return thr.kind == 1 ? v - thr.postiv : v;
}

// Search of the data file, kept over the whole run.
//   state  -1 first realisation, data not yet found; 0 later realisation before its
//          first day, or data found; 1 reading day by day; 2 file exhausted
//   nlines lines that precede the first record the first realisation needed, skipped
//          without searching by the later realisations
struct DataSearch {
  int state = -1;
  long nlines = 0;
  int channel = 0;
  std::string file;
  Array1<std::uint32_t> codes{1, MAXSIT, 0};  // packed site codes for matching records
  void set_codes(const SiteTable& sites);
};

// The day's values and the history shared by both models.
//   rain(i)  -1 unknown, 0 dry, > 0 amount
//   flags(i) 0 taken from the data file, 1 simulated
//   previous(i, k) the value k days ago (model scale)
struct SimDay {
  Array1<double> rain{1, MAXSIT, 0.0};
  Array1<int> flags{1, MAXSIT, 1};
  Matrix previous{MAXSIT, MAXLAG};
  // Start of a realisation: every value and the whole history 0.
  void clear();
};

// Moves the history one day on and reads the observations of day dd/mm/yy. On the
// first day of a realisation the history is first filled from the data file where it
// has values for the mxlag days before.
void updat2(SimDay& day, const SimThresholds& thr, int nsites, int yy, int mm, int dd, int mxlag, DataSearch& search,
            int site_capacity);

// Reads every record of day dd/mm/yy: observed sites get their value and flag 0.
// A missing value leaves its site to be simulated.
void datrd2(SimDay& day, int nsites, int yy, int mm, int dd, DataSearch& search, int mxlag);

// Stops the run when a gauge's day has no finite occurrence probability (its logit
// eta is not a number) or no finite amount mean (the amount model's linear
// predictor pred2(., 4) or its exponential mu is not finite), naming the model, the
// gauge and the date: such a day would reach the outputs as a dry day or as Inf/NaN.
// One pass over the day's vectors; the search for the gauge only when one is bad.
void chkpred(const Array1<double>& eta, const Matrix& pred2, const Array1<double>& mu, const SiteTable& sites,
             int nsites, int yy, int mm, int dd);

// Staged linear predictor of a model: pred(i, L) holds the part complete at level
// L (1 run constants, 2 + annual, 3 + monthly, 4 + daily terms); stage 1 to 4 says
// from which level on it is recomputed.
void setpred(Matrix& pred, const Matrix& covs, const Model& m, int nsites, int stage, int site_capacity,
             int covariate_capacity);

}  // namespace rg
