#include "occmodel.hpp"

#include "fitdrv.hpp"
#include "occest.hpp"

namespace rg {

namespace {

// Structures 21 and 22 by their own moments; every other structure through the
// latent Gaussian correlations.
void occurrence_dependence(const FitProgram& prog, const SiteTable& sites, int chfit, std::int64_t nrec,
                           Model& model) {
  if (model.spmod == 21 || model.spmod == 22) spest(chfit, nrec, sites, model, MAXSIT);
  else corlat(chfit, nrec, sites, model, prog.chcorrel, prog.model_file, MAXSIT);
}

}  // namespace

void occmodel_run() {
  FitProgram prog = occurrence_program();
  prog.dependence = occurrence_dependence;
  fit_run(prog);
}

}  // namespace rg
