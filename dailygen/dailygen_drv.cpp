#include "dailygen_drv.hpp"

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "channels.hpp"
#include "console.hpp"
#include "covset.hpp"
#include "effects.hpp"
#include "external.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "model.hpp"
#include "outputs.hpp"
#include "raingen.hpp"
#include "randgen.hpp"
#include "run_exit.hpp"
#include "simdata.hpp"
#include "simsetup.hpp"
#include "spatial.hpp"

namespace rg {

namespace {

// Fixed channels of the run's files.
constexpr int CH_DATA = 30;
constexpr int CH_SITES = 36;
constexpr int CH_REGIONS = 37;
constexpr int CH_OCCMODEL = 42;
constexpr int CH_AMTMODEL = 43;
constexpr int CH_DAILY = 61;
constexpr int CH_MONTHLY = 62;
constexpr int CH_SPEC = 63;
constexpr int CH_OCCCOR = 67;
constexpr int CH_AMTCOR = 66;

const std::string DATA_FILE = "gaugvals.dat";
const std::string OCC_FILE = "logistic.def";
const std::string AMT_FILE = "gammamdl.def";

// Output options of the dialogue.
constexpr int OUT_SUMMARY = 1;
constexpr int OUT_DAILY = 2;
constexpr int OUT_BOTH = 3;

// A printed line of the dialogue: on its own line after one blank.
void say(std::string_view text) { console().line(" " + std::string(text)); }

void both(TextOut& spec, std::string_view text) {
  console().line(text);
  spec.line(text);
}

// The next answer of the dialogue. Input that ends before the dialogue is complete
// cannot answer any further question: the run stops rather than ask for ever.
std::string reply() {
  auto line = console().read_line();
  if (!line) {
    console().blank();
    console().line("****ERROR**** The input ended before the simulation options were complete.");
    end_run(1);
  }
  return *line;
}

// An integer in free form, or nothing when the line holds none that fits an int.
std::optional<int> free_int(const std::string& line) {
  auto v = first_int(line);
  if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(*v);
}

// A year and month in columns 1-4 and 5-6 of the answer to the prompt; the prompt is
// repeated until the line can be read.
void ask_month(std::string_view prompt, int& year, int& month) {
  for (;;) {
    say(prompt);
    const std::string line = reply();
    auto y = read_int(line, 1, 4), m = read_int(line, 5, 2);
    if (!y || !m) continue;
    year = static_cast<int>(*y);
    month = static_cast<int>(*m);
    return;
  }
}

// A year and month that is at least January 1900.
void ask_valid_month(std::string_view prompt, int& year, int& month) {
  for (;;) {
    ask_month(prompt, year, month);
    if (year >= 1900 && month >= 1) return;
    say("Er ... perhaps not. Please have another go!");
    console().blank();
  }
}

// Months apart, as the dialogue compares them.
int months_between(int y1, int m1, int y2, int m2) { return (y2 - y1) * 100 + m2 - m1; }

struct Options {
  int sy = 0, sm = 0, ey = 0, em = 0;  // simulation period
  int nreal = 0;                       // realisations
  int output = 0;                      // 1 summaries, 2 daily values, 3 both
  int dreal = 0;                       // realisation with daily output, 0 all
  int dstart = 0, dend = 0;            // daily output window, year * 100 + month
  int seed = 0;
  bool summaries() const { return output == OUT_SUMMARY || output == OUT_BOTH; }
  bool daily() const { return output == OUT_DAILY || output == OUT_BOTH; }
};

void ask_period(Options& o) {
  for (;;) {
    ask_valid_month("Input start year and month (YYYYMM):", o.sy, o.sm);
    ask_valid_month("Now end year and month:", o.ey, o.em);
    if (months_between(o.sy, o.sm, o.ey, o.em) >= 0) return;
    say("****ERROR**** End is before start! Try again.");
  }
}

// The realisation number has 3 columns in daily.dat and monthly.dat; more
// realisations are run as blocks side by side, each a run of its own.
constexpr int MAXREAL = 999;

int ask_realisations() {
  for (;;) {
    say("Now input number of simulations/realisations:");
    auto v = free_int(reply());
    if (!v) continue;
    if (*v <= MAXREAL) return *v;
    say("****ERROR**** At most 999 realisations fit the output files. Run more as blocks");
    say("side by side, each with its own seed (scripts/sim_blocks.sh), and join them");
    say("with scripts/sim_merge.sh. Try again.");
  }
}

int ask_output_option() {
  Console& con = console();
  for (;;) {
    con.blank();
    say("Now please select an output option:");
    con.blank();
    con.line("     1.  Output regional monthly and annual summary information");
    con.line("     2.  Output daily values for each site");
    con.line("     3.  Output both detail and summary information");
    con.blank();
    auto v = free_int(reply());
    if (!v) continue;
    if (*v >= 1 && *v <= 3) return *v;
    say("****ERROR**** Invalid option. Try again.");
  }
}

void ask_subareas(const RegionNames& names, int nreg, Array1<int>& whichregs) {
  Console& con = console();
  for (;;) {
    con.blank();
    say("Choose subareas for inclusion in output file (enter a subarea");
    say("number to toggle on/off, zero to finish and any other number to");
    say("include all subareas)");
    con.blank();
    con.line("NUMBER  NAME" + blanks(56) + "INCLUDE?");
    con.line("------  ----" + blanks(56) + "--------");
    for (int i = 1; i <= nreg; ++i)
      con.line(Fields().x(2).i(i, 2).x(4).a(names(i), REGNAM_LEN).x(3).t(whichregs(i) == 1 ? "Y" : "N").str());
    // An unreadable answer shows the menu again.
    const std::optional<int> v = free_int(reply());
    if (!v) continue;
    if (*v == 0) return;
    if (*v >= 1 && *v <= nreg) whichregs(*v) = 1 - whichregs(*v);
    else
      for (int i = 1; i <= nreg; ++i) whichregs(i) = 1;
  }
}

void ask_daily_output(Options& o) {
  Console& con = console();
  const int start = o.sy * 100 + o.sm, end = o.ey * 100 + o.em;
  for (;;) {
    con.blank();
    say("You have requested daily output for each site defined. You may");
    say("restrict this output to a portion of one realisation if required.");
    say("Please enter 0 now to produce complete output for every realisation.");
    say("Otherwise, enter the number of the single realisation for which");
    say("output is required:");
    auto v = read_int(reply(), 1, 4);
    if (!v) continue;
    if (*v == 0) {
      o.dreal = 0;
      o.dstart = start;
      o.dend = end;
      return;
    }
    if (*v < 1 || *v > o.nreal) {
      con.blank();
      say("****ERROR**** I'm only doing " + fmt_i(o.nreal, 3) + " realisations!Please try again.");
      continue;
    }
    int y1 = 0, m1 = 0, y2 = 0, m2 = 0;
    ask_month("Input start year and month for daily output (YYYYMM):", y1, m1);
    ask_month("Now end year and month:", y2, m2);
    if (months_between(y1, m1, y2, m2) < 0) {
      con.blank();
      say("****ERROR**** End period precedes start period. Try again.");
      continue;
    }
    if (y2 * 100 + m2 < start || y1 * 100 + m1 > end) {
      con.blank();
      say("****ERROR**** Outside requested simulation range. Try again.");
      continue;
    }
    o.dreal = static_cast<int>(*v);
    o.dstart = y1 * 100 + m1;
    o.dend = y2 * 100 + m2;
    return;
  }
}

int ask_seed() {
  for (;;) {
    console().blank();
    say("Input seed for random number generator (integer < 424967291):");
    auto v = free_int(reply());
    if (!v) continue;
    if (*v > 0) return *v;
    say("****ERROR**** Seed must be positive. Try again.");
  }
}

// The whole dialogue, recorded in the set-up file as it goes.
Options dialogue(TextOut& spec, const RegionNames& names, int nreg, Array1<int>& whichregs) {
  Options o;
  both(spec, "");
  for (int k = 0; k < 3; ++k) both(spec, std::string(70, '*'));
  both(spec, "");
  both(spec, "");
  both(spec, "SIMULATION OPTIONS");
  both(spec, std::string(18, '='));
  both(spec, "");

  ask_period(o);
  o.nreal = ask_realisations();
  o.output = ask_output_option();

  spec.line(Fields().t("Simulation runs from month ").i(o.sm, 2).t("/").i(o.sy, 4).t(" to ").i(o.em, 2).t("/")
                .i(o.ey, 4).t(".").str());
  spec.line(Fields().i(o.nreal, 3).t(" realisations requested.").str());
  spec.line("");
  spec.line("");
  spec.line("Output options selected");
  spec.line(std::string(23, '-'));
  spec.line("");

  if (o.summaries()) {
    spec.line("Summary information for these subareas:");
    spec.line("");
    if (nreg >= 1) ask_subareas(names, nreg, whichregs);
    for (int i = 0; i <= nreg; ++i)
      if (whichregs(i) == 1) spec.line(Fields().x(2).i(i, 2).x(5).a(names(i), REGNAM_LEN).str());
  }
  if (o.daily()) ask_daily_output(o);

  both(spec, "");
  both(spec, "MISCELLANEA");
  both(spec, std::string(11, '='));
  both(spec, "");
  o.seed = ask_seed();
  spec.line(Fields().t("Seed for random number generator: ").i(o.seed, 10).str());
  return o;
}

void open_external_files(const Model& occ, const Model& amt) {
  if (occ.iexty == 1 || amt.iexty == 1) filchk(extfil(EXT_ANNUAL), extchn(EXT_ANNUAL), STFLAG_INPUT);
  if (occ.iextm == 1 || amt.iextm == 1) filchk(extfil(EXT_MONTHLY), extchn(EXT_MONTHLY), STFLAG_INPUT);
  if (occ.iextd == 1 || amt.iextd == 1) filchk(extfil(EXT_DAILY), extchn(EXT_DAILY), STFLAG_INPUT);
}

// Correlation matrix of a model's structure; the empirical structure reads the
// model's correlation file.
void build_matrix(const Model& m, const std::string& deffile, const std::string& corfile, int unit, Matrix& cor,
                  const SiteTable& sites) {
  const bool empirical = m.spmod == 1;
  corset(empirical ? corfile : deffile, unit, m.spmod, m.rho, cor, sites.nsites, sites, MAXSIT);
}

}  // namespace

void dailygen_run() {
  Console& con = console();
  Channels& ch = channels();
  covrst();
  extrst();
  install_covariate_texts();

  con.line(" Opening files ...");
  filchk(DATA_FILE, CH_DATA, STFLAG_INPUT);
  filchk("regions.def", CH_REGIONS, STFLAG_INPUT);
  filchk("siteinfo.def", CH_SITES, STFLAG_INPUT);
  filchk(OCC_FILE, CH_OCCMODEL, STFLAG_INPUT);
  filchk(AMT_FILE, CH_AMTMODEL, STFLAG_INPUT);
  filchk("daily.dat", CH_DAILY, STFLAG_OUTPUT);
  filchk("monthly.dat", CH_MONTHLY, STFLAG_OUTPUT);
  filchk("mdlspec.txt", CH_SPEC, STFLAG_OUTPUT);
  TextOut& spec = ch.output(CH_SPEC);

  RegionNames names = region_table();
  int nreg = 0;
  regdef("regions.def", CH_REGIONS, names, nreg);
  chkreg(names, nreg, CH_SPEC);
  // Each model transforms the site attributes into derived columns of its own copy of
  // the site table, so that the two models' transformations cannot overwrite each other.
  SiteTable sites1;
  sitedef(CH_SITES, "siteinfo.def", sites1);
  chksit(sites1, nreg, CH_SPEC);
  const int nsites = sites1.nsites;
  if (nsites > DLYFMT) {
    con.blank();
    con.blank();
    con.line(blanks(10) + "****ERROR**** You have defined more than 99,999 sites. ");
    con.line(blanks(10) + "To deal with this much output, you will need to redefine the variable");
    con.line(blanks(10) + "DLYFMT in file dailygen, and recompile.");
    end_run(1);
  }
  SiteTable sites2 = sites1;

  spec.line("");
  spec.line("");
  spec.line("MODEL DEFINITIONS:");
  spec.line(std::string(18, '~'));
  spec.line("");
  Model occ, amt;
  mdlset(CH_OCCMODEL, OCC_FILE, RSP_OCCURRENCE, 0, sites1, occ);
  mdlset(CH_AMTMODEL, AMT_FILE, RSP_AMOUNT, 1, sites2, amt);
  ch.close(CH_OCCMODEL);
  ch.close(CH_AMTMODEL);
  open_external_files(occ, amt);
  glbchk(occ, amt, OCC_FILE, AMT_FILE);
  occ.nu = -1.0;  // the occurrence model has no dispersion parameter
  attrxfm(occ, sites1, 0);
  txtset(occ, sites1.attnam);
  chkmdl(occ, sites1.attnam, 1, RSP_OCCURRENCE, CH_SPEC);
  spec.line("");
  attrxfm(amt, sites2, 0);
  txtset(amt, sites2.attnam);
  chkmdl(amt, sites2.attnam, 1, RSP_AMOUNT, CH_SPEC);
  spec.line("");

  rhochk(occ.rho, occ.spmod, OCC_FILE, MAXRHO);
  rhochk(amt.rho, amt.spmod, AMT_FILE, MAXRHO);
  check_occurrence_scheme(occ.spmod);
  Matrix cormat1(MAXSIT, MAXSIT), cormat2(MAXSIT, MAXSIT);
  if (occ.spmod >= 1 && occ.spmod <= 19) build_matrix(occ, OCC_FILE, "cor_logi.dat", CH_OCCCOR, cormat1, sites1);
  build_matrix(amt, AMT_FILE, "cor_gamm.dat", CH_AMTCOR, cormat2, sites2);
  Array1<double> mtrans(1, MAXSIT, 0.0);
  nuchk(amt.nu, AMT_FILE);
  anset(mtrans, cormat2, amt.nu, nsites, MAXSIT);
  const int mxlag = std::max(occ.mxlag, amt.mxlag);
  occ.mxlag = mxlag;
  amt.mxlag = mxlag;

  Array1<int> whichregs(0, MAXREG, 0);
  whichregs(0) = 1;
  const Options o = dialogue(spec, names, nreg, whichregs);
  zbqlini(o.seed);
  ch.close(CH_SPEC);
  const SimThresholds thr = simthr(occ);

  // Run state, allocated once.
  SimDay day;
  DataSearch search;
  search.channel = CH_DATA;
  search.file = DATA_FILE;
  search.set_codes(sites1);
  Matrix covs1(MAXSIT, MAXPAR), covs2(MAXSIT, MAXPAR);
  Matrix pred1(MAXSIT, 4), pred2(MAXSIT, 4);
  Array1<double> eta(1, MAXSIT, 0.0), mu(1, MAXSIT, 0.0);
  Array1<int> missing(1, MAXSIT, 0);
  Matrix monthly(MAXSIT, 12);
  Array1<double> annual(1, MAXSIT, 0.0);
  DailyRecord record(nsites);
  TextOut& daily = ch.output(CH_DAILY);
  TextOut& summary = ch.output(CH_MONTHLY);
  const int start = o.sy * 100 + o.sm, end = o.ey * 100 + o.em;
  const bool soft = thr.kind == 1;
  int stage = 1, icheck = 0;

  for (int r = 1; r <= o.nreal; ++r) {
    day.clear();
    search.state = r == 1 ? -1 : 0;
    for (int y = o.sy; y <= o.ey; ++y) {
      annual.fill(0.0);
      if (stage > 1) stage = 2;
      for (int mon = 1; mon <= 12; ++mon) {
        for (int i = 1; i <= nsites; ++i) monthly(i, mon) = 0.0;
        const int ym = y * 100 + mon;
        if (ym < start || ym > end) continue;
        con.line(Fields().t("     Current month: ").i(mon, 2).t("/").i(y, 4).t(" (realisation ").i(r, 4).t(" of ")
                     .i(o.nreal, 4).t(")").str());
        if (stage > 2) stage = 3;
        int force = 1;
        const bool write_days = o.daily() && (o.dreal == 0 || (o.dreal == r && ym >= o.dstart && ym <= o.dend));
        const int ndays = days_in_month(mon, y);
        for (int d = 1; d <= ndays; ++d) {
          updat2(day, thr, nsites, y, mon, d, mxlag, search, MAXSIT);
          covset(covs1, occ, sites1, y, mon, d, day.previous, thr.trace, 0, force, missing, icheck, 1, 1);
          setpred(pred1, covs1, occ, nsites, stage, MAXSIT, MAXPAR);
          covset(covs2, amt, sites2, y, mon, d, day.previous, thr.trace, 0, force, missing, icheck, 1, 1);
          setpred(pred2, covs2, amt, nsites, stage, MAXSIT, MAXPAR);
          force = 0;
          stage = 4;
          icheck = 1;
          for (int i = 1; i <= nsites; ++i) {
            eta(i) = pred1(i, 4);
            mu(i) = std::exp(pred2(i, 4));
          }
          chkpred(eta, pred2, mu, sites1, nsites, y, mon, d);
          raingen(day.rain, day.flags, nsites, occ.spmod, eta, occ.rho, cormat1, amt.spmod, mu, amt.nu, cormat2,
                  mtrans, MAXSIT);
          if (soft)
            for (int i = 1; i <= nsites; ++i)
              if (day.rain(i) > 0.0) day.rain(i) += thr.postiv;
          if (o.summaries())
            for (int i = 1; i <= nsites; ++i) monthly(i, mon) += day.rain(i);
          if (write_days) daily.line(record.format(r, y, mon, d, day.rain, day.flags));
          ch.check_written(CH_DAILY);  // a full disk stops the run at once
          if (soft)
            for (int i = 1; i <= nsites; ++i)
              if (day.rain(i) > 0.0) day.rain(i) -= thr.postiv;
        }
        if (o.summaries())
          for (int i = 1; i <= nsites; ++i) annual(i) += monthly(i, mon);
      }
      if (o.summaries())
        outsum(summary, r, y, annual, monthly, nsites, sites1.region, whichregs, nreg, MAXSIT);
      ch.check_written(CH_MONTHLY);
    }
    ch.input(CH_DATA).rewind();
  }
  // daily.dat and monthly.dat are closed, and checked, as the program ends.
}

}  // namespace rg
