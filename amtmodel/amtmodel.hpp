#pragma once

namespace rg {

// The whole run of the amount-model fitting program, in the current directory.
void amtmodel_run();

}  // namespace rg
