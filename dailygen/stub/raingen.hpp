#pragma once
// TEMPORARY stand-in until the daily generator library lands.
#include "arrays.hpp"
namespace rg {
void raingen(Array1<double>& rain, const Array1<int>& flags, int nsites, int spmod1, const Array1<double>& eta,
             const Array1<double>& rho1, const Matrix& cormat1, int spmod2, const Array1<double>& mu, double nu,
             const Matrix& cormat2, const Array1<double>& m, int capacity);
}
