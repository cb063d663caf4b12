// Occurrence given a daily wet/dry weather state: on a wet-state day the odds of rain
// at every site are multiplied by psi = e^theta, and each site's dry-state odds factor
// kappa is calibrated so that the site keeps its wet probability p on average over the
// two states, whose prior probability of wet is the network mean of p.
//
// Probabilities are handled as the pair (p, 1 - p), both from the logit without
// cancellation, so that P(wet | state) = f p / (q + f p) and its complement
// q / (q + f p) stay accurate at the extremes (f: the odds factor of the state).
#include <algorithm>
#include <cmath>

#include "randgen.hpp"
#include "raingen.hpp"
#include "raingen_parts.hpp"
#include "spatial.hpp"

namespace rg {

namespace {

// Beyond this the odds factor of the wet state would overflow in the calibration;
// the probabilities it gives differ from those of any larger theta by less than
// e^-30, far below the resolution of the uniform generator.
constexpr double MAX_THETA = 60.0;

struct WetStateDay {
  Array1<double> p{1, MAXSIT}, q{1, MAXSIT}, kappa{1, MAXSIT};
};

bool interior(double p) { return p > 0.0 && p < 1.0; }

WetStateDay& work() {
  static WetStateDay w;
  return w;
}

}  // namespace

void wd21(Array1<double>& state, int nsites, int nobs, const Array1<int>& flags, const Array1<double>& eta,
          const Array1<double>& rho, int site_capacity) {
  check_site_arrays("WD21", nsites, site_capacity, {covers(state, nsites), covers(flags, nsites), covers(eta, nsites)},
                    {});
  WetStateDay& w = work();
  const double theta = std::clamp(rho(1), -MAX_THETA, MAX_THETA);
  const double psi = std::exp(theta);
  double pbar = 0.0;
  for (int i = 1; i <= nsites; ++i) {
    w.p(i) = wet_probability(eta(i));
    w.q(i) = wet_probability(-eta(i));
    pbar += w.p(i);
  }
  pbar = nsites > 0 ? std::min(1.0, pbar / nsites) : 0.0;
  // A site whose probability is 0 or rounds to 1 is dry or wet in both states.
  for (int i = 1; i <= nsites; ++i) w.kappa(i) = interior(w.p(i)) ? bcalc(w.p(i), pbar, psi) : 1.0;

  // Posterior probability of the wet state, from the log likelihood ratio of the
  // observed sites (no underflow however many sites). An observation the model calls
  // impossible (wet at p = 0, dry at p = 1) is impossible in both states and says
  // nothing about the state, nor does a certain one: both are left out.
  double pistar = pbar;
  if (nobs > 0) {
    double llr = 0.0;
    for (int i = 1; i <= nsites; ++i) {
      if (flags(i) != 0) continue;
      const bool wet = state(i) > 0.5;
      if (!interior(w.p(i))) continue;
      const double k = w.kappa(i), p = w.p(i), q = w.q(i);
      // log of P(obs | wet state) / P(obs | dry state)
      llr += std::log((q + k * p) / (q + k * psi * p)) + (wet ? theta : 0.0);
    }
    pistar = pbar <= 0.0 ? 0.0 : pbar >= 1.0 ? 1.0 : 1.0 / (1.0 + (1.0 - pbar) / pbar * std::exp(-llr));
  }
  const double wet_state = zbqlu01() < pistar ? 1.0 : 0.0;
  const double f_state = wet_state > 0.0 ? psi : 1.0;

  for (int i = 1; i <= nsites; ++i) {
    if (flags(i) == 0) continue;
    state(i) = 0.0;
    const double p = w.p(i), q = w.q(i);
    double pw = p;
    if (psi != 1.0 && interior(p)) {
      const double f = w.kappa(i) * f_state;
      pw = f * p / (q + f * p);
    }
    if (zbqlu01() < pw) state(i) = 1.0;
  }
}

}  // namespace rg
