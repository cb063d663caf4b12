// The text input and output of the fitting programs on their own: the day-by-day
// pass over the data file that both fitting programs make before estimation, and
// the formatting and writing of residual-listing lines. Run it in a directory
// holding siteinfo.def and gaugvals.dat (bench/make_network.sh writes both).
// Usage: text_bench [listing lines] (default 2900000).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "channels.hpp"
#include "datafile.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "sites.hpp"
#include "text_files.hpp"

using namespace rg;

namespace {

// Wall and CPU seconds since a starting point: on a shared machine the CPU time is
// the steadier measure.
struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  double wall_seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(); }
  double cpu_seconds() const { return static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC; }
};

void data_pass() {
  SiteTable sites;
  filchk("siteinfo.def", 31, STFLAG_INPUT);
  sitedef(31, "siteinfo.def", sites);
  filchk("gaugvals.dat", 30, STFLAG_INPUT);
  Clock clock;
  DayState day;
  long days = 0, values = 0;
  double total = 0.0;
  while (day.more == 1) {
    update(30, day, Thresholds{}, sites.nsites, 2, MAXSIT, sites.sitcod);
    if (day.yy == 0) break;
    ++days;
    for (int i = 1; i <= sites.nsites; ++i)
      if (day.rain(i) >= 0.0) {
        ++values;
        total += day.rain(i);
      }
  }
  std::printf("data file pass: %ld days, %ld values (total %.2f): %.3f s wall, %.3f s CPU\n", days, values, total,
              clock.wall_seconds(), clock.cpu_seconds());
}

// Lines laid out as the residual listing's, with values spread like its columns,
// written to a scratch file that is dropped again.
void listing_lines(long n) {
  TextOut out;
  if (!out.open("text_bench.out")) {
    std::printf("cannot write in this directory\n");
    return;
  }
  Clock clock;
  Fields line;
  std::size_t bytes = 0;
  unsigned long long u = 88172645463325252ULL;
  for (long k = 0; k < n; ++k) {
    u ^= u << 13;
    u ^= u >> 7;
    u ^= u << 17;
    const double p = static_cast<double>(u >> 11) * 0x1p-53;
    line.clear().a("B001", 4).x(1).i(1961 + k % 40, 4).x(4).i(1 + k % 12, 2).x(1).i(1 + k % 28, 3).x(1);
    line.f(k % 3 == 0 ? 0.0 : 20.0 * p, 8, 4).x(2).f(p, 8, 4).x(4).f(8.0 * p - 4.0, 8, 4);
    bytes += line.str().size();
    out.line(line);
  }
  out.flush();
  std::printf("listing lines: %ld lines (%zu bytes): %.3f s wall, %.3f s CPU\n", n, bytes, clock.wall_seconds(),
              clock.cpu_seconds());
}

}  // namespace

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::atol(argv[1]) : 2900000;
  data_pass();
  listing_lines(n);
  channels().close_all();
  return 0;
}
