#include "anscombe.hpp"

#include <cmath>

#include "console.hpp"
#include "run_exit.hpp"

namespace rg {

namespace {

[[noreturn]] void unsolvable() {
  console().line("****ERROR**** Can't solve for the mean and variance of Anscombe residuals.");
  console().line("Please contact DEV.");
  end_run(1);
}

}  // namespace

void ansfn(double& f, double& m, double x, double nu) {
  // With g = m^2 the second equation is 9x g^2 + 36x^2 g + 15x^3 - 1/nu = 0; the
  // other root is always negative.
  const double g = (std::sqrt(756.0 * std::pow(x, 4) + 36.0 * x / nu) - 36.0 * x * x) / (18.0 * x);
  if (g >= 0.0) {
    m = std::sqrt(g);
  } else if (std::fabs(g) < 1.0e-10) {
    m = 0.0;
  } else {
    console().line("****ERROR**** I've just tried to square root a negative number in routine ANSFN.");
    console().line("It's too big to be a rounding error - please contact DEV.");
    end_run(1);
  }
  f = m * m * m + 3.0 * x * m - 1.0;
}

void ansprm(double nu, double& m, double& v) {
  // No positive shape, no solution (and the bracket below would not exist).
  if (!(nu > 0.0) || !std::isfinite(nu)) unsolvable();

  double lo = 1.0e-8;
  double hi = std::cbrt(1.0 / (15.0 * nu));  // where m reaches 0
  v = 1.0e-8;
  double flo, fhi;
  ansfn(flo, m, lo, nu);
  ansfn(fhi, m, hi, nu);
  if (flo * fhi > 0.0) unsolvable();

  for (;;) {
    const double mid = 0.5 * (lo + hi);
    double fmid;
    ansfn(fmid, m, mid, nu);
    v = mid;
    // An exact zero is the root; a midpoint equal to an end means the interval
    // cannot shrink further in double precision.
    if (fmid == 0.0 || mid <= lo || mid >= hi) break;
    if (fmid * flo < 0.0) {
      hi = mid;
      fhi = fmid;
    } else if (fmid * fhi < 0.0) {
      lo = mid;
      flo = fmid;
    } else {
      break;
    }
    if (!(hi - lo > 1.0e-8 || std::fabs(fhi - flo) > 1.0e-8)) break;
  }
}

}  // namespace rg
