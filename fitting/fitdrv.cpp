#include "fitdrv.hpp"

#include <cmath>
#include <memory>
#include <vector>

#include "channels.hpp"
#include "console.hpp"
#include "covset.hpp"
#include "effects.hpp"
#include "external.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "iwls.hpp"
#include "newmdl.hpp"
#include "ordered_chunks.hpp"
#include "resid.hpp"
#include "run_exit.hpp"
#include "spatial.hpp"
#include "stores.hpp"

namespace rg {

namespace {

// Fixed channels of the run's files; the results file is channel 60 in every program.
constexpr int CH_DATA = 30;
constexpr int CH_SITES = 36;
constexpr int CH_MODEL = 42;
constexpr int CH_RESULTS = 60;
constexpr int CH_LISTING = 65;
constexpr int CH_NEWMODEL = 70;
constexpr int CH_SCRATCH = 85;
const char* const DATA_FILE = "gaugvals.dat";

void write_results_header(const FitProgram& prog, TextOut& res) {
  res.line("");
  res.line(Fields().x(20).t("GENERALIZED LINEAR MODEL FITTING RESULTS").str());
  res.line(Fields().x(20).t(std::string(40, '=')).str());
  res.line("");
  if (prog.rsptyp != RSP_AMOUNT) return;
  res.line(Fields().x(10).t("This file contains results of fitting a generalised linear model to").str());
  res.line(Fields().x(5).t("sequences of daily rainfall values. The model assumes gamma distributed").str());
  res.line(Fields().x(5).t("errors with constant coefficient of variation, and a log link function").str());
  res.line(Fields().x(5).t("(i.e. predicted mean rainfall = Exp[linear combination of predictors]).").str());
  res.line(Fields().x(5).t("Note that the model is for strictly positive values only - all others").str());
  res.line(Fields().x(5).t("will be discarded from the input file.").str());
}

void open_external_files(const Model& model) {
  if (model.iexty == 1) filchk(extfil(EXT_ANNUAL), extchn(EXT_ANNUAL), STFLAG_INPUT);
  if (model.iextm == 1) filchk(extfil(EXT_MONTHLY), extchn(EXT_MONTHLY), STFLAG_INPUT);
  if (model.iextd == 1) filchk(extfil(EXT_DAILY), extchn(EXT_DAILY), STFLAG_INPUT);
}

[[noreturn]] void store_failure(const FitProgram& prog, bool first) {
  if (!first) scratch_full();
  Console& con = console();
  con.blank();
  {
    std::string box = blanks(10) + std::string(59, '*');
    con.line(box);
    con.line(blanks(10) + "**** ERROR: In file " + prog.name + ", value of BYTELN is too ****");
    con.line(blanks(10) + "**** small. Increase it and recompile (see file header ****");
    con.line(blanks(10) + "**** for suggested values for your operating system).  ****");
    con.line(box);
  }
  end_run(1);
}

// A design value this large is no covariate: it is the failure value of a previous-day
// transformation (the logarithm of a dry day) or worse, and would only yield a fit of
// infinities and NaNs.
constexpr double UNDEFINED_COVARIATE = 1.0e12;

// Stops the run for design column j of a used site-day that is not a usable number,
// naming the covariate, the site and the date.
[[noreturn]] void undefined_design_value(const Model& model, int j, const std::string& code, int yy, int mm, int dd) {
  std::string what = j <= model.np(6) ? "Covariate " + fmt_i(j, 2) + " (" + std::string(trim_right(model.covtxt(j))) + ")"
                                      : "The derivative for parameter " + fmt_i(model.covcod(j) % 1000, 1) +
                                            " of covariate " + fmt_i(model.covcod(j) / 1000, 2);
  Console& con = console();
  con.blank();
  con.line("****ERROR**** " + what + " cannot be computed at site " + code + " on " +
           Fields().i(dd, 2).t("/").i(mm, 2).t("/").i(yy, 4).str() + ":");
  con.line("its value is undefined or beyond 1E12 (for example the logarithm of a dry day's");
  con.line("amount, or a cycle length of 0). Change the covariate or its parameters.");
  end_run(1);
}

// The check of every design value, kept small enough to be inlined into the loops.
inline void check_design_value(const Model& model, int j, double x, const std::string& code, int yy, int mm, int dd) {
  if (!(std::fabs(x) < UNDEFINED_COVARIATE)) undefined_design_value(model, j, code, yy, mm, dd);
}

// Recomputes the design store after a change of the nonlinear parameters: the
// transformed site attributes, then, date by date, the covariates that depend on
// the parameters, keeping the stored values of the others.
class DesignRebuild : public NlRebuild {
 public:
  DesignRebuild(const FitProgram& prog, SiteTable& sites, const Thresholds& thr, int m, std::int64_t nrec, int chdes)
      : prog_(prog), sites_(sites), thr_(thr), io_(m), m_(m), nrec_(nrec), chdes_(chdes) {}

  void setup(const Model& model) {
    for (int i = model.np(6) + 1; i <= model.np(7); ++i) {
      int j = model.covcod(i) / 1000;
      if (j > model.np(3) && j <= model.np(4)) reread_ = true;
    }
  }

  void rebuild(Model& model) override {
    attrxfm(model, sites_, 1);
    const int nsites = sites_.nsites;
    missing_.fill(1);
    if (reread_) {
      day_.reset();
      Channels& ch = channels();
      if (ch.connected(CH_DATA)) ch.input(CH_DATA).rewind();
      else filchk(DATA_FILE, CH_DATA, STFLAG_INPUT);
    } else {
      // The previous-day values are not needed (none of them depends on an
      // estimated parameter), but the assembly skips sites with an incomplete
      // history: give it a complete one.
      day_.previous.fill(0.0);
    }
    const int np1 = model.np(1), np2 = model.np(2);
    RecordStore& store = channels().store(chdes_);
    std::int64_t n = 1;
    bool first = true;
    while (n <= nrec_) {
      std::int64_t start = n;
      if (!io_.read(store, n, rec_)) store_read_failure(store, "IWLS");
      const int yy = rec_.yy, mm = rec_.mm, dd = rec_.dd;
      for (;;) {
        const int s = rec_.site;
        missing_(s) = 0;
        for (int j = 1; j <= m_; ++j) {
          bool keep = j <= np1 || j > np2 || !isdef(model.theta(j, 1));
          if (keep) covs_(s, j) = rec_.x[static_cast<std::size_t>(j)];
        }
        if (!reread_) day_.rain(s) = rec_.y;
        if (++n > nrec_) break;
        if (!io_.read(store, n, rec_)) store_read_failure(store, "IWLS");
        if (rec_.yy != yy || rec_.mm != mm || rec_.dd != dd) break;
      }
      const std::int64_t end = n - 1;
      if (reread_) {
        while (day_.yy != yy || day_.mm != mm || day_.dd != dd) {
          if (day_.more == 0) prgerr("IWLS", "fit_both", 3);  // the store holds a date the file lacks
          update(CH_DATA, day_, thr_, nsites, model.mxlag, MAXSIT, sites_.sitcod);
        }
      }
      covset(covs_, model, sites_, yy, mm, dd, day_.previous, thr_.trace, 1, first ? 1 : 0, missing_, 1, 0, 0);
      first = false;
      for (std::int64_t k = end; k >= start; --k) {
        if (!io_.read(store, k, rec_)) store_read_failure(store, "IWLS");
        const int s = rec_.site;
        double y = day_.rain(s);
        if (prog_.rsptyp == RSP_OCCURRENCE) y = y > 0.0 ? 1.0 : 0.0;
        rec_.y = y;
        for (int j = 1; j <= m_; ++j) {
          check_design_value(model, j, covs_(s, j), sites_.sitcod(s), yy, mm, dd);
          rec_.x[static_cast<std::size_t>(j)] = covs_(s, j);
        }
        if (!io_.write(store, k, rec_)) scratch_full();
        missing_(s) = 1;
      }
    }
    // The file may not have been read to its end: stop reading it ahead, so that it
    // is not in use when it is closed; the next rebuild reads it from the top again.
    if (reread_) day_.feed.reset();
  }

 private:
  const FitProgram& prog_;
  SiteTable& sites_;
  Thresholds thr_;
  DesignIO io_;
  int m_;
  std::int64_t nrec_;
  int chdes_;
  bool reread_ = false;
  DayState day_;
  DesignRecord rec_;
  Matrix covs_{MAXSIT, MAXPAR};
  Array1<int> missing_{1, MAXSIT, 1};
};

}  // namespace

const FitProgram& amount_program() {
  static const FitProgram p{RSP_AMOUNT, "amtmodel", "gammamdl.def", "gammamdl.res", "res_gamm.dat", "gammamdl.de2",
                            "cor_gamm.dat", 66, "Generate output file for residual analysis (Y/N, default=Y)?", 2};
  return p;
}

const FitProgram& occurrence_program() {
  static const FitProgram p{RSP_OCCURRENCE, "occmodel", "logistic.def", "logistic.res", "res_logi.dat", "logistic.de2",
                            "cor_logi.dat", 67, "Generate file for further residual analysis (Y/N, default=Y)?", 1};
  return p;
}

std::int64_t datapass(const FitProgram& prog, Model& model, const SiteTable& sites, const Thresholds& thr, int m,
                      int chdes) {
  RecordStore& store = channels().store(chdes);
  DesignIO io(m);
  DesignRecord rec;
  DayState day;
  Matrix covs(MAXSIT, MAXPAR);
  Array1<int> missing(1, MAXSIT, 0);
  int icheck = 0;
  std::int64_t n = 0;
  // Amounts use the wet site-days only: the others need no covariates, when leaving
  // them out cannot change the rest.
  const bool wet_only = prog.rsptyp == RSP_AMOUNT && sites_assemble_alone(model);
  while (day.more == 1) {
    update(CH_DATA, day, thr, sites.nsites, model.mxlag, MAXSIT, sites.sitcod);
    if (day.yy == 0) break;  // the file holds no record at all
    if (wet_only)
      for (int i = 1; i <= sites.nsites; ++i) missing(i) = day.rain(i) > 0.0 ? 0 : 1;
    covset(covs, model, sites, day.yy, day.mm, day.dd, day.previous, thr.trace, 0, 0, missing, icheck, 0,
           wet_only ? 2 : 1);
    for (int i = 1; i <= sites.nsites; ++i) {
      const double v = day.rain(i);
      const bool used = prog.rsptyp == RSP_AMOUNT ? v > 0.0 : v >= 0.0;
      if (!used || missing(i) != 0) continue;
      rec.site = i;
      rec.yy = day.yy;
      rec.mm = day.mm;
      rec.dd = day.dd;
      rec.y = prog.rsptyp == RSP_AMOUNT ? v : (v > 0.0 ? 1.0 : 0.0);
      for (int j = 1; j <= m; ++j) {
        check_design_value(model, j, covs(i, j), sites.sitcod(i), day.yy, day.mm, day.dd);
        rec.x[static_cast<std::size_t>(j)] = covs(i, j);
      }
      ++n;
      if (!io.write(store, n, rec)) store_failure(prog, n == 1);
      icheck = 1;
    }
  }
  return n;
}

void write_listing(const FitProgram& prog, const SiteTable& sites, int chfit, std::int64_t nrec, int chout) {
  TextOut& out = channels().output(chout);
  RecordStore& store = channels().store(chfit);
  out.line("SITE YEAR MONTH DAY OBSERVED PREDICTED    ETA");
  // Formatting the numbers is most of the work: chunks of lines are formatted on all
  // cores and written in order.
  constexpr std::int64_t LINES = 16384;
  struct Slot {
    SharedView view;
    Fields line;
    std::string text;
    bool failed = false;
  };
  const int threads = pass_threads();
  std::vector<Slot> slots(static_cast<std::size_t>(chunk_slots(threads)));
  if (!store.settle(nrec)) store_read_failure(store, "RESLST");
  const std::string none;
  bool failed = false;
  for_chunks_in_order(
      (nrec + LINES - 1) / LINES, threads,
      [&](std::int64_t c, int s) {
        Slot& slot = slots[static_cast<std::size_t>(s)];
        slot.text.clear();
        const std::int64_t first = c * LINES + 1, count = std::min(LINES, nrec - c * LINES);
        slot.failed = !store.view_run(first, count, slot.view);
        if (slot.failed) return;
        FittedRecord r;
        for (std::int64_t k = 0; k < count; ++k) {
          unpack_fitted(slot.view.data() + k * FITTED_RECORD_LENGTH, r);
          const std::string& code = r.site >= 1 && r.site <= sites.nsites ? sites.sitcod(r.site) : none;
          slot.text += slot.line.clear()
                           .a(code, 4)
                           .x(1)
                           .i(r.yy, 4)
                           .x(4)
                           .i(r.mm, 2)
                           .x(1)
                           .i(r.dd, 3)
                           .x(1)
                           .f(r.y, 8, 4)
                           .x(2)
                           .f(r.mu, 8, 4)
                           .x(prog.eta_gap)
                           .f(r.eta, 8, 4)
                           .str();
          slot.text += '\n';
        }
        slot.view.reset();
      },
      [&](std::int64_t, int s) {
        const Slot& slot = slots[static_cast<std::size_t>(s)];
        failed = failed || slot.failed;
        if (!failed) out.text(slot.text);
      });
  if (failed) store_read_failure(store, "RESLST");
}

void fit_run(const FitProgram& prog) {
  Console& con = console();
  Channels& ch = channels();
  const bool amounts = prog.rsptyp == RSP_AMOUNT;
  covrst();
  extrst();
  install_covariate_texts();

  con.line(" Opening files ...");
  filchk(DATA_FILE, CH_DATA, STFLAG_INPUT);
  filchk("siteinfo.def", CH_SITES, STFLAG_INPUT);
  filchk(prog.model_file, CH_MODEL, STFLAG_INPUT);
  filchk(prog.results, CH_RESULTS, STFLAG_OUTPUT);
  TextOut& res = ch.output(CH_RESULTS);
  write_results_header(prog, res);

  // Opened now so that any overwrite question comes at the start, not at the end.
  // Every output takes its name only when the run ends without an error (an
  // unwanted listing is left empty), so an error leaves the earlier files whole.
  filchk(prog.listing, CH_LISTING, STFLAG_OUTPUT);
  filchk(prog.newdef, CH_NEWMODEL, STFLAG_OUTPUT);

  con.line(" Reading site information ...");
  SiteTable sites;
  sitedef(CH_SITES, "siteinfo.def", sites);
  std::string used = Fields().x(10).t("Data from ").i(sites.nsites, 2).t(" sites will be used in the fitting.").str();
  con.line(used);
  res.line(used);

  con.line(" Reading model specification ...");
  Model model;
  mdlset(CH_MODEL, prog.model_file, prog.rsptyp, 0, sites, model);
  if (amounts) {
    rhochk(model.rho, model.spmod, prog.model_file, MAXRHO);
    if (model.spmod >= 1 && model.spmod <= 19) filchk(prog.correl, prog.chcorrel, STFLAG_OUTPUT);
    open_external_files(model);
    attrxfm(model, sites, 0);
  } else {
    attrxfm(model, sites, 0);
    open_external_files(model);
    rhochk(model.rho, model.spmod, prog.model_file, MAXRHO);
    if (model.spmod >= 1 && model.spmod <= 19) filchk(prog.correl, prog.chcorrel, STFLAG_OUTPUT);
  }
  if (!amounts) model.nu = -1.0;
  txtset(model, sites.attnam);
  chkmdl(model, sites.attnam, 1, prog.rsptyp, CH_RESULTS);

  const int maxit = mxitst();
  const int m = model.npar();
  const Thresholds thr = thresholds_of(model);
  int chdes = CH_SCRATCH;
  scropn("DIRECT", "UNFORMATTED", design_record_length(m), chdes);
  int chfit = CH_SCRATCH;
  scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, chfit);

  con.line(" Reading data ...");
  const std::int64_t nrec = datapass(prog, model, sites, thr, m, chdes);
  if (nrec == 0) {
    con.line(" ****ERROR**** No data found. Check site definition/data files");
    end_run(1);
  }

  con.line(" Beginning estimation ...");
  Array1<double> se(0, MAXPAR, 0.0);
  Array2<double> setheta(1, MAXPAR, 1, MAXNLP, 0.0);
  std::unique_ptr<DesignRebuild> rebuild;
  if (model.np(7) > model.np(6)) {
    rebuild = std::make_unique<DesignRebuild>(prog, sites, thr, m, nrec, chdes);
    rebuild->setup(model);
  }
  const IwlsResult fit = iwls(prog.rsptyp, model, m, nrec, sites.nsites, MAXSIT, MAXPAR, se, setheta, maxit, chdes,
                              chfit, CH_RESULTS,
                              sites.attnam, rebuild.get());
  if (model.spmod != 0 && prog.dependence) prog.dependence(prog, sites, chfit, nrec, model);

  chkmdl(model, se, setheta, sites.attnam, 3, prog.rsptyp, CH_RESULTS);
  newmdl(CH_MODEL, CH_NEWMODEL, MAXPAR, model);

  if (!ask_default_yes(blanks(5) + "Do you want a basic residual analysis (Y/N, default=Y)?")) end_run(0);
  // Amounts: the moment estimate of the shape from the fit; occurrence has none (1).
  resid(prog.rsptyp, amounts ? fit.nu_moment : 1.0, m + 1, nrec, chfit, CH_RESULTS, sites, sites.nsites, MAXSIT);

  if (!ask_default_yes(blanks(5) + prog.listing_question)) end_run(0);
  write_listing(prog, sites, chfit, nrec, CH_LISTING);
  ch.close(chfit);
}

}  // namespace rg
