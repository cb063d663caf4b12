// Covariate vector assembly. Cell values are checked against closed forms of the
// covariate families worked out here (trend (y - 1950) / 10, cos(pi m / 6),
// cos(pi v / 183), hand-computed means and distance weights); the derivative columns
// of estimated parameters against central finite differences of the linear predictor
// assembled from the covariate values themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "channels.hpp"
#include "covset.hpp"
#include "external.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "prevday.hpp"
#include "test_support.hpp"

using namespace rg;
using rgtest::capture;

namespace {

constexpr double pi = 3.141592653589793;
constexpr double SENTINEL = 99.0;

int pcode(int lag, int xfm, int scheme = 0, int order = 0) { return lag + 1000 * (xfm + 10 * scheme + 100 * order); }

// Four sites at (0,0), (3,4), (6,8), (0,1) (d12 = 5, d13 = 10, d14 = 1, d23 = 5),
// with elevation (attribute 3) 100 to 400 and a stand-in derived column 4 whose
// layers 2 to 4 hold 0.1 s, 0.2 s, 0.3 s.
std::unique_ptr<SiteTable> network() {
  auto t = std::make_unique<SiteTable>();
  const double xy[4][2] = {{0, 0}, {3, 4}, {6, 8}, {0, 1}};
  t->nsites = 4;
  t->nattr = 3;
  t->attnam(1) = fmt_a("Easting", 70);
  t->attnam(2) = fmt_a("Northing", 70);
  t->attnam(3) = fmt_a("Elevation", 70);
  for (int s = 1; s <= 4; ++s) {
    t->sitinf(s, 1, 1) = xy[s - 1][0];
    t->sitinf(s, 2, 1) = xy[s - 1][1];
    t->sitinf(s, 3, 1) = 100.0 * s;
    t->sitinf(s, 4, 1) = std::sqrt(s);
    for (int l = 2; l <= 4; ++l) t->sitinf(s, 4, l) = 0.1 * (l - 1) * s;
  }
  return t;
}

// Appends a main effect or interaction (types must come in non-decreasing order)
// and returns its covariate number.
int add(Model& m, int type, int code, double beta) {
  const int j = m.np(6) + 1;
  for (int t = type; t <= 6; ++t) m.np(t) += 1;
  m.covcod(j) = code;
  m.beta(j) = beta;
  if (type == 4 && code % 1000 <= MAXLAG) m.mxlag = std::max(m.mxlag, code % 1000);
  return j;
}
int two(Model& m, int a, int b, double beta) {
  const int j = add(m, 5, 0, beta);
  m.twoway(j, 1) = a;
  m.twoway(j, 2) = b;
  return j;
}
int three(Model& m, int a, int b, int c, double beta) {
  const int j = add(m, 6, 0, beta);
  m.thrway(j, 1) = a;
  m.thrway(j, 2) = b;
  m.thrway(j, 3) = c;
  return j;
}
// Estimated parameter p of covariate j; returns its position.
int estimate(Model& m, int j, int p) {
  if (m.np(7) == 0) m.np(7) = m.np(6);
  const int v = ++m.np(7);
  m.covcod(v) = 1000 * j + p;
  m.beta(v) = m.theta(j, p);
  return v;
}

struct Assembly : ::testing::Test {
  std::unique_ptr<SiteTable> sites = network();
  std::unique_ptr<Model> m = std::make_unique<Model>();
  Matrix covs{MAXSIT, MAXPAR};
  Matrix prev{MAXSIT, MAXLAG};
  Array1<int> miss{1, MAXSIT, 0};

  void SetUp() override {
    covrst();
    prvrst();
    covs.fill(SENTINEL);
    prev.fill(1.0);
  }
  rgtest::Outcome run(int yy, int mm, int dd, int parmod = 0, int force = 0, int stpmis = 0, int rstflg = 1,
                      Model* model = nullptr) {
    Model& mod = model ? *model : *m;
    return capture([&] { covset(covs, mod, *sites, yy, mm, dd, prev, 0.3, parmod, force, miss, 1, stpmis, rstflg); });
  }
  // Linear predictor at site s without the derivative columns.
  double eta(int s) const {
    double e = m->beta(0);
    for (int j = 1; j <= m->np(6); ++j) e += m->beta(j) * covs(s, j);
    return e;
  }
};

// One covariate of every family and both kinds of interaction.
struct FullModel : Assembly {
  int attr, trend, month, day, wet, mean2, tw, th;
  void SetUp() override {
    Assembly::SetUp();
    attr = add(*m, 1, 3, 0.5);
    trend = add(*m, 2, 1, 0.1);
    month = add(*m, 3, 1, 0.2);
    day = add(*m, 4, 21, 0.3);
    wet = add(*m, 4, pcode(1, 3), 0.4);
    mean2 = add(*m, 4, pcode(2, 0, 1), 0.6);
    tw = two(*m, attr, wet, 0.7);
    th = three(*m, attr, day, wet, 0.8);
    // Lag 1: dry, 0.5, 2, dry; lag 2: 1, 2, 3, 4.
    const double l1[4] = {0.0, 0.5, 2.0, 0.0};
    for (int s = 1; s <= 4; ++s) {
      prev(s, 1) = l1[s - 1];
      prev(s, 2) = s;
    }
  }
};

TEST_F(FullModel, EveryFamilyOnOneDay) {
  auto o = run(1990, 4, 10);
  ASSERT_FALSE(o.ended) << o.output;
  // 10 April: day 91 + 10 = 101 of the leap-year calendar.
  const double c_day = std::cos(pi * 101 / 183);
  for (int s = 1; s <= 4; ++s) {
    const double wetv = s == 2 || s == 3 ? 1.0 : 0.0;
    EXPECT_EQ(miss(s), 0);
    EXPECT_DOUBLE_EQ(covs(s, attr), 100.0 * s);
    EXPECT_DOUBLE_EQ(covs(s, trend), 4.0);              // (1990 - 1950) / 10
    EXPECT_NEAR(covs(s, month), -0.5, 1e-15);           // cos(4 pi / 6)
    EXPECT_NEAR(covs(s, day), c_day, 1e-15);
    EXPECT_EQ(covs(s, wet), wetv);
    EXPECT_DOUBLE_EQ(covs(s, mean2), 2.5);              // (1 + 2 + 3 + 4) / 4
    EXPECT_DOUBLE_EQ(covs(s, tw), 100.0 * s * wetv);
    EXPECT_NEAR(covs(s, th), 100.0 * s * c_day * wetv, 1e-12);
  }
  // Cells beyond the model and beyond the network are left alone.
  EXPECT_EQ(covs(1, th + 1), SENTINEL);
  EXPECT_EQ(covs(5, attr), SENTINEL);
}

TEST_F(FullModel, AnnualAndMonthlyColumnsOnlyWhenTheirPeriodChanges) {
  run(1990, 4, 10);
  auto reset_cols = [&] {
    for (int s = 1; s <= 4; ++s) covs(s, trend) = covs(s, month) = covs(s, day) = SENTINEL;
  };
  reset_cols();
  run(1990, 4, 11);
  EXPECT_EQ(covs(2, trend), SENTINEL);
  EXPECT_EQ(covs(2, month), SENTINEL);
  EXPECT_NEAR(covs(2, day), std::cos(pi * 102 / 183), 1e-15);  // daily: every call
  // Forced recomputation.
  reset_cols();
  run(1990, 4, 12, 0, 1);
  EXPECT_DOUBLE_EQ(covs(2, trend), 4.0);
  EXPECT_NEAR(covs(2, month), -0.5, 1e-15);
  // A new month in the same year.
  reset_cols();
  run(1990, 5, 1);
  EXPECT_EQ(covs(3, trend), SENTINEL);
  EXPECT_NEAR(covs(3, month), std::cos(5 * pi / 6), 1e-15);
  // A new year in the same month number.
  reset_cols();
  run(1991, 5, 1);
  EXPECT_DOUBLE_EQ(covs(3, trend), 4.1);
  EXPECT_EQ(covs(3, month), SENTINEL);
}

TEST_F(FullModel, AModelWithoutPeriodicCovariatesStillMovesTheDate) {
  // Another model with site attributes only, called first on the same date: the
  // date of the last call is shared, so the full model sees no change of year or month.
  Model plain;
  const int a = add(plain, 1, 3, 1.0);
  auto o = run(1990, 4, 10, 0, 0, 0, 1, &plain);
  ASSERT_FALSE(o.ended) << o.output;
  EXPECT_DOUBLE_EQ(covs(3, a), 300.0);
  for (int s = 1; s <= 4; ++s) covs(s, trend) = covs(s, month) = SENTINEL;
  run(1990, 4, 10);
  EXPECT_EQ(covs(1, trend), SENTINEL);
  EXPECT_EQ(covs(1, month), SENTINEL);
  EXPECT_DOUBLE_EQ(covs(1, mean2), 2.5);
  run(1990, 6, 10, 0, 0, 0, 1, &plain);
  run(1990, 6, 11);
  EXPECT_EQ(covs(1, month), SENTINEL);
}

TEST_F(FullModel, IncompleteHistoryFlagsTheSiteAndKeepsItsCells) {
  m->theta(attr, 1) = 1.0;
  const int v = estimate(*m, attr, 1);
  m->covcod(attr) = 4;  // a derived column with derivative layers
  m->mxlag = 3;
  prev(2, 2) = -1.0;
  auto o = run(1990, 4, 10);
  ASSERT_FALSE(o.ended) << o.output;
  EXPECT_EQ(miss(2), 1);
  // Site attributes come before the history check; the rest is not touched.
  EXPECT_DOUBLE_EQ(covs(2, attr), std::sqrt(2.0));
  for (int col : {wet, mean2, tw, th, v}) EXPECT_EQ(covs(2, col), SENTINEL) << col;
  // The other sites average over the three sites left: (1 + 3 + 4) / 3.
  for (int s : {1, 3, 4}) {
    EXPECT_EQ(miss(s), 0);
    EXPECT_DOUBLE_EQ(covs(s, mean2), 8.0 / 3.0);
  }
  // Without reset-flags mode the flag is not set and nothing else changes.
  miss.fill(0);
  covs.fill(SENTINEL);
  run(1990, 4, 11, 0, 0, 0, 0);
  EXPECT_EQ(miss(2), 0);
  EXPECT_EQ(covs(2, wet), SENTINEL);
  EXPECT_DOUBLE_EQ(covs(1, wet), 0.0);
}

TEST_F(FullModel, SitesFlaggedBeforehandAreSkippedUnlessFlagsAreReset) {
  miss(3) = 1;
  run(1990, 4, 10, 0, 0, 0, 0);
  EXPECT_EQ(covs(3, attr), SENTINEL);
  EXPECT_EQ(covs(3, wet), SENTINEL);
  EXPECT_DOUBLE_EQ(covs(3, trend), 4.0);  // common columns are filled for all sites
  EXPECT_DOUBLE_EQ(covs(4, attr), 400.0);
  EXPECT_EQ(miss(3), 1);
  run(1990, 4, 11, 0, 0, 0, 1);
  EXPECT_EQ(miss(3), 0);
  EXPECT_DOUBLE_EQ(covs(3, attr), 300.0);
}

TEST_F(FullModel, LeavingFlaggedSitesOutGivesTheOthersTheirFullAssembly) {
  // Reference: every site assembled with the flags reset.
  m->mxlag = 2;
  prev(4, 2) = -1.0;
  run(1990, 4, 10);
  const Matrix full = covs;
  const Array1<int> flags = miss;
  ASSERT_EQ(flags(4), 1);
  // Sites 1 and 3 left out: they keep their flag and their cells; site 2 gets the
  // same cells as in the full assembly, site 4 its incomplete-history flag.
  covs.fill(SENTINEL);
  miss.fill(0);
  miss(1) = miss(3) = 1;
  auto o = run(1990, 4, 11, 0, 0, 0, 2);
  ASSERT_FALSE(o.ended) << o.output;
  for (int j = 1; j <= m->np(6); ++j) {
    if (j == day || j == trend || j == month) continue;  // common columns, filled for all
    EXPECT_EQ(covs(1, j), SENTINEL) << j;
    EXPECT_EQ(covs(3, j), SENTINEL) << j;
    if (j != th) {  // th holds the daily effect of another day
      EXPECT_EQ(covs(2, j), full(2, j)) << j;
    }
  }
  EXPECT_EQ(miss(1), 1);
  EXPECT_EQ(miss(2), 0);
  EXPECT_EQ(miss(3), 1);
  EXPECT_EQ(miss(4), 1);
  // Sites may be left out only where nothing of one site's assembly shows elsewhere.
  EXPECT_TRUE(sites_assemble_alone(*m));
  Model logs = *m;
  logs.covcod(wet) = pcode(1, 1);
  EXPECT_FALSE(sites_assemble_alone(logs));
  Model nonlinear = *m;
  nonlinear.theta(attr, 1) = 1.0;
  estimate(nonlinear, attr, 1);
  EXPECT_FALSE(sites_assemble_alone(nonlinear));
}

TEST_F(Assembly, ParameterOnlyModeRecomputesWhatMovesWithParameters) {
  const int bc = add(*m, 1, 4, 1.0);      // transformed attribute, parameter given
  const int x = add(*m, 1, 1, 1.0);       // raw attribute, no parameter
  const int cp = add(*m, 2, 2, 1.0);      // trend after a changepoint
  const int lin = add(*m, 2, 1, 1.0);     // linear trend, no parameter
  const int jan = add(*m, 3, 11, 1.0);
  const int own = add(*m, 4, pcode(1, 0), 1.0);
  const int fixed = two(*m, x, own, 1.0);   // neither factor has a parameter
  const int mixed = two(*m, bc, x, 1.0);    // one has
  const int fixed3 = three(*m, x, own, lin, 1.0);
  m->theta(bc, 1) = 0.5;
  m->theta(cp, 1) = 1980.0;
  prev(1, 1) = 7.0;
  auto o = run(1990, 1, 5, 1, 1, 0, 0);
  ASSERT_FALSE(o.ended) << o.output;
  EXPECT_DOUBLE_EQ(covs(1, bc), 1.0);
  EXPECT_DOUBLE_EQ(covs(1, cp), 1.0);  // (1990 - 1980) / 10
  for (int col : {x, lin, jan, own, fixed, fixed3}) EXPECT_EQ(covs(1, col), SENTINEL) << col;
  EXPECT_DOUBLE_EQ(covs(1, mixed), 1.0 * SENTINEL);  // uses the kept value of x
}

// Estimated parameters of every kind, with interactions through the covariates that
// carry them.
struct Derivatives : Assembly {
  int attr, cp, own, share, shift, fac, tw, th;
  int v_attr, v_cp, v_phi, v_a, v_b, v_phi3;
  void SetUp() override {
    Assembly::SetUp();
    attr = add(*m, 1, 4, 0.5);
    cp = add(*m, 2, 2, 0.3);
    own = add(*m, 4, pcode(1, 0, 2, 0), 0.7);     // owner of scheme 2
    share = add(*m, 4, pcode(2, 2, 2, 1), -0.4);  // shares scheme 2
    shift = add(*m, 4, pcode(1, 2, 3, 0), 0.9);   // owner of scheme 3
    fac = add(*m, 4, 21, 0.2);
    tw = two(*m, attr, share, 0.6);
    th = three(*m, cp, own, shift, -0.8);
    m->theta(attr, 1) = 0.5;
    m->theta(cp, 1) = 1980.5;
    m->theta(own, 1) = 0.2;
    m->theta(shift, 1) = 0.3;
    m->theta(shift, 2) = -0.2;
    m->theta(shift, 3) = 0.4;
    m->pwtidx(2, 1) = own;
    m->pwtidx(3, 1) = shift;
    v_attr = estimate(*m, attr, 1);
    v_cp = estimate(*m, cp, 1);
    v_phi = estimate(*m, own, 1);
    v_a = estimate(*m, shift, 1);
    v_b = estimate(*m, shift, 2);
    v_phi3 = estimate(*m, shift, 3);
    m->pwtidx(2, 2) = v_phi;
    for (int k = 1; k <= 3; ++k) m->pwtidx(3, 1 + k) = v_a + k - 1;
    const double l1[4] = {0.4, 2.0, 0.0, 1.2}, l2[4] = {3.0, 0.5, 1.5, 0.0};
    for (int s = 1; s <= 4; ++s) {
      prev(s, 1) = l1[s - 1];
      prev(s, 2) = l2[s - 1];
    }
  }
  // Linear predictor at site s with parameter (row, k) moved to x.
  double eta_at(int row, int k, double x, int s) {
    const double keep = m->theta(row, k);
    m->theta(row, k) = x;
    prvrst();
    run(1990, 7, 1, 0, 1);
    m->theta(row, k) = keep;
    return eta(s);
  }
};

TEST_F(Derivatives, ColumnsAreDerivativesOfTheLinearPredictor) {
  auto o = run(1990, 7, 1, 0, 1);
  ASSERT_FALSE(o.ended) << o.output;
  Matrix base = covs;
  for (int s = 1; s <= 4; ++s) {
    // Attribute: layer 2 times (beta + interaction beta times the other factor).
    EXPECT_NEAR(base(s, v_attr), 0.1 * s * (0.5 + 0.6 * base(s, share)), 1e-12);
    struct Case {
      int col, row, k;
    };
    for (Case c : {Case{v_cp, cp, 1}, Case{v_phi, own, 1}, Case{v_a, shift, 1}, Case{v_b, shift, 2},
                   Case{v_phi3, shift, 3}}) {
      const double x = m->theta(c.row, c.k), h = 1e-5;
      const double fd = (eta_at(c.row, c.k, x + h, s) - eta_at(c.row, c.k, x - h, s)) / (2 * h);
      EXPECT_NEAR(base(s, c.col), fd, 1e-7 * std::max(1.0, std::fabs(fd))) << "site " << s << " column " << c.col;
    }
  }
  // A trend's changepoint derivative: -0.1 times (beta + the three-way term).
  EXPECT_NEAR(base(2, v_cp), -0.1 * (0.3 - 0.8 * base(2, own) * base(2, shift)), 1e-12);
}

TEST_F(Derivatives, AWeightingParameterNamedUnderAnotherCovariateOfTheScheme) {
  run(1990, 7, 1, 0, 1);
  const Matrix base = covs;
  // The parameter line may name any covariate of the scheme: the column is still the
  // derivative with respect to the scheme's shared parameter.
  m->covcod(v_phi) = 1000 * share + 1;
  covs.fill(SENTINEL);
  run(1990, 7, 1, 0, 1);
  for (int s = 1; s <= 4; ++s) EXPECT_NEAR(covs(s, v_phi), base(s, v_phi), 1e-14) << s;
}

TEST_F(Derivatives, ParameterOnlyRefreshEqualsAFullRecomputation) {
  run(1990, 7, 1, 0, 1);
  Matrix before = covs;
  // New parameter values, as after a Gauss-Newton step.
  m->theta(own, 1) = 0.35;
  m->theta(shift, 3) = 0.25;
  m->theta(shift, 1) = 0.5;
  run(1990, 7, 1, 0, 1);
  Matrix full = covs;
  covs = before;
  run(1990, 7, 1, 1, 1, 0, 0);
  for (int s = 1; s <= 4; ++s)
    for (int j = 1; j <= m->np(7); ++j) EXPECT_NEAR(covs(s, j), full(s, j), 1e-13) << s << " " << j;
}

TEST_F(Assembly, RefreshFollowsCovariatesSharingAScheme) {
  // Scheme 3 with only its decay rate estimated: the covariate sharing the scheme has
  // no first parameter of its own, yet its interaction must follow the rate.
  const int x = add(*m, 1, 3, 0.5);
  const int owner = add(*m, 4, pcode(1, 0, 3), 0.4);
  const int other = add(*m, 4, pcode(2, 0, 3), 0.3);
  const int tw = two(*m, x, other, 0.2);
  m->pwtidx(3, 1) = owner;
  m->theta(owner, 1) = 0.5;
  m->theta(owner, 2) = 0.5;
  m->theta(owner, 3) = 0.3;
  const int v = estimate(*m, owner, 3);
  m->pwtidx(3, 4) = v;
  for (int s = 1; s <= 4; ++s) {
    prev(s, 1) = s;
    prev(s, 2) = 5.0 - s;
  }
  run(1990, 7, 1);
  Matrix before = covs;
  m->theta(owner, 3) = 0.6;
  run(1990, 7, 1);
  Matrix full = covs;
  covs = before;
  run(1990, 7, 1, 1, 0, 0, 0);
  for (int s = 1; s <= 4; ++s) {
    EXPECT_NE(full(s, tw), before(s, tw));
    for (int j : {owner, other, tw, v}) EXPECT_NEAR(covs(s, j), full(s, j), 1e-13) << s << " " << j;
  }
}

TEST_F(Assembly, ANonlinearEntryOfAnInteractionIsAProgrammingError) {
  const int a = add(*m, 1, 3, 1.0);
  const int b = add(*m, 1, 1, 1.0);
  two(*m, a, b, 1.0);
  m->np(7) = m->np(6) + 1;
  m->covcod(m->np(7)) = 1000 * m->np(6) + 1;
  auto o = run(1990, 1, 1);
  EXPECT_TRUE(o.ended);
  EXPECT_NE(o.output.find("/****ERROR**** in routine NLCNTR, PREDNO is not a main effect."), std::string::npos);
}

TEST_F(Assembly, InconsistentRecordsAreReportedNotIndexed) {
  add(*m, 1, 3, 1.0);
  Matrix small(2, MAXPAR);
  auto o = capture([&] { covset(small, *m, *sites, 1990, 1, 1, prev, 0.0, 0, 0, miss, 1, 0, 1); });
  EXPECT_TRUE(o.ended);
  EXPECT_NE(o.output.find("*****ERROR***** In routine  COVSET"), std::string::npos);
  m->covcod(1) = MAXATT + 1;
  o = run(1990, 1, 1);
  EXPECT_TRUE(o.ended);
}

// ---- External predictors ----

std::string header(int lines, int n) {
  std::string s;
  for (int i = 1; i <= lines; ++i) s += "header\n";
  s += fmt_i(n, 3) + "\n";
  for (int p = 1; p <= n; ++p) s += "Predictor " + std::to_string(p) + "\n";
  return s + "data follow\n";
}

struct External : Assembly {
  rgtest::TempDir dir;
  void open(int kind, const std::string& text) {
    dir.write(extfil(kind), text);
    if (channels().connected(extchn(kind))) channels().close(extchn(kind));
    filchk(extfil(kind), extchn(kind), STFLAG_INPUT);
  }
  void SetUp() override {
    Assembly::SetUp();
    extrst();
    // Annual file 1985..1989: predictor 1 = year, predictor 2 missing in 1987.
    std::string yr = header(39, 2);
    for (int y = 1985; y <= 1989; ++y)
      yr += fmt_i(y, 4) + "     " + fmt_f(y, 10, 1) + fmt_f(y == 1987 ? -9999.9 : 0.5, 10, 1) + "\n";
    open(EXT_ANNUAL, yr);
    // Daily file for 1-3 March 1987; the 3rd is missing.
    std::string dy = header(41, 1);
    for (int d = 1; d <= 3; ++d) dy += "1987" + fmt_i(3, 2) + fmt_i(d, 2) + " " + fmt_f(d == 3 ? -9999.9 : d, 10, 1) + "\n";
    open(EXT_DAILY, dy);
  }
  void TearDown() override { extrst(); }
};

TEST_F(External, AMissingValueDropsTheDayAtEverySite) {
  const int attr = add(*m, 1, 3, 1.0);
  const int p2 = add(*m, 2, 52, 1.0);  // missing in 1987
  const int p1 = add(*m, 2, 51, 1.0);  // never missing
  auto o = run(1986, 3, 1);
  ASSERT_FALSE(o.ended) << o.output;
  EXPECT_DOUBLE_EQ(covs(2, p1), 1986.0);
  EXPECT_DOUBLE_EQ(covs(2, p2), 0.5);
  EXPECT_DOUBLE_EQ(covs(2, attr), 200.0);
  covs.fill(SENTINEL);
  // One missing predictor of the two is enough, whatever their order.
  run(1987, 3, 1);
  for (int s = 1; s <= 4; ++s) {
    EXPECT_EQ(miss(s), 1);
    EXPECT_EQ(covs(s, attr), SENTINEL);
  }
  // The rest of the year stays missing without looking at the file again.
  run(1987, 12, 31);
  EXPECT_EQ(miss(4), 1);
  run(1988, 1, 1);
  EXPECT_EQ(miss(4), 0);
  EXPECT_DOUBLE_EQ(covs(4, attr), 400.0);
}

TEST_F(External, TheSimulationStopsOnAMissingValue) {
  add(*m, 2, 52, 1.0);
  auto o = run(1987, 3, 5, 0, 0, 1, 1);
  ASSERT_TRUE(o.ended);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.output, "\n****ERROR**** Missing external predictor data (current date is 19870305)\n");
}

TEST_F(External, LaggedDailyPredictorAndTheRefreshAfterAMissingDay) {
  const int attr = add(*m, 1, 4, 1.0);
  const int lead = add(*m, 4, -1051, 1.0);  // predictor 1, one day ahead
  m->theta(attr, 1) = 0.5;
  auto o = run(1987, 3, 1);
  ASSERT_FALSE(o.ended) << o.output;
  EXPECT_DOUBLE_EQ(covs(1, lead), 2.0);
  // 2 March looks at the missing 3 March.
  run(1987, 3, 2);
  EXPECT_EQ(miss(1), 1);
  // A parameter-only refresh of a day formed earlier still computes the sites.
  miss.fill(0);
  covs.fill(SENTINEL);
  o = run(1987, 3, 1, 1, 1, 0, 0);
  ASSERT_FALSE(o.ended) << o.output;
  EXPECT_DOUBLE_EQ(covs(3, attr), std::sqrt(3.0));
  EXPECT_EQ(covs(3, lead), SENTINEL);
}

}  // namespace
