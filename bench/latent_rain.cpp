// Writes gaugvals.dat for the gauges of siteinfo.def in the current directory with
// realistically dependent occurrence: each day a Gaussian field over the gauges
// with correlation 0.45 + 0.5 exp(-d / 150 km) between gauges d apart (0.95 for
// neighbours down to about 0.5 across the network), a gauge being wet where its
// value exceeds the threshold of its wet-day probability. The probabilities,
// amounts and missing values are those of make_network.sh: 1961-2000, probability
// 0.25 + 0.1 season + 0.3 if wet yesterday, exponential amounts with a seasonal
// mean, 1 % missing. Usage: latent_rain (in the network's directory).
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dev_math.hpp"

int main() {
  std::ifstream in("siteinfo.def");
  std::string line;
  std::vector<double> x, y;
  bool sites = false;
  int k = 0;
  while (std::getline(in, line)) {
    if (!sites) {
      sites = line.rfind("Sites:", 0) == 0;
      continue;
    }
    if (++k % 2 == 0 && line.size() >= 29) {  // data line: code, region, X, Y, elevation
      x.push_back(std::stod(line.substr(9, 10)));
      y.push_back(std::stod(line.substr(19, 10)));
    }
  }
  const int n = static_cast<int>(x.size());
  if (n == 0) {
    std::fprintf(stderr, "latent_rain: no gauges in siteinfo.def\n");
    return 1;
  }
  // Lower Cholesky factor of the correlation matrix.
  std::vector<double> c(static_cast<std::size_t>(n) * n);
  auto at = [&](int i, int j) -> double& { return c[static_cast<std::size_t>(i) * n + j]; };
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      at(i, j) = i == j ? 1.0 : 0.45 + 0.5 * std::exp(-std::hypot(x[i] - x[j], y[i] - y[j]) / 150.0);
  for (int j = 0; j < n; ++j) {
    for (int q = 0; q < j; ++q) at(j, j) -= at(j, q) * at(j, q);
    at(j, j) = std::sqrt(at(j, j));
    for (int i = j + 1; i < n; ++i) {
      for (int q = 0; q < j; ++q) at(i, j) -= at(i, q) * at(j, q);
      at(i, j) /= at(j, j);
    }
  }
  std::mt19937_64 gen(7);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  std::vector<double> eps(static_cast<std::size_t>(n));
  std::vector<int> wet(static_cast<std::size_t>(n), 0);
  std::FILE* out = std::fopen("gaugvals.dat", "w");
  const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int yr = 1961; yr <= 2000; ++yr)
    for (int m = 1; m <= 12; ++m) {
      const int days = len[m - 1] + (m == 2 && yr % 4 == 0);
      for (int d = 1; d <= days; ++d) {
        const double season = std::cos(6.2832 * ((m - 1) * 30.5 + d) / 365);
        for (double& e : eps) e = normal(gen);
        for (int s = 0; s < n; ++s) {
          double z = 0.0;
          for (int q = 0; q <= s; ++q) z += at(s, q) * eps[static_cast<std::size_t>(q)];
          const double p = 0.25 + 0.1 * season + 0.3 * wet[static_cast<std::size_t>(s)];
          int ifail = 0;
          double v;
          if (uniform(gen) < 0.01) {
            v = -1.0;
            wet[static_cast<std::size_t>(s)] = 0;
          } else if (z > -rg::qnorm(p, 0.0, 1.0, ifail)) {
            v = std::max(0.1, -std::log(1.0 - uniform(gen)) * (4 + 2 * season));
            wet[static_cast<std::size_t>(s)] = 1;
          } else {
            v = 0.0;
            wet[static_cast<std::size_t>(s)] = 0;
          }
          std::fprintf(out, "%4d%2d%2dB%03d%6.2f\n", yr, m, d, s + 1, v);
        }
      }
    }
  return std::fclose(out) == 0 ? 0 : 1;
}
