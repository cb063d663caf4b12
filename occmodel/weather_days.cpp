#include "weather_days.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "channels.hpp"
#include "files.hpp"
#include "ordered_chunks.hpp"

namespace rg {

namespace {

// Values of one evaluation shared by every site-day.
struct WetOdds {
  explicit WetOdds(double rho)
      : psi(std::exp(rho)), psi_plus_1(psi + 1.0), two_psi(2.0 * psi), four_psi(4.0 * psi) {}
  double psi, psi_plus_1, two_psi, four_psi;
};

// The per-site arithmetic is compiled into each caller, so that it takes the
// caller's instruction set.
#if defined(__GNUC__)
#define SITE_INLINE __attribute__((always_inline)) inline
#else
#define SITE_INLINE inline
#endif

// a(p) of one site (see sum_terms). B solves psi p B^2 + c B - (1 - p) = 0 with
// c = (psi - 1) pbar + 1 - p (psi + 1) = c0 - p (psi + 1); with
// w = sqrt(c^2 + 4 psi p (1 - p)) + |c| (a sum, never a difference) its positive root
// is B = 2 (1 - p) / w for c >= 0 and B = w / (2 psi p) for c < 0. Put into a,
// either form leaves a single division, and choosing between the two needs no branch.
SITE_INLINE double site_term(double x, double c0, const WetOdds& k) {
  const double y = 1.0 - x;
  const double c = c0 - x * k.psi_plus_1;
  const double w = std::sqrt(c * c + k.four_psi * x * y) + std::fabs(c);
  const double u = w - 2.0 * y;
  const double num_pos = x * y * u, den_pos = w - x * u;
  const double num_neg = y * (k.two_psi * x - w), den_neg = k.two_psi * y + w;
  const bool neg = c < 0.0;
  return (neg ? num_neg : num_pos) / (neg ? den_neg : den_pos);
}

// The sums of a and a^2 over the n sites of a day, each in four running sums over
// every fourth site, added in a fixed order: the loop has no branch and no addition
// waiting on the one before, so it runs on vector registers.
// The i-th of the values that start at p.
SITE_INLINE double value(const unsigned char* p, int i) {
  double x;
  std::memcpy(&x, p + static_cast<std::size_t>(i) * sizeof x, sizeof x);
  return x;
}

SITE_INLINE void site_sums(const unsigned char* p, int n, double c0, const WetOdds& k, double& sa, double& sa2) {
  double s[4] = {0.0, 0.0, 0.0, 0.0}, s2[4] = {0.0, 0.0, 0.0, 0.0};
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    double a[4];
    for (int l = 0; l < 4; ++l) a[l] = site_term(value(p, i + l), c0, k);
    for (int l = 0; l < 4; ++l) {
      s[l] += a[l];
      s2[l] += a[l] * a[l];
    }
  }
  for (int l = 0; i < n; ++i, ++l) {
    const double a = site_term(value(p, i), c0, k);
    s[l] += a;
    s2[l] += a * a;
  }
  sa = (s[0] + s[1]) + (s[2] + s[3]);
  sa2 = (s2[0] + s2[1]) + (s2[2] + s2[3]);
}

using SiteSums = void (*)(const unsigned char*, int, double, const WetOdds&, double&, double&);

void site_sums_base(const unsigned char* p, int n, double c0, const WetOdds& k, double& sa, double& sa2) {
  site_sums(p, n, c0, k, sa, sa2);
}

// The loop is bound by its square roots and divisions, so vector registers twice as
// wide as the baseline's pay off where the processor has them. Both versions give the
// same values: every operation is rounded alike whatever the width.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) void site_sums_avx(const unsigned char* p, int n, double c0, const WetOdds& k, double& sa,
                                                 double& sa2) {
  site_sums(p, n, c0, k, sa, sa2);
}

SiteSums best_site_sums() { return __builtin_cpu_supports("avx") ? site_sums_avx : site_sums_base; }
#else
SiteSums best_site_sums() { return site_sums_base; }
#endif

// The term T of one day (see sum_terms).
double day_term(const unsigned char* p, int n, double pbar, double var, const WetOdds& k, SiteSums sums) {
  // Without dependence every B is 1; a day whose probabilities are all 0 has no
  // pairs that matter either (the limit of its pair term is 0).
  if (k.psi == 1.0 || !(pbar > 0.0)) return var / n;
  double sa, sa2;
  sums(p, n, (k.psi - 1.0) * pbar + 1.0, k, sa, sa2);
  return (var + (1.0 - pbar) / pbar * (sa * sa - sa2)) / n;
}

}  // namespace

WeatherDays::WeatherDays() {
  scropn("DIRECT", "UNFORMATTED", RECORD_VALUES * static_cast<int>(sizeof(double)), channel_);
  store_ = &channels().store(channel_);
}

WeatherDays::~WeatherDays() { channels().close(channel_); }

void WeatherDays::add_day(const double* p, int n, double pbar, double var) {
  chunk_.push_back(static_cast<double>(n));
  chunk_.push_back(pbar);
  chunk_.push_back(var);
  chunk_.insert(chunk_.end(), p, p + n);
  most_sites_ = std::max(most_sites_, n);
  ++days_;
  if (++chunk_days_ == CHUNK_DAYS) write_chunk();
}

void WeatherDays::finish() {
  if (chunk_days_ > 0) write_chunk();
  if (!store_->settle(records_)) scratch_full();
}

void WeatherDays::write_chunk() {
  const auto values = static_cast<std::int64_t>(chunk_.size());
  const Chunk c{records_ + 1, (values + RECORD_VALUES - 1) / RECORD_VALUES, values};
  // The last record of the chunk is padded.
  chunk_.resize(static_cast<std::size_t>(c.records * RECORD_VALUES), 0.0);
  for (std::int64_t r = 0; r < c.records; ++r)
    if (!store_->write(c.first + r, chunk_.data() + r * RECORD_VALUES, RECORD_VALUES * sizeof(double)))
      scratch_full();
  records_ += c.records;
  chunks_.push_back(c);
  chunk_.clear();
  chunk_days_ = 0;
}

bool WeatherDays::sum_terms(double rho, int nthreads, double& sum) {
  const int threads = nthreads > 0 ? nthreads : pass_threads();
  const WetOdds odds(rho);
  const SiteSums sums = best_site_sums();
  // A slot carries a chunk's sum, and its view of the store, to the fold.
  const auto slots = static_cast<std::size_t>(chunk_slots(threads));
  std::vector<double> partial(slots);
  std::vector<SharedView> views(slots);
  std::atomic<bool> ok{true};
  auto work = [&](std::int64_t k, int slot) {
    const Chunk& c = chunks_[static_cast<std::size_t>(k)];
    const auto at = static_cast<std::size_t>(slot);
    double s = 0.0;
    if (!store_->view_run(c.first, c.records, views[at])) {
      ok = false;
    } else {
      const unsigned char* d = views[at].data();
      for (std::int64_t left = c.values; left > 0;) {
        // A day: n, pbar, var, then the n probabilities.
        const double count = value(d, 0);
        if (!(count >= 1.0 && count <= most_sites_ && count + 3.0 <= static_cast<double>(left))) {
          ok = false;
          break;
        }
        const int n = static_cast<int>(count);
        s += day_term(d + 3 * sizeof(double), n, value(d, 1), value(d, 2), odds, sums);
        d += static_cast<std::size_t>(3 + n) * sizeof(double);
        left -= 3 + n;
      }
    }
    views[at].reset();
    partial[at] = s;
  };
  sum = 0.0;
  for_chunks_in_order(static_cast<std::int64_t>(chunks_.size()), threads, work,
                      [&](std::int64_t, int slot) { sum += partial[static_cast<std::size_t>(slot)]; });
  return ok;
}

}  // namespace rg
