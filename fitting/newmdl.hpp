#pragma once
// The updated model definition: a copy of the definition file read at the start in
// which every value is replaced by its final estimate, in the definition format, so
// that it can be read back as the fitted model.
#include "model.hpp"

namespace rg {

// Copies the 46 header lines of the definition open on channel chold (read by
// mdlset, closed here) and writes the model record's components to the new
// definition open on channel chnew (left open).
void newmdl(int chold, int chnew, int capacity, const Model& m);

// A component value in the 10 columns of the value field: 4 decimals when they
// fit, fewer decimals for larger magnitudes, and the exponent form beyond that, so
// that the model reader always gets the value back.
std::string value_field(double v);
// A spatial dependence parameter in the value field: as value_field, or, for a
// magnitude below 0.1, in exponent form where that reads back closer to v (small
// decay rates and shapes keep their significant digits instead of reading as 0).
std::string dependence_field(double v);

}  // namespace rg
