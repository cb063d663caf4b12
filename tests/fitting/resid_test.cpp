// The residual analysis on small hand-made fitted-value stores whose tables follow
// in closed form.
#include <gtest/gtest.h>

#include "channels.hpp"
#include "files.hpp"
#include "resid.hpp"
#include "stores.hpp"
#include "test_support.hpp"

using namespace rg;

namespace {

struct Obs {
  int site, yy, mm, dd;
  double y, p;
};

// Runs the occurrence analysis over the records; returns the console output.
std::string analyse(const std::vector<Obs>& recs, int nsites) {
  rgtest::TempDir dir;
  SiteTable sites;
  sites.nsites = nsites;
  for (int i = 1; i <= nsites; ++i) {
    sites.sitcod(i) = "S00" + std::to_string(i);
    sites.sitnam(i) = "Gauge " + std::to_string(i);
  }
  auto r = rgtest::capture([&] {
    filchk("t.res", 60, STFLAG_OUTPUT);
    int ch = 85;
    scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, ch);
    std::int64_t n = 0;
    for (const auto& o : recs) {
      FittedRecord f{o.site, o.yy, o.mm, o.dd, o.y, o.p, 0.0};
      write_fitted(channels().store(ch), ++n, f);
    }
    resid(RSP_OCCURRENCE, 1.0, 1, n, ch, 60, sites, nsites, MAXSIT);
  });
  channels().close_all();
  EXPECT_FALSE(r.ended) << r.output;
  return r.output;
}

bool has(const std::string& out, const std::string& text) { return out.find(text) != std::string::npos; }

}  // namespace

// Three gauges whose Pearson residuals (all probabilities 0.5, so r = +-1) are
// opposite on the days they share in pairs: correlations -1 (1-2), -2/3 (1-3: four
// opposite days and one equal day) and -1 (2-3). On the one day all three report
// (February 1869) the dependence sum is 3 + 2(-1 - 2/3 - 1) = -7/3: no square root,
// the uninflated error 1/sqrt(3) and a note. January 1990 (4 days of each pair)
// sums 4 (0 + 2/3 + 0) = 8/3 over 24 records: error sqrt(8/3/24)/sqrt(24).
TEST(Resid, NegativeDependenceSumYearsOutsideTheTableAndEvenProbabilities) {
  std::vector<Obs> recs = {{1, 1869, 2, 1, 1, 0.5}, {2, 1869, 2, 1, 0, 0.5}, {3, 1869, 2, 1, 1, 0.5}};
  const int pairs[3][2] = {{1, 2}, {1, 3}, {2, 3}};
  int day = 1;
  for (const auto& pr : pairs)
    for (int k = 0; k < 4; ++k, ++day) {
      const double a = k % 2 == 0 ? 1 : 0;
      recs.push_back({pr[0], 1990, 1, day, a, 0.5});
      recs.push_back({pr[1], 1990, 1, day, 1 - a, 0.5});
    }
  recs.push_back({4, 1990, 3, 1, 1, 0.5});  // a gauge with a single record
  const std::string out = analyse(recs, 4);
  // 28 records, all forecast wet (0.5 rounds up), 15 of them observed wet.
  EXPECT_TRUE(has(out, "     Forecast dry |      0       0 ||    0.0       0.0\n")) << out;
  EXPECT_TRUE(has(out, "     Forecast wet |     13      15 ||   53.6      50.0\n"));
  EXPECT_TRUE(has(out, " Number of cases |    0|    0|    0|    0|    0|   28|    0|    0|    0|    0|\n"));
  EXPECT_TRUE(has(out, " Observed propn. |0.000|0.000|0.000|0.000|0.000|0.536|0.000|0.000|0.000|0.000|\n"));
  EXPECT_TRUE(has(out, "          1 |     24 ||  0.0000    1.0215     0.0680\n"));  // 0.06804
  EXPECT_TRUE(has(out, "          2 |      3 ||  0.3333    1.1547     0.5774\n"
                       "    NOTE: negative dependence sum - the standard error above is not inflated.\n"));
  EXPECT_TRUE(has(out, "          3 |      1 ||  1.0000    1.0000     1.0000\n"));
  // The single record of gauge 4: its standard deviation is the expected one, 1.
  EXPECT_TRUE(has(out, "       S004  Gauge 4              |      1 ||  1.0000    1.0000     1.0000\n"));
  // 1869 is outside the yearly table; said once, under it.
  EXPECT_FALSE(has(out, "       1869 |"));
  // 1990: 8/3 from January and 1 from the lone record of March, over 25 records.
  EXPECT_TRUE(has(out, "       1990 |     25 ||  0.0400    1.0198     0.0766\n"));
  EXPECT_TRUE(has(out, "    NOTE: 3 record(s) dated outside 1870-2069 are left out of this table.\n"));
}

// One gauge: only the diagonal (correlation 1) contributes, so every inflation
// factor is 1; a class that is always right prints 100 per cent in its 4 columns.
TEST(Resid, SingleSiteHasNoInflationAndFullPercentagesFit) {
  const std::string out = analyse({{1, 2000, 6, 1, 1, 0.9}, {1, 2000, 6, 2, 0, 0.2}}, 1);
  EXPECT_TRUE(has(out, "     Forecast dry |      1       0 ||   100.      80.0\n")) << out;
  EXPECT_TRUE(has(out, "     Forecast wet |      0       1 ||   100.      90.0\n"));
  EXPECT_TRUE(has(out, "                  OVERALL % CORRECT :   100.      85.0\n"));
  // r = 1/3 and -1/2: mean -1/12; s with N - P = 1; its error s/sqrt(2).
  EXPECT_TRUE(has(out, "         Mean Pearson residual: -0.0833\n"));
  EXPECT_TRUE(has(out, "         Standard deviation of Pearson residuals:  0.5893\n"));
  EXPECT_TRUE(has(out, "         Standard error of mean Pearson residual:  0.4167\n"));
  EXPECT_TRUE(has(out, "          6 |      2 || -0.0833    0.5893     0.7071\n"));
  EXPECT_TRUE(has(out, "       2000 |      2 || -0.0833    0.5893     0.7071\n"));
}
