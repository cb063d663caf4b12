#include "validation.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

#include "console.hpp"
#include "csv_table.hpp"
#include "files.hpp"
#include "station_map.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "output_set.hpp"
#include "plots.hpp"
#include "sim_files.hpp"

namespace rg {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double ratio(double a, double b) { return b > 0 ? a / b : NaN; }

}  // namespace

StatsAccumulator::StatsAccumulator(int nsites, double threshold)
    : n_(nsites),
      threshold_(threshold),
      with_value_(static_cast<std::size_t>(nsites) * 12),
      wet_(with_value_.size()),
      wet_sum_(with_value_.size()),
      sum_(with_value_.size()),
      wet_full_(static_cast<std::size_t>(nsites)),
      wet_hist_(static_cast<std::size_t>(nsites) + 1),
      pair_both_wet_(static_cast<std::size_t>(nsites) * (nsites - 1) / 2),
      pair_days_(pair_both_wet_.size()),
      pair_wet_i_(pair_both_wet_.size()),
      pair_wet_j_(pair_both_wet_.size()) {
  wet_list_.reserve(static_cast<std::size_t>(nsites));
}

void StatsAccumulator::add_day(int year, int month, const double* values) {
  ++days_;
  const int m = month - 1;
  if (year * 12 + m != last_month_key_) {
    // Days arrive in date order within a series, so a calendar month is new when
    // it differs from the previous day's.
    last_month_key_ = year * 12 + m;
    ++months_[m];
    month_days_[m] += days_in_month(month, year);
  }
  bool full = true;
  wet_list_.clear();
  for (int s = 0; s < n_; ++s) {
    const double v = values[s];
    if (v < 0) {
      full = false;
      continue;
    }
    const std::size_t k = static_cast<std::size_t>(s) * 12 + m;
    ++with_value_[k];
    sum_[k] += v;
    if (v > threshold_) {
      ++wet_[k];
      wet_sum_[k] += v;
      wet_list_.push_back(s);
    }
  }
  for (std::size_t a = 0; a < wet_list_.size(); ++a)
    for (std::size_t b = a + 1; b < wet_list_.size(); ++b) ++pair_both_wet_[pair_index(wet_list_[a], wet_list_[b], n_)];
  if (full) {
    ++full_days_;
    ++wet_hist_[wet_list_.size()];
    for (int s : wet_list_) ++wet_full_[s];
    return;
  }
  for (int i = 0; i < n_; ++i) {
    if (values[i] < 0) continue;
    const bool wi = values[i] > threshold_;
    for (int j = i + 1; j < n_; ++j) {
      if (values[j] < 0) continue;
      const int p = pair_index(i, j, n_);
      ++pair_days_[p];
      pair_wet_i_[p] += wi;
      pair_wet_j_[p] += values[j] > threshold_;
    }
  }
}

SeriesStats StatsAccumulator::finish() const {
  SeriesStats st;
  st.nsites = n_;
  st.wet_freq.resize(with_value_.size());
  st.wet_mean.resize(with_value_.size());
  st.month_total.resize(with_value_.size());
  st.annual_total.assign(static_cast<std::size_t>(n_), 0.0);
  for (int s = 0; s < n_; ++s) {
    for (int m = 0; m < 12; ++m) {
      const std::size_t k = static_cast<std::size_t>(s) * 12 + m;
      const double n = static_cast<double>(with_value_[k]);
      st.wet_freq[k] = ratio(static_cast<double>(wet_[k]), n);
      st.wet_mean[k] = ratio(wet_sum_[k], static_cast<double>(wet_[k]));
      // Mean daily value of the month times the mean length of the month over the
      // months visited: the mean monthly total, with missing days left out.
      st.month_total[k] = ratio(sum_[k], n) * ratio(static_cast<double>(month_days_[m]), static_cast<double>(months_[m]));
      st.annual_total[s] += st.month_total[k];
    }
  }
  st.wet_corr.resize(pair_both_wet_.size());
  for (int i = 0; i < n_; ++i)
    for (int j = i + 1; j < n_; ++j) {
      const int p = pair_index(i, j, n_);
      const double n = static_cast<double>(full_days_ + pair_days_[p]);
      const double a = static_cast<double>(wet_full_[i] + pair_wet_i_[p]);
      const double b = static_cast<double>(wet_full_[j] + pair_wet_j_[p]);
      const double ab = static_cast<double>(pair_both_wet_[p]);
      // Correlation of two 0/1 series from their counts.
      const double var = a * (n - a) * b * (n - b);
      st.wet_corr[p] = var > 0 ? (n * ab - a * b) / std::sqrt(var) : NaN;
    }
  st.n_wet.resize(wet_hist_.size());
  for (std::size_t k = 0; k < wet_hist_.size(); ++k)
    st.n_wet[k] = ratio(static_cast<double>(wet_hist_[k]), static_cast<double>(full_days_));
  return st;
}

double quantile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return NaN;
  const double h = (static_cast<double>(sorted.size()) - 1) * p;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[hi] - sorted[lo]);
}

std::vector<StatRow> validation_rows(const SeriesStats& observed, const std::vector<SeriesStats>& realisations,
                                     const std::vector<std::string>& codes, const std::vector<double>& x,
                                     const std::vector<double>& y) {
  std::vector<StatRow> rows;
  std::vector<double> values;
  auto add = [&](StatRow row, std::vector<double> SeriesStats::*member, std::size_t k) {
    row.observed = (observed.*member)[k];
    values.clear();
    for (const auto& r : realisations)
      if (!std::isnan((r.*member)[k])) values.push_back((r.*member)[k]);
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values) sum += v;
    row.sim_mean = values.empty() ? NaN : sum / static_cast<double>(values.size());
    row.sim_p05 = quantile(values, 0.05);
    row.sim_p95 = quantile(values, 0.95);
    rows.push_back(std::move(row));
  };
  const int n = observed.nsites;
  const std::pair<const char*, std::vector<double> SeriesStats::*> monthly[] = {
      {"wet_freq", &SeriesStats::wet_freq}, {"wet_mean", &SeriesStats::wet_mean}, {"month_total", &SeriesStats::month_total}};
  for (const auto& [name, member] : monthly)
    for (int s = 0; s < n; ++s)
      for (int m = 1; m <= 12; ++m) add(StatRow{name, codes[s], "", m}, member, static_cast<std::size_t>(s) * 12 + m - 1);
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      StatRow row{"wet_corr", codes[i], codes[j]};
      row.distance = std::hypot(x[i] - x[j], y[i] - y[j]);
      add(row, &SeriesStats::wet_corr, static_cast<std::size_t>(pair_index(i, j, n)));
    }
  for (int k = 0; k <= n; ++k) add(StatRow{"n_wet", "", "", k}, &SeriesStats::n_wet, static_cast<std::size_t>(k));
  for (int s = 0; s < n; ++s) add(StatRow{"annual_total", codes[s], ""}, &SeriesStats::annual_total, static_cast<std::size_t>(s));
  return rows;
}

namespace {

// Statistics of the observed record: gaugvals.dat sorted by date (a later record for
// the same gauge and day replaces an earlier one, as the fitting programs read it).
SeriesStats observed_stats(const std::string& path, const std::vector<std::string>& codes, double threshold,
                           Console& con) {
  struct Obs {
    int date, site;
    double value;
  };
  TextIn in;
  if (std::filesystem::is_directory(path) || !in.open(path)) csv_fail("File " + path + " cannot be opened for reading.");
  std::map<std::string, int> index;
  for (std::size_t s = 0; s < codes.size(); ++s) index[fmt_a(codes[s], 4)] = static_cast<int>(s);
  std::vector<Obs> obs;
  long unknown = 0;
  while (auto l = in.next()) {
    if (trim_right(*l).empty()) continue;
    auto year = read_int(*l, 1, 4), month = read_int(*l, 5, 2), day = read_int(*l, 7, 2);
    auto value = read_real(*l, 13, 6, 2);
    if (!year || !month || !day || !value ||
        !is_calendar_date(static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day)))
      csv_fail(path + ", line " + std::to_string(in.line_number()) + ": not a readable record of date, gauge and value.");
    auto site = index.find(fmt_a(column_field(*l, 9, 4), 4));
    if (site == index.end()) {
      ++unknown;
      continue;
    }
    obs.push_back(Obs{static_cast<int>(*year * 10000 + *month * 100 + *day), site->second, *value});
  }
  if (obs.empty()) csv_fail("File " + path + " holds no values of the gauges of siteinfo.def.");
  std::stable_sort(obs.begin(), obs.end(), [](const Obs& a, const Obs& b) { return a.date < b.date; });
  StatsAccumulator acc(static_cast<int>(codes.size()), threshold);
  std::vector<double> day(codes.size(), -1.0);
  long with_value = 0;
  for (std::size_t i = 0; i < obs.size();) {
    const int date = obs[i].date;
    std::fill(day.begin(), day.end(), -1.0);
    for (; i < obs.size() && obs[i].date == date; ++i) day[obs[i].site] = obs[i].value;
    for (double v : day) with_value += v >= 0;
    acc.add_day(date / 10000, date / 100 % 100, day.data());
  }
  con.line(" Observations: " + std::to_string(with_value) + " site-days with a value on " + std::to_string(acc.days()) +
           " days (" + std::to_string(obs.front().date) + " to " + std::to_string(obs.back().date) + ")" +
           (unknown ? "; " + std::to_string(unknown) + " records of gauges not in siteinfo.def left out" : ""));
  return acc.finish();
}

std::vector<SeriesStats> simulated_stats(const std::string& path, const std::vector<std::string>& codes,
                                         double threshold, Console& con) {
  DailyDatReader in(path, codes);
  std::map<int, StatsAccumulator> series;
  StatsAccumulator* current = nullptr;
  int current_r = -1;
  DailyDatRecord r;
  long records = 0;
  while (in.next(r)) {
    ++records;
    if (r.realisation != current_r) {
      current_r = r.realisation;
      current = &series.try_emplace(current_r, static_cast<int>(codes.size()), threshold).first->second;
    }
    current->add_day(r.year, r.month, r.value.data());
  }
  if (series.empty()) csv_fail("File " + path + " holds no daily records.");
  std::vector<SeriesStats> stats;
  for (const auto& [number, acc] : series) stats.push_back(acc.finish());
  con.line(" Simulation: " + std::to_string(series.size()) + " realisations, " + std::to_string(records) +
           " daily records");
  return stats;
}

std::string number(double v, int decimals) {
  if (std::isnan(v)) return "";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  if (s.find_first_not_of("-0.") == std::string::npos) s = s.substr(s[0] == '-' ? 1 : 0);  // no "-0.0000"
  return s;
}

int decimals_of(const std::string& statistic) {
  if (statistic == "wet_mean" || statistic == "month_total" || statistic == "annual_total") return 3;
  return 5;
}

}  // namespace

void validation_report(const ReportOptions& opt) {
  namespace fs = std::filesystem;
  Console& con = console();
  auto sites = read_sites((fs::path(opt.obs_dir) / "siteinfo.def").string());
  const std::vector<std::string> codes = site_codes(*sites);
  std::vector<double> x(codes.size(), NaN), y(codes.size(), NaN);
  if (sites->nattr >= 2)
    for (int s = 1; s <= sites->nsites; ++s) {
      x[s - 1] = sites->sitinf(s, 1, 1);
      y[s - 1] = sites->sitinf(s, 2, 1);
    }
  SeriesStats observed = observed_stats((fs::path(opt.obs_dir) / "gaugvals.dat").string(), codes, opt.threshold, con);
  std::vector<SeriesStats> simulated =
      simulated_stats((fs::path(opt.sim_dir) / "daily.dat").string(), codes, opt.threshold, con);
  std::vector<StatRow> rows = validation_rows(observed, simulated, codes, x, y);

  OutputSet files(opt.out_dir);
  TextOut& out = files.open("validation.csv");
  out.line("statistic,site,site2,month,observed,sim_mean,sim_p05,sim_p95");
  for (const auto& r : rows) {
    const int d = decimals_of(r.statistic);
    out.line(r.statistic + "," + csv_field(r.site) + "," + csv_field(r.site2) + "," +
             (r.month >= 0 ? std::to_string(r.month) : "") + "," + number(r.observed, d) + "," + number(r.sim_mean, d) +
             "," + number(r.sim_p05, d) + "," + number(r.sim_p95, d));
  }
  if (opt.plots) write_plot_script(files.open("plots.gp"), rows, fs::absolute(opt.out_dir));
  // The archive identifiers of imported gauges, to join the statistics' site codes.
  const auto map = read_station_map(opt.obs_dir);
  if (!map.empty()) write_station_map(files, map);
  files.commit();
  con.line(" Written to " + opt.out_dir + ": validation.csv (" + std::to_string(rows.size()) + " statistics)" +
           (opt.plots ? ", plots.gp" : "") + (map.empty() ? "" : ", stations_map.csv (GHCN IDs of the gauges)"));
  if (opt.plots) draw_plots(fs::absolute(opt.out_dir));
}

}  // namespace rg
