// Evaluations of the weather-state variance at the size of the benchmark network:
// 14610 days of 198 sites (about 2.9 million site-days) with fitted probabilities
// between 0.05 and 0.9. Times 46 evaluations, as many as the estimate takes on the
// benchmark network, with 1 and with 2 threads, and checks that both give the same
// sum. Usage: weather_bench [days] (default 14610).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "run_exit.hpp"
#include "weather_days.hpp"

int main(int argc, char** argv) {
  const long ndays = argc > 1 ? std::atol(argv[1]) : 14610;
  constexpr int NSITES = 198, EVALUATIONS = 46;
  return rg::run_program([&] {
    rg::WeatherDays days;
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> u(0.05, 0.9);
    std::vector<double> p(NSITES);
    for (long t = 0; t < ndays; ++t) {
      double sum = 0.0, var = 0.0;
      for (double& x : p) {
        x = u(gen);
        sum += x;
        var += x * (1.0 - x);
      }
      days.add_day(p.data(), NSITES, sum / NSITES, var);
    }
    days.finish();
    double first = 0.0;
    for (int threads : {1, 2}) {
      const auto w0 = std::chrono::steady_clock::now();
      const std::clock_t c0 = std::clock();
      double sum = 0.0;
      for (int k = 0; k < EVALUATIONS; ++k)
        if (!days.sum_terms(0.05 + 0.001 * k, threads, sum)) std::abort();
      const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
      const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
      std::printf("%d thread(s): %d evaluations in %.3f s wall, %.3f s processor (%.1f ms each)\n", threads,
                  EVALUATIONS, wall, cpu, 1e3 * wall / EVALUATIONS);
      if (threads == 1) first = sum;
      else if (sum != first) std::printf("the sums differ: %.17g and %.17g\n", first, sum);
    }
  });
}
