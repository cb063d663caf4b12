// The model definition reader, with the checks that follow it when a program reads a
// definition (spatial structure, attribute transformations), on arbitrary bytes. The
// first byte chooses the model type and whether it is read for simulation.
#include <memory>

#include "effects.hpp"
#include "files.hpp"
#include "fuzz_support.hpp"
#include "model.hpp"
#include "spatial.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int rsptyp = (data[0] & 1) ? rg::RSP_AMOUNT : rg::RSP_OCCURRENCE;
  const int dspreq = rsptyp == rg::RSP_AMOUNT && (data[0] & 2) ? 1 : 0;
  const std::string file = rsptyp == rg::RSP_AMOUNT ? "gammamdl.def" : "logistic.def";
  rgfuzz::run_reader(data + 1, size - 1, file, [&] {
    rg::filchk(file, 42, rg::STFLAG_INPUT);
    // The attribute transformations append derived columns after the two raw ones;
    // forgetting them is enough to start afresh.
    static auto* sites = new rg::SiteTable(rgfuzz::three_sites());
    sites->nattr = 2;
    auto model = std::make_unique<rg::Model>();
    rg::mdlset(42, file, rsptyp, dspreq, *sites, *model);
    rg::rhochk(model->rho, model->spmod, file, rg::MAXRHO);
    rg::attrxfm(*model, *sites, 0);
    rg::txtset(*model, sites->attnam);
  });
  return 0;
}
