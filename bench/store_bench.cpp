// Passes over the design store at the size of the benchmark network: 2.9 million
// records of 10 design columns. Prints records per second for a bare read pass and
// for a full pass of the logistic fit (evaluation, working weights, accumulation of
// the information matrix), the latter from the difference between fits limited to
// 0 and to 3 iterations, so set-up and the covariance step cancel.
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
#include "iwls.hpp"
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

// Wall and CPU seconds of a logistic fit of n records limited to maxit iterations.
std::pair<double, double> fit_seconds(std::int64_t n, int maxit) {
  Model model;
  for (int t = 1; t <= 6; ++t) model.np(t) = M;
  model.covtxt(0) = fmt_a("Constant", TXTLEN);
  for (int j = 1; j <= M; ++j) model.covtxt(j) = fmt_a(std::string("x").append(std::to_string(j)), TXTLEN);
  Array1<double> se(0, MAXPAR, 0.0);
  Array2<double> setheta(1, MAXPAR, 1, MAXNLP, 0.0);
  Array1<std::string> attnam(1, MAXATT, std::string(TXTLEN, ' '));
  std::pair<double, double> t;
  {
    ConsoleCapture quiet("");
    auto sink = std::make_unique<TextOut>();
    sink->open("/dev/null");
    channels().bind_output(60, std::move(sink), "/dev/null");
    const int chdes = fill_store(n);
    int chfit = 85;
    scropn("DIRECT", "UNFORMATTED", FITTED_RECORD_LENGTH, chfit);
    const Clock c;
    iwls(RSP_OCCURRENCE, model, M, n, 200, MAXSIT, MAXPAR, se, setheta, maxit, chdes, chfit, 60, attnam, nullptr);
    t = {c.wall_seconds(), c.cpu_seconds()};
  }
  channels().close_all();
  return t;
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
  const auto t0 = fit_seconds(n, 0), t3 = fit_seconds(n, 3);
  report("logistic fit pass", n, (t3.first - t0.first) / 3.0, (t3.second - t0.second) / 3.0);
  return 0;
}
