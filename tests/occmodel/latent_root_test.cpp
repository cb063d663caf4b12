// Latent correlations at the exact root, against a plain computation in the test:
// the orthant probability P(X > h, Y > k; r) by Plackett's identity, pnorm(-h)
// pnorm(-k) plus the bivariate density integrated over the correlation, with t =
// sin u and 4 panels of 24-point Gauss-Legendre quadrature in u (checked below
// against R 4.2's mvtnorm::pmvnorm, GenzBretz with abseps 1e-15), summed over the
// days and solved by the Illinois variant of false position to 1e-12.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "corlat_run.hpp"
#include "dev_math.hpp"
#include "files.hpp"
#include "latent_root.hpp"
#include "model.hpp"
#include "occest.hpp"
#include "stores.hpp"
#include "test_support.hpp"

using namespace rg;

namespace {

struct Rule {
  std::vector<double> x, w;
};

// Gauss-Legendre nodes and weights on [-1, 1] by Newton's method on P_n.
Rule gauss_legendre(int n) {
  Rule g;
  for (int i = 1; i <= n; ++i) {
    double x = std::cos(std::numbers::pi * (i - 0.25) / (n + 0.5)), dp = 0.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = x;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2.0 * k - 1.0) * x * p1 - (k - 1.0) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (x * p1 - p0) / (x * x - 1.0);
      const double dx = p1 / dp;
      x -= dx;
      if (std::fabs(dx) < 1e-16) break;
    }
    g.x.push_back(x);
    g.w.push_back(2.0 / ((1.0 - x * x) * dp * dp));
  }
  return g;
}

double orthant(double h, double k, double r) {
  static const Rule g = gauss_legendre(24);
  const double top = std::asin(r);
  double s = 0.0;
  for (int panel = 0; panel < 4; ++panel) {
    const double a = top * panel / 4.0, b = top * (panel + 1) / 4.0;
    for (std::size_t l = 0; l < g.x.size(); ++l) {
      const double u = 0.5 * (a + b) + 0.5 * (b - a) * g.x[l];
      const double t = std::sin(u), c2 = std::cos(u) * std::cos(u);
      s += 0.5 * (b - a) * g.w[l] * std::exp(-(h * h - 2.0 * t * h * k + k * k) / (2.0 * c2)) / (2.0 * std::numbers::pi);
    }
  }
  return 0.5 * std::erfc(h / std::sqrt(2.0)) * 0.5 * std::erfc(k / std::sqrt(2.0)) + s;
}

struct Days {
  std::vector<double> pi, zi, pj, zj;
  void add(double a, double b) {
    auto z = [](double p) {
      int ifail = 0;
      return p > 0.0 && p < 1.0 ? -qnorm(p, 0.0, 1.0, ifail) : 0.0;
    };
    pi.push_back(a);
    zi.push_back(z(a));
    pj.push_back(b);
    zj.push_back(z(b));
  }
  // The expected joint wet days of the common days, plainly.
  double expected(double r) const {
    double s = 0.0;
    for (std::size_t d = 0; d < pi.size(); ++d) {
      if (pi[d] < 0.0 || pj[d] < 0.0) continue;
      if (pi[d] == 0.0 || pi[d] == 1.0 || pj[d] == 0.0 || pj[d] == 1.0) s += pi[d] * pj[d];
      else if (r >= 1.0) s += std::min(pi[d], pj[d]);
      else if (r <= -1.0) s += std::max(0.0, pi[d] + pj[d] - 1.0);
      else s += orthant(zi[d], zj[d], r);
    }
    return s;
  }
  double root(double joint) const {
    double a = -1.0, b = 1.0, fa = expected(a) - joint, fb = expected(b) - joint;
    int side = 0;
    for (int it = 0; it < 200 && b - a > 1e-12; ++it) {
      const double c = (fa * b - fb * a) / (fa - fb), fc = expected(c) - joint;
      if (fc == 0.0) return c;
      if ((fc < 0.0) == (fa < 0.0)) {
        a = c;
        fa = fc;
        if (side == -1) fb /= 2.0;
        side = -1;
      } else {
        b = c;
        fb = fc;
        if (side == 1) fa /= 2.0;
        side = 1;
      }
      if (std::fabs(fc) < 1e-10) return c;
    }
    return 0.5 * (a + b);
  }
};

// The record of site s on day number day (months of 30 days) with fitted probability
// mu, wet where the latent value z lies above the site's threshold.
FittedRecord latent_record(int s, int day, double mu, double z) {
  FittedRecord r;
  r.site = s;
  r.yy = 1980 + day / 360;
  r.mm = 1 + (day % 360) / 30;
  r.dd = 1 + day % 30;
  r.mu = mu;
  int ifail = 0;
  r.y = z > -qnorm(mu, 0.0, 1.0, ifail) ? 1.0 : 0.0;
  return r;
}

TEST(LatentRoot, PlainOrthantProbabilityMatchesR) {
  const double ref[][4] = {{0.5, -0.3, 0.6, 0.270071491026150},
                           {1.2, 0.8, 0.9, 0.104093412731573},
                           {-0.4, 1.7, -0.7, 0.003396894557882},
                           {2.2, 2.5, 0.97, 0.005887909574168},
                           {0.1, 0.2, 0.999, 0.420662510542819}};
  for (const auto& c : ref) EXPECT_NEAR(orthant(c[0], c[1], c[2]), c[3], 1e-13) << c[0] << " " << c[1] << " " << c[2];
}

// Pairs from independent to almost completely dependent, of either sign, with
// probabilities of wet and dry climates, missing days and days of probability 0 or
// 1: the root of the observed (whole) number of joint wet days within 1e-6 of the
// plain root. The long pairs' probabilities drift over the years (drift > 0 rising,
// < 0 falling), so that the first years do not stand for the whole.
TEST(LatentRoot, ReachesTheExactRootOfTheObservedJointDays) {
  struct Case {
    double r, plo, phi;
    int ndays = 800;
    double drift = 0.0;
  };
  const Case cases[] = {{0.0, 0.15, 0.65},       {0.3, 0.15, 0.65},        {0.7, 0.005, 0.3},
                        {0.93, 0.15, 0.65},      {0.98, 0.5, 0.99},        {0.995, 0.2, 0.4},
                        {-0.3, 0.15, 0.65},      {-0.9, 0.3, 0.6},         {0.2, 0.05, 0.5, 6000, 0.8},
                        {0.2, 0.05, 0.5, 6000, -0.8}, {0.6, 0.1, 0.5, 6000, -0.8},
                        // Long enough for the sample's first estimate and one Gauss panel:
                        // weak to strong dependence, dry and wet climates, either sign.
                        {0.05, 0.15, 0.65, 6000}, {0.55, 0.01, 0.2, 6000}, {0.75, 0.15, 0.65, 6000},
                        {0.9, 0.3, 0.8, 6000},    {-0.6, 0.2, 0.6, 6000},  {0.85, 0.05, 0.5, 6000, 0.8},
                        // Near 1, where the panel is halved or left to the Chebyshev panels.
                        {0.97, 0.2, 0.5, 6000},   {0.995, 0.4, 0.6, 6000}};
  for (const Case& c : cases) {
    SCOPED_TRACE("r " + std::to_string(c.r) + " drift " + std::to_string(c.drift));
    std::mt19937 gen(static_cast<unsigned>(1000 * c.r + 7));
    std::uniform_real_distribution<double> u(c.plo, c.phi);
    Days days;
    for (int d = 0; d < c.ndays; ++d) {
      const double at = static_cast<double>(d) / c.ndays;
      const double f = c.drift >= 0.0 ? 1.0 - c.drift * (1.0 - at) : 1.0 + c.drift * at;
      if (d % 97 == 0) days.add(-1.0, f * u(gen));
      else if (d % 89 == 0) days.add(f * u(gen), d % 2 ? 0.0 : 1.0);
      else days.add(f * u(gen), f * u(gen));
    }
    const double joint = std::round(days.expected(c.r));
    LatentRoot lr;
    lr.set_days(days.pi.data(), days.zi.data(), days.pj.data(), days.zj.data(), days.pi.size());
    double r = NAN;
    ASSERT_TRUE(lr.solve(joint, r));
    // The roots are right to about 1e-9 (6e-9 at the most here); 1e-6 is what the
    // correlation file needs.
    EXPECT_NEAR(r, days.root(joint), 1e-8);
    // Beyond what r = 1 and r = -1 allow: no root, and the nearer end.
    EXPECT_FALSE(lr.solve(days.expected(1.0) + 0.5, r));
    EXPECT_EQ(r, 1.0);
    EXPECT_FALSE(lr.solve(days.expected(-1.0) - 0.5, r));
    EXPECT_EQ(r, -1.0);
  }
}

// corlat on a store of six sites whose wet days come from a latent Gaussian field
// with correlations 0.5 to 0.95: every value of cor_logi.dat is the plain root of
// its pair rounded to 4 decimals, on one thread and on three alike.
TEST(LatentRoot, CorrelationFileHoldsTheRootsWhateverTheThreads) {
  // Long enough for the first estimate from every 16th day and Gauss's rule.
  constexpr int NS = 6, NDAYS = 2000;
  std::mt19937 gen(5);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<FittedRecord> recs;
  for (int day = 0; day < NDAYS; ++day) {
    const double common = normal(gen), regional = normal(gen);
    for (int s = 1; s <= NS; ++s) {
      if (u(gen) < 0.03) continue;
      // Sites 1-3 share a regional component: correlation 0.95 among them, 0.5 with 4
      // and 5; site 6 goes against the common component: -0.5 with all of them.
      const double z = (s == 6 ? -1.0 : 1.0) * std::sqrt(0.5) * common +
                       (s <= 3 ? std::sqrt(0.45) * regional : 0.0) + std::sqrt(s <= 3 ? 0.05 : 0.5) * normal(gen);
      FittedRecord r = latent_record(s, day, 0.2 + 0.4 * u(gen), z);
      // Site 2 has fitted probabilities of 1 and of 0 on some days: those days count
      // among the common days but add only p_i p_j to the expected joint days.
      if (s == 2 && day % 53 == 0) r.mu = r.y = 1.0;
      if (s == 2 && day % 59 == 0) r.mu = r.y = 0.0;
      recs.push_back(r);
    }
  }
  const auto lines = corlat_lines_on_one_and_three_threads(recs, NS);
  ASSERT_EQ(lines.size(), 1u + NS * (NS - 1) / 2);
  std::size_t k = 1;
  for (int i = 1; i < NS; ++i)
    for (int j = i + 1; j <= NS; ++j, ++k) {
      Days days;
      double joint = 0.0;
      for (std::size_t a = 0; a < recs.size(); ++a) {
        if (recs[a].site != i) continue;
        for (std::size_t b = a + 1; b < recs.size() && recs[b].yy == recs[a].yy && recs[b].mm == recs[a].mm &&
                                    recs[b].dd == recs[a].dd;
             ++b)
          if (recs[b].site == j) {
            days.add(recs[a].mu, recs[b].mu);
            joint += recs[a].y * recs[b].y;
          }
      }
      SCOPED_TRACE(lines[k]);
      EXPECT_EQ(std::stol(lines[k].substr(24, 5)), static_cast<long>(days.pi.size()));
      EXPECT_NEAR(std::stod(lines[k].substr(16, 7)), days.root(joint), 0.5e-4 + 1e-6);
    }
}

}  // namespace

// Enough sites for the pairs to be solved tile by tile out of their order: the file
// on one thread and on three alike, and every line the pair's own root to 4 decimals.
TEST(LatentRoot, PairsSolvedOutOfOrderLandOnTheirOwnLines) {
  constexpr int NS = 30, NDAYS = 800;
  std::mt19937 gen(11);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<FittedRecord> recs;
  std::vector<std::vector<double>> mu(NS + 1, std::vector<double>(NDAYS, -1.0)), wet(mu);
  for (int day = 0; day < NDAYS; ++day) {
    const double common = normal(gen);
    for (int s = 1; s <= NS; ++s) {
      if (u(gen) < 0.03) continue;
      // Correlation with the common component falling with the site number.
      const double c = 0.95 - 0.02 * s;
      const double z = c * common + std::sqrt(1.0 - c * c) * normal(gen);
      const FittedRecord r = latent_record(s, day, 0.1 + 0.6 * u(gen), z);
      recs.push_back(r);
      mu[static_cast<std::size_t>(s)][static_cast<std::size_t>(day)] = r.mu;
      wet[static_cast<std::size_t>(s)][static_cast<std::size_t>(day)] = r.y;
    }
  }
  const auto lines = corlat_lines_on_one_and_three_threads(recs, NS);
  ASSERT_EQ(lines.size(), 1u + NS * (NS - 1) / 2);
  std::size_t k = 1;
  LatentRoot lr;
  for (int i = 1; i < NS; ++i)
    for (int j = i + 1; j <= NS; ++j, ++k) {
      Days days;
      double joint = 0.0;
      for (std::size_t d = 0; d < NDAYS; ++d) {
        const double a = mu[static_cast<std::size_t>(i)][d], b = mu[static_cast<std::size_t>(j)][d];
        if (a < 0.0 || b < 0.0) continue;
        days.add(a, b);
        joint += wet[static_cast<std::size_t>(i)][d] * wet[static_cast<std::size_t>(j)][d];
      }
      lr.set_days(days.pi.data(), days.zi.data(), days.pj.data(), days.zj.data(), days.pi.size());
      double r = NAN;
      ASSERT_TRUE(lr.solve(joint, r));
      SCOPED_TRACE(lines[k]);
      EXPECT_EQ(std::stol(lines[k].substr(24, 5)), static_cast<long>(days.pi.size()));
      EXPECT_NEAR(std::stod(lines[k].substr(16, 7)), r, 0.5e-4 + 1e-9);
    }
}
