#pragma once
// The days of the fitted-value store in the compact form that the weather-state
// structure evaluates many times while its parameter is sought: per day the site
// count n, the mean fitted probability pbar, the sum of p (1 - p) and the fitted
// probabilities themselves, nothing else. The days go to a scratch store in chunks of
// a fixed number of days, each chunk starting a record; an evaluation reads the
// chunks in place on several threads. Memory: the chunk being written, whatever the
// length of the record.
#include <cstdint>
#include <vector>

#include "record_store.hpp"

namespace rg {

class WeatherDays {
 public:
  // Days per chunk: the unit of work of a thread.
  static constexpr int CHUNK_DAYS = 512;

  // Opens the scratch store (a run that cannot ends with the scratch-file message).
  WeatherDays();
  ~WeatherDays();
  WeatherDays(const WeatherDays&) = delete;
  WeatherDays& operator=(const WeatherDays&) = delete;

  // Appends a day of n >= 1 sites with fitted probabilities p[0..n-1], their mean
  // pbar and var = sum of p (1 - p). A store that cannot be written ends the run as a
  // full disk.
  void add_day(const double* p, int n, double pbar, double var);
  // Writes the last chunk and readies the store for reading; call once, after the
  // last day.
  void finish();
  std::int64_t days() const { return days_; }
  // True once the store has failed to reach the disk.
  bool failed() const { return store_->failed(); }

  // Sum over the days of
  //   T = (var + (1 - pbar)/pbar [(sum_i a_i)^2 - sum_i a_i^2]) / n,
  //   a_i = p_i (1 - p_i)(1 - B_i) / (1 - (1 - B_i) p_i),
  // where B_i is the dry-state odds factor of a site of probability p_i on a day of
  // wet-state probability pbar when the wet state multiplies the odds by
  // psi = exp(rho). Chunks are summed on nthreads threads (0: as many as passes use)
  // and added in order, so the sum does not depend on the number of threads. False
  // when the store cannot be read back.
  bool sum_terms(double rho, int nthreads, double& sum);

 private:
  // Values per record of the store.
  static constexpr int RECORD_VALUES = 512;
  struct Chunk {
    std::int64_t first;     // its first record
    std::int64_t records;   // records it spans
    std::int64_t values;    // values it holds
  };
  void write_chunk();

  int channel_ = 85;
  RecordStore* store_ = nullptr;
  std::vector<double> chunk_;     // the chunk being assembled
  int chunk_days_ = 0;
  std::vector<Chunk> chunks_;
  std::int64_t records_ = 0;      // records written
  int most_sites_ = 0;            // sites of the fullest day
  std::int64_t days_ = 0;
};

}  // namespace rg
