#pragma once
// A plain second implementation of the simulation's random numbers, written from the
// generator's definition as a sequence rather than as pointers into a lag table, in
// integer arithmetic. Tests compare the product's draws with it number for number.
//
// Seeding: L(1) = seed mod B, L(i) = 30269 L(i-1) mod B for i = 2..43, B = 2^32 - 5.
// The sequence s starts with the table read backwards, s(k) = L(44 - k) for k = 1..43,
// and continues with s(n) = s(n-22) - s(n-43) - c mod B, the carry c becoming 1
// exactly when the subtraction went below 0. A uniform is s(n)/B; an s(n) of 0 is
// skipped and the next one divided by B^2 (and so on).
// Normals: Box-Muller on two uniforms u1, u2: r = sqrt(-2 ln u2), t = 2 pi u1; the call
// returns r cos t and keeps r sin t for the next call. Exponentials: -mu ln u.
#include <cmath>
#include <cstdint>
#include <vector>

namespace rgtest {

class PlainRandom {
 public:
  static constexpr std::int64_t B = 4294967291LL;

  // seed > 0.
  explicit PlainRandom(std::int64_t seed) {
    std::int64_t table[44];
    table[1] = seed % B;
    for (int i = 2; i <= 43; ++i) table[i] = (30269 * table[i - 1]) % B;
    for (int k = 1; k <= 43; ++k) ring_[k % 43] = table[44 - k];
    n_ = 44;
  }

  double uniform() {
    double divisor = static_cast<double>(B);
    for (;;) {
      const std::int64_t x = next();
      if (x != 0) return static_cast<double>(x) / divisor;
      divisor *= static_cast<double>(B);
    }
  }

  double normal(double mu, double sigma) {
    if (have_spare_) {
      have_spare_ = false;
      return spare_ * sigma + mu;
    }
    const double u1 = uniform(), u2 = uniform();
    const double r = std::sqrt(-2.0 * std::log(u2));
    const double t = 2.0 * 3.14159265358979323846 * u1;
    spare_ = r * std::sin(t);
    have_spare_ = true;
    return r * std::cos(t) * sigma + mu;
  }

  double exponential(double mu) { return -mu * std::log(uniform()); }

 private:
  std::int64_t next() {
    std::int64_t x = ring_[(n_ - 22) % 43] - ring_[(n_ - 43) % 43] - carry_;
    carry_ = x < 0 ? 1 : 0;
    if (x < 0) x += B;
    ring_[n_ % 43] = x;  // s(n) takes the place of s(n - 43), no longer needed
    ++n_;
    return x;
  }

  std::int64_t ring_[43] = {};
  std::int64_t n_ = 0;
  std::int64_t carry_ = 0;
  bool have_spare_ = false;
  double spare_ = 0.0;
};

// One day of the generator with independent occurrence and independent amounts
// (covariance v times the identity on the cube-root scale, mean m0 at every site),
// written plainly. Vectors are indexed by site from 0. On entry rain holds observed
// values where flags is 0; on exit every value is >= 0.
// Order of the draws: one uniform per site to simulate, in site order, wet when it is
// below p = 1/(1 + e^-eta) (for eta < 0 evaluated as e^eta/(1 + e^eta)); nothing else
// if no simulated site is wet; then passes of one standard normal per simulated wet
// site (list in site order): x = m0 + sqrt(v) u, amount = mu (x x x). The first
// negative amount ends the pass; sites given an amount in an earlier pass keep it.
inline void plain_independent_day(PlainRandom& r, std::vector<double>& rain, const std::vector<int>& flags,
                                  const std::vector<double>& eta, const std::vector<double>& mu, double m0,
                                  double v) {
  const std::size_t n = rain.size();
  std::vector<std::size_t> wet;
  for (std::size_t i = 0; i < n; ++i) {
    if (flags[i] == 0) continue;
    const double p = eta[i] >= 0.0 ? 1.0 / (1.0 + std::exp(-eta[i])) : std::exp(eta[i]) / (1.0 + std::exp(eta[i]));
    rain[i] = 0.0;
    if (r.uniform() < p) {
      rain[i] = -1.0;
      wet.push_back(i);
    }
  }
  if (wet.empty()) return;
  const double sd = std::sqrt(v);
  std::vector<double> u(wet.size());
  for (bool done = false; !done;) {
    for (double& x : u) x = r.normal(0.0, 1.0);
    done = true;
    for (std::size_t k = 0; k < wet.size(); ++k) {
      if (rain[wet[k]] >= 0.0) continue;
      const double x = m0 + sd * u[k];
      const double amount = mu[wet[k]] * (x * x * x);
      if (amount < 0.0) {
        done = false;
        break;
      }
      rain[wet[k]] = amount;
    }
  }
}

}  // namespace rgtest
