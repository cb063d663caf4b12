#pragma once
// Random variates for the simulation. Every draw comes from one subtract-with-borrow
// uniform generator (lags 22 and 43, modulus 2^32 - 5) whose state is shared by all
// routines of this module, so a simulation is reproduced exactly by its seed and the
// order of the calls. The normal generator keeps the second value of each Box-Muller
// pair as a spare for the next call.
//
// Illegal parameters write a message on the console and return 0; the run goes on.

namespace rg {

// Seeds the generator. Only the first call seeds (seed 0 takes the seed from the
// local clock); the second call warns and any later call does nothing.
void zbqlini(long long seed);

// Uniform on the open interval (0, 1).
double zbqlu01();
// Uniform on (a, b).
double zbqluab(double a, double b);
// Exponential with mean mu.
double zbqlexp(double mu);
// Normal with mean mu and standard deviation sigma.
double zbqlnor(double mu, double sigma);
// Gamma with shape g and rate h (mean g/h).
double zbqlgam(double g, double h);
// Beta with parameters nu1 and nu2.
double zbqlbet1(double nu1, double nu2);
// Weibull with shape a and scale b: b(-ln U)^(1/a).
double zbqlwei(double a, double b);
// Pareto (shifted to start at 0): b(U^(-1/a) - 1).
double zbqlpar(double a, double b);
// Number of trials up to and including the first success, success probability p.
long long zbqlgeo(double p);
// Binomial count of n trials with success probability p.
int zbqlbin(int n, double p);
// Poisson count with mean mu.
long long zbqlpoi(double mu);
// Negative binomial count: Poisson with mean g p/(1-p), g gamma with shape r, rate 1.
long long zbqlnb(double r, double p);
// ln |Gamma(x)|.
double zbqllg(double x);

// Puts the module back into its program-start state (built-in table, not seeded, no
// normal spare), for tests and for a driver that runs more than once in one process.
void randgen_restart();

}  // namespace rg
