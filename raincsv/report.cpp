// raincsv report: reads the observations and the simulation, computes the
// statistics, and writes validation.csv, summary.csv, the plots and report.html.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "channels.hpp"
#include "console.hpp"
#include "csv_table.hpp"
#include "files.hpp"
#include "fixed_format.hpp"
#include "fixed_parse.hpp"
#include "model.hpp"
#include "output_set.hpp"
#include "plots.hpp"
#include "report_html.hpp"
#include "sim_files.hpp"
#include "station_map.hpp"
#include "validation.hpp"

namespace rg {

namespace {

namespace fs = std::filesystem;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string number(double v, int decimals) {
  if (std::isnan(v)) return "";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string s(buf, r.ptr);
  if (s.find_first_not_of("-0.") == std::string::npos) s = s.substr(s[0] == '-' ? 1 : 0);  // no "-0.0000"
  return s;
}

int decimals_of(const std::string& statistic) {
  static const std::set<std::string> five{"wet_freq", "wet_corr", "n_wet", "p_wet_wet", "p_wet_dry", "amount_corr"};
  return five.count(statistic) ? 5 : 3;
}

std::string date_text(int yyyymmdd) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100);
  return buf;
}

// How wet days are told from dry ones, for the observations and for the simulation.
struct WetRules {
  WetRule observed, simulated;
  std::string text;
};

// Without --threshold, as the occurrence model of the observation folder says: an
// observed value below a hard or soft threshold is dry, and (soft) so is the
// threshold itself; the simulation writes dry days as 0 and every wet day above 0 (a
// soft threshold is added back to its wet days).
WetRules wet_rules(const ReportOptions& opt, const SiteTable& sites) {
  WetRules r;
  if (opt.threshold >= 0) {
    r.observed = r.simulated = WetRule{opt.threshold, false};
    r.text = "value above " + number(opt.threshold, 2) + " mm, observed and simulated (--threshold)";
    return r;
  }
  std::string path;
  for (const char* name : {"logistic.def", "logistic.de2"}) {
    const fs::path p = fs::path(opt.obs_dir) / name;
    if (fs::is_regular_file(p)) {
      path = p.string();
      break;
    }
  }
  if (path.empty()) {
    r.text = "value above 0 mm, observed and simulated (no logistic.def or logistic.de2 in " + opt.obs_dir + ")";
    return r;
  }
  constexpr int MODEL_CHANNEL = 11;
  Model model;
  filchk(path, MODEL_CHANNEL, STFLAG_INPUT);
  mdlset(MODEL_CHANNEL, path, RSP_OCCURRENCE, 0, sites, model);
  channels().close(MODEL_CHANNEL);
  double tau = 0, trace = 0;
  int kind = 0;
  taudef(model, tau, trace, kind);
  if (kind == 0 || tau <= 0) {
    r.text = "value above 0 mm, observed and simulated (no threshold for positive values in " + path + ")";
    return r;
  }
  const std::string t = number(tau, 2);
  if (kind == 2) {
    r.observed = WetRule{tau, true};
    r.text = "observed value of " + t + " mm or more, simulated value above 0 (hard threshold " + t + " mm of " +
             path + ")";
  } else {
    r.observed = WetRule{tau, false};
    r.text = "observed value above " + t + " mm, simulated value above 0 (soft threshold " + t + " mm of " + path +
             ", added back to the simulated wet days)";
  }
  return r;
}

// Statistics of the observed record: gaugvals.dat sorted by date (a later record for
// the same gauge and day replaces an earlier one, as the fitting programs read it),
// restricted to the years asked for.
SeriesStats observed_stats(const std::string& path, const std::vector<std::string>& codes, const ReportOptions& opt,
                           WetRule rule, Console& con) {
  struct Obs {
    int date, site;
    double value;
  };
  TextIn in;
  open_input(in, path);
  std::map<std::string, int> index;
  for (std::size_t s = 0; s < codes.size(); ++s) index[fmt_a(codes[s], 4)] = static_cast<int>(s);
  std::vector<Obs> obs;
  long unknown = 0, outside = 0;
  while (auto l = in.next()) {
    if (trim_right(*l).empty()) continue;
    auto year = read_int(*l, 1, 4), month = read_int(*l, 5, 2), day = read_int(*l, 7, 2);
    auto value = read_real(*l, 13, 6, 2);
    if (!year || !month || !day || !value ||
        !is_calendar_date(static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day)))
      csv_fail(path + ", line " + std::to_string(in.line_number()) + ": not a readable record of date, gauge and value.");
    if (*year < opt.from_year || *year > opt.to_year) {
      ++outside;
      continue;
    }
    auto site = index.find(fmt_a(column_field(*l, 9, 4), 4));
    if (site == index.end()) {
      ++unknown;
      continue;
    }
    obs.push_back(Obs{static_cast<int>(*year * 10000 + *month * 100 + *day), site->second, *value});
  }
  if (obs.empty())
    csv_fail("File " + path + " holds no values of the gauges of siteinfo.def" +
             (outside ? " in the years " + std::to_string(opt.from_year) + "-" + std::to_string(opt.to_year) : "") + ".");
  std::stable_sort(obs.begin(), obs.end(), [](const Obs& a, const Obs& b) { return a.date < b.date; });
  StatsAccumulator acc(static_cast<int>(codes.size()), rule);
  std::vector<double> day(codes.size(), -1.0);
  long with_value = 0;
  for (std::size_t i = 0; i < obs.size();) {
    const int date = obs[i].date;
    std::fill(day.begin(), day.end(), -1.0);
    for (; i < obs.size() && obs[i].date == date; ++i) day[obs[i].site] = obs[i].value;
    for (double v : day) with_value += v >= 0;
    acc.add_day(date / 10000, date / 100 % 100, date % 100, day.data());
  }
  con.line(" Observations: " + std::to_string(with_value) + " site-days with a value on " + std::to_string(acc.days()) +
           " days (" + std::to_string(obs.front().date) + " to " + std::to_string(obs.back().date) + ")" +
           (unknown ? "; " + std::to_string(unknown) + " records of gauges not in siteinfo.def left out" : "") +
           (outside ? "; " + std::to_string(outside) + " records outside " + std::to_string(opt.from_year) + "-" +
                          std::to_string(opt.to_year) + " left out"
                    : ""));
  return acc.finish();
}

// The columns of the simulation's daily.dat in the order of the observations' gauges,
// by gauge code: the simulation folder's site file says which gauge each column is.
std::vector<int> match_gauges(const std::vector<std::string>& obs_codes, const std::string& sim_sites_path,
                              std::vector<std::string>& sim_codes) {
  if (!fs::is_regular_file(sim_sites_path))
    csv_fail("File " + sim_sites_path + " is missing: the site file the simulation ran with says which gauge each "
             "column of daily.dat is.");
  sim_codes = site_codes(*read_sites(sim_sites_path));
  std::map<std::string, int> index;
  for (std::size_t s = 0; s < obs_codes.size(); ++s) index[obs_codes[s]] = static_cast<int>(s);
  std::vector<int> column_to_obs;
  std::set<std::string> only_sim, only_obs(obs_codes.begin(), obs_codes.end());
  for (const auto& c : sim_codes) {
    auto it = index.find(c);
    column_to_obs.push_back(it == index.end() ? -1 : it->second);
    if (it == index.end()) only_sim.insert(c);
    else only_obs.erase(c);
  }
  if (!only_sim.empty() || !only_obs.empty()) {
    auto list = [](const std::set<std::string>& s) {
      std::string out;
      for (const auto& c : s) out += (out.empty() ? "" : " ") + c;
      return out.empty() ? std::string("none") : out;
    };
    csv_fail("The simulation and the observations have different gauges: only in the simulation: " + list(only_sim) +
             "; only in the observations: " + list(only_obs) + ".");
  }
  return column_to_obs;
}

std::vector<SeriesStats> simulated_stats(const std::string& path, const std::vector<std::string>& sim_codes,
                                         const std::vector<int>& column_to_obs, WetRule rule, Console& con) {
  DailyDatReader in(path, sim_codes);
  std::vector<SeriesStats> stats;
  std::optional<StatsAccumulator> current;
  int current_r = -1, last_date = 0;
  DailyDatRecord r;
  long records = 0;
  // Same gauges as the observations (match_gauges), in the observations' order.
  const int nsites = static_cast<int>(sim_codes.size());
  std::vector<double> values(sim_codes.size());
  auto fail = [&](const std::string& what) {
    csv_fail(path + ", line " + std::to_string(in.line()) + ": " + what);
  };
  while (in.next(r)) {
    ++records;
    const int date = r.year * 10000 + r.month * 100 + r.day;
    if (r.realisation != current_r) {
      // Realisations come one after the other in increasing order; a number that
      // goes back is another file appended, or a file out of order.
      if (r.realisation < current_r)
        fail("realisation " + std::to_string(r.realisation) + " follows realisation " + std::to_string(current_r) +
             ": the realisations are out of order or repeated (files appended?).");
      if (current) stats.push_back(current->finish());
      current.emplace(nsites, rule);
      current_r = r.realisation;
    } else if (date <= last_date) {
      fail("the date " + date_text(date) + " does not follow " + date_text(last_date) + " in realisation " +
           std::to_string(current_r) + ".");
    }
    last_date = date;
    for (std::size_t c = 0; c < values.size(); ++c) values[column_to_obs[c]] = r.value[c];
    current->add_day(r.year, r.month, r.day, values.data());
  }
  if (!current) csv_fail("File " + path + " holds no daily records.");
  stats.push_back(current->finish());
  con.line(" Simulation: " + std::to_string(stats.size()) + " realisations, " + std::to_string(records) +
           " daily records");
  return stats;
}

// The title on line 48 of a model definition, or empty.
std::string model_title(const fs::path& path) {
  TextIn in;
  if (!fs::is_regular_file(path) || !in.open(path.string())) return "";
  for (int line = 1; auto l = in.next(); ++line)
    if (line == 48) return std::string(trim_right(*l));
  return "";
}

void print_summary(Console& con, const std::vector<StatSummary>& summary) {
  con.line(" Statistic          rows  compared  mean abs. error  inside 5-95 %");
  for (const auto& s : summary) {
    Fields f;
    f.t(" ").a(s.statistic, 16).i(s.rows, 6).i(s.compared, 10);
    if (std::isnan(s.mean_abs_error)) f.x(17);
    else f.f(s.mean_abs_error, 17, 4);
    if (s.compared > 0) f.i(std::lround(100.0 * s.inside / s.compared), 13).t(" %");
    con.line(f.str());
  }
}

// Every file a report writes; those not written this time are removed, so that the
// folder never mixes two reports.
void remove_stale(const fs::path& dir, const std::set<std::string>& written) {
  std::vector<std::string> all = plot_files();
  for (const char* f : {"validation.csv", "summary.csv", "plots.gp", "report.html", "stations_map.csv"}) all.emplace_back(f);
  for (const auto& f : all) {
    if (written.count(f)) continue;
    std::error_code ec;
    fs::remove(dir / f, ec);
    if (ec) csv_fail("File " + (dir / f).string() + " of an earlier report cannot be removed: " + ec.message() + ".");
  }
}

}  // namespace

void validation_report(const ReportOptions& opt) {
  Console& con = console();
  auto sites = read_sites((fs::path(opt.obs_dir) / "siteinfo.def").string());
  const std::vector<std::string> codes = site_codes(*sites);
  std::vector<double> x(codes.size(), NaN), y(codes.size(), NaN);
  if (sites->nattr >= 2)
    for (int s = 1; s <= sites->nsites; ++s) {
      x[s - 1] = sites->sitinf(s, 1, 1);
      y[s - 1] = sites->sitinf(s, 2, 1);
    }
  std::vector<std::string> sim_codes;
  const std::vector<int> column_to_obs =
      match_gauges(codes, (fs::path(opt.sim_dir) / "siteinfo.def").string(), sim_codes);
  const WetRules rules = wet_rules(opt, *sites);
  con.line(" Wet day: " + rules.text);
  SeriesStats observed = observed_stats((fs::path(opt.obs_dir) / "gaugvals.dat").string(), codes, opt, rules.observed, con);
  std::vector<SeriesStats> simulated =
      simulated_stats((fs::path(opt.sim_dir) / "daily.dat").string(), sim_codes, column_to_obs, rules.simulated, con);
  const std::vector<StatRow> rows = validation_rows(observed, simulated, codes, x, y);
  const std::vector<StatSummary> summary = summarise(rows);

  const fs::path out_dir = fs::absolute(opt.out_dir);
  OutputSet files(opt.out_dir);
  TextOut& out = files.open("validation.csv");
  out.line("statistic,site,site2,month,observed,sim_mean,sim_p05,sim_p95");
  for (const auto& r : rows) {
    const int d = decimals_of(r.statistic);
    const std::string period = r.season >= 0 ? SEASON_NAMES[r.season] : r.month >= 0 ? std::to_string(r.month) : "";
    out.line(r.statistic + "," + csv_field(r.site) + "," + csv_field(r.site2) + "," + period + "," +
             number(r.observed, d) + "," + number(r.sim_mean, d) + "," + number(r.sim_p05, d) + "," +
             number(r.sim_p95, d));
  }
  TextOut& sum = files.open("summary.csv");
  sum.line("statistic,rows,compared,mean_abs_error,share_inside");
  for (const auto& s : summary)
    sum.line(s.statistic + "," + std::to_string(s.rows) + "," + std::to_string(s.compared) + "," +
             number(s.mean_abs_error, 6) + "," + (s.compared > 0 ? number(static_cast<double>(s.inside) / s.compared, 4) : ""));
  PlotScript plots;
  if (opt.plots) plots = write_plot_script(files.open("plots.gp"), rows, return_levels(observed, simulated), out_dir);
  // The archive identifiers of imported gauges, to join the statistics' site codes.
  const auto map = read_station_map(opt.obs_dir);
  if (!map.empty()) write_station_map(files, map);
  files.commit();
  std::set<std::string> written{"validation.csv", "summary.csv", "report.html"};
  if (opt.plots) written.insert("plots.gp");
  if (!map.empty()) written.insert("stations_map.csv");
  remove_stale(out_dir, written);  // with every PNG: the plots are drawn afresh below
  print_summary(con, summary);
  con.line(" Written to " + opt.out_dir + ": validation.csv (" + std::to_string(rows.size()) + " statistics), summary.csv" +
           (opt.plots ? ", plots.gp" : "") + (map.empty() ? "" : ", stations_map.csv (GHCN IDs of the gauges)"));
  for (const auto& [file, why] : plots.left_out) con.line(" " + file + " left out: " + why + ".");
  if (opt.plots) draw_plots(out_dir);

  ReportInputs inputs;
  const int real = static_cast<int>(simulated.size());
  inputs.items = {
      {"Observations", fs::absolute(opt.obs_dir).string() + ": " + date_text(observed.first_date) + " to " +
                           date_text(observed.last_date)},
      {"Simulation", fs::absolute(opt.sim_dir).string() + ": " + date_text(simulated.front().first_date) + " to " +
                         date_text(simulated.front().last_date) + ", " + std::to_string(real) +
                         (real == 1 ? " realisation" : " realisations")},
      {"Wet day", rules.text},
  };
  for (const char* name : {"logistic.def", "gammamdl.def"}) {
    const std::string title = model_title(fs::path(opt.sim_dir) / name);
    if (!title.empty()) inputs.items.emplace_back(std::string("Simulated with ") + name, title);
  }
  OutputSet page(opt.out_dir);
  write_report_html(page.open("report.html"), inputs, summary, plots, opt.plots, out_dir);
  page.commit();
  con.line(" Written to " + opt.out_dir + ": report.html" + (opt.plots ? " and " + std::to_string(plots.drawn.size()) + " plots" : ""));
}

}  // namespace rg
