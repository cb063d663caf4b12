#include "corest.hpp"

#include "channels.hpp"
#include "console.hpp"
#include "correl.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "run_exit.hpp"

namespace rg {

void corest(int chfit, std::int64_t nrec, const SiteTable& sites, Model& model, int chcorrel,
            const std::string& model_file, int site_capacity) {
  if (site_capacity != MAXSIT) prgerr("COREST", "amtmodel", 1);
  Console& con = console();
  con.blank();
  con.line(blanks(5) + "Iteration complete - now computing spatial dependence structure ...");
  const int nsites = sites.nsites;
  Matrix cor(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
  empcor(chfit, nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_CORRELATION, cor, count, MAXSIT);
  if (model.spmod < 1 || model.spmod > 19) {
    con.blank();
    con.line("****ERROR**** In routine COREST, an invalid value of variable");
    con.line("SPMOD has been found. This is a programming error - please contact DEV.");
    end_run(1);
  }
  write_correlations(chcorrel, cor, count, sites, nsites);
  channels().close(chcorrel);
  if (model.spmod >= 2) corfit(model.spmod, cor, count, sites, nsites, model.rho, MAXSIT, model_file);
}

}  // namespace rg
