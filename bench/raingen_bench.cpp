// Cost of the daily generator alone for a 20-site network: site-days per second with
// independent, latent Gaussian (exponential decay of correlation with distance),
// weather-state and Beta-Binomial occurrence, amounts correlated with distance,
// without and with observed sites.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "randgen.hpp"
#include "raingen.hpp"
#include "sites.hpp"

using namespace rg;

namespace {

constexpr int N = 20;

double run(int spmod1, int observed_every, int days, std::initializer_list<double> params = {}) {
  Array1<double> rain(1, MAXSIT, 0.0), eta(1, MAXSIT, 0.0), mu(1, MAXSIT, 5.0), m(1, MAXSIT, 0.9);
  Array1<double> rho1(1, 80, 1e9);
  int k = 0;
  for (double v : params) rho1(++k) = v;
  Array1<int> flags(1, MAXSIT, 1);
  Matrix cormat1(MAXSIT, MAXSIT), cormat2(MAXSIT, MAXSIT);
  for (int i = 1; i <= N; ++i) {
    eta(i) = -0.8 + 0.05 * i;
    for (int j = 1; j <= N; ++j) {
      const double d = std::hypot(i % 5 - j % 5, i / 5 - j / 5);
      cormat1(i, j) = std::exp(-0.3 * d);
      cormat2(i, j) = 0.08 * std::exp(-0.5 * d);
    }
  }
  randgen_restart();
  raingen_restart();
  zbqlini(1234);
  const auto t0 = std::chrono::steady_clock::now();
  for (int d = 0; d < days; ++d) {
    for (int i = 1; i <= N; ++i) {
      rain(i) = -1.0;
      flags(i) = 1;
    }
    if (observed_every > 0 && d % observed_every == 0) {
      for (int i = 1; i <= N; i += 3) {
        flags(i) = 0;
        rain(i) = (d + i) % 3 == 0 ? 2.5 : 0.0;
      }
    }
    raingen(rain, flags, N, spmod1, eta, rho1, cormat1, 3, mu, 1.0, cormat2, m, MAXSIT);
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return double(days) * N / s;
}

}  // namespace

int main() {
  const int days = 200000;
  std::printf("independent occurrence:                 %6.2f M site-days/s\n", run(0, 0, days) / 1e6);
  std::printf("latent Gaussian occurrence:             %6.2f M site-days/s\n", run(3, 0, days) / 1e6);
  std::printf("latent Gaussian, every 2nd day observed: %5.2f M site-days/s\n", run(3, 2, days) / 1e6);
  // 100 realisations of 30 years; the weather state with a logit increase of 1.5, the
  // Beta-Binomial with shape 3 and its messages off (days needing shrinkage included).
  const int long_run = 100 * 30 * 365;
  std::printf("weather state:                          %6.2f M site-days/s\n", run(21, 0, long_run, {1.5}) / 1e6);
  std::printf("weather state, every 2nd day observed:  %6.2f M site-days/s\n", run(21, 2, long_run, {1.5}) / 1e6);
  std::printf("Beta-Binomial:                          %6.2f M site-days/s\n",
              run(22, 0, long_run, {3.0, 0.01, 0.0}) / 1e6);
  std::printf("Beta-Binomial, every 2nd day observed:  %6.2f M site-days/s\n",
              run(22, 2, long_run, {3.0, 0.01, 0.0}) / 1e6);
  return 0;
}
