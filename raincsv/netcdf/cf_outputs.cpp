#include "cf_outputs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dateutil.hpp"

namespace rg::nc {

// The values of one realisation over a block of consecutive time steps, for every
// row (station or region), laid out as the file's hyperslab (time, 1, row). Blocks
// start at multiples of the chunk length, so every chunk is written whole and once.
template <class T>
class Blocked {
 public:
  Blocked(Writer& w, int var, std::size_t steps, std::size_t rows, std::size_t block, T fill)
      : w_(w), var_(var), steps_(steps), rows_(rows), block_(block), fill_(fill), buf_(block * rows, fill) {
    // Each block is written whole, chunk by chunk: the library need keep no more.
    w_.cache(var_, buf_.size() * sizeof(T));
  }

  // The row values of one time step, to be filled in by the caller.
  T* at(std::size_t realisation, std::size_t step) {
    if (!open_ || realisation != realisation_ || step >= start_ + block_) {
      flush();
      open_ = true;
      realisation_ = realisation;
      start_ = step - step % block_;
    }
    return buf_.data() + (step - start_) * rows_;
  }

  void flush() {
    if (!open_) return;
    const std::size_t n = std::min(block_, steps_ - start_);
    w_.put(var_, {start_, realisation_, 0}, {n, 1, rows_}, buf_.data());
    std::fill(buf_.begin(), buf_.end(), fill_);
    open_ = false;
  }

 private:
  Writer& w_;
  int var_;
  std::size_t steps_, rows_, block_;
  T fill_;
  std::vector<T> buf_;
  bool open_ = false;
  std::size_t realisation_ = 0, start_ = 0;
};

namespace {

int julian(int year, int month, int day) {
  int j = 0, fail = 0;
  dmytoj(day, month, year, j, fail);
  if (fail != 0)
    throw NcError("The date " + std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day) +
                  " is outside the calendar.");
  return j;
}

std::string date_text(int year, int month, int day) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d 00:00:00", year, month, day);
  return buf;
}

void put_globals(Writer& w, const Globals& g) {
  w.att(GLOBAL, "Conventions", "CF-1.8");
  w.att(GLOBAL, "featureType", "timeSeries");
  w.att(GLOBAL, "title", g.title);
  w.att(GLOBAL, "history", g.history);
  if (!g.source.empty()) w.att(GLOBAL, "source", g.source);
}

int time_variable(Writer& w, int dim, const Axes& a) {
  int v = w.var("time", Type::Int, {dim});
  w.att(v, "standard_name", "time");
  w.att(v, "long_name", "time");
  w.att(v, "units", "days since " + date_text(a.year, a.month, a.day));
  w.att(v, "calendar", "standard");
  w.att(v, "axis", "T");
  return v;
}

int realisation_variable(Writer& w, int dim) {
  int v = w.var("realization", Type::Int, {dim});
  w.att(v, "standard_name", "realization");
  w.att(v, "long_name", "realisation number of the simulation");
  return v;
}

std::vector<int> realisation_numbers(const Axes& a) {
  std::vector<int> r(a.realisations);
  for (std::size_t k = 0; k < r.size(); ++k) r[k] = a.first_realisation + static_cast<int>(k);
  return r;
}

void precipitation(Writer& w, int v, const std::string& long_name, const std::string& coordinates) {
  w.att(v, "standard_name", "precipitation_amount");
  w.att(v, "long_name", long_name);
  w.att(v, "units", "kg m-2");
  w.att(v, "comment", "1 kg m-2 is 1 mm of rain");
  w.att(v, "coordinates", coordinates);
}

}  // namespace

std::string variable_name(const std::string& text, std::vector<std::string>& taken) {
  std::string name;
  for (char c : text) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (word)
      name += c;
    else if (!name.empty() && name.back() != '_')
      name += '_';
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) name.insert(0, "attribute_");
  if (name.back() == '_') name.pop_back();
  std::string unique = name;
  for (int k = 2; std::find(taken.begin(), taken.end(), unique) != taken.end(); ++k)
    unique = name + "_" + std::to_string(k);
  taken.push_back(unique);
  return unique;
}

DailyFile::DailyFile(const std::string& path, const Stations& st, const Axes& a, const Globals& g) : w_(path) {
  const std::size_t ns = st.code.size();
  put_globals(w_, g);
  const int d_time = w_.dim("time", a.steps), d_real = w_.dim("realization", a.realisations),
            d_station = w_.dim("station", ns);
  const int v_time = time_variable(w_, d_time, a);
  const int v_real = realisation_variable(w_, d_real);

  std::vector<std::string> taken{"time", "realization", "station_id", "station_name", "region", "pr", "observed"};
  const int v_code = w_.var("station_id", Type::String, {d_station});
  w_.att(v_code, "cf_role", "timeseries_id");
  w_.att(v_code, "long_name", "gauge code");
  const int v_name = w_.var("station_name", Type::String, {d_station});
  w_.att(v_name, "long_name", "gauge name");
  const int v_region = w_.var("region", Type::Int, {d_station});
  w_.att(v_region, "long_name", "region (subarea) of the gauge; 0 = in no subarea");
  int v_archive = -1;
  std::string coordinates = "station_id";
  if (!st.archive_id.empty()) {
    taken.push_back(st.archive_var);
    v_archive = w_.var(st.archive_var, Type::String, {d_station});
    w_.att(v_archive, "long_name", st.archive_title);
    coordinates += " " + st.archive_var;
  }
  // Site attributes: the co-ordinates as x and y, the others by their names.
  std::vector<int> v_attr;
  for (std::size_t k = 0; k < st.attributes.size(); ++k) {
    const std::string& text = st.attributes[k].name;
    std::string name = k == 0 ? "x" : k == 1 ? "y" : variable_name(text, taken);
    if (k < 2) taken.push_back(name);
    const int v = w_.var(name, Type::Double, {d_station});
    w_.att(v, "long_name", text);
    if (k < 2) {
      w_.att(v, "units", "km");
      w_.att(v, "axis", k == 0 ? "X" : "Y");
    } else if (name == "latitude" || name == "longitude") {
      w_.att(v, "standard_name", name);
      w_.att(v, "units", name == "latitude" ? "degrees_north" : "degrees_east");
      coordinates += " " + name;
    }
    v_attr.push_back(v);
  }

  const std::vector<int> dims{d_time, d_real, d_station};
  const std::vector<std::size_t> chunks{std::min(a.steps, DAYS_PER_CHUNK), 1, 1};
  const int v_pr = w_.var("pr", Type::Int, dims);
  precipitation(w_, v_pr, "daily precipitation amount", coordinates);
  w_.att(v_pr, "scale_factor", 0.01);
  w_.fill(v_pr, PACKED_FILL);
  w_.att(v_pr, "cell_methods", "time: sum");
  w_.chunk(v_pr, chunks, DEFLATE_LEVEL);
  const int v_obs = w_.var("observed", Type::Byte, dims);
  w_.att(v_obs, "long_name", "value taken from the observations (1) or simulated (0)");
  w_.att(v_obs, "flag_values", std::vector<signed char>{0, 1});
  w_.att(v_obs, "flag_meanings", "simulated observed");
  w_.att(v_obs, "coordinates", coordinates);
  w_.fill(v_obs, FLAG_FILL);
  w_.chunk(v_obs, chunks, DEFLATE_LEVEL);
  w_.end_definitions();

  std::vector<int> days(a.steps);
  for (std::size_t t = 0; t < a.steps; ++t) days[t] = static_cast<int>(t);
  w_.put(v_time, days);
  w_.put(v_real, realisation_numbers(a));
  w_.put(v_code, st.code);
  w_.put(v_name, st.name);
  w_.put(v_region, st.region);
  if (v_archive >= 0) w_.put(v_archive, st.archive_id);
  for (std::size_t k = 0; k < v_attr.size(); ++k) w_.put(v_attr[k], st.attributes[k].value);

  const std::size_t block = chunks[0];
  pr_ = std::make_unique<Blocked<int>>(w_, v_pr, a.steps, ns, block, PACKED_FILL);
  observed_ = std::make_unique<Blocked<signed char>>(w_, v_obs, a.steps, ns, block, FLAG_FILL);
}

DailyFile::~DailyFile() = default;

void DailyFile::day(std::size_t realisation, std::size_t step, const std::vector<double>& value,
                    const std::vector<int>& flag) {
  int* v = pr_->at(realisation, step);
  signed char* f = observed_->at(realisation, step);
  for (std::size_t s = 0; s < value.size(); ++s) {
    v[s] = static_cast<int>(std::lround(value[s] * 100));
    f[s] = flag[s] == 0 ? 1 : 0;
  }
}

void DailyFile::close() {
  pr_->flush();
  observed_->flush();
  w_.close();
}

MonthlyFile::MonthlyFile(const std::string& path, const std::vector<std::string>& names, const Axes& a,
                         const Globals& g)
    : w_(path) {
  put_globals(w_, g);
  const int d_time = w_.dim("time", a.steps), d_real = w_.dim("realization", a.realisations),
            d_region = w_.dim("region", names.size()), d_bounds = w_.dim("nv", 2);
  const int v_time = time_variable(w_, d_time, a);
  w_.att(v_time, "bounds", "time_bnds");
  const int v_bounds = w_.var("time_bnds", Type::Int, {d_time, d_bounds});
  const int v_real = realisation_variable(w_, d_real);
  const int v_region = w_.var("region", Type::Int, {d_region});
  w_.att(v_region, "long_name", "region number (0 = the entire network)");
  const int v_name = w_.var("region_name", Type::String, {d_region});
  w_.att(v_name, "cf_role", "timeseries_id");
  w_.att(v_name, "long_name", "region name");
  const int v_total = w_.var("total", Type::Float, {d_time, d_real, d_region});
  precipitation(w_, v_total, "monthly precipitation total, mean over the region's gauges", "region_name");
  w_.att(v_total, "cell_methods", "time: sum area: mean");
  w_.fill(v_total, FILL_VALUE);
  w_.chunk(v_total, {std::min(a.steps, MONTHS_PER_CHUNK), 1, 1}, DEFLATE_LEVEL);
  w_.end_definitions();

  // Each month is stamped with its first day and bounded by the next month's.
  const int origin = julian(a.year, a.month, 1);
  std::vector<int> start(a.steps), bounds(2 * a.steps);
  for (std::size_t t = 0; t <= a.steps; ++t) {
    const int m = a.month - 1 + static_cast<int>(t);
    const int days = julian(a.year + m / 12, m % 12 + 1, 1) - origin;
    if (t < a.steps) start[t] = bounds[2 * t] = days;
    if (t > 0) bounds[2 * t - 1] = days;
  }
  w_.put(v_time, start);
  w_.put(v_bounds, bounds);
  w_.put(v_real, realisation_numbers(a));
  std::vector<int> numbers(names.size());
  for (std::size_t r = 0; r < numbers.size(); ++r) numbers[r] = static_cast<int>(r);
  w_.put(v_region, numbers);
  w_.put(v_name, names);
  total_ = std::make_unique<Blocked<float>>(w_, v_total, a.steps, names.size(), std::min(a.steps, MONTHS_PER_CHUNK),
                                            FILL_VALUE);
}

MonthlyFile::~MonthlyFile() = default;

void MonthlyFile::year(std::size_t realisation, std::size_t step, int region, const double* totals) {
  for (std::size_t m = 0; m < 12; ++m) total_->at(realisation, step + m)[region] = static_cast<float>(totals[m]);
}

void MonthlyFile::close() {
  total_->flush();
  w_.close();
}

}  // namespace rg::nc
