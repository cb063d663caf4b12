// Daily generator: exact draws against the plain generator of the test support, and
// long-run statistics against closed forms and the bivariate normal reference table
// (tests/reference/bivariate_normal.csv, computed with R's mvtnorm).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "anscombe.hpp"
#include "dev_math.hpp"
#include "plain_random.hpp"
#include "randgen.hpp"
#include "raingen.hpp"
#include "sites.hpp"
#include "test_support.hpp"

namespace {

using rg::Array1;
using rg::Matrix;

double upper_tail(double c) { return 0.5 * std::erfc(c / std::sqrt(2.0)); }
double logit(double p) { return std::log(p / (1.0 - p)); }
// Logit of the wet probability of a latent threshold c.
double eta_of_threshold(double c) { return logit(upper_tail(c)); }

// P(X > h, Y > k) from the reference table.
double reference_orthant(double h, double k, double rho) {
  for (const auto& row : rgtest::read_csv(rgtest::reference("bivariate_normal.csv"))) {
    if (std::fabs(std::stod(row[0]) - h) < 1e-9 && std::fabs(std::stod(row[1]) - k) < 1e-9 &&
        std::fabs(std::stod(row[2]) - rho) < 1e-9)
      return std::stod(row[3]);
  }
  ADD_FAILURE() << "no reference for " << h << " " << k << " " << rho;
  return -1.0;
}

// The generator's inputs for a network of n sites; cormat2 = v R and m = m0.
struct Net {
  int n;
  Array1<double> rain{1, rg::MAXSIT, 0.0}, eta{1, rg::MAXSIT, 0.0}, mu{1, rg::MAXSIT, 1.0}, m{1, rg::MAXSIT, 0.0};
  Array1<double> rho1{1, 80, 1e9};
  Array1<int> flags{1, rg::MAXSIT, 1};
  Matrix cormat1{rg::MAXSIT, rg::MAXSIT}, cormat2{rg::MAXSIT, rg::MAXSIT};
  int spmod1 = 0;

  Net(int sites, double m0, double v) : n(sites) {
    for (int i = 1; i <= n; ++i) {
      m(i) = m0;
      cormat1(i, i) = 1.0;
      cormat2(i, i) = v;
    }
  }
  void correlate(Matrix& a, int i, int j, double r) { a(i, j) = a(j, i) = r * a(i, i); }
  // One day: the sites in observed keep their values, the others are simulated.
  void day(const std::vector<std::pair<int, double>>& observed = {}) {
    for (int i = 1; i <= n; ++i) {
      rain(i) = -1.0;
      flags(i) = 1;
    }
    for (auto [i, value] : observed) {
      rain(i) = value;
      flags(i) = 0;
    }
    rg::raingen(rain, flags, n, spmod1, eta, rho1, cormat1, 0, mu, 1.0, cormat2, m, rg::MAXSIT);
  }
};

void restart(long long seed) {
  rg::randgen_restart();
  rg::raingen_restart();
  rg::zbqlini(seed);
}

TEST(Raingen, IndependentDaysFollowThePlainGeneratorExactly) {
  // Amount structure 0 with a large spread, so that negative draws and partial passes
  // are frequent; some days with observed sites, one fully observed.
  const int n = 7;
  const double m0 = 0.8, v = 0.3;
  restart(20231);
  rgtest::PlainRandom ref(20231);
  Net net(n, m0, v);
  std::vector<double> eta(n), mu(n);
  for (int i = 0; i < n; ++i) {
    eta[static_cast<std::size_t>(i)] = -2.0 + 0.7 * i;
    mu[static_cast<std::size_t>(i)] = 2.0 + 3.0 * i;
    net.eta(i + 1) = eta[static_cast<std::size_t>(i)];
    net.mu(i + 1) = mu[static_cast<std::size_t>(i)];
  }
  eta[0] = net.eta(1) = 800.0;   // always wet
  eta[1] = net.eta(2) = -800.0;  // never wet
  for (int d = 0; d < 20000; ++d) {
    std::vector<std::pair<int, double>> observed;
    if (d % 5 == 1) observed = {{3, 12.5}, {6, 0.0}};
    if (d % 97 == 0) observed = {{1, 1.0}, {2, 0.0}, {3, 2.0}, {4, 0.0}, {5, 3.0}, {6, 4.0}, {7, 0.0}};
    std::vector<double> rain(n, -1.0);
    std::vector<int> flags(n, 1);
    for (auto [i, value] : observed) {
      rain[static_cast<std::size_t>(i - 1)] = value;
      flags[static_cast<std::size_t>(i - 1)] = 0;
    }
    rgtest::plain_independent_day(ref, rain, flags, eta, mu, m0, v);
    net.day(observed);
    for (int i = 1; i <= n; ++i) ASSERT_EQ(net.rain(i), rain[static_cast<std::size_t>(i - 1)]) << d << " " << i;
    ASSERT_GT(net.rain(1), 0.0);
    ASSERT_EQ(net.rain(2), 0.0);
  }
  EXPECT_EQ(rg::zbqlu01(), ref.uniform());  // nothing drawn beyond the plain generator's draws
}

TEST(Raingen, NetworkOf200GaugesFollowsAPlainFactorisationOfEachDaysWetBlock) {
  // 200 gauges on a 20 x 10 grid 5 km apart, independent occurrence, cube-root
  // amounts with covariance v exp(-d / 25 km), and the same with no correlation. The
  // reference day is written here from the definition: a uniform per gauge, the
  // Cholesky factor U of the wet gauges' block computed entry by entry as dot
  // products, then passes of normals u with x = m0 + U'u. Every amount must agree to
  // the last bit, whichever way the generator factorises (or skips factorising).
  const int n = 200, days = 120;
  double m0 = 0.0, v = 0.0;
  rg::ansprm(2.0, m0, v);
  for (const bool correlated : {true, false}) {
    restart(777);
    rgtest::PlainRandom ref(777);
    Net net(n, m0, v);
    for (int i = 1; i <= n; ++i) {
      net.eta(i) = 0.3 + 0.4 * std::sin(0.37 * i);
      net.mu(i) = 2.0 + 0.05 * i;
      for (int j = 1; j < i && correlated; ++j)
        net.correlate(net.cormat2, i, j, std::exp(-5.0 * std::hypot((i - 1) % 20 - (j - 1) % 20, (i - 1) / 20 - (j - 1) / 20) / 25.0));
    }
    std::vector<double> u;
    std::vector<int> wet;
    std::vector<std::vector<double>> U;
    for (int d = 0; d < days; ++d) {
      net.day();
      wet.clear();
      std::vector<double> rain(n + 1, 0.0);
      for (int i = 1; i <= n; ++i) {
        const double p = rg::wet_probability(net.eta(i));
        if (ref.uniform() < p) {
          rain[static_cast<std::size_t>(i)] = -1.0;
          wet.push_back(i);
        }
      }
      const std::size_t nw = wet.size();
      U.assign(nw, std::vector<double>(nw, 0.0));
      for (std::size_t i = 0; i < nw; ++i) {
        double c = net.cormat2(wet[i], wet[i]);
        for (std::size_t k = 0; k < i; ++k) c -= U[k][i] * U[k][i];
        ASSERT_GT(c, 0.0);
        U[i][i] = std::sqrt(c);
        for (std::size_t j = i + 1; j < nw; ++j) {
          double r = net.cormat2(wet[i], wet[j]);
          for (std::size_t k = 0; k < i; ++k) r -= U[k][i] * U[k][j];
          U[i][j] = r / U[i][i];
        }
      }
      u.resize(nw);
      for (bool done = nw == 0; !done;) {
        for (double& x : u) x = ref.normal(0.0, 1.0);
        done = true;
        for (std::size_t k = 0; k < nw; ++k) {
          double& amount = rain[static_cast<std::size_t>(wet[k])];
          if (amount >= 0.0) continue;
          double x = m0;
          for (std::size_t l = 0; l <= k; ++l) x += U[l][k] * u[l];
          const double a = net.mu(wet[k]) * (x * x * x);
          if (a < 0.0) {
            done = false;
            break;
          }
          amount = a + 0.0;
        }
      }
      for (int i = 1; i <= n; ++i)
        ASSERT_EQ(net.rain(i), rain[static_cast<std::size_t>(i)]) << (correlated ? "correlated" : "uncorrelated")
                                                                  << ", day " << d << ", gauge " << i;
    }
    EXPECT_EQ(rg::zbqlu01(), ref.uniform());
  }
}

TEST(Raingen, WetFrequenciesAndAmountMomentsOfIndependentSites) {
  // Cube-root amounts with the moments matched to a gamma of shape nu: the amount
  // ratios have mean 1 and variance 1/nu.
  const double nu = 3.0;
  double m0 = 0, v = 0;
  rg::ansprm(nu, m0, v);
  restart(5);
  const int n = 4, days = 100000;
  Net net(n, m0, v);
  const double etas[n] = {-3.0, -0.5, 0.0, 1.2};
  for (int i = 1; i <= n; ++i) {
    net.eta(i) = etas[i - 1];
    net.mu(i) = 3.0 * i;
  }
  std::vector<double> wet(n + 1, 0.0), sum(n + 1, 0.0), sum2(n + 1, 0.0);
  for (int d = 0; d < days; ++d) {
    net.day();
    for (int i = 1; i <= n; ++i) {
      ASSERT_GE(net.rain(i), 0.0);
      if (net.rain(i) > 0.0) {
        wet[i] += 1;
        const double ratio = net.rain(i) / net.mu(i);
        sum[i] += ratio;
        sum2[i] += ratio * ratio;
      }
    }
  }
  for (int i = 1; i <= n; ++i) {
    const double p = 1.0 / (1.0 + std::exp(-etas[i - 1]));
    EXPECT_NEAR(wet[i] / days, p, 4.5 * std::sqrt(p * (1 - p) / days)) << i;
    const double mean = sum[i] / wet[i], var = sum2[i] / wet[i] - mean * mean;
    EXPECT_NEAR(mean, 1.0, 4.5 * std::sqrt(1.0 / nu / wet[i])) << i;
    EXPECT_NEAR(var, 1.0 / nu, 0.05 / nu + 6.0 / std::sqrt(wet[i])) << i;
  }
}

TEST(Raingen, CubeRootAmountsCorrelateAtTheAmountCorrelation) {
  const double m0 = 1.0, v = 0.04, r = 0.7;  // negative draws are out of reach (25 sd)
  restart(77);
  const int n = 3, days = 60000;
  Net net(n, m0, v);
  for (int i = 1; i <= n; ++i) {
    net.eta(i) = 0.4;
    net.mu(i) = 1.5 + i;
    for (int j = i + 1; j <= n; ++j) net.correlate(net.cormat2, i, j, r);
  }
  double s1 = 0, s2 = 0, s11 = 0, s22 = 0, s12 = 0, cnt = 0;
  for (int d = 0; d < days; ++d) {
    net.day();
    if (net.rain(1) > 0 && net.rain(3) > 0) {
      const double a = std::cbrt(net.rain(1) / net.mu(1)), b = std::cbrt(net.rain(3) / net.mu(3));
      s1 += a, s2 += b, s11 += a * a, s22 += b * b, s12 += a * b, cnt += 1;
    }
  }
  const double c = (s12 / cnt - s1 / cnt * s2 / cnt) /
                   std::sqrt((s11 / cnt - s1 * s1 / cnt / cnt) * (s22 / cnt - s2 * s2 / cnt / cnt));
  EXPECT_NEAR(c, r, 4.5 * (1 - r * r) / std::sqrt(cnt));
  EXPECT_NEAR(s1 / cnt, m0, 4.5 * std::sqrt(v / cnt));
}

TEST(Raingen, AmountsGivenAnObservedWetSiteFollowTheConditionalNormal) {
  // Site 1 observed wet with cube-root value w1: site 2 (always wet) has cube-root
  // mean m0 + r (w1 - m0) and variance v (1 - r^2); site 3 is uncorrelated.
  const double m0 = 1.0, v = 0.05, r = 0.8, y1 = 27.0 * 1.3 * 1.3 * 1.3;
  restart(99);
  Net net(3, m0, v);
  net.mu(1) = 27.0;
  net.mu(2) = 4.0;
  net.eta(2) = net.eta(3) = 800.0;
  net.correlate(net.cormat2, 1, 2, r);
  double s = 0, ss = 0, t = 0, tt = 0;
  const int days = 50000;
  for (int d = 0; d < days; ++d) {
    net.day({{1, y1}});
    ASSERT_EQ(net.rain(1), y1);
    ASSERT_EQ(net.flags(1), 0);
    const double w = std::cbrt(net.rain(2) / net.mu(2)), w3 = std::cbrt(net.rain(3) / net.mu(3));
    s += w, ss += w * w, t += w3, tt += w3 * w3;
  }
  const double mean = s / days, var = ss / days - mean * mean, cvar = v * (1 - r * r);
  EXPECT_NEAR(mean, m0 + r * 0.3, 4.5 * std::sqrt(cvar / days));
  EXPECT_NEAR(var, cvar, 4.5 * cvar * std::sqrt(2.0 / days));
  EXPECT_NEAR(t / days, m0, 4.5 * std::sqrt(v / days));
  EXPECT_NEAR(tt / days - (t / days) * (t / days), v, 4.5 * v * std::sqrt(2.0 / days));
}

TEST(Raingen, AllObservedOrAllDryDrawsNothingMore) {
  restart(3);
  rgtest::PlainRandom ref(3);
  Net net(3, 1.0, 0.1);
  net.day({{1, 0.0}, {2, 5.0}, {3, 0.2}});
  EXPECT_EQ(net.rain(2), 5.0);
  net.eta(1) = net.eta(2) = net.eta(3) = -800.0;
  net.day();  // three uniforms, every site dry, no normal
  for (int i = 0; i < 3; ++i) ref.uniform();
  EXPECT_EQ(rg::zbqlu01(), ref.uniform());
}

TEST(Raingen, FailedFactorisationsStopTheRun) {
  // The first factorisation is checked and reported.
  restart(1);
  Net bad(2, 1.0, 1.0);
  bad.eta(1) = bad.eta(2) = 800.0;
  bad.correlate(bad.cormat2, 1, 2, 1.2);
  auto first = rgtest::capture([&] { bad.day(); });
  EXPECT_TRUE(first.ended);
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(first.output,
            " Checking Ansombe residual correlation structure for amounts model ...\n\n"
            "     ****ERROR**** input correlation matrix isn't positive definite.\n"
            "     Problem found at   2th site. If you are using an empirical\n"
            "     correlation matrix, you may need to fit a valid correlation model to\n"
            "     get round this problem.\n");
  // Pairs that are valid, three sites together not: the later factorisation stops too.
  restart(1);
  Net net(3, 1.0, 1.0);
  net.correlate(net.cormat2, 1, 2, 0.9);
  net.correlate(net.cormat2, 1, 3, 0.9);
  net.correlate(net.cormat2, 2, 3, -0.9);
  net.eta(1) = net.eta(2) = 800.0;
  net.eta(3) = -800.0;
  auto ok = rgtest::capture([&] {
    net.day();
    net.day();
  });
  EXPECT_FALSE(ok.ended);
  EXPECT_EQ(ok.output, " Checking Ansombe residual correlation structure for amounts model ...\n OK.\n");
  net.eta(3) = 800.0;
  auto later = rgtest::capture([&] { net.day(); });
  EXPECT_TRUE(later.ended);
  EXPECT_EQ(later.status, 1);
  EXPECT_NE(later.output.find("isn't positive definite"), std::string::npos);
}

TEST(Raingen, RefusedOccurrenceStructuresAndCapacities) {
  Net net(2, 1.0, 1.0);
  restart(1);
  net.spmod1 = 20;
  auto r = rgtest::capture([&] { net.day(); });
  EXPECT_EQ(r.output,
            "\n****ERROR**** In routine WDALLOC, an invalid value of variable\n"
            "SPMOD has been found. This is a programming error - please contact DEV.\n");
  EXPECT_TRUE(r.ended && r.status == 1);
  net.spmod1 = 0;
  auto cap = rgtest::capture([&] {
    rg::raingen(net.rain, net.flags, 2, 0, net.eta, net.rho1, net.cormat1, 0, net.mu, 1.0, net.cormat2, net.m, 100);
  });
  EXPECT_TRUE(cap.ended && cap.status == 1);
  EXPECT_NE(cap.output.find("RAINGEN"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Latent Gaussian occurrence
// ---------------------------------------------------------------------------

TEST(LatentOccurrence, PairwiseWetFrequenciesMatchOrthantProbabilities) {
  // Thresholds and correlations chosen from the reference table where possible; pair
  // (4, 5) has zero thresholds (Sheppard: 1/4 + asin(r)/(2 pi)).
  const int n = 6, days = 150000;
  const double c[n + 1] = {0, 0.3, 0.4, -0.7, 0.0, 0.0, 1.5};
  Net net(n, 1.0, 0.1);
  net.spmod1 = 3;
  for (int i = 1; i <= n; ++i) {
    net.eta(i) = eta_of_threshold(c[i]);
    for (int j = i + 1; j <= n; ++j) net.correlate(net.cormat1, i, j, 0.1);
  }
  net.correlate(net.cormat1, 1, 2, 0.6);
  net.correlate(net.cormat1, 3, 4, 0.2);
  net.correlate(net.cormat1, 4, 5, 0.9);
  net.correlate(net.cormat1, 4, 6, 0.6);
  net.correlate(net.cormat1, 5, 6, 0.5);
  restart(4242);
  std::vector<double> both((n + 1) * (n + 1), 0.0);
  auto out = rgtest::capture([&] {
    for (int d = 0; d < days; ++d) {
      net.day();
      for (int i = 1; i <= n; ++i)
        for (int j = i; j <= n; ++j)
          if (net.rain(i) > 0 && net.rain(j) > 0) both[static_cast<std::size_t>(i * (n + 1) + j)] += 1;
    }
  });
  EXPECT_EQ(out.output,
            "\n Checking latent spatial correlation structure for occurrence model ...\n OK.\n"
            " Checking Ansombe residual correlation structure for amounts model ...\n OK.\n");
  auto expect_pair = [&](int i, int j, double p) {
    EXPECT_NEAR(both[static_cast<std::size_t>(i * (n + 1) + j)] / days, p, 4.5 * std::sqrt(p * (1 - p) / days))
        << i << "," << j;
  };
  expect_pair(1, 2, reference_orthant(0.3, 0.4, 0.6));
  expect_pair(3, 4, reference_orthant(-0.7, 0.0, 0.2));
  expect_pair(4, 6, reference_orthant(1.5, 0.0, 0.6));
  expect_pair(4, 5, 0.25 + std::asin(0.9) / (2 * M_PI));
  for (int i = 1; i <= n; ++i) {
    expect_pair(i, i, upper_tail(c[i]));
    for (int j = i + 1; j <= n; ++j) expect_pair(i, j, rg::cdfbvn(c[i], c[j], net.cormat1(i, j), 1e-10));
  }
}

TEST(LatentOccurrence, SimulatedSitesFollowTheConditionalWetProbability) {
  // Site 1 observed (wet: tail branch of the truncated normal, c = 1.5), site 2 to
  // simulate (c = 0, correlation 0.6 with site 1), site 3 observed and uncorrelated.
  // P(2 wet | 1 wet) = P(both wet)/P(1 wet); P(2 wet | 1 dry) from the complement.
  const double both = reference_orthant(1.5, 0.0, 0.6), p1 = upper_tail(1.5);
  Net net(3, 1.0, 0.1);
  net.spmod1 = 2;
  net.eta(1) = eta_of_threshold(1.5);
  net.eta(3) = 0.7;
  net.correlate(net.cormat1, 1, 2, 0.6);
  for (double obs1 : {4.0, 0.0}) {
    restart(8);
    const int days = 80000;
    double wet = 0;
    rgtest::capture([&] {
      for (int d = 0; d < days; ++d) {
        net.day({{1, obs1}, {3, d % 2 ? 1.0 : 0.0}});
        wet += net.rain(2) > 0;
      }
    });
    const double p = obs1 > 0 ? both / p1 : (0.5 - both) / (1 - p1);
    EXPECT_NEAR(wet / days, p, 4.5 * std::sqrt(p * (1 - p) / days)) << obs1;
  }
}

TEST(LatentOccurrence, TruncatedNormalDrawsFollowTheTruncatedDistribution) {
  struct Case {
    double mu, sigma, c, s;
  };
  // Inside one standard deviation (rejection from the normal) and in the tail.
  for (Case k : {Case{0, 1, 0.5, 1}, Case{0, 1, 2.5, 1}, Case{1, 2, 4, 1}, Case{0, 1, -3, -1}, Case{2, 0.5, 3, -1}}) {
    restart(31);
    const int n = 50000;
    std::vector<double> x(n);
    for (double& v : x) {
      v = rg::rtrnor(k.mu, k.sigma, k.c, k.s);
      ASSERT_GE(k.s * (v - k.c), 0.0);
    }
    std::sort(x.begin(), x.end());
    // Distribution function of the truncated normal on the allowed side.
    const double zc = (k.c - k.mu) / k.sigma;
    const double mass = k.s > 0 ? upper_tail(zc) : 1 - upper_tail(zc);
    double dmax = 0;
    for (int i = 0; i < n; ++i) {
      const double z = (x[static_cast<std::size_t>(i)] - k.mu) / k.sigma;
      const double f = k.s > 0 ? (upper_tail(zc) - upper_tail(z)) / mass : (1 - upper_tail(z)) / mass;
      dmax = std::max({dmax, std::fabs(f - double(i) / n), std::fabs(f - double(i + 1) / n)});
    }
    EXPECT_LT(dmax, 1.95 / std::sqrt(double(n))) << k.c;
  }
}

TEST(LatentOccurrence, ExtremeProbabilitiesAndInvalidCorrelations) {
  // Probabilities that round to 1 or 0 simulate always wet or always dry, and an
  // observation the model calls impossible is still accepted.
  restart(2);
  Net net(3, 1.0, 0.1);
  net.spmod1 = 2;
  net.correlate(net.cormat1, 1, 2, 0.5);
  net.correlate(net.cormat1, 2, 3, 0.5);
  net.eta(1) = -800.0;
  net.eta(2) = 800.0;
  net.eta(3) = -800.0;
  auto r = rgtest::capture([&] {
    for (int d = 0; d < 200; ++d) {
      net.day(d % 2 ? std::vector<std::pair<int, double>>{{1, 3.0}} : std::vector<std::pair<int, double>>{});
      ASSERT_GT(net.rain(2), 0.0);
      ASSERT_EQ(net.rain(3), 0.0);
    }
  });
  EXPECT_FALSE(r.ended);
  // A correlation above 1 stops the run at the first day.
  restart(2);
  net.correlate(net.cormat1, 1, 3, 1.0001);
  auto bad = rgtest::capture([&] { net.day(); });
  EXPECT_TRUE(bad.ended && bad.status == 1);
  EXPECT_EQ(bad.output,
            "\n     ****ERROR**** In routine WDLG, an input correlation has been found\n"
            "     that is larger than 1 in absolute value. If you are using an empirical\n"
            "     correlation matrix, check that valid estimates are available for all site\n"
            "     pairs.\n");
  // A matrix that is no correlation matrix is reported at the check, and the first
  // day that needs its factor stops the run.
  restart(2);
  net.correlate(net.cormat1, 1, 3, -0.9);
  net.correlate(net.cormat1, 1, 2, 0.9);
  net.correlate(net.cormat1, 2, 3, 0.9);
  auto npd = rgtest::capture([&] { net.day(); });
  EXPECT_TRUE(npd.ended && npd.status == 1);
  EXPECT_NE(npd.output.find("occurrence model ...\n\n     ****ERROR**** input correlation matrix"), std::string::npos);
}

}  // namespace
