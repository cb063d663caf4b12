#pragma once

namespace rg {

// The whole run of the occurrence-model fitting program, in the current directory.
void occmodel_run();

}  // namespace rg
