#include "weather_days.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>

#include <unistd.h>

#include "chunk_threads.hpp"
#include "console.hpp"
#include "files.hpp"
#include "run_exit.hpp"

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
SITE_INLINE void site_sums(const double* p, int n, double c0, const WetOdds& k, double& sa, double& sa2) {
  double s[4] = {0.0, 0.0, 0.0, 0.0}, s2[4] = {0.0, 0.0, 0.0, 0.0};
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    double a[4];
    for (int l = 0; l < 4; ++l) a[l] = site_term(p[i + l], c0, k);
    for (int l = 0; l < 4; ++l) {
      s[l] += a[l];
      s2[l] += a[l] * a[l];
    }
  }
  for (int l = 0; i < n; ++i, ++l) {
    const double a = site_term(p[i], c0, k);
    s[l] += a;
    s2[l] += a * a;
  }
  sa = (s[0] + s[1]) + (s[2] + s[3]);
  sa2 = (s2[0] + s2[1]) + (s2[2] + s2[3]);
}

using SiteSums = void (*)(const double*, int, double, const WetOdds&, double&, double&);

void site_sums_base(const double* p, int n, double c0, const WetOdds& k, double& sa, double& sa2) {
  site_sums(p, n, c0, k, sa, sa2);
}

// The loop is bound by its square roots and divisions, so vector registers twice as
// wide as the baseline's pay off where the processor has them. Both versions give the
// same values: every operation is rounded alike whatever the width.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx"))) void site_sums_avx(const double* p, int n, double c0, const WetOdds& k, double& sa,
                                                 double& sa2) {
  site_sums(p, n, c0, k, sa, sa2);
}

SiteSums best_site_sums() { return __builtin_cpu_supports("avx") ? site_sums_avx : site_sums_base; }
#else
SiteSums best_site_sums() { return site_sums_base; }
#endif

// The term T of one day (see sum_terms).
double day_term(const double* p, int n, double pbar, double var, const WetOdds& k, SiteSums sums) {
  // Without dependence every B is 1; a day whose probabilities are all 0 has no
  // pairs that matter either (the limit of its pair term is 0).
  if (k.psi == 1.0 || !(pbar > 0.0)) return var / n;
  double sa, sa2;
  sums(p, n, (k.psi - 1.0) * pbar + 1.0, k, sa, sa2);
  return (var + (1.0 - pbar) / pbar * (sa * sa - sa2)) / n;
}

// Reads count doubles at offset (in doubles) of the file.
bool read_doubles(int fd, double* to, std::int64_t count, std::int64_t offset) {
  auto* at = reinterpret_cast<char*>(to);
  auto left = static_cast<std::size_t>(count) * sizeof(double);
  auto from = static_cast<off_t>(offset * static_cast<std::int64_t>(sizeof(double)));
  while (left > 0) {
    const ssize_t got = ::pread(fd, at, left, from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    left -= static_cast<std::size_t>(got);
    from += got;
  }
  return true;
}

}  // namespace

WeatherDays::WeatherDays() : file_(std::tmpfile()), start_{0} {
  if (!file_) {
    console().line("****ERROR**** Unable to open a scratch file.");
    end_run(1);
  }
  // Whole chunks are written at once; the stream needs no buffer of its own.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

WeatherDays::~WeatherDays() {
  if (file_) std::fclose(file_);
}

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
}

void WeatherDays::write_chunk() {
  if (std::fwrite(chunk_.data(), sizeof(double), chunk_.size(), file_) != chunk_.size()) scratch_full();
  start_.push_back(start_.back() + static_cast<std::int64_t>(chunk_.size()));
  longest_ = std::max(longest_, chunk_.size());
  chunk_.clear();
  chunk_days_ = 0;
}

bool WeatherDays::sum_terms(double rho, int nthreads, double& sum) const {
  const std::size_t nchunks = start_.size() - 1;
  const int nt = chunk_threads(nthreads, nchunks);
  const WetOdds odds(rho);
  const SiteSums sums = best_site_sums();
  const int fd = fileno(file_);
  std::vector<double> partial(nchunks, 0.0);
  std::vector<double> block(static_cast<std::size_t>(nt) * longest_);
  std::atomic<bool> ok{true};
  share_chunks(nchunks, nt, [&](int t, auto& take) {
    double* const buf = block.data() + static_cast<std::size_t>(t) * longest_;
    std::size_t k;
    while (take(k)) {
      const std::int64_t len = start_[k + 1] - start_[k];
      if (!read_doubles(fd, buf, len, start_[k])) {
        ok = false;
        continue;
      }
      double s = 0.0;
      for (const double *d = buf, *end = buf + len; d < end;) {
        const int n = static_cast<int>(d[0]);
        if (n < 1 || n > most_sites_ || end - d < 3 + n) {
          ok = false;
          break;
        }
        s += day_term(d + 3, n, d[1], d[2], odds, sums);
        d += 3 + n;
      }
      partial[k] = s;
    }
  });
  sum = 0.0;
  for (double s : partial) sum += s;
  return ok;
}

}  // namespace rg
