// The region file reader of the simulation program on arbitrary bytes.
#include "files.hpp"
#include "fuzz_support.hpp"
#include "simsetup.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rgfuzz::run_reader(data, size, "regions.def", [] {
    rg::filchk("regions.def", 37, rg::STFLAG_INPUT);
    rg::RegionNames names = rg::region_table();
    int nreg = 0;
    rg::regdef("regions.def", 37, names, nreg);
  });
  return 0;
}
