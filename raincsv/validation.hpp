#pragma once
// Statistics that compare a simulation with the observations, computed the same
// way for the observed record and for each realisation of the simulation.
#include <cstdint>
#include <string>
#include <vector>

namespace rg {

// When a value counts as a wet day: above the threshold, or (at_threshold) also
// equal to a positive threshold, as a hard threshold of the models keeps it.
struct WetRule {
  double threshold = 0;
  bool at_threshold = false;
  bool wet(double v) const { return v > threshold || (at_threshold && v == threshold && v > 0); }
};

// Seasons of the spell statistics, by the month in which a spell begins.
constexpr int SEASONS = 4;
inline int season_of(int month) { return month % 12 / 3; }  // 0 DJF, 1 MAM, 2 JJA, 3 SON
extern const char* const SEASON_NAMES[SEASONS];

// The statistics of one series (the observations or one realisation); NaN where a
// statistic is undefined (no site-day with a value, no wet day, a gauge that is
// always wet or always dry for a correlation, fewer than two years for a spread).
struct SeriesStats {
  int nsites = 0;
  // per gauge and calendar month [site * 12 + month - 1]
  std::vector<double> wet_freq, wet_mean, month_total, p_wet_wet, p_wet_dry, month_total_sd;
  // per gauge and season [site * SEASONS + season]
  std::vector<double> wet_spell_mean, dry_spell_mean;
  // per gauge
  std::vector<double> annual_total, annual_total_sd, dry_spell_max, annual_max_mean, annual_max_p90;
  // pairs (0,1), (0,2), ..., (1,2), ...
  std::vector<double> wet_corr, amount_corr;
  std::vector<double> n_wet;          // fraction of days with k wet gauges, k = 0..nsites
  std::vector<double> area_total_sd;  // per calendar month
  std::vector<double> annual_maxima;  // of every gauge and complete year, sorted
  int first_date = 0, last_date = 0;  // YYYYMMDD
};

// Index of the pair i < j in the pair statistics.
inline int pair_index(int i, int j, int nsites) { return i * nsites - i * (i + 1) / 2 + (j - i - 1); }

class StatsAccumulator {
 public:
  StatsAccumulator(int nsites, WetRule rule);
  // One day of values, one per gauge; a negative value is missing. Days come in
  // date order, each once; a day not given is missing at every gauge.
  void add_day(int year, int month, int day, const double* values);
  SeriesStats finish() const;
  long days() const { return days_; }

 private:
  // Totals of one gauge in one year.
  struct GaugeYear {
    double total[12] = {};
    int days[12] = {};  // with a value
    double max = 0;
    int longest_dry = 0;  // longest complete dry spell that begins in the year
  };
  // The spell a gauge is in: its kind (-1 unknown, 0 dry, 1 wet) and, when its
  // first day is known (the day before it had the other kind), where it began.
  struct Spell {
    int kind = -1, length = 0, season = 0, year_slot = 0;
    bool begun = false;
  };
  struct PairSums {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  };
  GaugeYear& gauge_year(int slot, int site) { return years_[static_cast<std::size_t>(slot) * n_ + site]; }
  void end_spell(int site);

  int n_;
  WetRule rule_;
  long days_ = 0;
  int first_date_ = 0, last_date_ = 0, last_julian_ = 0;
  // per gauge and calendar month
  std::vector<std::int64_t> with_value_, wet_, after_wet_, wet_after_wet_, after_dry_, wet_after_dry_;
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
  std::vector<PairSums> pair_amounts_;      // days wet at both
  PairSums area_[12];                       // network-mean amount of full days (x only)
  std::vector<Spell> spell_;
  std::vector<double> spell_sum_[2];        // [dry, wet][site * SEASONS + season]
  std::vector<std::int64_t> spell_count_[2];
  int first_year_ = 0;
  std::vector<GaugeYear> years_;            // [(year - first_year_) * n_ + site]
  std::vector<int> wet_list_;
};

// Observed value and, over the realisations, mean and 5 % and 95 % quantiles.
struct StatRow {
  std::string statistic, site, site2;
  int month = -1;  // calendar month, or the count of wet gauges; -1 when not used
  int season = -1;
  double observed = 0, sim_mean = 0, sim_p05 = 0, sim_p95 = 0;
  double distance = 0;  // between the two gauges of a pair
};

// Rows of validation.csv in order: wet_freq, wet_mean, month_total (per gauge and
// month), wet_corr (per pair), n_wet (per count), annual_total (per gauge), then the
// statistics of persistence, variability, extremes and joint amounts.
std::vector<StatRow> validation_rows(const SeriesStats& observed, const std::vector<SeriesStats>& realisations,
                                     const std::vector<std::string>& codes, const std::vector<double>& x,
                                     const std::vector<double>& y);

// How one statistic fares: its rows, the rows with an observed and a simulated
// value, the mean absolute error of sim_mean against observed over those, and how
// many of them have the observed value inside the simulated 5-95 % range.
struct StatSummary {
  std::string statistic;
  int rows = 0, compared = 0, inside = 0;
  double mean_abs_error = 0;
};
std::vector<StatSummary> summarise(const std::vector<StatRow>& rows);

// Annual maxima on a probability scale: the observed ones sorted, and per rank the
// simulated 5 %, mean and 95 % over the realisations (ranks of the realisation with
// the fewest maxima).
struct ReturnLevels {
  std::vector<double> observed, sim_p05, sim_mean, sim_p95;
};
ReturnLevels return_levels(const SeriesStats& observed, const std::vector<SeriesStats>& realisations);

// Quantile of sorted values by linear interpolation between order statistics:
// position (n - 1) p, counted from 0.
double quantile(const std::vector<double>& sorted, double p);

struct ReportOptions {
  double threshold = -1;  // negative: take the wet-day rule from the models
  std::string obs_dir, sim_dir, out_dir;
  bool plots = true;
  int from_year = 0, to_year = 9999;  // observed years used
};

// raincsv report: reads siteinfo.def and gaugvals.dat of the observations and
// daily.dat of the simulation, writes validation.csv, summary.csv, the plots and
// report.html.
void validation_report(const ReportOptions& opt);

}  // namespace rg
