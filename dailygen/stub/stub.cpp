// TEMPORARY stand-in until the generator libraries land.
#include <cmath>
#include "raingen.hpp"
#include "randgen.hpp"
namespace rg {
static unsigned long long s = 1;
void zbqlini(long long seed) { s = static_cast<unsigned long long>(seed); }
double zbqlu01() { s = s * 6364136223846793005ULL + 1442695040888963407ULL; return ((s >> 11) + 0.5) / 9007199254740992.0; }
double zbqlnor(double mu, double sigma) { return mu + sigma * std::sqrt(-2 * std::log(zbqlu01())) * std::cos(6.283185307179586 * zbqlu01()); }
void raingen(Array1<double>& rain, const Array1<int>& flags, int nsites, int, const Array1<double>& eta,
             const Array1<double>&, const Matrix&, int, const Array1<double>& mu, double,
             const Matrix& cormat2, const Array1<double>& m, int) {
  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) continue;
    double p = std::exp(eta(i)) / (1 + std::exp(eta(i)));
    if (zbqlu01() >= p) { rain(i) = 0; continue; }
    double x;
    do x = zbqlnor(m(i), std::sqrt(cormat2(i, i))); while (x < 0);
    rain(i) = mu(i) * x * x * x;
  }
}
}
