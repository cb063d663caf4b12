// The inter-site correlation file reader (empirical correlation structure) on
// arbitrary bytes.
#include <memory>

#include "arrays.hpp"
#include "fuzz_support.hpp"
#include "model.hpp"
#include "spatial.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rgfuzz::run_reader(data, size, "cor_gamm.dat", [] {
    const rg::SiteTable& sites = rgfuzz::three_sites();
    rg::Array1<double> rho(1, rg::MAXRHO, 1.0e9);
    static auto* cor = new rg::Matrix(rg::MAXSIT, rg::MAXSIT);  // filled afresh by every run
    rg::corset("cor_gamm.dat", 66, 1, rho, *cor, sites.nsites, sites, rg::MAXSIT);
  });
  return 0;
}
