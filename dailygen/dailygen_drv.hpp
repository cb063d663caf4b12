#pragma once
// The simulation program: reads the regions, the sites and the fitted occurrence
// and amount models, asks for the period, the number of realisations, the outputs
// and the seed, and simulates daily rainfall at every site, keeping the observed
// values of gaugvals.dat where it has them.

namespace rg {

void dailygen_run();

}  // namespace rg
