#include "amtmodel.hpp"

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "sites.hpp"
#include "spatial.hpp"

namespace rg {

namespace {

// Fixed channels of the run's files; the results file is channel 60 in every program.
constexpr int CH_DATA = 30;
constexpr int CH_SITES = 36;
constexpr int CH_MODEL = 42;
constexpr int CH_RESULTS = 60;
constexpr int CH_LISTING = 65;
constexpr int CH_NEWMODEL = 70;
constexpr int CH_CORREL = 66;
constexpr int CH_YEARLY = 31;
constexpr int CH_MONTHLY = 32;
constexpr int CH_DAILY = 33;

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

  con.line(" Reading model specification ...");
  Model model;
  mdlset(CH_MODEL, "gammamdl.def", RSP_AMOUNT, 0, sites, model);
  rhochk(model.rho, model.spmod, "gammamdl.def", MAXRHO);

  if (model.spmod >= 1 && model.spmod <= 19) filchk("cor_gamm.dat", CH_CORREL, STFLAG_OUTPUT);
  if (model.iexty == 1) filchk("yr_preds.dat", CH_YEARLY, STFLAG_INPUT);
  if (model.iextm == 1) filchk("mn_preds.dat", CH_MONTHLY, STFLAG_INPUT);
  if (model.iextd == 1) filchk("dy_preds.dat", CH_DAILY, STFLAG_INPUT);

  txtset(model, sites.attnam);
  chkmdl(model, sites.attnam, 1, RSP_AMOUNT, CH_RESULTS);
}

}  // namespace rg
