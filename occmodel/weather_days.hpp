#pragma once
// The days of the fitted-value store in the compact form that the weather-state
// structure evaluates many times while its parameter is sought: per day the site
// count n, the mean fitted probability pbar, the sum of p (1 - p) and the fitted
// probabilities themselves, nothing else. The days go to a scratch file in chunks of
// a fixed number of days; an evaluation reads the chunks in large blocks on several
// threads. Memory: one chunk per thread, whatever the length of the record.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace rg {

class WeatherDays {
 public:
  // Days per chunk: the unit of work of a thread.
  static constexpr int CHUNK_DAYS = 128;

  // Opens the scratch file; ends the run when it cannot.
  WeatherDays();
  ~WeatherDays();
  WeatherDays(const WeatherDays&) = delete;
  WeatherDays& operator=(const WeatherDays&) = delete;

  // Appends a day of n >= 1 sites with fitted probabilities p[0..n-1], their mean
  // pbar and var = sum of p (1 - p). A scratch file that cannot be written ends the
  // run as a full disk.
  void add_day(const double* p, int n, double pbar, double var);
  // Writes the last chunk; call once after the last day.
  void finish();
  std::int64_t days() const { return days_; }

  // Sum over the days of
  //   T = (var + (1 - pbar)/pbar [(sum_i a_i)^2 - sum_i a_i^2]) / n,
  //   a_i = p_i (1 - p_i)(1 - B_i) / (1 - (1 - B_i) p_i),
  // where B_i is the dry-state odds factor of a site of probability p_i on a day of
  // wet-state probability pbar when the wet state multiplies the odds by
  // psi = exp(rho). Chunks are summed on nthreads threads (0: one per core) and added
  // in order, so the sum does not depend on the number of threads. False when the
  // scratch file cannot be read back.
  bool sum_terms(double rho, int nthreads, double& sum) const;

 private:
  void write_chunk();

  std::FILE* file_ = nullptr;
  std::vector<double> chunk_;         // the chunk being assembled
  int chunk_days_ = 0;
  std::vector<std::int64_t> start_;   // offset of every chunk in the file (doubles), then the end
  std::size_t longest_ = 0;           // doubles of the longest chunk
  int most_sites_ = 0;                // sites of the fullest day
  std::int64_t days_ = 0;
};

}  // namespace rg
