// TEMPORARY stand-in until the generator libraries land.
#include <cmath>
#include <vector>
#include "raingen.hpp"
#include "randgen.hpp"
namespace rg {
void raingen(Array1<double>& rain, const Array1<int>& flags, int nsites, int, const Array1<double>& eta,
             const Array1<double>&, const Matrix&, int, const Array1<double>& mu, double,
             const Matrix& cormat2, const Array1<double>& m, int) {
  std::vector<int> wet;
  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) continue;
    double p = std::exp(eta(i)) / (1 + std::exp(eta(i)));
    if (zbqlu01() < p) { rain(i) = -1; wet.push_back(i); } else rain(i) = 0;
  }
  for (bool done = wet.empty(); !done;) {
    std::vector<double> u;
    for (std::size_t k = 0; k < wet.size(); ++k) u.push_back(zbqlnor(0, 1));
    done = true;
    for (std::size_t k = 0; k < wet.size(); ++k) {
      int i = wet[k];
      if (rain(i) >= 0) continue;
      double x = m(i) + std::sqrt(cormat2(i, i)) * u[k];
      double v = mu(i) * (x * x * x);
      if (v < 0) { done = false; break; }
      rain(i) = v;
    }
  }
}
}
