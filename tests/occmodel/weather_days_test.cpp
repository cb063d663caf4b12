// The weather-state variance D(rho) as spvar evaluates it from the compact days,
// against the formula summed plainly in the test: every pair of sites of a day, the
// odds factor B by the textbook root of its quadratic. Days with missing sites, one
// site, fitted probabilities near 0 and 1, both signs of the quadratic's middle
// coefficient, more chunks of days than threads and more than the store keeps in
// memory (about 1.3 MB); the sum must not depend on the threads.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "model.hpp"
#include "occest.hpp"
#include "weather_days.hpp"

using namespace rg;

namespace {

using Days = std::vector<std::vector<double>>;  // fitted probabilities of the sites of each day

Days make_days() {
  std::mt19937 gen(17);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Days days;
  for (int t = 0; t < 24 * WeatherDays::CHUNK_DAYS + 37; ++t) {
    std::vector<double> p;
    const int nsites = t % 41 == 0 ? 1 : 12;
    for (int s = 0; s < nsites; ++s) {
      if (nsites > 1 && u(gen) < 0.2) continue;  // a missing site
      const double v = u(gen);
      p.push_back(v < 0.05 ? 1e-6 : v > 0.95 ? 0.999 : 0.02 + 0.96 * u(gen));
    }
    if (p.empty()) p.push_back(0.4);
    days.push_back(p);
  }
  return days;
}

double plain_d(const Days& days, double rho, double nrec) {
  const double psi = std::exp(rho);
  double total = 0;
  for (const auto& p : days) {
    const double n = static_cast<double>(p.size());
    double pbar = 0;
    for (double x : p) pbar += x / n;
    auto b = [&](double x) {
      const double c = (psi - 1) * pbar + 1 - x * (psi + 1);
      return (-c + std::sqrt(c * c - 4 * psi * x * (x - 1))) / (2 * psi * x);
    };
    double t = 0;
    for (double x : p) t += x * (1 - x);
    for (std::size_t i = 0; i < p.size(); ++i)
      for (std::size_t j = i + 1; j < p.size(); ++j) {
        const double pi = p[i], pj = p[j], bi = b(pi), bj = b(pj);
        t += 2 * pi * pj * (1 - pi) * (1 - pj) * (1 - bi) * (1 - bj) * (1 - pbar) /
             (pbar * (1 - (1 - bi) * pi) * (1 - (1 - bj) * pj));
      }
    total += t / n;
  }
  return total / nrec;
}

TEST(Spvar, MatchesThePairSumsForAnyNumberOfThreads) {
  const Days days = make_days();
  WeatherDays compact;
  double nrec = 0;
  for (const auto& p : days) {
    double sum = 0, var = 0;
    for (double x : p) {
      sum += x;
      var += x * (1 - x);
    }
    const double n = static_cast<double>(p.size());
    compact.add_day(p.data(), static_cast<int>(p.size()), sum / n, var);
    nrec += n;
  }
  compact.finish();
  ASSERT_EQ(compact.days(), static_cast<std::int64_t>(days.size()));
  // rho = 0: no dependence, every B is 1 and D is the mean binomial variance.
  for (double rho : {-2.0, -0.3, 0.0, 0.05, 1.0, 4.0}) {
    const double one = spvar(compact, static_cast<std::int64_t>(nrec), 12, rho, 21, 1);
    const double two = spvar(compact, static_cast<std::int64_t>(nrec), 12, rho, 21, 2);
    EXPECT_EQ(one, two) << "rho " << rho;
    EXPECT_NEAR(one, plain_d(days, rho, nrec), 1e-12 * std::fabs(one)) << "rho " << rho;
  }
}

// A day whose fitted probabilities are all 0 adds nothing (its pair term tends to 0
// rather than being 0/0).
TEST(Spvar, DayWithoutChanceOfRainAddsNothing) {
  const std::vector<double> some{0.3, 0.6, 0.45}, none{0.0, 0.0};
  WeatherDays with, without;
  for (WeatherDays* d : {&with, &without}) d->add_day(some.data(), 3, 0.45, 0.21 + 0.24 + 0.2475);
  with.add_day(none.data(), 2, 0.0, 0.0);
  with.finish();
  without.finish();
  EXPECT_EQ(spvar(with, 5, 3, 0.7, 21, 0), spvar(without, 5, 3, 0.7, 21, 0));
  EXPECT_TRUE(std::isfinite(spvar(with, 5, 3, 0.7, 21, 0)));
}

}  // namespace
