// The daily gauge data reader on arbitrary bytes, walked day by day as the data pass
// does, for at most 400 days (a file may span thousands of years of empty days, and
// the reading is what is tested here).
#include <memory>

#include "datafile.hpp"
#include "files.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rgfuzz::run_reader(data, size, "gaugvals.dat", [] {
    rg::filchk("gaugvals.dat", 30, rg::STFLAG_INPUT);
    const rg::SiteTable& sites = rgfuzz::three_sites();
    auto day = std::make_unique<rg::DayState>();
    const rg::Thresholds thr{0.3, 0.0, 1};
    for (long k = 0; k < 400 && day->more == 1; ++k)
      rg::update(30, *day, thr, sites.nsites, rg::MAXLAG, rg::MAXSIT, sites.sitcod);
  });
  return 0;
}
