// Pairwise statistics of the fitted-value store and the correlation file, checked
// against a plain two-pass recomputation inside the test (each pair's common days
// collected first, then means, variances and covariance formed from them).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include "channels.hpp"
#include "correl.hpp"
#include "files.hpp"
#include "model.hpp"
#include "spatial.hpp"
#include "stores.hpp"
#include "test_support.hpp"

using namespace rg;

namespace {

// A synthetic fitted-value store of 11 sites over 300 days (more than one vector of
// sites and more than two blocks of days): sites 1-3 and 7-11 on most days, site 4
// on odd and site 5 on even days only (never together), site 6 with a constant
// response on the days it reports. Records in date order, then site order.
struct Synthetic {
  std::vector<FittedRecord> recs;
  int nsites = 11;
};

Synthetic make_store(int model) {
  Synthetic s;
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int day = 1; day <= 300; ++day) {
    const double common = u(gen);
    for (int site = 1; site <= s.nsites; ++site) {
      if ((site <= 3 || site >= 7) && u(gen) < 0.1) continue;
      if (site == 4 && day % 2 == 0) continue;
      if (site == 5 && day % 2 == 1) continue;
      if (site == 6 && day % 3 == 0) continue;
      FittedRecord r;
      r.site = site;
      r.yy = 1990 + day / 40;
      r.mm = 1 + (day % 40) / 28;
      r.dd = 1 + (day % 40) % 28;
      if (model == RSP_OCCURRENCE) {
        r.mu = 0.2 + 0.6 * u(gen);
        r.y = site == 6 ? 1.0 : (0.6 * common + 0.4 * u(gen) < r.mu ? 1.0 : 0.0);
      } else {
        r.mu = 1.0 + 5.0 * u(gen);
        r.y = site == 6 ? r.mu : r.mu * (0.2 + 1.6 * (0.5 * common + 0.5 * u(gen)));
      }
      r.eta = 0.0;
      s.recs.push_back(r);
    }
  }
  return s;
}

int open_store(const Synthetic& s) {
  int ch = 85;
  scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, ch);
  std::int64_t n = 0;
  for (const auto& r : s.recs) EXPECT_TRUE(write_fitted(channels().store(ch), ++n, r));
  return ch;
}

double plain_residual(int model, int restyp, double y, double mu) {
  if (restyp == 0) return y;
  if (restyp == 2) return std::pow(y / mu, 1.0 / 3.0);
  return model == 1 ? (y - mu) / std::sqrt(mu * (1.0 - mu)) : (y - mu) / mu;
}

// Two-pass statistic of pair (i, j) over their common days.
std::pair<double, double> plain_statistic(const Synthetic& s, int model, int restyp, int deptyp, int i, int j) {
  std::map<long, std::map<int, double>> days;
  for (const auto& r : s.recs)
    days[r.yy * 10000L + r.mm * 100 + r.dd][r.site] = plain_residual(model, restyp, r.y, r.mu);
  std::vector<double> a, b;
  for (auto& [d, v] : days)
    if (v.count(i) && v.count(j)) {
      a.push_back(v[i]);
      b.push_back(v[j]);
    }
  const double n = static_cast<double>(a.size());
  if (a.empty()) return {-9.999, 0.0};
  double ma = 0, mb = 0, prod = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    ma += a[k] / n;
    mb += b[k] / n;
    prod += a[k] * b[k] / n;
  }
  if (deptyp == 3) return {prod, n};
  double va = 0, vb = 0, cab = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    va += (a[k] - ma) * (a[k] - ma) / n;
    vb += (b[k] - mb) * (b[k] - mb) / n;
    cab += (a[k] - ma) * (b[k] - mb) / n;
  }
  if (deptyp == 1) return {cab, n};
  if (i == j) return {1.0, n};
  if (va <= 1e-12 || vb <= 1e-12) return {0.0, n};
  return {cab / std::sqrt(va * vb), n};
}

TEST(Empcor, EveryResidualAndStatisticAgainstTwoPassRecomputation) {
  struct Case {
    int model, restyp, deptyp;
  };
  const Case cases[] = {{1, 0, 3}, {1, 1, 2}, {1, 1, 1}, {1, 0, 2}, {11, 2, 2}, {11, 1, 1}, {11, 2, 3}, {11, 0, 2}};
  for (const Case& c : cases) {
    rgtest::TempDir dir;
    const Synthetic s = make_store(c.model);
    const int ch = open_store(s);
    Matrix stat(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
    auto out = rgtest::capture([&] {
      empcor(ch, s.nsites, static_cast<std::int64_t>(s.recs.size()), c.model, c.restyp, c.deptyp, stat, count, MAXSIT);
    });
    ASSERT_FALSE(out.ended) << out.output;
    for (int i = 1; i <= s.nsites; ++i)
      for (int j = 1; j <= s.nsites; ++j) {
        auto [ref, n] = plain_statistic(s, c.model, c.restyp, c.deptyp, std::min(i, j), std::max(i, j));
        SCOPED_TRACE(testing::Message() << "model " << c.model << " restyp " << c.restyp << " deptyp " << c.deptyp
                                        << " pair " << i << "," << j);
        EXPECT_EQ(count(i, j), n);
        EXPECT_NEAR(stat(i, j), ref, 1e-12);
      }
    // Sites 4 and 5 never share a day; site 6 is constant on the raw and Anscombe scales.
    EXPECT_EQ(count(4, 5), 0.0);
    EXPECT_EQ(stat(4, 5), -9.999);
    const bool constant6 = (c.model == 1 && c.restyp == 0) || (c.model == 11 && c.restyp == 2);
    if (c.deptyp == 2 && constant6) {
      EXPECT_EQ(stat(1, 6), 0.0);
    }
  }
}

// Scales the observation of every third record, in s and in the store on channel ch.
void change_behind_cache(Synthetic& s, int ch) {
  for (std::size_t k = 0; k < s.recs.size(); k += 3) {
    s.recs[k].y *= 1.0 + static_cast<double>(k % 5);
    write_fitted(channels().store(ch), static_cast<std::int64_t>(k + 1), s.recs[k]);
  }
}

TEST(Empcor, RepeatedRequestIsServedFromTheCache) {
  rgtest::TempDir dir;
  Synthetic s = make_store(RSP_AMOUNT);
  const int ch = open_store(s);
  const auto nrec = static_cast<std::int64_t>(s.recs.size());
  Matrix first(MAXSIT, MAXSIT), again(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
  auto out = rgtest::capture([&] {
    empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_CORRELATION, first, count, MAXSIT);
    // Change records behind the cache's back: the same request still sees the old store ...
    change_behind_cache(s, ch);
    empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_CORRELATION, again, count, MAXSIT);
    for (int i = 1; i <= s.nsites; ++i)
      for (int j = 1; j <= s.nsites; ++j) EXPECT_EQ(again(i, j), first(i, j));
    // ... while another statistic is computed afresh, and so is the first one after it.
    empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_COVARIANCE, again, count, MAXSIT);
    empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_CORRELATION, again, count, MAXSIT);
  });
  ASSERT_FALSE(out.ended) << out.output;
  EXPECT_NE(again(1, 2), first(1, 2));
}

// The amount model's Pearson correlations come from the pass that formed its
// Anscombe correlations: after a change behind the cache's back they are still
// those of the store as it was. Not so where the two residual types are missing on
// different records (a fitted mean of infinity: Anscombe 0, Pearson undefined): the
// Pearson request then reads the store afresh, as it does after another request.
TEST(Empcor, PearsonCorrelationsComeFromTheAnscombePass) {
  for (const bool infinite_mean : {false, true}) {
    SCOPED_TRACE(infinite_mean ? "infinite mean" : "finite means");
    rgtest::TempDir dir;
    Synthetic s = make_store(RSP_AMOUNT);
    if (infinite_mean) s.recs[7].mu = INFINITY;
    const Synthetic before = s;
    const int ch = open_store(s);
    const auto nrec = static_cast<std::int64_t>(s.recs.size());
    Matrix pearson(MAXSIT, MAXSIT), fresh(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
    auto out = rgtest::capture([&] {
      empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_CORRELATION, fresh, count, MAXSIT);
      change_behind_cache(s, ch);
      empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_PEARSON, DEP_CORRELATION, pearson, count, MAXSIT);
      empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_ANSCOMBE, DEP_COVARIANCE, fresh, count, MAXSIT);
      empcor(ch, s.nsites, nrec, RSP_AMOUNT, RES_PEARSON, DEP_CORRELATION, fresh, count, MAXSIT);
    });
    ASSERT_FALSE(out.ended) << out.output;
    for (int i = 1; i <= s.nsites; ++i)
      for (int j = i + 1; j <= s.nsites; ++j) {
        SCOPED_TRACE(testing::Message() << "pair " << i << "," << j);
        if (infinite_mean) EXPECT_EQ(pearson(i, j), fresh(i, j));
        else EXPECT_NEAR(pearson(i, j), plain_statistic(before, RSP_AMOUNT, 1, 2, i, j).first, 1e-12);
      }
    EXPECT_NE(fresh(1, 2), plain_statistic(before, RSP_AMOUNT, 1, 2, 1, 2).first);
  }
}

TEST(Empcor, InvalidCodesStopWithTheirMessages) {
  struct Case {
    int model, restyp;
    const char* word;
  };
  for (const Case& c : {Case{1, 2, "MODEL "}, Case{7, 1, "MODEL "}, Case{11, 3, "RESTYP"}}) {
    rgtest::TempDir dir;
    const Synthetic s = make_store(RSP_AMOUNT);
    const int ch = open_store(s);
    Matrix stat(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
    auto out = rgtest::capture([&] { empcor(ch, s.nsites, 10, c.model, c.restyp, 2, stat, count, MAXSIT); });
    EXPECT_TRUE(out.ended);
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.output, std::string("\n     ****ERROR**** In routine EMPCOR, an invalid value of ") + c.word +
                              "\n     was found. This is a programming error - please inform DEV.\n");
  }
}

TEST(CorrelationFile, PairsInSiteOrderWithMissingPairsAndSeparations) {
  rgtest::TempDir dir;
  SiteTable sites;
  sites.nsites = 3;
  sites.nattr = 2;
  const double xy[3][2] = {{10.5, -3.25}, {-99.5, 40.0}, {0.0, 0.0}};
  for (int i = 1; i <= 3; ++i) {
    sites.sitcod(i) = std::string("S") + std::to_string(i) + "  ";
    sites.sitinf(i, 1, 1) = xy[i - 1][0];
    sites.sitinf(i, 2, 1) = xy[i - 1][1];
  }
  Matrix stat(MAXSIT, MAXSIT), count(MAXSIT, MAXSIT);
  stat(1, 2) = -0.12345;
  count(1, 2) = 1234;
  stat(1, 3) = -9.999;
  count(1, 3) = 0;
  stat(2, 3) = 0.99996;
  count(2, 3) = 7;
  filchk("cor_gamm.dat", 66, STFLAG_OUTPUT);
  write_correlations(66, stat, count, sites, 3);
  channels().close_all();
  auto l = rgtest::lines(dir.read("cor_gamm.dat"));
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[0], "Site1  Site2  Corr      N   Xsep    Ysep ");
  // Independent formatting of the same fields.
  char buf[64];
  std::snprintf(buf, sizeof buf, "S1      S2      %7.4f %5d %7.3f %7.3f", -0.12345, 1234, 110.0, -43.25);
  EXPECT_EQ(l[1], buf);
  EXPECT_EQ(l[2], "S1      S3      -9.9990     0  10.500  -3.250");
  std::snprintf(buf, sizeof buf, "S2      S3      %7.4f %5d %7.3f %7.3f", 0.99996, 7, -99.5, 40.0);
  EXPECT_EQ(l[3], buf);
}

}  // namespace
