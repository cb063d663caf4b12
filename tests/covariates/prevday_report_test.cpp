// The model report of a model with previous-day predictors of every weighting scheme
// and both orders, read from a definition file, described with the covariate texts
// installed as at start-up. Expected texts are written out by hand from the pieces of
// each code's digits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channels.hpp"
#include "covset.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "model.hpp"
#include "sites.hpp"
#include "test_support.hpp"

using namespace rg;

namespace {

std::string rj(const std::string& s, int w) { return std::string(s.size() < size_t(w) ? w - s.size() : 0, ' ') + s; }
std::string comp(int type, const std::string& value, int c1 = 0, int c2 = 0, int c3 = 0) {
  return rj(std::to_string(type), 5) + rj(value, 10) + rj(std::to_string(c1), 5) + rj(std::to_string(c2), 5) +
         rj(std::to_string(c3), 5) + "\n";
}

std::string definition() {
  std::string s;
  for (int i = 1; i <= 46; ++i) s += "header\n";
  s += "unused\nPrevious days  (report test)\n";
  s += comp(0, "0.1000");
  s += comp(4, "0.5000", 1, 11);       // 1 order 0, mean, ln
  s += comp(4, "0.5000", 2, 122);      // 2 order 1, distance weighted, ln(1+)
  s += comp(4, "0.5000", 3, 35);       // 3 order 0, shifted, all wet
  s += comp(4, "0.5000", 1, 113);      // 4 order 1, mean, wet indicator
  s += comp(4, "0.5000", 2, 135);      // 5 order 1, shifted, all wet
  s += comp(4, "0.5000", 1, 24);       // 6 order 0, distance weighted, trace
  s += comp(4, "0.5000", 1, 0);        // 7 plain lag
  s += comp(4, "0.5000", 4, 4);        // 8 own site, trace
  s += comp(7, "0.2000", 2, 1, 1);     // decay rate of scheme 2, estimated
  s += comp(7, "1.5000", 3, 1, 0);     // shift of scheme 3
  s += comp(7, "-0.5000", 3, 2, 0);
  s += comp(7, "0.1000", 3, 3, 0);
  s += comp(8, "0.3000", 1, 1);        // trace threshold
  return s;
}

TEST(PrevdayReport, DescriptionsOfEverySchemeAndOrder) {
  rgtest::TempDir dir;
  dir.write("logistic.def", definition());
  SiteTable sites;
  sites.nsites = 2;
  sites.nattr = 2;
  sites.attnam(1) = fmt_a("Easting (km)", 70);
  sites.attnam(2) = fmt_a("Northing (km)", 70);
  sites.sitinf(2, 1, 1) = 1.0;
  Model m;
  std::string report;
  auto o = rgtest::capture(
      [&] {
        filchk("logistic.def", 42, STFLAG_INPUT);
        mdlset(42, "logistic.def", RSP_OCCURRENCE, 0, sites, m);
        install_covariate_texts();
        txtset(m, sites.attnam);
        filchk("logistic.res", 60, STFLAG_OUTPUT);
        chkmdl(m, sites.attnam, 1, RSP_OCCURRENCE, 60);
        channels().close_all();
      },
      "\n");
  ASSERT_FALSE(o.ended) << o.output;
  const std::vector<std::string> want = {
      "Mean of Ln(Y[t-1])",
      "Ln(1+Distance-weighted mean of Y[t-2])",
      "Shift/distance-weighted mean of I(Y[t-k]>0: k=1 to  3)",
      "I(Mean of Y[t-1]>0)",
      "I(Shift/distance-weighted mean of Y[t-k] > 0: k=1 to  2)",
      "Distance-weighted mean of Trace indicator: Y[t-1]",
      "Y[t-1]",
      "Trace indicator: Y[t-4]",
  };
  for (int j = 1; j <= 8; ++j) EXPECT_EQ(m.covtxt(j), fmt_a(want[j - 1], 70)) << j;

  // Main-effect lines show 53 characters; the nonlinear block lists the parameters
  // under the covariate holding each scheme.
  const std::string file = dir.read("logistic.res");
  for (const std::string& line : std::vector<std::string>
       {fmt_a(want[1], 53) + "    0.500000", fmt_a(want[4], 53) + "    0.500000",
        fmt_a(want[1], 53) + ":", "          Exponential decay rate        :    0.2000 ",
        fmt_a(want[2], 53) + ":", "          Offset for Easting (km)       :    1.5000 (prespecified)",
        "          Offset for Northing (km)      :   -0.5000 (prespecified)",
        "          Exponential decay rate        :    0.1000 (prespecified)"}) {
    EXPECT_NE(o.output.find(line + "\n"), std::string::npos) << line;
    EXPECT_NE(file.find(line + "\n"), std::string::npos) << line;
  }
}

}  // namespace
