// Reading model definition files: the record filled from a good file, and every check
// of the reader with its message, line number and exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channels.hpp"
#include "files.hpp"
#include "model.hpp"
#include "sites.hpp"
#include "model_files.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;
using namespace modeltest;

namespace {

struct Read {
  rgtest::Outcome outcome;
  Model m;
};

Read read(const std::string& text, int rsptyp = RSP_AMOUNT, int dspreq = 0, const SiteTable& sites = three_sites()) {
  rgtest::TempDir dir;
  const std::string file = rsptyp == RSP_AMOUNT ? "gammamdl.def" : "logistic.def";
  dir.write(file, text);
  Read r;
  r.outcome = capture([&] {
    filchk(file, 42, STFLAG_INPUT);
    mdlset(42, file, rsptyp, dspreq, sites, r.m);
  });
  channels().close_all();
  return r;
}

// The run ended with status 1 after exactly these lines (the message's leading empty
// line included where the message has one).
void expect_stop(const Read& r, const std::vector<std::string>& lines, bool blank_first = true) {
  std::string want = blank_first ? "\n" : "";
  for (const auto& l : lines) want += l + "\n";
  EXPECT_TRUE(r.outcome.ended);
  EXPECT_EQ(r.outcome.status, 1);
  EXPECT_EQ(r.outcome.output, want);
}

std::vector<std::string> input_error(int line, const std::string& file = "gammamdl.def") {
  return {"****ERROR**** Input error while reading line " + num(line, 3) + " of file " + file + ".",
          "This *may* (but no promises!) be because you have at least one empty",
          "line at the end of the file. If this is the case, delete the ",
          "offending line(s) and try again."};
}
std::vector<std::string> already_defined(int line) {
  return {"****ERROR**** Parameter on line " + num(line, 3) + " of file gammamdl.def is already defined."};
}
std::vector<std::string> not_enough(int line) {
  return {"****ERROR**** On line " + num(line, 3) + " of file gammamdl.def, you haven't",
          "specified enough information to identify what you want."};
}
std::vector<std::string> bad_codes(int line) {
  return {"****ERROR**** The combination of codes on line " + num(line, 3) + " of file", "gammamdl.def is invalid."};
}
std::vector<std::string> no_function(int line) {
  return {"****ERROR**** On line " + num(line, 3) + " of file gammamdl.def, parameters",
          "are defined for a function which doesn't exist!"};
}
std::vector<std::string> bad_nonlinear(int line) {
  return {"****ERROR**** The nonlinear parameter definition on line " + num(line, 3) + " of file ",
          "gammamdl.def is incorrect. It refers either to a covariate that isn't",
          "a main effect, or to a parameter that doesn't exist."};
}

}  // namespace

// ---------------------------------------------------------------- good files

TEST(Mdlset, HeaderTitleAndConstantOnly) {
  auto r = read(constant("-0.7500"));
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  EXPECT_EQ(r.outcome.output, "");
  for (int k = 1; k <= NPCNT; ++k) EXPECT_EQ(r.m.np(k), 0) << k;
  EXPECT_DOUBLE_EQ(r.m.beta(0), -0.75);
  EXPECT_EQ(r.m.mdltit, "Test model" + std::string(60, ' '));
  EXPECT_EQ(r.m.spmod, 0);
  EXPECT_EQ(r.m.mxlag, 0);
  EXPECT_DOUBLE_EQ(r.m.nu, 1.0);
}

TEST(Mdlset, FullModelWithEveryComponentType) {
  auto r = read(full_model());
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  const Model& m = r.m;
  const int np[] = {3, 5, 7, 12, 13, 14, 16, 1, 1, 2};
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(m.np(k), np[k - 1]) << "np(" << k << ")";
  const int covcod[] = {3, 3, 1, 2, -2053, 1, 52, 21, 3001, 124002, 21001, -1051};
  for (int j = 1; j <= 12; ++j) EXPECT_EQ(m.covcod(j), covcod[j - 1]) << "covcod(" << j << ")";
  const double beta[] = {1.5, 0.2, 0.1, 0.05, 0.01, 0.02, 0.3, 0.1, 0.4, 0.5, 0.6, 0.7, 0.1, 0.2, 0.3, 0.25, 0.1};
  for (int j = 0; j <= 16; ++j) EXPECT_DOUBLE_EQ(m.beta(j), beta[j]) << "beta(" << j << ")";
  // Estimated parameters: Box-Cox of covariate 3 and decay rate of covariate 10.
  EXPECT_EQ(m.covcod(15), 3001);
  EXPECT_EQ(m.covcod(16), 10001);
  EXPECT_EQ(m.sitxfm(2, 1), 3);
  EXPECT_EQ(m.sitxfm(2, 2), 11);
  EXPECT_EQ(m.sitxfm(3, 1), 1);
  EXPECT_EQ(m.sitxfm(3, 2), 1);
  EXPECT_EQ(m.sitxfm(1, 2), 0);
  EXPECT_EQ(m.wtschm(10), 2);
  EXPECT_EQ(m.wtschm(11), 2);
  EXPECT_EQ(m.wtschm(9), 0);
  EXPECT_EQ(m.twoway(13, 1), 6);
  EXPECT_EQ(m.twoway(13, 2), 8);
  EXPECT_EQ(m.thrway(14, 1), 6);
  EXPECT_EQ(m.thrway(14, 2), 8);
  EXPECT_EQ(m.thrway(14, 3), 9);
  // Nonlinear parameters and their status.
  EXPECT_DOUBLE_EQ(m.theta(2, 1), 0.5);
  EXPECT_DOUBLE_EQ(m.theta(2, 2), 5.0);
  EXPECT_DOUBLE_EQ(m.theta(3, 1), 0.25);
  EXPECT_DOUBLE_EQ(m.theta(10, 1), 0.1);
  EXPECT_DOUBLE_EQ(m.theta(4, 1), 1980.0);
  EXPECT_FALSE(isdef(m.theta(11, 1)));  // held by covariate 10
  EXPECT_FALSE(isdef(m.theta(2, 3)));
  EXPECT_EQ(m.nlstat(1, 1), -1);
  EXPECT_EQ(m.nlstat(2, 1), 0);
  EXPECT_EQ(m.nlstat(2, 3), -1);
  EXPECT_EQ(m.nlstat(3, 1), 1);
  EXPECT_EQ(m.nlstat(4, 1), 0);
  EXPECT_EQ(m.nlstat(4, 3), -1);
  EXPECT_EQ(m.nlstat(5, 1), 0);  // every yearly effect has two parameter slots
  EXPECT_EQ(m.nlstat(6, 1), -1);
  EXPECT_EQ(m.nlstat(10, 1), 1);
  EXPECT_EQ(m.nlstat(10, 3), 0);
  EXPECT_EQ(m.nlstat(11, 1), 0);
  EXPECT_EQ(m.fouidx(3), 2);
  EXPECT_EQ(m.legidx(3), 0);
  EXPECT_EQ(m.pwtidx(2, 1), 10);
  EXPECT_EQ(m.pwtidx(2, 2), 16);
  EXPECT_EQ(m.pwtidx(2, 3), 0);
  // Globals, dispersion, spatial structure, history and external flags.
  EXPECT_EQ(m.glbcod(1), 1001);
  EXPECT_DOUBLE_EQ(m.glbval(1), 0.3);
  EXPECT_DOUBLE_EQ(m.nu, 2.5);
  EXPECT_EQ(m.spmod, 4);
  EXPECT_DOUBLE_EQ(m.rho(1), 0.1);
  EXPECT_DOUBLE_EQ(m.rho(2), 0.5);
  EXPECT_FALSE(isdef(m.rho(3)));
  EXPECT_EQ(m.mxlag, 3);
  EXPECT_EQ(m.iexty, 1);
  EXPECT_EQ(m.iextm, 1);
  EXPECT_EQ(m.iextd, 1);
  EXPECT_EQ(m.mdltit, "Full model - every component type  (test)" + std::string(29, ' '));
}

TEST(Mdlset, CrlfEndingsLongCommentsAndFreeValueForms) {
  std::string text = header() + comp(0, "1.5", 0, 0, 0, "Constant") +
                     comp(1, "15", 3, 0, 0, std::string(120, 'c')) +  // four implied decimals
                     comp(1, "1.25E-3", 3) + comp(1, "-2.5D+01", 3) + comp(1, "0.1235E+10", 3) +
                     "    1 1 . 5      3\n";  // blanks inside fields are ignored; short line
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& t : {text, crlf}) {
    auto r = read(t);
    ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
    EXPECT_EQ(r.m.np(4), 5);
    EXPECT_DOUBLE_EQ(r.m.beta(0), 1.5);
    EXPECT_DOUBLE_EQ(r.m.beta(1), 0.0015);
    EXPECT_DOUBLE_EQ(r.m.beta(2), 0.00125);
    EXPECT_DOUBLE_EQ(r.m.beta(3), -25.0);
    EXPECT_DOUBLE_EQ(r.m.beta(4), 1.235e9);
    EXPECT_DOUBLE_EQ(r.m.beta(5), 1.5);
    EXPECT_EQ(r.m.covcod(5), 3);
    EXPECT_EQ(r.m.mdltit, "Test model" + std::string(60, ' '));
  }
}

TEST(Mdlset, ExampleNetworkModels) {
  rgtest::TempDir dir;
  rgtest::copy_example({"siteinfo.def", "logistic.def", "gammamdl.def"});
  SiteTable sites;
  Model occ, amt;
  auto r = capture([&] {
    filchk("siteinfo.def", 36, STFLAG_INPUT);
    sitedef(36, "siteinfo.def", sites);
    filchk("logistic.def", 41, STFLAG_INPUT);
    mdlset(41, "logistic.def", RSP_OCCURRENCE, 0, sites, occ);
    filchk("gammamdl.def", 42, STFLAG_INPUT);
    mdlset(42, "gammamdl.def", RSP_AMOUNT, 1, sites, amt);
  });
  ASSERT_FALSE(r.ended) << r.output;
  // Occurrence: elevation, seasonal cosine and sine, own and mean wet indicator at lag 1.
  const int onp[] = {1, 1, 1, 5, 5, 5, 0, 0, 0, 1};
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(occ.np(k), onp[k - 1]) << k;
  const int ocod[] = {3, 21, 22, 3001, 13001};
  for (int j = 1; j <= 5; ++j) EXPECT_EQ(occ.covcod(j), ocod[j - 1]) << j;
  for (int j = 0; j <= 5; ++j) EXPECT_EQ(occ.beta(j), 0.0);
  EXPECT_EQ(occ.wtschm(5), 0);  // plain mean: no weighting parameters
  EXPECT_EQ(occ.spmod, 2);
  EXPECT_DOUBLE_EQ(occ.rho(1), 0.3);
  EXPECT_EQ(occ.mxlag, 1);
  EXPECT_EQ(occ.mdltit.substr(0, 36), "Synthetic network - occurrence model");
  // Amounts: the same without the indicators, ln(1+y) at lag 1, dispersion 1.
  const int anp[] = {1, 1, 1, 4, 4, 4, 0, 0, 1, 1};
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(amt.np(k), anp[k - 1]) << k;
  EXPECT_EQ(amt.covcod(4), 2001);
  EXPECT_DOUBLE_EQ(amt.beta(0), 1.5);
  EXPECT_DOUBLE_EQ(amt.nu, 1.0);
  EXPECT_EQ(amt.spmod, 2);
  EXPECT_DOUBLE_EQ(amt.rho(1), 0.3);
  // Both files stay open after reading.
  EXPECT_TRUE(channels().connected(41));
  EXPECT_TRUE(channels().connected(42));
}

TEST(Mdlset, IndependenceMayBeRepeatedAndLeavesNoStructure) {
  auto r = read(constant() + comp(10, "0", -3, 0) + comp(10, "0", 0, 0));
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  EXPECT_EQ(r.m.spmod, 0);
  EXPECT_EQ(r.m.np(10), 0);
}

TEST(Mdlset, SimulationIgnoresEstimationRequests) {
  std::string text = constant() + comp(1, "0.2", 1, 1) + comp(7, "0.5", 1, 1, 1) + comp(9, "2.0");
  auto fit = read(text, RSP_AMOUNT, 0);
  ASSERT_FALSE(fit.outcome.ended) << fit.outcome.output;
  EXPECT_EQ(fit.m.np(7), 2);
  EXPECT_EQ(fit.m.nlstat(1, 1), 1);
  auto sim = read(text, RSP_AMOUNT, 1);
  ASSERT_FALSE(sim.outcome.ended) << sim.outcome.output;
  EXPECT_EQ(sim.m.np(7), 1);  // set on the first parameter line, nothing estimated
  EXPECT_EQ(sim.m.nlstat(1, 1), 0);
  EXPECT_DOUBLE_EQ(sim.m.theta(1, 1), 0.5);
}

TEST(Mdlset, SharedLimitsAndWeightsAreHeldByTheFirstCovariate) {
  // Two Fourier terms of attribute 3 share limits given under both covariates; two
  // previous-day covariates of scheme 3 share their three parameters.
  std::string text = constant() + comp(1, "0.1", 3, 11) + comp(1, "0.1", 3, 12) + comp(4, "0.1", 1, 31) +
                     comp(4, "0.1", 2, 31) + comp(7, "0.0", 2, 1) + comp(7, "4.0", 1, 2) + comp(7, "1.0", 4, 1) +
                     comp(7, "2.0", 3, 2) + comp(7, "0.3", 4, 3, 5);
  auto r = read(text);
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  const Model& m = r.m;
  EXPECT_EQ(m.fouidx(3), 2);
  EXPECT_DOUBLE_EQ(m.theta(2, 1), 0.0);
  EXPECT_DOUBLE_EQ(m.theta(2, 2), 4.0);
  EXPECT_FALSE(isdef(m.theta(1, 2)));
  EXPECT_EQ(m.pwtidx(3, 1), 4);
  EXPECT_DOUBLE_EQ(m.theta(4, 1), 1.0);
  EXPECT_DOUBLE_EQ(m.theta(4, 2), 2.0);
  EXPECT_DOUBLE_EQ(m.theta(4, 3), 0.3);
  EXPECT_EQ(m.pwtidx(3, 4), 5);  // parameter 3 estimated at position 5
  EXPECT_EQ(m.covcod(5), 4003);
  EXPECT_EQ(m.np(7), 5);
}

// ---------------------------------------------------------------- faults

TEST(MdlsetFaults, UnreadableLinesAreInputError2) {
  // A letter in a code, a tab in a numeric field, an empty line at the end, a value
  // running into the code field.
  expect_stop(read(constant() + comp(1, "0.2", 3) + "    1    0.2000    x    0    0\n"), input_error(51));
  expect_stop(read(constant() + "    1\t0.2    3\n"), input_error(50));
  expect_stop(read(constant() + comp(1, "0.2", 3) + "\n"), input_error(51));
  expect_stop(read(constant() + comp(1, "0.2", 3) + "   \r\n"), input_error(51));
  expect_stop(read(constant() + "    4    0.12345678   21    0    0\n"), input_error(50));
  expect_stop(read(constant() + "    4    0.1000   213    0    0\n"), input_error(50));
  expect_stop(read(header() + "    0   abc\n"), input_error(49));
  // A type 0 after the constant.
  expect_stop(read(constant() + comp(0, "1.0")), input_error(50));
}

TEST(MdlsetFaults, LoneCarriageReturnEndsALine) {
  // The line stops at the CR, so it names no daily effect.
  expect_stop(read(constant() + "    4    0.1\r00   21\n"),
              {"****ERROR**** On line  50 of file gammamdl.def, you haven't",
               "specified enough information to identify what you want."});
}

TEST(MdlsetFaults, FileEndingInsideTheHeader) {
  std::string text;
  for (int i = 1; i <= 20; ++i) text += "header\n";
  expect_stop(read(text), input_error(21));
  expect_stop(read(header().substr(0, header().rfind("Test model"))), input_error(48));
}

TEST(MdlsetFaults, OrderOfComponentTypes) {
  expect_stop(read(constant() + comp(8, "0.3", 1, 1) + comp(4, "0.1", 21)),
              {"****ERROR**** Line 51 of file gammamdl.def is out of order"});
  // Types may repeat.
  auto r = read(constant() + comp(1, "0.1", 3) + comp(1, "0.1", 1) + comp(10, "0.2", 4, 1) + comp(10, "0.5", 4, 2));
  EXPECT_FALSE(r.outcome.ended) << r.outcome.output;
  expect_stop(read(constant() + comp(11, "0.1", 1)),
              {"****ERROR**** Invalid model component on line  50 of file gammamdl.def"});
  expect_stop(read(constant() + comp(-1, "0.1", 1)),
              {"****ERROR**** Invalid model component on line  50 of file gammamdl.def"});
}

TEST(MdlsetFaults, MainEffectWhereTheConstantShouldBe) {
  expect_stop(read(header() + comp(1, "0.1", 3)),
              {"****ERROR**** There is a problem with input file gammamdl.def - my guess is",
               "the number of header rows is wrong. There should be 46 - see the examples",
               "in the program distribution for a correct specification."});
}

TEST(MdlsetFaults, MissingIdentifyingCodeIs32) {
  expect_stop(read(constant() + comp(1, "0.1", 0, 1)), not_enough(50));
  expect_stop(read(constant() + comp(1, "0.1", 1) + comp(5, "0.1", 1, 0)), not_enough(51));
  expect_stop(read(constant() + comp(1, "0.1", 1) + comp(6, "0.1", 1, 1, 0)), not_enough(51));
  expect_stop(read(constant() + comp(1, "0.1", 1, 1) + comp(7, "0.1", 1, 0)), not_enough(51));
  expect_stop(read(constant() + comp(8, "0.1", 1, 0)), not_enough(50));
  expect_stop(read(constant() + comp(10, "0.1", 2, 0)), not_enough(50));
  expect_stop(read(constant() + comp(10, "0.1", 2, 1) + comp(10, "0.1", 2, 0)), not_enough(51));
}

TEST(MdlsetFaults, SiteAttributes) {
  std::vector<std::string> msg = {"****ERROR**** The site attribute requested on line  50 of file gammamdl.def",
                                  " has not been defined."};
  expect_stop(read(constant() + comp(1, "0.1", 4)), msg);
  expect_stop(read(constant() + comp(1, "0.1", -1)), msg);
  // Distance weights need both X and Y.
  SiteTable one = three_sites(1);
  auto r = read(constant() + comp(4, "0.1", 1, 21), RSP_AMOUNT, 0, one);
  expect_stop(r, {"****ERROR**** On line  50 of file gammamdl.def", " you ask for distance-weighted",
                  "averages of previous days' values. I need both X and Y site co-ordinates to",
                  "be defined in file siteinfo.def."});
}

TEST(MdlsetFaults, InteractionsMustNameMainEffects) {
  const std::vector<std::string> msg = {"****ERROR**** Illegal interaction specified on line  52 of file gammamdl.def"};
  std::string base = constant() + comp(1, "0.1", 3) + comp(4, "0.1", 21);
  expect_stop(read(base + comp(5, "0.1", 1, 3)), msg);
  expect_stop(read(base + comp(6, "0.1", 1, 2, 3)), msg);
  expect_stop(read(base + comp(5, "0.1", -1, 2)), msg);
  // An interaction is not a main effect either.
  expect_stop(read(base + comp(5, "0.1", 1, 2) + comp(6, "0.1", 1, 2, 3)),
              {"****ERROR**** Illegal interaction specified on line  53 of file gammamdl.def"});
}

TEST(MdlsetFaults, PreviousDays) {
  expect_stop(read(constant() + comp(4, "0.1", 1, 3, 11)),
              {"****ERROR**** On line  50 of file gammamdl.def, you have asked me",
               "to keep track of too many previous days' values. I can't", "remember more than 10!"});
  // Code 3 of 10 is allowed and raises mxlag.
  auto r = read(constant() + comp(4, "0.1", 1, 3, 10));
  ASSERT_FALSE(r.outcome.ended);
  EXPECT_EQ(r.m.mxlag, 10);
  // A daily effect above 10 may not carry previous-day digits.
  expect_stop(read(constant() + comp(4, "0.1", 21, 3)), no_function(50));
}

TEST(MdlsetFaults, TraceIndicatorNeedsATraceThreshold) {
  const std::vector<std::string> msg = {"****ERROR**** In file gammamdl.def, some covariates are `trace'",
                                        "indicators, but you haven't defined a `trace' threshold",
                                        "in the `global quantities' section of the file."};
  std::string base = constant() + comp(4, "0.1", 1, 4);
  expect_stop(read(base), msg);
  expect_stop(read(base + comp(8, "0.3", 1, 2)), msg);
  expect_stop(read(base + comp(8, "0.3", 1, 3)), msg);
  auto r = read(base + comp(8, "0.3", 1, 1));
  EXPECT_FALSE(r.outcome.ended) << r.outcome.output;
}

TEST(MdlsetFaults, ParametersAlreadyDefined) {
  expect_stop(read(constant() + comp(1, "0.1", 1, 1) + comp(7, "0.2", 1, 1) + comp(7, "0.3", 1, 1)),
              already_defined(52));
  expect_stop(read(constant() + comp(8, "0.3", 1, 1) + comp(8, "0.3", 1, 2)), already_defined(51));
  expect_stop(read(constant() + comp(10, "0.3", 4, 1) + comp(10, "0.4", 4, 1)), already_defined(51));
  // A weighting-scheme parameter already given under the holder.
  expect_stop(read(constant() + comp(4, "0.1", 1, 21) + comp(4, "0.1", 2, 21) + comp(7, "0.2", 1, 1) +
                   comp(7, "0.3", 2, 1)),
              already_defined(53));
  // Both series limits known already; and one limit given twice before the other.
  std::string fourier = constant() + comp(1, "0.1", 3, 11) + comp(1, "0.1", 3, 12) + comp(1, "0.1", 3, 13);
  expect_stop(read(fourier + comp(7, "0.0", 1, 1) + comp(7, "4.0", 1, 2) + comp(7, "0.0", 2, 1)), already_defined(55));
  expect_stop(read(fourier + comp(7, "0.0", 1, 1) + comp(7, "0.5", 2, 1)), already_defined(54));
}

TEST(MdlsetFaults, ParameterOfAFunctionWithoutOne) {
  // Monthly effects have no nonlinear parameters; a trend has no third one.
  expect_stop(read(constant() + comp(3, "0.1", 1) + comp(7, "0.2", 1, 1)), no_function(51));
  expect_stop(read(constant() + comp(2, "0.1", 2) + comp(7, "0.2", 1, 3)), no_function(51));
  expect_stop(read(constant() + comp(1, "0.1", 3) + comp(7, "0.2", 1, 1)), no_function(51));
}

TEST(MdlsetFaults, NonlinearParameterOfNoMainEffect) {
  std::string base = constant() + comp(1, "0.1", 3, 1) + comp(5, "0.1", 1, 1);
  expect_stop(read(base + comp(7, "0.2", 2, 1)), bad_nonlinear(52));
  expect_stop(read(base + comp(7, "0.2", 1, 4)), bad_nonlinear(52));
  expect_stop(read(base + comp(7, "0.2", -1, 1)), bad_nonlinear(52));
}

TEST(MdlsetFaults, InvalidCodeCombinations) {
  expect_stop(read(constant() + comp(8, "0.3", 2, 1)), bad_codes(50));
  expect_stop(read(constant() + comp(8, "0.3", 1, 4)), bad_codes(50));
  expect_stop(read(constant() + comp(8, "0.3", 1, -1)), bad_codes(50));
  // Effect codes that cannot be packed into a covariate code.
  expect_stop(read(constant() + comp(4, "0.3", 1001)), bad_codes(50));
  expect_stop(read(constant() + comp(2, "0.3", -53)), bad_codes(50));
  // Spatial parameter numbers outside the parameter vector.
  expect_stop(read(constant() + comp(10, "0.3", 2, 81)), bad_codes(50));
  expect_stop(read(constant() + comp(10, "0.3", 2, -1)), bad_codes(50));
}

TEST(MdlsetFaults, EstimationNeedsANonZeroCoefficient) {
  expect_stop(read(constant() + comp(1, "0.0", 1, 1) + comp(7, "0.2", 1, 1, 1)),
              {"****ERROR**** On line  51 of file gammamdl.def, you ask",
               "for estimation of a nonlinear parameter, but you've given zero ",
               "as the coefficient of the corresponding covariate!"});
  auto r = read(constant() + comp(1, "0.0", 1, 1) + comp(7, "0.2", 1, 1, 0));
  EXPECT_FALSE(r.outcome.ended) << r.outcome.output;
}

TEST(MdlsetFaults, SeriesLimits) {
  std::string base = constant() + comp(1, "0.1", 3, 11);
  expect_stop(read(base + comp(7, "0.0", 1, 1, 1)),
              {"****ERROR**** On line  51 of file gammamdl.def, you've",
               "asked me to estimate a parameter that should be regarded as known."});
  expect_stop(read(base + comp(7, "4.0", 1, 1) + comp(7, "4.0", 1, 2)),
              {"****ERROR**** You have asked for orthogonal series representation",
               "of a function over an interval whose upper limit is not greater than",
               "its lower limit (line  52 of file gammamdl.def)"},
              false);
  // Elevations are 1, 2 and 3: site 3 is not strictly inside (0, 3).
  expect_stop(read(base + comp(7, "3.0", 1, 2) + comp(7, "0.0", 1, 1)),
              {"****ERROR**** Site number   3 has an attribute outside the range",
               "you have specified for orthogonal series representation in file gammamdl.def."},
              false);
  // Legendre limits go to their own table.
  auto r = read(constant() + comp(1, "0.1", 3, 31) + comp(7, "0.5", 1, 1) + comp(7, "3.5", 1, 2));
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  EXPECT_EQ(r.m.legidx(3), 1);
  EXPECT_EQ(r.m.fouidx(3), 0);
}

TEST(MdlsetFaults, TooManyComponentLines) {
  std::string text = constant();
  for (int j = 1; j <= 80; ++j) text += comp(4, "0.1", 21);
  auto ok = read(text);
  ASSERT_FALSE(ok.outcome.ended) << ok.outcome.output;
  EXPECT_EQ(ok.m.np(4), 80);
  expect_stop(read(text + comp(4, "0.1", 21)),
              {"****ERROR**** Model specified in file gammamdl.def contains ",
               "more parameters than I have available storage (current maximum is  80)",
               "Increase the storage and recompile."});
}

TEST(MdlsetFaults, SpatialStructures) {
  expect_stop(read(constant() + comp(10, "0.3", 3, 1) + comp(10, "0.3", 4, 2)),
              {"****ERROR**** On line  51 of file gammamdl.def, you specify",
               "a spatial structure which is different from the one you specified", "previously in the same file!"});
  expect_stop(read(constant() + comp(10, "0", 0, 0) + comp(10, "0.3", 2, 1)),
              {"****ERROR**** On line  51 of file gammamdl.def, you specify",
               "a spatial structure which is different from the one you specified", "previously in the same file!"});
  const std::vector<std::string> wrong = {"****ERROR**** on line  50 of file gammamdl.def, you specify",
                                          "a spatial structure which is inconsistent with the response variable",
                                          "you're trying to model."};
  expect_stop(read(constant() + comp(10, "0.3", 21, 1)), wrong);
  expect_stop(read(constant() + comp(10, "0.3", -19, 0)), wrong);
  // The occurrence model accepts the weather-state structure.
  auto r = read(constant() + comp(10, "1.5", 21, 1), RSP_OCCURRENCE);
  ASSERT_FALSE(r.outcome.ended) << r.outcome.output;
  EXPECT_EQ(r.m.spmod, 21);
  EXPECT_DOUBLE_EQ(r.m.rho(1), 1.5);
}

TEST(MdlsetFaults, DispersionParameter) {
  expect_stop(read(constant() + comp(9, "1.0") + comp(9, "2.0")),
              {"****ERROR**** On line  51 of file gammamdl.def you've specified a",
               "second dispersion parameter - I can only deal with one."});
  expect_stop(read(constant() + comp(9, "1.0"), RSP_OCCURRENCE),
              {"****ERROR**** On line  50 of file logistic.def you've specified a",
               "dispersion parameter for a model that doesn't have one."});
  expect_stop(read(constant(), RSP_AMOUNT, 1),
              {"****ERROR**** In file gammamdl.def, you haven't defined a dispersion parameter."});
}

// ---------------------------------------------------------------- services

TEST(Taudef, FirstThresholdCodeGivesKindAndValue) {
  Model m;
  double postiv = -1, trace = -1;
  int kind = -1;
  taudef(m, postiv, trace, kind);
  EXPECT_EQ(postiv, 0.0);
  EXPECT_EQ(trace, 0.0);
  EXPECT_EQ(kind, 0);
  m.np(8) = 1;
  m.glbcod(1) = 1001;
  m.glbval(1) = 0.25;
  taudef(m, postiv, trace, kind);
  EXPECT_EQ(kind, 0);
  EXPECT_EQ(trace, 0.25);
  EXPECT_EQ(postiv, 0.0);
  m.glbcod(1) = 1003;
  taudef(m, postiv, trace, kind);
  EXPECT_EQ(kind, 2);
  EXPECT_EQ(trace, 0.0);
  EXPECT_EQ(postiv, 0.25);
}

TEST(Nlcntr, DerivativeOfTheLinearPredictor) {
  // eta = b1 x1 + b2 x2 + b3 x3 + b4 x1 x2 + b5 x2 x2 + b6 x1 x2 x3 + b7 x3 x3 x2;
  // d eta / d x2 = b2 + b4 x1 + b5 x2 + b6 x1 x3 + b7 x3 x3 (x2 listed twice in
  // interaction 5 counts once).
  Model m;
  m.np(4) = 3;
  m.np(5) = 5;
  m.np(6) = 7;
  const double b[] = {0, 0.5, -1.0, 2.0, 0.25, 3.0, -0.5, 1.5};
  for (int j = 1; j <= 7; ++j) m.beta(j) = b[j];
  m.twoway(4, 1) = 1; m.twoway(4, 2) = 2;
  m.twoway(5, 1) = 2; m.twoway(5, 2) = 2;
  m.thrway(6, 1) = 1; m.thrway(6, 2) = 2; m.thrway(6, 3) = 3;
  m.thrway(7, 1) = 3; m.thrway(7, 2) = 3; m.thrway(7, 3) = 2;
  Matrix covs(2, MAXPAR);
  covs(2, 1) = 2.0;
  covs(2, 2) = 3.0;
  covs(2, 3) = 4.0;
  // -1 + 0.25*2 + 3*3 + (-0.5)*2*4 + 1.5*4*4 = -1 + 0.5 + 9 - 4 + 24 = 28.5
  EXPECT_DOUBLE_EQ(nlcntr(2, m, covs, 2), 28.5);
  // d/dx3 = 2 + (-0.5)*2*3 + 1.5*(x3 x2 for the first listed x3) = 2 - 3 + 1.5*4*3 = 17
  EXPECT_DOUBLE_EQ(nlcntr(3, m, covs, 2), 17.0);
  auto r = capture([&] { nlcntr(4, m, covs, 2); });
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "/****ERROR**** in routine NLCNTR, PREDNO is not a main effect.\n"
            "This is a programming error - contact DEV.\n");
}
