#pragma once
// One day of rainfall at every site of the network: which sites are wet, with the
// occurrence model's spatial dependence and conditionally on the sites observed that
// day, then the amounts at the simulated wet sites, drawn jointly on the cube-root
// scale (amount/mean)^(1/3) with the amount model's covariance and conditionally on
// the observed wet amounts.
//
// Vectors are indexed by site from 1, matrices by site pair; every routine checks the
// site capacity it is given (MAXSIT) and the sizes of what it receives. All work space
// is allocated once; a day allocates nothing.
#include "arrays.hpp"

namespace rg {

// Generates one day. On entry rain(i) holds the observed value (>= 0) where
// flags(i) = 0 and -1 where flags(i) = 1 (to simulate); on exit every rain(i) >= 0.
// eta: occurrence logits; spmod1, rho1, cormat1: occurrence structure, its parameters
// and latent correlation matrix (structures 1 to 19); mu: amount means; cormat2: the
// covariance of the cube-root amounts and m their means. spmod2 and nu are accepted
// and not used: the amount structure only shapes cormat2. The matrices must stay the
// same from call to call until raingen_restart: factors of their blocks, and which
// gauges' amounts are correlated at all, are kept between days.
void raingen(Array1<double>& rain, const Array1<int>& flags, int nsites, int spmod1, const Array1<double>& eta,
             const Array1<double>& rho1, const Matrix& cormat1, int spmod2, const Array1<double>& mu, double nu,
             const Matrix& cormat2, const Array1<double>& m, int site_capacity);

// Fills the unknown entries (-1) of the occurrence state (1 wet, 0 dry) with the
// scheme of occurrence structure spmod1.
void wdalloc(Array1<double>& state, int nsites, int nobs, int nobswet, const Array1<int>& flags, int spmod1,
             const Array1<double>& eta, const Array1<double>& rho1, const Matrix& cormat1, int site_capacity);

// Latent Gaussian occurrence: site i is wet when a standard normal latent value with
// correlations cormat1 exceeds -qnorm(p_i); the latent values of the sites to simulate
// are drawn given those of the observed sites, which follow their wet/dry states.
void wdlg(Array1<double>& state, int nsites, int nobs, const Array1<int>& flags, const Array1<double>& eta,
          const Matrix& cormat1, int site_capacity);

// Occurrence given a daily wet/dry weather state: the state is drawn (given the
// observed sites) with prior probability the mean wet probability, and the sites are
// independent given it, their odds multiplied by e^theta on wet-state days, theta =
// rho(1), and calibrated so that each site keeps its probability on average.
void wd21(Array1<double>& state, int nsites, int nobs, const Array1<int>& flags, const Array1<double>& eta,
          const Array1<double>& rho, int site_capacity);

// Beta-Binomial occurrence: the number of wet sites is Beta-Binomial with the mean wet
// probability and shape rho(1), each site keeping its own probability; probabilities
// that cannot go with that distribution are shrunk towards their mean by the step
// rho(2) (default 0.01) with messages unless rho(3) is 0.
void wd22(Array1<double>& state, int nsites, int nobs, int nobswet, const Array1<int>& flags,
          const Array1<double>& eta, const Array1<double>& rho, int site_capacity);

// A draw from N(mu, sigma^2) restricted to s(x - c) >= 0 (s = +1: x >= c; s = -1: x <= c).
double rtrnor(double mu, double sigma, double c, double s);

// Wet probability e^eta / (1 + e^eta), evaluated without overflow (exactly 1 and 0 at
// the extremes): 1/(1 + e^-eta) for eta >= 0, e^eta/(1 + e^eta) below.
double wet_probability(double eta);

// Stops the run with a message unless the simulation has a scheme for occurrence
// structure spmod1 (0 independence, 1 to 19 latent Gaussian, 21 weather state, 22
// Beta-Binomial).
void check_occurrence_scheme(int spmod1);

// Forgets the factorisations kept between days and the checks made once per run (for
// tests and for a driver that runs more than once in one process).
void raingen_restart();

}  // namespace rg
