// The external predictor reader on arbitrary bytes. The first byte chooses the kind of
// file, the next ones a predictor, a lag and dates to look up, forwards and backwards.
#include "external.hpp"
#include "files.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int kind = 1 + data[0] % 3;
  const int p = 1 + data[1] % 55;
  const int lag = -static_cast<int>(data[2] % 4);
  const int year = 1995 + data[3] % 10;
  rgfuzz::run_reader(data + 4, size - 4, rg::extfil(kind), [&] {
    rg::extrst();
    rg::filchk(rg::extfil(kind), rg::extchn(kind), rg::STFLAG_INPUT);
    std::string label;
    rg::extxst(rg::extchn(kind), kind, p, lag, label);
    double value = 0.0;
    int missing = 0;
    for (int d : {1, 40, 2, 200, 3, 365})
      rg::extset(kind, p, 1 + d % 28, 1 + d % 12, year + d / 100, lag, value, missing);
  });
  return 0;
}
