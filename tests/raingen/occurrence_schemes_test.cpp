// Weather-state and Beta-Binomial occurrence and the joint Bernoulli table, against
// closed forms: the Beta-Binomial probabilities (R: choose(n,k)*beta(k+a,n-k+b)/beta(a,b),
// chi-square quantiles from qchisq), the existence of a table by enumerating every
// cut of the flow network sites -> sums (a table exists exactly when every set I of
// sites has sum p_I <= E[min(|I|, S)]), the weather-state calibration solved by
// bisection, and exact joint distributions of small networks.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bernoulli.hpp"
#include "plain_random.hpp"
#include "randgen.hpp"
#include "raingen.hpp"
#include "spatial.hpp"
#include "test_support.hpp"

namespace {

using rg::Array1;

void restart(long long seed) {
  rg::randgen_restart();
  rg::raingen_restart();
  rg::zbqlini(seed);
}

double logit(double p) { return std::log(p / (1.0 - p)); }

// The occurrence state of a small network and one call of a scheme.
struct Occ {
  int n;
  Array1<double> state{1, rg::MAXSIT, -1.0}, eta{1, rg::MAXSIT, 0.0}, rho{1, 80, 1e9};
  Array1<int> flags{1, rg::MAXSIT, 1};
  Occ(std::vector<double> p, std::vector<double> params) : n(int(p.size())) {
    for (int i = 1; i <= n; ++i) eta(i) = logit(p[std::size_t(i - 1)]);
    for (std::size_t k = 0; k < params.size(); ++k) rho(int(k) + 1) = params[k];
  }
  // observed: site -> state; returns the states as a bit pattern.
  int day(int spmod, const std::vector<std::pair<int, int>>& observed = {}) {
    int nobs = 0, nobswet = 0;
    for (int i = 1; i <= n; ++i) {
      state(i) = -1.0;
      flags(i) = 1;
    }
    for (auto [i, y] : observed) {
      state(i) = y;
      flags(i) = 0;
      ++nobs;
      nobswet += y;
    }
    if (spmod == 21) {
      rg::wd21(state, n, nobs, flags, eta, rho, rg::MAXSIT);
    } else {
      rg::wd22(state, n, nobs, nobswet, flags, eta, rho, rg::MAXSIT);
    }
    int bits = 0;
    for (int i = 1; i <= n; ++i) {
      EXPECT_TRUE(state(i) == 0.0 || state(i) == 1.0);
      if (state(i) > 0.5) bits |= 1 << (i - 1);
    }
    return bits;
  }
};

double chi_square(const std::vector<double>& count, const std::vector<double>& prob, double total) {
  double x = 0.0;
  for (std::size_t k = 0; k < count.size(); ++k) {
    const double e = prob[k] * total;
    if (e > 0) x += (count[k] - e) * (count[k] - e) / e;
  }
  return x;
}

// ---------------------------------------------------------------------------
// Joint Bernoulli table
// ---------------------------------------------------------------------------

// Exhaustive: a table exists iff no cut of the flow network is smaller than sum p.
bool table_exists(const std::vector<double>& p, const std::vector<double>& pz) {
  const int n = int(p.size());
  for (int set = 1; set < (1 << n); ++set) {
    double mass = 0.0;
    int size = 0;
    for (int i = 0; i < n; ++i)
      if (set >> i & 1) {
        mass += p[std::size_t(i)];
        ++size;
      }
    double cap = 0.0;
    for (int s = 0; s <= n; ++s) cap += pz[std::size_t(s)] * std::min(size, s);
    if (mass > cap + 1e-12) return false;
  }
  return true;
}

TEST(JointBernoulliTable, BuiltExactlyWhenOneExists) {
  std::mt19937_64 gen(99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  rg::BernTable cp;
  int built = 0, refused = 0;
  for (int trial = 0; trial < 6000; ++trial) {
    const int n = 2 + trial % 5;
    std::vector<double> pz(static_cast<std::size_t>(n + 1)), p(static_cast<std::size_t>(n));
    double total = 0.0, mean = 0.0;
    for (int s = 0; s <= n; ++s) total += (pz[std::size_t(s)] = std::pow(u(gen), 3.0));
    for (int s = 0; s <= n; ++s) mean += s * (pz[std::size_t(s)] /= total);
    // Marginals summing to the mean, spread by a random amount.
    const double spread = u(gen);
    double sum = 0.0;
    for (double& v : p) sum += (v = 1.0 + spread * (u(gen) - 0.5) * 2.0);
    bool ok = true;
    for (double& v : p) ok = ok && (v = v * mean / sum) <= 1.0;
    if (!ok) continue;
    double check = 0.0;
    for (double v : p) check += v;
    p[0] += mean - check;
    if (p[0] < 0 || p[0] > 1) continue;
    int code = -1;
    auto out = rgtest::capture([&] { code = rg::bercdb(n, {p.data()}, pz.data(), rg::MAXSIT, n, 1e-12, cp, true); });
    ASSERT_FALSE(out.ended) << out.output;
    EXPECT_EQ(out.output, "");
    ASSERT_EQ(code == 0, table_exists(p, pz)) << "trial " << trial << " code " << code;
    if (code != 0) {
      EXPECT_EQ(code, 7);
      ++refused;
      continue;
    }
    ++built;
    for (int s = 0; s <= n; ++s) {
      double col = 0.0;
      for (int i = 1; i <= n; ++i) {
        ASSERT_GE(cp(i, s), 0.0);
        ASSERT_LE(cp(i, s), 1.0);
        col += cp(i, s);
      }
      if (pz[std::size_t(s)] > 1e-36) EXPECT_NEAR(col, s, 1e-9);
    }
    for (int i = 1; i <= n; ++i) {
      double m = 0.0;
      for (int s = 0; s <= n; ++s) m += pz[std::size_t(s)] * cp(i, s);
      EXPECT_NEAR(m, p[std::size_t(i - 1)], 1e-9);
    }
  }
  EXPECT_GT(built, 1000);
  EXPECT_GT(refused, 300);
}

TEST(JointBernoulliTable, SmallCasesAndMessages) {
  rg::BernTable cp;
  // Independence of two fair sites.
  std::vector<double> p{0.5, 0.5}, pz{0.25, 0.5, 0.25};
  ASSERT_EQ(rg::bercdb(2, {p.data()}, pz.data(), rg::MAXSIT, 2, 1e-12, cp, false), 0);
  EXPECT_NEAR(cp(1, 1), 0.5, 1e-12);
  EXPECT_NEAR(cp(2, 1), 0.5, 1e-12);
  // All wet or all dry together.
  std::vector<double> p3{0.3, 0.3, 0.3}, pz3{0.7, 0.0, 0.0, 0.3};
  ASSERT_EQ(rg::bercdb(3, {p3.data()}, pz3.data(), rg::MAXSIT, 3, 1e-12, cp, false), 0);
  EXPECT_EQ(cp(2, 3), 1.0);
  EXPECT_EQ(cp(2, 0), 0.0);

  struct Case {
    std::vector<double> p, pz;
    bool quiet;
    std::string output;
    bool ends;
  };
  const std::string head = "\n****ERROR**** in routine BERCDB, ";
  const Case cases[] = {
      {{0.5, 0.5}, {0.25, 0.500001, 0.249999}, false, head + "sum of individual probabilities is \n 1.0000, but mean of PZ distribution is  1.0000\n", true},
      {{0.5, 0.5}, {0.25, 0.5, 0.26}, false, head + "probabilities in PZ sum to 1.01000\ninstead of 1.\n", true},
      {{0.5, 1.5}, {0.25, 0.5, 0.25}, false, head + "some sites have probabilities\noutside the range [0,1].\n", true},
      {{0.5, 0.5}, {-0.25, 1.5, -0.25}, false, head + "some probabilities in PZ distribution\nare outside the range [0,1].\n", true},
      // Too much weight on all wet: the driest site cannot be wet that often.
      {{0.2, 0.8}, {0.45, 0.1, 0.45}, false,
       head + "distribution of sum is incompatible with \ngiven marginal probabilities - I'm trying to sandwich "
              "something between a\nlower bound of 0.00000 and an upper bound of -.25000. The problem arose while\n"
              "trying to calculate conditional probabilities when sum is   1 (maximum \nis   2).\n",
       true},
      {{0.2, 0.8}, {0.45, 0.1, 0.45}, true, "", false},
      // No table: the two largest marginals exceed E[min(2, S)] (found by a random search).
      {{0.36037037037037034, 0.36037037037037034, 0.77222222222222225, 0.8237037037037036},
       {0.13333333333333333, 0.21666666666666667, 0.10000000000000001, 0.29999999999999999, 0.25}, false,
       head + "distribution of sum is incompatible with \ngiven marginal probabilities.\n", false},
  };
  for (const Case& c : cases) {
    int code = -1;
    auto out = rgtest::capture([&] {
      code = rg::bercdb(int(c.p.size()), {c.p.data()}, c.pz.data(), rg::MAXSIT, int(c.p.size()), 1e-12, cp, c.quiet);
    });
    EXPECT_EQ(out.output, c.output);
    EXPECT_EQ(out.ended, c.ends);
    if (c.ends) EXPECT_EQ(out.status, 1);
    if (!c.ends) EXPECT_EQ(code, 7);
  }
}

TEST(BetaBinomial, SumDistributionMatchesTheClosedForm) {
  // R: n <- 6; a <- 0.6; b <- 1.4; choose(n,0:n)*beta(0:n+a,n-0:n+b)/beta(a,b)
  const double ref[] = {0.34467840000000022, 0.19388160000000013, 0.14361600000000008, 0.11315200000000004,
                        0.089855999999999964, 0.068889599999999968, 0.045926399999999971};
  std::vector<double> pz(201);
  EXPECT_EQ(rg::bbzgen(6, 0.6, 1.4, 0.3, 0.3, pz.data(), rg::MAXSIT), 0);
  for (int k = 0; k <= 6; ++k) EXPECT_NEAR(pz[std::size_t(k)], ref[k], 1e-14) << k;
  // Large networks: against lgamma of the closed form, no underflow.
  for (int n : {150, 200}) {
    const double a = 3.0, b = 0.5;
    ASSERT_EQ(rg::bbzgen(n, a, b, 0.8, 0.9, pz.data(), rg::MAXSIT), 0);
    for (int k : {0, 1, n / 2, n - 1, n}) {
      const double lref = std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0) +
                          std::lgamma(k + a) + std::lgamma(n - k + b) - std::lgamma(n + a + b) +
                          std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b);
      EXPECT_NEAR(pz[std::size_t(k)], std::exp(lref), 1e-9 * std::exp(lref) + 1e-14) << n << " " << k;
    }
  }
  // Degenerate shapes, and the compatibility flag.
  EXPECT_EQ(rg::bbzgen(4, 0.0, 2.0, 0.0, 0.0, pz.data(), rg::MAXSIT), 0);
  EXPECT_EQ(pz[0], 1.0);
  EXPECT_EQ(rg::bbzgen(4, 2.0, 0.0, 1.0, 1.0, pz.data(), rg::MAXSIT), 0);
  EXPECT_EQ(pz[4], 1.0);
  EXPECT_EQ(pz[0], 0.0);
  EXPECT_EQ(rg::bbzgen(2, 0.25, 0.25, 0.25, 0.75, pz.data(), rg::MAXSIT), 1);
}

// ---------------------------------------------------------------------------
// Beta-Binomial occurrence
// ---------------------------------------------------------------------------

TEST(BetaBinomialOccurrence, EqualProbabilitiesGiveTheBetaBinomialSumAndExactConditionals) {
  // n = 5, p = 0.3, nu = 2.5: alpha = 0.75, beta = 1.75 (R values as above).
  const double ref[] = {0.35016025641025644, 0.22836538461538458, 0.16826923076923078, 0.1233974358974359,
                        0.084134615384615391, 0.04567307692307692};
  const int days = 60000;
  restart(11);
  Occ occ({0.3, 0.3, 0.3, 0.3, 0.3}, {2.5});
  std::vector<double> count(6, 0.0);
  auto out = rgtest::capture([&] {
    for (int d = 0; d < days; ++d) count[std::size_t(__builtin_popcount(unsigned(occ.day(22))))] += 1;
  });
  // The default shrinkage step is announced once; equal probabilities never shrink.
  EXPECT_EQ(out.output,
            "\n****WARNING**** You have asked for spatial dependence in rainfall occurrence \n"
            "to be modelled via a Beta-Binomial distribution for the number of wet sites.\n"
            "This distribution is not guaranteed to be consistent with the forecast probabilities\n"
            "of rain at each site on all days. You haven't specified a shrinkage parameter between\n"
            "0 and 1 for adjustment of the probabilities in this case, so I've set it to 0.010.\n\n");
  EXPECT_LT(chi_square(count, {ref, ref + 6}, days), 22.458);  // qchisq(0.999, 5 + 1)

  // Exchangeable joint: P(y) = pz(|y|) / choose(5, |y|). Sites 2 (wet) and 4 (dry)
  // observed; the pattern of sites 1, 3, 5 against its exact conditional.
  std::vector<double> joint(8, 0.0), seen(8, 0.0);
  const double choose5[] = {1, 5, 10, 10, 5, 1};
  double norm = 0.0;
  for (int b = 0; b < 8; ++b) {
    const int wet = __builtin_popcount(unsigned(b)) + 1;
    joint[std::size_t(b)] = ref[wet] / choose5[wet];
    norm += joint[std::size_t(b)];
  }
  for (double& j : joint) j /= norm;
  for (int d = 0; d < days; ++d) {
    const int bits = occ.day(22, {{2, 1}, {4, 0}});
    seen[std::size_t((bits & 1) | (bits >> 1 & 2) | (bits >> 2 & 4))] += 1;
  }
  EXPECT_LT(chi_square(seen, joint, days), 26.125);  // qchisq(0.999, 8)
}

TEST(BetaBinomialOccurrence, UnequalProbabilitiesKeepMarginalsAndTwoSitesConditionExactly) {
  const std::vector<double> p{0.15, 0.3, 0.35, 0.5, 0.6, 0.2};
  const int days = 80000;
  restart(12);
  Occ occ(p, {4.0, 0.05, 1.0});
  std::vector<double> wet(p.size(), 0.0);
  auto out = rgtest::capture([&] {
    for (int d = 0; d < days; ++d) {
      const int bits = occ.day(22);
      for (std::size_t i = 0; i < p.size(); ++i) wet[i] += bits >> i & 1;
    }
  });
  EXPECT_EQ(out.output, "");  // consistent every day: no shrinkage
  for (std::size_t i = 0; i < p.size(); ++i)
    EXPECT_NEAR(wet[i] / days, p[i], 4.5 * std::sqrt(p[i] * (1 - p[i]) / days)) << i;

  // Two sites: the joint is fixed by the marginals and pz, P(both wet) = pz(2).
  const double p1 = 0.3, p2 = 0.6, nu = 3.0, pbar = 0.45;
  const double a = nu * pbar, b = nu * (1 - pbar);
  const double both = a * (a + 1) / ((a + b) * (a + b + 1));
  Occ two({p1, p2}, {nu, 0.05, 1.0});
  for (int y : {1, 0}) {
    double hit = 0.0;
    for (int d = 0; d < days; ++d) hit += occ.n > 0 && (two.day(22, {{1, y}}) >> 1 & 1);
    const double cond = y == 1 ? both / p1 : (p2 - both) / (1 - p1);
    EXPECT_NEAR(hit / days, cond, 4.5 * std::sqrt(cond * (1 - cond) / days)) << y;
  }
}

TEST(BetaBinomialOccurrence, ShrinkageMessagesStepsAndLimit) {
  // Two sites, nu = 0.5: pz(0) = pz(2) = 5/12 needs the probabilities within 1/12 of
  // their mean. (0.25, 0.75) with step 0.5 takes two steps: factor 1 - 0.5^2.
  restart(3);
  Occ occ({0.25, 0.75}, {0.5, 0.5});
  auto out = rgtest::capture([&] { occ.day(22); });
  EXPECT_EQ(out.output,
            "\n****ERROR**** Beta-binomial distribution for number of wet sites is inconsistent\n"
            "with individual probabilities of rain. These will be repeatedly shrunk towards\n"
            "0.500 by a factor of 0.5000 until a consistent set is found.\n"
            "To suppress these messages, add the appropriate line to your logistic.def file.\n"
            "Final shrinkage factor was 0.7500.\n");
  // Messages switched off.
  restart(3);
  Occ quiet({0.25, 0.75}, {0.5, 0.5, 0.0});
  EXPECT_EQ(rgtest::capture([&] { quiet.day(22); }).output, "");
  // A step too small to get there: bounded, then the mean for the day.
  restart(3);
  Occ slow({0.25, 0.75}, {0.5, 1e-6});
  auto lim = rgtest::capture([&] { slow.day(22); });
  EXPECT_FALSE(lim.ended);
  EXPECT_NE(lim.output.find("1000 shrinkage steps were not enough"), std::string::npos);
  EXPECT_NE(lim.output.find("Final shrinkage factor was 1.0000."), std::string::npos);
}

TEST(BetaBinomialOccurrence, EveryDayDrawsTheSumAndTheFirstSite) {
  // Equal probabilities and a tiny shape: every day is all dry or all wet, decided by
  // the sum's uniform and the first site's uniform, so two uniforms a day.
  restart(44);
  rgtest::PlainRandom ref(44);
  Occ occ({0.4, 0.4, 0.4, 0.4}, {1e-9, 0.5, 0.0});
  for (int d = 0; d < 1000; ++d) {
    const int bits = occ.day(22);
    const double u = ref.uniform();
    ref.uniform();
    ASSERT_EQ(bits, u <= 0.6 ? 0 : 15) << d;
  }
  EXPECT_EQ(rg::zbqlu01(), ref.uniform());
}

// ---------------------------------------------------------------------------
// Weather state
// ---------------------------------------------------------------------------

// Dry-state odds factor by bisection on the calibration pi P1 + (1 - pi) P0 = p.
double kappa_bisect(double p, double pi, double psi) {
  auto pw = [p](double f) { return f * p / (1 - p + f * p); };
  double lo = 1e-30, hi = 1e30;
  for (int i = 0; i < 400; ++i) {
    const double mid = std::sqrt(lo * hi);
    (pi * pw(mid * psi) + (1 - pi) * pw(mid) > p ? hi : lo) = mid;
  }
  return std::sqrt(lo * hi);
}

TEST(WeatherStateOccurrence, CalibrationAgainstBisection) {
  for (double p : {1e-6, 0.05, 0.3, 0.5, 0.93, 0.999})
    for (double pi : {0.1, 0.4, 0.8})
      for (double theta : {-3.0, 0.0, 0.7, 4.0, 20.0}) {
        const double k = rg::bcalc(p, pi, std::exp(theta)), ref = kappa_bisect(p, pi, std::exp(theta));
        EXPECT_NEAR(k / ref, 1.0, 1e-8) << p << " " << pi << " " << theta;
      }
  EXPECT_EQ(rg::bcalc(0.3, 0.5, 1.0), 1.0);
}

TEST(WeatherStateOccurrence, PairsAndConditionalsMatchTheTwoStateMixture) {
  const std::vector<double> p{0.2, 0.35, 0.5, 0.7};
  const double pi = (0.2 + 0.35 + 0.5 + 0.7) / 4;
  const int days = 80000;
  for (double theta : {0.0, 1.5}) {
    const double psi = std::exp(theta);
    auto pstate = [&](std::size_t i, int s) {
      const double f = kappa_bisect(p[i], pi, psi) * (s ? psi : 1.0);
      return f * p[i] / (1 - p[i] + f * p[i]);
    };
    restart(21);
    Occ occ(p, {theta});
    std::vector<double> wet(4, 0.0), pair(16, 0.0);
    for (int d = 0; d < days; ++d) {
      const int bits = occ.day(21);
      for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = i; j < 4; ++j) pair[i * 4 + j] += (bits >> i & 1) && (bits >> j & 1);
    }
    for (std::size_t i = 0; i < 4; ++i)
      for (std::size_t j = i; j < 4; ++j) {
        const double e = pi * pstate(i, 1) * (i == j ? 1.0 : pstate(j, 1)) +
                         (1 - pi) * pstate(i, 0) * (i == j ? 1.0 : pstate(j, 0));
        EXPECT_NEAR(pair[i * 4 + j] / days, e, 4.5 * std::sqrt(e * (1 - e) / days)) << theta << " " << i << j;
      }
    // Sites 1 and 4 observed: site 2 and 3 wet given the state's posterior.
    for (int y1 : {0, 1})
      for (int y4 : {0, 1}) {
        double w[2], hit2 = 0.0, hit23 = 0.0;
        for (int s = 0; s < 2; ++s) {
          const double a = y1 ? pstate(0, s) : 1 - pstate(0, s), b = y4 ? pstate(3, s) : 1 - pstate(3, s);
          w[s] = (s ? pi : 1 - pi) * a * b;
        }
        const double post = w[1] / (w[0] + w[1]);
        const double e2 = post * pstate(1, 1) + (1 - post) * pstate(1, 0);
        const double e23 = post * pstate(1, 1) * pstate(2, 1) + (1 - post) * pstate(1, 0) * pstate(2, 0);
        for (int d = 0; d < days / 4; ++d) {
          const int bits = occ.day(21, {{1, y1}, {4, y4}});
          hit2 += bits >> 1 & 1;
          hit23 += (bits >> 1 & 1) && (bits >> 2 & 1);
        }
        const int nd = days / 4;
        EXPECT_NEAR(hit2 / nd, e2, 4.5 * std::sqrt(e2 * (1 - e2) / nd)) << theta << y1 << y4;
        EXPECT_NEAR(hit23 / nd, e23, 4.5 * std::sqrt(e23 * (1 - e23) / nd)) << theta << y1 << y4;
      }
  }
}

// ---------------------------------------------------------------------------
// Both schemes at the extremes
// ---------------------------------------------------------------------------

TEST(OccurrenceSchemes, CertainSitesAndHugeParameters) {
  struct Case {
    int spmod;
    std::vector<double> params;
  };
  for (const Case& c : {Case{21, {1e6}}, Case{21, {-1e6}}, Case{21, {2.0}}, Case{22, {1e-300}}, Case{22, {1e6}},
                        Case{22, {3.0, 0.2, 0.0}}}) {
    restart(5);
    Occ occ({0.5, 0.5, 0.5, 0.5}, c.params);
    occ.eta(1) = 800.0;   // always wet
    occ.eta(2) = -800.0;  // never wet
    auto out = rgtest::capture([&] {
      for (int d = 0; d < 300; ++d) {
        // Observations the model calls impossible or certain, and none.
        const int bits = d % 3 == 0 ? occ.day(c.spmod, {{1, 0}, {2, 1}})
                         : d % 3 == 1 ? occ.day(c.spmod, {{1, 1}})
                                      : occ.day(c.spmod);
        if (d % 3 == 2) ASSERT_EQ(bits & 3, 1);
        if (d % 3 == 1) ASSERT_EQ(bits & 2, 0);
      }
      // Every site certain: the whole network wet, or dry.
      for (int i = 1; i <= 4; ++i) occ.eta(i) = 1e4;
      ASSERT_EQ(occ.day(c.spmod), 15);
      for (int i = 1; i <= 4; ++i) occ.eta(i) = -1e4;
      ASSERT_EQ(occ.day(c.spmod, {{3, 0}}), 0);
    });
    EXPECT_FALSE(out.ended) << c.spmod << out.output;
  }
}

}  // namespace
