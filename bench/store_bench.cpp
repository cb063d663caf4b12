// Passes over the design store at the size of the benchmark network: 2.9 million
// records of 10 design columns. Prints records per second for a bare read pass and
// for a full pass of the logistic fit (evaluation, working weights, accumulation of
// the information matrix) on one thread and on all cores.
// Usage: store_bench [records] (default 2900000).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>
#include <cstdlib>
#include <memory>
#include <string>

#include "channels.hpp"
#include "console.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "design_pass.hpp"
#include "iwls.hpp"
#include "ordered_chunks.hpp"
#include "text_files.hpp"

using namespace rg;

namespace {

constexpr int M = 10;

// Wall and CPU seconds since a starting point: on a shared machine the CPU time is
// the steadier measure.
struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  double wall_seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(); }
  double cpu_seconds() const { return static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

void report(const char* what, std::int64_t n, double wall, double cpu) {
  std::printf("%s: %.1f M records/s (%.0f ns per record); per CPU second %.1f M records/s (%.0f ns)\n", what,
              static_cast<double>(n) / wall / 1e6, 1e9 * wall / static_cast<double>(n),
              static_cast<double>(n) / cpu / 1e6, 1e9 * cpu / static_cast<double>(n));
}

// A fresh design store of n synthetic records on channel chdes.
int fill_store(std::int64_t n) {
  int chdes = 85;
  scropn("DIRECT", "UNFORMATTED", design_record_length(M), chdes);
  DesignIO io(M);
  DesignRecord rec;
  unsigned long long u = 88172645463325252ULL;
  for (std::int64_t r = 1; r <= n; ++r) {
    rec.site = static_cast<int>(r % 200) + 1;
    rec.yy = 1961 + static_cast<int>(r / 73000);
    rec.mm = 1 + static_cast<int>((r / 6000) % 12);
    rec.dd = 1 + static_cast<int>((r / 200) % 28);
    double eta = -0.8;
    for (int j = 1; j <= M; ++j) {
      u ^= u << 13;
      u ^= u >> 7;
      u ^= u << 17;
      rec.x[static_cast<std::size_t>(j)] = static_cast<double>(u >> 11) * 0x1.0p-53 - 0.5;
      eta += 0.1 * j * rec.x[static_cast<std::size_t>(j)];
    }
    u ^= u << 13;
    u ^= u >> 7;
    u ^= u << 17;
    rec.y = static_cast<double>(u >> 11) * 0x1.0p-53 < 1.0 / (1.0 + std::exp(-eta)) ? 1.0 : 0.0;
    if (!io.write(channels().store(chdes), r, rec)) {
      std::fprintf(stderr, "store_bench: cannot write the design store\n");
      std::exit(1);
    }
  }
  return chdes;
}

// The best of five logistic fit passes (evaluation, working weights, the step's sums
// and the information matrix) over n records on the given threads: wall and CPU
// seconds. The best run is the one least disturbed by other work on the machine.
std::pair<double, double> pass_seconds(std::int64_t n, int threads) {
  std::pair<double, double> best{1e30, 1e30};
  {
    ConsoleCapture quiet("");
    const int chdes = fill_store(n);
    DesignPass pass(channels().store(chdes), M, n, threads);
    PassRequest req;
    req.ctx.rsptyp = RSP_OCCURRENCE;
    req.ctx.np6 = M;
    req.np7 = M;
    req.information = true;
    Array1<double> beta(0, MAXPAR, 0.0);
    for (int j = 1; j <= M; ++j) beta(j) = 0.05 * j;
    PassResult sums;
    for (int rep = 0; rep < 5; ++rep) {
      const Clock c;
      pass.run(req, beta, sums);
      const double wall = c.wall_seconds(), cpu = c.cpu_seconds();
      if (wall < best.first) best = {wall, cpu};
    }
  }
  channels().close_all();
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 2900000;
  {
    ConsoleCapture quiet("");
    const int chdes = fill_store(n);
    DesignIO io(M);
    DesignRecord rec;
    double sum = 0.0;
    const Clock c;
    for (std::int64_t r = 1; r <= n; ++r) {
      io.read(channels().store(chdes), r, rec);
      sum += rec.x[1];
    }
    report("read pass", n, c.wall_seconds(), c.cpu_seconds());
    if (sum == 0.5) std::printf("\n");  // keeps the reads
    channels().close_all();
  }
  for (int threads : {1, pass_threads()}) {
    const auto t = pass_seconds(n, threads);
    report(threads == 1 ? "logistic fit pass, one thread" : "logistic fit pass, all cores", n, t.first, t.second);
  }
  return 0;
}
