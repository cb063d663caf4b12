// Random variates: exact sequences against the plain generator of the test support,
// seeding rules, messages, and the distribution of every generator against closed
// forms (moments, distribution functions, probability tables).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "plain_random.hpp"
#include "randgen.hpp"
#include "test_support.hpp"

namespace {

using rgtest::PlainRandom;
constexpr long long B = 4294967291LL;

void seed(long long s) {
  rg::randgen_restart();
  rg::zbqlini(s);
}

TEST(Randgen, MixedCallsFollowThePlainGeneratorExactly) {
  // Uniforms, normals with varying scale (the spare is scaled by the call that uses
  // it) and exponentials in an irregular order, for several seeds.
  for (long long s : {1LL, 12345LL, 424967290LL, 2147483647LL, B - 1}) {
    seed(s);
    PlainRandom ref(s);
    for (int i = 0; i < 20000; ++i) {
      switch ((i * 7 + i / 5) % 6) {
        case 0:
        case 3: {
          const double u = rg::zbqlu01();
          ASSERT_EQ(u, ref.uniform()) << "seed " << s << " draw " << i;
          ASSERT_TRUE(u > 0.0 && u < 1.0);
          break;
        }
        case 1:
        case 4:
          ASSERT_EQ(rg::zbqlnor(i % 3 - 1.0, 0.5 + i % 4), ref.normal(i % 3 - 1.0, 0.5 + i % 4)) << s << " " << i;
          break;
        case 2:
          ASSERT_EQ(rg::zbqlexp(2.5), ref.exponential(2.5)) << s << " " << i;
          break;
        default:
          ASSERT_EQ(rg::zbqluab(-3.0, 5.0), -3.0 + ref.uniform() * 8.0) << s << " " << i;
      }
    }
  }
}

TEST(Randgen, TwoNormalsConsumeTwoUniforms) {
  seed(77);
  PlainRandom ref(77);
  rg::zbqlnor(0.0, 1.0);
  rg::zbqlnor(0.0, 1.0);
  ref.uniform();
  ref.uniform();
  EXPECT_EQ(rg::zbqlu01(), ref.uniform());
}

TEST(Randgen, SeedsAreTakenModuloTheModulus) {
  auto first = [](long long s) {
    seed(s);
    std::vector<double> v;
    for (int i = 0; i < 100; ++i) v.push_back(rg::zbqlu01());
    return v;
  };
  EXPECT_EQ(first(5), first(5 + B));
  EXPECT_EQ(first(5), first(5 - 2 * B));
  EXPECT_EQ(first(-1), first(B - 1));  // negative seeds take the non-negative remainder
  // A multiple of B would leave an all-zero table that repeats 0 for ever.
  EXPECT_EQ(first(B), first(1));
  EXPECT_NE(first(2), first(1));
}

TEST(Randgen, OnlyTheFirstSeedingCountsAndTheRepeatWarnsOnce) {
  auto r = rgtest::capture([] {
    seed(99);
    rg::zbqlu01();
    rg::zbqlini(5);
    rg::zbqlini(6);
  });
  EXPECT_EQ(r.output, "\n****WARNING**** You have called routine ZBQLINI more than\nonce. I'm ignoring any subsequent calls.\n");
  PlainRandom ref(99);
  ref.uniform();
  EXPECT_EQ(rg::zbqlu01(), ref.uniform());
}

TEST(Randgen, ClockSeedGivesAUsableSequence) {
  rgtest::TempDir dir;  // nothing may be left behind in the working directory
  seed(0);
  double sum = 0.0;
  for (int i = 0; i < 10000; ++i) sum += rg::zbqlu01();
  EXPECT_NEAR(sum / 10000, 0.5, 0.02);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Randgen, IllegalParametersReportAndReturnZero) {
  struct Case {
    std::function<double()> call;
    std::string message;
  };
  const std::string pos = "\n(both parameters must be positive)";
  const std::vector<Case> cases = {
      {[] { return rg::zbqlexp(-1.0); }, "ZBQLEXP"},
      {[] { return rg::zbqlgam(0.0, 1.0); }, "ZBQLGAM" + pos},
      {[] { return rg::zbqlgam(1.0, -2.0); }, "ZBQLGAM" + pos},
      {[] { return rg::zbqlwei(1.0, 0.0); }, "ZBQLWEI" + pos},
      {[] { return rg::zbqlpar(-1.0, 1.0); }, "ZBQLPAR" + pos},
      {[] { return rg::zbqlbet1(1.0, 0.0); }, "ZBQLBET1\n(both degrees of freedom must be positive)"},
      {[] { return double(rg::zbqlgeo(1.5)); }, "ZBQLGEO"},
      {[] { return double(rg::zbqlgeo(0.0)); }, "ZBQLGEO"},
      {[] { return double(rg::zbqlbin(0, 0.5)); }, "ZBQLBIN"},
      {[] { return double(rg::zbqlbin(5, -0.1)); }, "ZBQLBIN"},
      {[] { return double(rg::zbqlpoi(-0.5)); }, "ZBQLPOI"},
      {[] { return double(rg::zbqlnb(2.0, 1.0)); }, "ZBQLNB"},
      {[] { return double(rg::zbqlnb(0.0, 0.5)); }, "ZBQLNB"},
  };
  for (const auto& c : cases) {
    double v = 1.0;
    auto r = rgtest::capture([&] { v = c.call(); });
    EXPECT_EQ(v, 0.0) << c.message;
    EXPECT_EQ(r.output, "\n****ERROR**** Illegal parameter value in  " + c.message + "\n");
    EXPECT_FALSE(r.ended);
  }
  double v = 0.0;
  auto r = rgtest::capture([&] { v = rg::zbqluab(2.0, 2.0); });
  EXPECT_EQ(v, 2.0);
  EXPECT_EQ(r.output,
            "\n****WARNING**** (function ZBQLUAB) Upper and lower limits on uniform\ndistribution are identical\n");
}

TEST(Randgen, LogGammaMatchesTheLibrary) {
  EXPECT_EQ(rg::zbqllg(1.0), 0.0);
  EXPECT_EQ(rg::zbqllg(1.0 - 1e-13), 0.0);
  for (double x : {1e-3, 0.3, 0.5, 0.999, 1.5, 2.0, 7.25, 30.0, 1001.0, 1e6})
    EXPECT_NEAR(rg::zbqllg(x), std::lgamma(x), 1e-9 * std::max(1.0, std::fabs(std::lgamma(x)))) << x;
}

// ---------------------------------------------------------------------------
// Distributions
// ---------------------------------------------------------------------------

constexpr int N = 200000;

struct Sample {
  std::vector<double> v;
  double mean = 0.0, var = 0.0, m4 = 0.0;
};

Sample draw(long long s, const std::function<double()>& gen) {
  seed(s);
  Sample r;
  r.v.resize(N);
  for (double& x : r.v) x = gen();
  for (double x : r.v) r.mean += x;
  r.mean /= N;
  for (double x : r.v) {
    const double d = (x - r.mean) * (x - r.mean);
    r.var += d;
    r.m4 += d * d;
  }
  r.var /= N - 1;
  r.m4 /= N;
  return r;
}

// Sample mean and variance within 5 standard errors of the closed forms.
void expect_moments(const Sample& s, double mean, double var, const std::string& what) {
  EXPECT_NEAR(s.mean, mean, 5.0 * std::sqrt(var / N)) << what << " mean";
  EXPECT_NEAR(s.var, var, 5.0 * std::sqrt((s.m4 - s.var * s.var) / N)) << what << " variance";
}

// Kolmogorov-Smirnov distance within the 0.1% critical value 1.95/sqrt(N). For a
// discrete distribution the cdf is compared just below and at every jump.
void expect_cdf(Sample s, const std::function<double(double)>& cdf, bool discrete, const std::string& what) {
  std::sort(s.v.begin(), s.v.end());
  double d = 0.0;
  for (std::size_t i = 0; i < s.v.size(); ++i) {
    if (discrete && i + 1 < s.v.size() && s.v[i + 1] == s.v[i]) continue;
    const double f = cdf(s.v[i]);
    d = std::max(d, std::fabs(f - double(i + 1) / N));
    if (!discrete) d = std::max(d, std::fabs(f - double(i) / N));
  }
  EXPECT_LT(d, 1.95 / std::sqrt(double(N))) << what;
}

double phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// Regularised lower incomplete gamma P(a, x) by its power series.
double pgamma(double a, double x) {
  if (x <= 0.0) return 0.0;
  double term = 1.0 / a, sum = term;
  for (int n = 1; n < 5000 && term > 1e-17 * sum; ++n) {
    term *= x / (a + n);
    sum += term;
  }
  return std::min(1.0, std::exp(a * std::log(x) - x - std::lgamma(a)) * sum);
}

TEST(RandgenDistributions, ContinuousGenerators) {
  for (double g : {0.3, 1.0, 2.7, 10.0, 10.5, 40.0}) {
    const double h = 1.7;
    auto s = draw(11, [&] { return rg::zbqlgam(g, h); });
    expect_moments(s, g / h, g / (h * h), "gamma " + std::to_string(g));
    expect_cdf(s, [&](double x) { return pgamma(g, h * x); }, false, "gamma " + std::to_string(g));
  }
  auto nor = draw(12, [] { return rg::zbqlnor(3.0, 2.0); });
  expect_moments(nor, 3.0, 4.0, "normal");
  expect_cdf(nor, [](double x) { return phi((x - 3.0) / 2.0); }, false, "normal");
  auto ex = draw(13, [] { return rg::zbqlexp(0.4); });
  expect_moments(ex, 0.4, 0.16, "exponential");
  expect_cdf(ex, [](double x) { return 1.0 - std::exp(-x / 0.4); }, false, "exponential");
  auto wei = draw(14, [] { return rg::zbqlwei(1.5, 2.0); });
  expect_moments(wei, 2.0 * std::tgamma(1.0 + 1.0 / 1.5),
                 4.0 * (std::tgamma(1.0 + 2.0 / 1.5) - std::pow(std::tgamma(1.0 + 1.0 / 1.5), 2)), "weibull");
  expect_cdf(wei, [](double x) { return 1.0 - std::exp(-std::pow(x / 2.0, 1.5)); }, false, "weibull");
  auto par = draw(15, [] { return rg::zbqlpar(5.0, 3.0); });
  expect_moments(par, 3.0 / 4.0, 9.0 * 5.0 / (16.0 * 3.0), "pareto");
  expect_cdf(par, [](double x) { return 1.0 - std::pow(1.0 + x / 3.0, -5.0); }, false, "pareto");
  auto uab = draw(16, [] { return rg::zbqluab(-1.0, 3.0); });
  expect_cdf(uab, [](double x) { return (x + 1.0) / 4.0; }, false, "uniform");
  // Beta: both parameters below 0.9 (arcsine law), and larger parameters.
  auto arc = draw(17, [] { return rg::zbqlbet1(0.5, 0.5); });
  expect_moments(arc, 0.5, 0.125, "beta(.5,.5)");
  expect_cdf(arc, [](double x) { return 2.0 / M_PI * std::asin(std::sqrt(x)); }, false, "beta(.5,.5)");
  auto b23 = draw(18, [] { return rg::zbqlbet1(2.0, 3.0); });
  expect_moments(b23, 0.4, 6.0 / (25.0 * 6.0), "beta(2,3)");
  expect_cdf(b23, [](double x) { return 6 * x * x - 8 * x * x * x + 3 * x * x * x * x; }, false, "beta(2,3)");
  // Tiny Beta parameters: both powers underflow and the draw is taken from logarithms.
  auto tiny = draw(19, [] { return rg::zbqlbet1(0.002, 0.002); });
  for (double x : tiny.v) ASSERT_TRUE(x >= 0.0 && x <= 1.0);
  expect_moments(tiny, 0.5, 0.25 * 1.0 / 1.004, "beta(.002,.002)");
}

double binom_cdf(int n, double p, double k) {
  double sum = 0.0;
  for (int j = 0; j <= std::floor(k); ++j)
    sum += std::exp(std::lgamma(n + 1.0) - std::lgamma(j + 1.0) - std::lgamma(n - j + 1.0) + j * std::log(p) +
                    (n - j) * std::log1p(-p));
  return sum;
}

double pois_cdf(double mu, double k) {
  double sum = 0.0;
  for (int j = 0; j <= std::floor(k); ++j) sum += std::exp(j * std::log(mu) - mu - std::lgamma(j + 1.0));
  return sum;
}

TEST(RandgenDistributions, CountGenerators) {
  for (double p : {0.95, 0.3, 0.01}) {
    auto s = draw(21, [&] { return double(rg::zbqlgeo(p)); });
    expect_moments(s, 1.0 / p, (1.0 - p) / (p * p), "geometric " + std::to_string(p));
    expect_cdf(s, [&](double k) { return 1.0 - std::pow(1.0 - p, std::floor(k)); }, true, "geometric");
  }
  auto tinyp = draw(22, [] { return double(rg::zbqlgeo(1e-13)); });
  EXPECT_NEAR(tinyp.mean * 1e-13, 1.0, 5.0 / std::sqrt(double(N)));
  // Binomial: direct waiting times, the order-statistic reduction, p above 1/2.
  struct Bin {
    int n;
    double p;
  };
  for (Bin b : {Bin{20, 0.3}, Bin{1000, 0.4}, Bin{100000, 0.03}, Bin{5000, 0.999}, Bin{7, 1.0}}) {
    auto s = draw(23, [&] { return double(rg::zbqlbin(b.n, b.p)); });
    const std::string what = "binomial " + std::to_string(b.n) + " " + std::to_string(b.p);
    expect_moments(s, b.n * b.p, b.n * b.p * (1.0 - b.p), what);
    if (b.p < 1.0) expect_cdf(s, [&](double k) { return binom_cdf(b.n, b.p, k); }, true, what);
  }
  // Poisson: products of uniforms, the gamma/binomial reduction, the rejection scheme.
  for (double mu : {0.0, 2.5, 10.0, 47.3, 999.0, 4500.0}) {
    auto s = draw(24, [&] { return double(rg::zbqlpoi(mu)); });
    const std::string what = "poisson " + std::to_string(mu);
    expect_moments(s, mu, mu, what);
    if (mu > 0.0) expect_cdf(s, [&](double k) { return pois_cdf(mu, k); }, true, what);
  }
  // Negative binomial: Poisson with a gamma mean g p/(1-p), g ~ gamma(r, 1).
  const double r = 2.5, p = 0.6, m = r * p / (1 - p);
  auto nb = draw(25, [&] { return double(rg::zbqlnb(r, p)); });
  expect_moments(nb, m, m + m * m / r, "negative binomial");
}

}  // namespace
