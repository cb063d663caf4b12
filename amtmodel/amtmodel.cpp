#include "amtmodel.hpp"

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "sites.hpp"

namespace rg {

namespace {

// Fixed channels of the run's files; the results file is channel 60 in every program.
constexpr int CH_DATA = 30;
constexpr int CH_SITES = 36;
constexpr int CH_MODEL = 42;
constexpr int CH_RESULTS = 60;
constexpr int CH_LISTING = 65;
constexpr int CH_NEWMODEL = 70;

void write_results_header(TextOut& res) {
  res.line("");
  res.line(Fields().x(20).t("GENERALIZED LINEAR MODEL FITTING RESULTS").str());
  res.line(Fields().x(20).t(std::string(40, '=')).str());
  res.line("");
  res.line(Fields().x(10).t("This file contains results of fitting a generalised linear model to").str());
  res.line(Fields().x(5).t("sequences of daily rainfall values. The model assumes gamma distributed").str());
  res.line(Fields().x(5).t("errors with constant coefficient of variation, and a log link function").str());
  res.line(Fields().x(5).t("(i.e. predicted mean rainfall = Exp[linear combination of predictors]).").str());
  res.line(Fields().x(5).t("Note that the model is for strictly positive values only - all others").str());
  res.line(Fields().x(5).t("will be discarded from the input file.").str());
}

}  // namespace

void amtmodel_run() {
  Console& con = console();
  Channels& ch = channels();

  con.line(" Opening files ...");
  filchk("gaugvals.dat", CH_DATA, STFLAG_INPUT);
  filchk("siteinfo.def", CH_SITES, STFLAG_INPUT);
  filchk("gammamdl.def", CH_MODEL, STFLAG_INPUT);
  filchk("gammamdl.res", CH_RESULTS, STFLAG_OUTPUT);
  TextOut& res = ch.output(CH_RESULTS);
  write_results_header(res);

  // Created now so that any overwrite question comes at the start, not at the end.
  filchk("res_gamm.dat", CH_LISTING, STFLAG_OUTPUT);
  ch.close(CH_LISTING);
  filchk("gammamdl.de2", CH_NEWMODEL, STFLAG_OUTPUT);

  con.line(" Reading site information ...");
  SiteTable sites;
  sitedef(CH_SITES, "siteinfo.def", sites);
  std::string used = Fields().x(10).t("Data from ").i(sites.nsites, 2).t(" sites will be used in the fitting.").str();
  con.line(used);
  res.line(used);
}

}  // namespace rg
