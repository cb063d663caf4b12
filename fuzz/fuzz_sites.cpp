// The site file reader on arbitrary bytes.
#include <memory>

#include "files.hpp"
#include "fuzz_support.hpp"
#include "sites.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rgfuzz::run_reader(data, size, "siteinfo.def", [] {
    rg::filchk("siteinfo.def", 36, rg::STFLAG_INPUT);
    // One table for all runs: the reader sets every entry it reports, and allocating
    // half a megabyte per run would dominate the fuzzing time.
    static auto* sites = new rg::SiteTable;
    rg::sitedef(36, "siteinfo.def", *sites);
  });
  return 0;
}
