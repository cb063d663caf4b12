#include "validation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dateutil.hpp"
#include "files.hpp"

namespace rg {

const char* const SEASON_NAMES[SEASONS] = {"DJF", "MAM", "JJA", "SON"};

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double ratio(double a, double b) { return b > 0 ? a / b : NaN; }

// Mean and sample standard deviation (n - 1) of values; NaN below one and two values.
double mean_of(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return ratio(s, static_cast<double>(v.size()));
}

double sd_of(const std::vector<double>& v) {
  if (v.size() < 2) return NaN;
  const double m = mean_of(v);
  double ss = 0;
  for (double x : v) ss += (x - m) * (x - m);
  return std::sqrt(ss / static_cast<double>(v.size() - 1));
}

// Correlation from the sums of x, y, their squares and products over n pairs.
template <class Sums>
double correlation(const Sums& s) {
  const double vx = s.n * s.sxx - s.sx * s.sx, vy = s.n * s.syy - s.sy * s.sy;
  return s.n >= 2 && vx > 0 && vy > 0 ? (s.n * s.sxy - s.sx * s.sy) / std::sqrt(vx * vy) : NaN;
}

}  // namespace

StatsAccumulator::StatsAccumulator(int nsites, WetRule rule)
    : n_(nsites),
      rule_(rule),
      with_value_(static_cast<std::size_t>(nsites) * 12),
      wet_(with_value_.size()),
      after_wet_(with_value_.size()),
      wet_after_wet_(with_value_.size()),
      after_dry_(with_value_.size()),
      wet_after_dry_(with_value_.size()),
      wet_sum_(with_value_.size()),
      sum_(with_value_.size()),
      wet_full_(static_cast<std::size_t>(nsites)),
      wet_hist_(static_cast<std::size_t>(nsites) + 1),
      pair_both_wet_(static_cast<std::size_t>(nsites) * (nsites - 1) / 2),
      pair_days_(pair_both_wet_.size()),
      pair_wet_i_(pair_both_wet_.size()),
      pair_wet_j_(pair_both_wet_.size()),
      pair_amounts_(pair_both_wet_.size()),
      spell_(static_cast<std::size_t>(nsites)) {
  for (int k = 0; k < 2; ++k) {
    spell_sum_[k].assign(static_cast<std::size_t>(nsites) * SEASONS, 0.0);
    spell_count_[k].assign(spell_sum_[k].size(), 0);
  }
  wet_list_.reserve(static_cast<std::size_t>(nsites));
}

// A spell is counted when both its first and its last day are known: it began
// after a day of the other kind and ends before one.
void StatsAccumulator::end_spell(int s) {
  Spell& sp = spell_[s];
  if (sp.begun && sp.kind >= 0) {
    const std::size_t k = static_cast<std::size_t>(s) * SEASONS + sp.season;
    spell_sum_[sp.kind][k] += sp.length;
    ++spell_count_[sp.kind][k];
    if (sp.kind == 0) {
      int& longest = gauge_year(sp.year_slot, s).longest_dry;
      longest = std::max(longest, sp.length);
    }
  }
}

void StatsAccumulator::add_day(int year, int month, int day, const double* values) {
  const int m = month - 1;
  int julian = 0, ifail = 0;
  dmytoj(day, month, year, julian, ifail);
  const bool follows = days_ > 0 && julian == last_julian_ + 1;
  if (days_ == 0) {
    first_year_ = year;
    first_date_ = year * 10000 + month * 100 + day;
  }
  ++days_;
  last_julian_ = julian;
  last_date_ = year * 10000 + month * 100 + day;
  if (year * 12 + m != last_month_key_) {
    // Days arrive in date order within a series, so a calendar month is new when
    // it differs from the previous day's.
    last_month_key_ = year * 12 + m;
    ++months_[m];
    month_days_[m] += days_in_month(month, year);
  }
  const int slot = year - first_year_;
  if (years_.size() < static_cast<std::size_t>(slot + 1) * n_) years_.resize(static_cast<std::size_t>(slot + 1) * n_);
  bool full = true;
  double day_sum = 0;
  wet_list_.clear();
  for (int s = 0; s < n_; ++s) {
    const double v = values[s];
    Spell& sp = spell_[s];
    if (!follows && sp.kind >= 0) sp = Spell{};  // a day without any value cuts every spell
    if (v < 0) {
      full = false;
      sp = Spell{};
      continue;
    }
    const std::size_t k = static_cast<std::size_t>(s) * 12 + m;
    const int wet = rule_.wet(v) ? 1 : 0;
    ++with_value_[k];
    sum_[k] += v;
    day_sum += v;
    GaugeYear& gy = gauge_year(slot, s);
    gy.total[m] += v;
    ++gy.days[m];
    gy.max = std::max(gy.max, v);
    if (wet) {
      ++wet_[k];
      wet_sum_[k] += v;
      wet_list_.push_back(s);
    }
    if (sp.kind == 1) {
      ++after_wet_[k];
      wet_after_wet_[k] += wet;
    } else if (sp.kind == 0) {
      ++after_dry_[k];
      wet_after_dry_[k] += wet;
    }
    if (sp.kind == wet) {
      ++sp.length;
    } else {
      const bool begun = sp.kind >= 0;
      end_spell(s);
      sp = Spell{wet, 1, season_of(month), slot, begun};
    }
  }
  for (std::size_t a = 0; a < wet_list_.size(); ++a) {
    const int i = wet_list_[a];
    for (std::size_t b = a + 1; b < wet_list_.size(); ++b) {
      const int j = wet_list_[b];
      const int p = pair_index(i, j, n_);
      ++pair_both_wet_[p];
      PairSums& ps = pair_amounts_[p];
      ps.n += 1;
      ps.sx += values[i];
      ps.sy += values[j];
      ps.sxx += values[i] * values[i];
      ps.syy += values[j] * values[j];
      ps.sxy += values[i] * values[j];
    }
  }
  if (full) {
    ++full_days_;
    ++wet_hist_[wet_list_.size()];
    for (int s : wet_list_) ++wet_full_[s];
    const double area = day_sum / n_;
    area_[m].n += 1;
    area_[m].sx += area;
    area_[m].sxx += area * area;
    return;
  }
  for (int i = 0; i < n_; ++i) {
    if (values[i] < 0) continue;
    const bool wi = rule_.wet(values[i]);
    for (int j = i + 1; j < n_; ++j) {
      if (values[j] < 0) continue;
      const int p = pair_index(i, j, n_);
      ++pair_days_[p];
      pair_wet_i_[p] += wi;
      pair_wet_j_[p] += rule_.wet(values[j]);
    }
  }
}

SeriesStats StatsAccumulator::finish() const {
  SeriesStats st;
  st.nsites = n_;
  st.first_date = first_date_;
  st.last_date = last_date_;
  const std::size_t nm = with_value_.size();
  for (auto* v : {&st.wet_freq, &st.wet_mean, &st.month_total, &st.p_wet_wet, &st.p_wet_dry, &st.month_total_sd})
    v->resize(nm);
  for (auto* v : {&st.annual_total, &st.annual_total_sd, &st.dry_spell_max, &st.annual_max_mean, &st.annual_max_p90})
    v->assign(static_cast<std::size_t>(n_), NaN);
  st.wet_spell_mean.resize(spell_sum_[1].size());
  st.dry_spell_mean.resize(spell_sum_[0].size());
  const int nyears = n_ > 0 ? static_cast<int>(years_.size() / n_) : 0;
  std::vector<double> values;
  for (int s = 0; s < n_; ++s) {
    double annual = 0;
    for (int m = 0; m < 12; ++m) {
      const std::size_t k = static_cast<std::size_t>(s) * 12 + m;
      const double n = static_cast<double>(with_value_[k]);
      st.wet_freq[k] = ratio(static_cast<double>(wet_[k]), n);
      st.wet_mean[k] = ratio(wet_sum_[k], static_cast<double>(wet_[k]));
      // Mean daily value of the month times the mean length of the month over the
      // months visited: the mean monthly total, with missing days left out.
      st.month_total[k] = ratio(sum_[k], n) * ratio(static_cast<double>(month_days_[m]), static_cast<double>(months_[m]));
      annual += st.month_total[k];
      st.p_wet_wet[k] = ratio(static_cast<double>(wet_after_wet_[k]), static_cast<double>(after_wet_[k]));
      st.p_wet_dry[k] = ratio(static_cast<double>(wet_after_dry_[k]), static_cast<double>(after_dry_[k]));
      // Spread over the years in which the month has a value on every day.
      values.clear();
      for (int slot = 0; slot < nyears; ++slot) {
        const GaugeYear& gy = years_[static_cast<std::size_t>(slot) * n_ + s];
        if (gy.days[m] == days_in_month(m + 1, first_year_ + slot)) values.push_back(gy.total[m]);
      }
      st.month_total_sd[k] = sd_of(values);
    }
    st.annual_total[s] = annual;
    for (int season = 0; season < SEASONS; ++season) {
      const std::size_t k = static_cast<std::size_t>(s) * SEASONS + season;
      st.dry_spell_mean[k] = ratio(spell_sum_[0][k], static_cast<double>(spell_count_[0][k]));
      st.wet_spell_mean[k] = ratio(spell_sum_[1][k], static_cast<double>(spell_count_[1][k]));
    }
    // Years with a value on every day at the gauge.
    std::vector<double> totals, maxima, longest;
    for (int slot = 0; slot < nyears; ++slot) {
      const GaugeYear& gy = years_[static_cast<std::size_t>(slot) * n_ + s];
      int days = 0, year_days = 0;
      double total = 0;
      for (int m = 0; m < 12; ++m) {
        days += gy.days[m];
        year_days += days_in_month(m + 1, first_year_ + slot);
        total += gy.total[m];
      }
      if (days != year_days) continue;
      totals.push_back(total);
      maxima.push_back(gy.max);
      if (gy.longest_dry > 0) longest.push_back(gy.longest_dry);
    }
    st.annual_total_sd[s] = sd_of(totals);
    st.dry_spell_max[s] = mean_of(longest);
    st.annual_max_mean[s] = mean_of(maxima);
    std::sort(maxima.begin(), maxima.end());
    st.annual_max_p90[s] = quantile(maxima, 0.9);
    st.annual_maxima.insert(st.annual_maxima.end(), maxima.begin(), maxima.end());
  }
  std::sort(st.annual_maxima.begin(), st.annual_maxima.end());
  st.wet_corr.resize(pair_both_wet_.size());
  st.amount_corr.resize(pair_both_wet_.size());
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
      st.amount_corr[p] = correlation(pair_amounts_[p]);
    }
  st.n_wet.resize(wet_hist_.size());
  for (std::size_t k = 0; k < wet_hist_.size(); ++k)
    st.n_wet[k] = ratio(static_cast<double>(wet_hist_[k]), static_cast<double>(full_days_));
  st.area_total_sd.resize(12);
  for (int m = 0; m < 12; ++m) {
    const PairSums& a = area_[m];
    const double var = (a.sxx - a.sx * a.sx / a.n) / (a.n - 1);
    st.area_total_sd[m] = a.n >= 2 ? std::sqrt(std::max(var, 0.0)) : NaN;
  }
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
  using Member = std::vector<double> SeriesStats::*;
  std::vector<StatRow> rows;
  std::vector<double> values;
  auto add = [&](StatRow row, Member member, std::size_t k) {
    row.observed = (observed.*member)[k];
    values.clear();
    for (const auto& r : realisations)
      if (!std::isnan((r.*member)[k])) values.push_back((r.*member)[k]);
    std::sort(values.begin(), values.end());
    row.sim_mean = mean_of(values);
    row.sim_p05 = quantile(values, 0.05);
    row.sim_p95 = quantile(values, 0.95);
    rows.push_back(std::move(row));
  };
  const int n = observed.nsites;
  auto per_month = [&](const char* name, Member member) {
    for (int s = 0; s < n; ++s)
      for (int m = 1; m <= 12; ++m) add(StatRow{name, codes[s], "", m}, member, static_cast<std::size_t>(s) * 12 + m - 1);
  };
  auto per_gauge = [&](const char* name, Member member) {
    for (int s = 0; s < n; ++s) add(StatRow{name, codes[s], ""}, member, static_cast<std::size_t>(s));
  };
  auto per_pair = [&](const char* name, Member member) {
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        StatRow row{name, codes[i], codes[j]};
        row.distance = std::hypot(x[i] - x[j], y[i] - y[j]);
        add(row, member, static_cast<std::size_t>(pair_index(i, j, n)));
      }
  };
  auto per_season = [&](const char* name, Member member) {
    for (int s = 0; s < n; ++s)
      for (int season = 0; season < SEASONS; ++season) {
        StatRow row{name, codes[s], ""};
        row.season = season;
        add(row, member, static_cast<std::size_t>(s) * SEASONS + season);
      }
  };
  per_month("wet_freq", &SeriesStats::wet_freq);
  per_month("wet_mean", &SeriesStats::wet_mean);
  per_month("month_total", &SeriesStats::month_total);
  per_pair("wet_corr", &SeriesStats::wet_corr);
  for (int k = 0; k <= n; ++k) add(StatRow{"n_wet", "", "", k}, &SeriesStats::n_wet, static_cast<std::size_t>(k));
  per_gauge("annual_total", &SeriesStats::annual_total);
  per_month("p_wet_wet", &SeriesStats::p_wet_wet);
  per_month("p_wet_dry", &SeriesStats::p_wet_dry);
  per_season("wet_spell_mean", &SeriesStats::wet_spell_mean);
  per_season("dry_spell_mean", &SeriesStats::dry_spell_mean);
  per_gauge("dry_spell_max", &SeriesStats::dry_spell_max);
  per_month("month_total_sd", &SeriesStats::month_total_sd);
  per_gauge("annual_total_sd", &SeriesStats::annual_total_sd);
  per_gauge("annual_max_mean", &SeriesStats::annual_max_mean);
  per_gauge("annual_max_p90", &SeriesStats::annual_max_p90);
  per_pair("amount_corr", &SeriesStats::amount_corr);
  for (int m = 1; m <= 12; ++m)
    add(StatRow{"area_total_sd", "", "", m}, &SeriesStats::area_total_sd, static_cast<std::size_t>(m - 1));
  return rows;
}

std::vector<StatSummary> summarise(const std::vector<StatRow>& rows) {
  std::vector<StatSummary> out;
  for (const auto& r : rows) {
    if (out.empty() || out.back().statistic != r.statistic) out.push_back(StatSummary{r.statistic});
    StatSummary& s = out.back();
    ++s.rows;
    if (std::isnan(r.observed) || std::isnan(r.sim_mean)) continue;
    ++s.compared;
    s.mean_abs_error += std::fabs(r.sim_mean - r.observed);
    s.inside += r.observed >= r.sim_p05 && r.observed <= r.sim_p95;
  }
  for (auto& s : out) s.mean_abs_error = ratio(s.mean_abs_error, s.compared);
  return out;
}

ReturnLevels return_levels(const SeriesStats& observed, const std::vector<SeriesStats>& realisations) {
  ReturnLevels rl;
  rl.observed = observed.annual_maxima;
  std::size_t ranks = realisations.empty() ? 0 : SIZE_MAX;
  for (const auto& r : realisations) ranks = std::min(ranks, r.annual_maxima.size());
  std::vector<double> values;
  for (std::size_t i = 0; i < ranks; ++i) {
    // The same probability in every realisation: rank i of `ranks`, interpolated
    // where a realisation has more maxima.
    const double p = ranks > 1 ? static_cast<double>(i) / static_cast<double>(ranks - 1) : 0.5;
    values.clear();
    for (const auto& r : realisations) values.push_back(quantile(r.annual_maxima, p));
    std::sort(values.begin(), values.end());
    rl.sim_p05.push_back(quantile(values, 0.05));
    rl.sim_mean.push_back(mean_of(values));
    rl.sim_p95.push_back(quantile(values, 0.95));
  }
  return rl;
}

}  // namespace rg
