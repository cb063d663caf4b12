#include "amtmodel.hpp"

#include "fitdrv.hpp"

namespace rg {

void amtmodel_run() { fit_run(amount_program()); }

}  // namespace rg
