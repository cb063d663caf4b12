#include "amtmodel.hpp"

#include "corest.hpp"
#include "fitdrv.hpp"

namespace rg {

namespace {

void amount_dependence(const FitProgram& prog, const SiteTable& sites, int chfit, std::int64_t nrec, Model& model) {
  corest(chfit, nrec, sites, model, prog.chcorrel, prog.model_file, MAXSIT);
}

}  // namespace

void amtmodel_run() {
  FitProgram prog = amount_program();
  prog.dependence = amount_dependence;
  fit_run(prog);
}

}  // namespace rg
