#pragma once
// Statistics that compare a simulation with the observations, computed the same
// way for the observed record and for each realisation of the simulation.
#include <cstdint>
#include <string>
#include <vector>

namespace rg {

// The statistics of one series (the observations or one realisation); NaN where a
// statistic is undefined (no site-day with a value, no wet day, a gauge that is
// always wet or always dry for a correlation).
struct SeriesStats {
  int nsites = 0;
  std::vector<double> wet_freq, wet_mean, month_total;  // [site * 12 + month - 1]
  std::vector<double> wet_corr;                         // pairs (0,1), (0,2), ..., (1,2), ...
  std::vector<double> n_wet;                            // fraction of days with k wet gauges, k = 0..nsites
  std::vector<double> annual_total;                     // per site
};

// Index of the pair i < j in SeriesStats::wet_corr.
inline int pair_index(int i, int j, int nsites) { return i * nsites - i * (i + 1) / 2 + (j - i - 1); }

class StatsAccumulator {
 public:
  // A day is wet at a gauge when its value is above the threshold.
  StatsAccumulator(int nsites, double threshold);
  // One day of values, one per gauge; a negative value is missing.
  void add_day(int year, int month, const double* values);
  SeriesStats finish() const;
  long days() const { return days_; }

 private:
  int n_;
  double threshold_;
  long days_ = 0;
  // per gauge and calendar month
  std::vector<std::int64_t> with_value_, wet_;
  std::vector<double> wet_sum_, sum_;
  // calendar months visited: distinct (year, month) and the sum of their lengths
  int last_month_key_ = -1;
  long months_[12] = {}, month_days_[12] = {};
  // Days on which every gauge has a value are counted once for all pairs; only the
  // other days are counted pair by pair.
  long full_days_ = 0;
  std::vector<std::int64_t> wet_full_;      // per gauge, wet on full days
  std::vector<std::int64_t> wet_hist_;      // full days with k wet gauges
  std::vector<std::int64_t> pair_both_wet_;  // every day
  std::vector<std::int64_t> pair_days_, pair_wet_i_, pair_wet_j_;  // days with missing values only
  std::vector<int> wet_list_;
};

// Observed value and, over the realisations, mean and 5 % and 95 % quantiles.
struct StatRow {
  std::string statistic, site, site2;
  int month = -1;  // calendar month, or the count of wet gauges; -1 when not used
  double observed = 0, sim_mean = 0, sim_p05 = 0, sim_p95 = 0;
  double distance = 0;  // between the two gauges of a pair
};

// Rows of validation.csv in order: wet_freq, wet_mean, month_total (per gauge and
// month), wet_corr (per pair), n_wet (per count), annual_total (per gauge).
std::vector<StatRow> validation_rows(const SeriesStats& observed, const std::vector<SeriesStats>& realisations,
                                     const std::vector<std::string>& codes, const std::vector<double>& x,
                                     const std::vector<double>& y);

// Quantile of sorted values by linear interpolation between order statistics:
// position (n - 1) p, counted from 0.
double quantile(const std::vector<double>& sorted, double p);

struct ReportOptions {
  double threshold = 0;
  std::string obs_dir, sim_dir, out_dir;
  bool plots = true;
};

// raincsv report: reads siteinfo.def and gaugvals.dat of the observations and
// daily.dat of the simulation, writes validation.csv and the plots.
void validation_report(const ReportOptions& opt);

}  // namespace rg
