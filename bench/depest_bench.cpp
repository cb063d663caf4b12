// Times the inter-site dependence step of a fitting program on the data in the
// current directory: runs the whole program (answers on standard input) and
// reports the wall and processor time of the dependence step alone on standard
// error. Usage: depest_bench occmodel|amtmodel < answers.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "corest.hpp"
#include "fitdrv.hpp"
#include "occest.hpp"
#include "run_exit.hpp"

namespace {

double wall = 0.0, cpu = 0.0;

void timed_step(const rg::FitProgram& prog, const rg::SiteTable& sites, int chfit, std::int64_t nrec,
                rg::Model& model) {
  const auto w0 = std::chrono::steady_clock::now();
  const std::clock_t c0 = std::clock();
  if (prog.rsptyp == rg::RSP_AMOUNT) rg::corest(chfit, nrec, sites, model, prog.chcorrel, prog.model_file, rg::MAXSIT);
  else if (model.spmod == 21 || model.spmod == 22) rg::spest(chfit, nrec, sites, model, rg::MAXSIT);
  else rg::corlat(chfit, nrec, sites, model, prog.chcorrel, prog.model_file, rg::MAXSIT);
  cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
  wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  if (which != "occmodel" && which != "amtmodel") {
    std::fprintf(stderr, "usage: depest_bench occmodel|amtmodel < answers\n");
    return 2;
  }
  rg::FitProgram prog = which == "occmodel" ? rg::occurrence_program() : rg::amount_program();
  prog.dependence = timed_step;
  const int status = rg::run_program([&] { rg::fit_run(prog); });
  std::fprintf(stderr, "%s dependence step: wall %.2f s, processor %.2f s\n", which.c_str(), wall, cpu);
  return status;
}
