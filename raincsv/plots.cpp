#include "plots.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <spawn.h>
#include <sys/wait.h>

#include "csv_table.hpp"

extern char** environ;

namespace rg {

namespace {

// Scatter: simulated against observed, one point per row. Distance: observed and
// simulated against the distance between the two gauges of a pair. Curve: observed
// and simulated against the month column (a count or a calendar month).
enum class Kind { Scatter, Distance, Curve };

struct Plot {
  const char* statistic;
  const char* title;
  const char* unit;   // of the statistic, with a leading blank, or empty
  const char* xlabel;  // Distance and Curve plots
  const char* ylabel;
  const char* points;  // what one point is, for the reason a plot is left out
  const char* reading;
  Kind kind = Kind::Scatter;
};

const char* const SCATTER_READING =
    " A point on the dashed line means the simulation gets the value right on average; a bar that crosses the line "
    "means the observed value looks like one more realisation of the model.";

const Plot PLOTS[] = {
    {"wet_freq", "Wet-day frequency per gauge and calendar month", "", "", "", "gauge-month",
     "One point per gauge and calendar month: across, the observed share of wet days; up, the simulated mean with "
     "its 5-95 % range over the realisations."},
    {"wet_mean", "Mean wet-day amount per gauge and calendar month", " (mm)", "", "", "gauge-month",
     "One point per gauge and calendar month: the mean amount of the wet days, observed across, simulated up."},
    {"month_total", "Mean monthly total per gauge and calendar month", " (mm)", "", "", "gauge-month",
     "One point per gauge and calendar month: the mean total of the month over the years, observed across, "
     "simulated up."},
    {"annual_total", "Mean annual total per gauge", " (mm)", "", "", "gauge",
     "One point per gauge: the mean annual total, observed across, simulated up."},
    {"p_wet_wet", "P(wet | wet yesterday) per gauge and calendar month", "", "", "", "gauge-month",
     "One point per gauge and calendar month: the chance that a wet day follows a wet day, observed across, "
     "simulated up. Points below the line mean wet spells break up too soon."},
    {"p_wet_dry", "P(wet | dry yesterday) per gauge and calendar month", "", "", "", "gauge-month",
     "One point per gauge and calendar month: the chance that a wet day follows a dry day, observed across, "
     "simulated up. Points above the line mean dry spells break up too soon."},
    {"wet_spell_mean", "Mean wet-spell length per gauge and season", " (days)", "", "", "gauge-season",
     "One point per gauge and season (by the month the spell begins): the mean length of wet spells, observed "
     "across, simulated up."},
    {"dry_spell_mean", "Mean dry-spell length per gauge and season", " (days)", "", "", "gauge-season",
     "One point per gauge and season (by the month the spell begins): the mean length of dry spells, observed "
     "across, simulated up."},
    {"dry_spell_max", "Longest dry spell of the year, mean over the years, per gauge", " (days)", "", "", "gauge",
     "One point per gauge: the longest dry spell of each complete year, averaged over the years, observed across, "
     "simulated up."},
    {"month_total_sd", "Year-to-year standard deviation of monthly totals", " (mm)", "", "", "gauge-month",
     "One point per gauge and calendar month: how much the month's total varies from year to year. Points below "
     "the line mean the simulation's months are too alike from year to year."},
    {"annual_total_sd", "Year-to-year standard deviation of annual totals", " (mm)", "", "", "gauge",
     "One point per gauge: how much the annual total varies from year to year. Points below the line mean too "
     "little variability between years, as daily models often give."},
    {"annual_max_mean", "Mean annual maximum daily amount per gauge", " (mm)", "", "", "gauge",
     "One point per gauge: the mean over the complete years of the largest daily amount of the year, observed "
     "across, simulated up."},
    {"wet_corr", "Correlation of wet/dry days between gauges", "", "distance between the gauges (km)",
     "correlation of the wet-day indicators", "pair of gauges",
     "One point per pair of gauges against their distance: circles observed, points with bars the simulated mean "
     "and 5-95 % range. Circles outside the bars show where the dependence structure misses.",
     Kind::Distance},
    {"amount_corr", "Correlation of amounts on days wet at both gauges", "", "distance between the gauges (km)",
     "correlation of the amounts", "pair of gauges",
     "One point per pair of gauges against their distance: circles observed, points with bars simulated. It "
     "shows whether heavy days come together at near gauges as often as observed.",
     Kind::Distance},
    {"n_wet", "Number of wet gauges per day", "", "number of wet gauges", "fraction of days", "count of wet gauges",
     "The share of days with 0, 1, 2, ... wet gauges: observed (line with points) against the simulated mean "
     "(line) and 5-95 % range (band). Too few days with all gauges wet means too weak a dependence.",
     Kind::Curve},
    {"area_total_sd", "Standard deviation of the network-mean daily amount", "", "calendar month",
     "standard deviation (mm)", "calendar month",
     "Per calendar month, the standard deviation of the daily amount averaged over the gauges (areal rainfall): "
     "observed against the simulated mean and 5-95 % range. A band below the points means too smooth areal rain.",
     Kind::Curve},
};

const char* const RETURN_FILE = "return_levels.png";
const char* const RETURN_TITLE = "Annual maximum daily amounts on a Gumbel scale (every gauge)";
const char* const RETURN_READING =
    "The annual maxima of every gauge and complete year, sorted, against the Gumbel reduced variate of their "
    "plotting position (top axis: return period in gauge-years): circles observed, band the simulated 5-95 % range. "
    "Circles above the band at the right mean the simulation's extremes are too small.";

std::string num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 8);
  return std::string(buf, r.ptr);
}

// A file name as a gnuplot string: single quotes, inner single quotes doubled.
std::string quoted(const std::filesystem::path& p) {
  std::string s = "'";
  for (char c : p.string()) {
    if (c == '\'') s += '\'';
    s += c;
  }
  return s + "'";
}

bool complete(const StatRow& r) {
  return !std::isnan(r.observed) && !std::isnan(r.sim_mean) && !std::isnan(r.sim_p05) && !std::isnan(r.sim_p95);
}

void header(TextOut& out, const std::filesystem::path& png, const std::string& title) {
  out.line("reset");
  out.line("set output " + quoted(png));
  out.line("set title \"" + title + "\"");
  out.line("set grid");
  out.line("set key top left");
}

// Inline data block named after the statistic: per complete row the x value (when
// there is one), then observed, simulated mean, 5 % and 95 % quantiles. Returns the
// number of rows written.
int data_block(TextOut& out, const std::string& statistic, const std::vector<StatRow>& rows, Kind kind) {
  out.line("$" + statistic + " << EOD");
  int n = 0;
  for (const auto& r : rows) {
    if (r.statistic != statistic || !complete(r)) continue;
    const double x = kind == Kind::Distance ? r.distance : static_cast<double>(r.month);
    if (kind != Kind::Scatter && std::isnan(x)) continue;
    out.line((kind != Kind::Scatter ? num(x) + " " : std::string()) + num(r.observed) + " " + num(r.sim_mean) + " " +
             num(r.sim_p05) + " " + num(r.sim_p95));
    ++n;
  }
  out.line("EOD");
  return n;
}

const std::string BARS = "with yerrorbars pt 7 ps 0.5 lc rgb \"#1f5fa8\" title \"simulated mean, 5-95 % range\"";

void scatter(TextOut& out, const Plot& p, const std::vector<StatRow>& rows) {
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (const auto& r : rows)
    if (r.statistic == p.statistic && complete(r)) {
      lo = std::min({lo, r.observed, r.sim_p05});
      hi = std::max({hi, r.observed, r.sim_p95});
    }
  out.line(std::string("set xlabel \"observed").append(p.unit).append("\""));
  out.line(std::string("set ylabel \"simulated").append(p.unit).append("\""));
  if (lo < hi) {
    const double pad = 0.05 * (hi - lo);
    std::string range = "[";
    range.append(num(lo - pad)).append(":").append(num(hi + pad)).append("]");
    out.line("set xrange " + range);
    out.line("set yrange " + range);
    out.line("set size square");
  }
  out.line(std::string("plot $").append(p.statistic).append(" using 1:2:3:4 ") + BARS +
           ", x with lines dt 2 lc rgb \"black\" title \"simulated = observed\"");
}

void against_x(TextOut& out, const Plot& p) {
  const std::string block = std::string("$") + p.statistic;
  out.line(std::string("set xlabel \"") + p.xlabel + "\"");
  out.line(std::string("set ylabel \"") + p.ylabel + "\"");
  if (p.kind == Kind::Distance) {
    out.line("set key top right");
    out.line("plot " + block + " using 1:3:4:5 " + BARS + ", " + block +
             " using 1:2 with points pt 6 ps 0.8 lc rgb \"#c0392b\" title \"observed\"");
    return;
  }
  out.line("set key top center");
  out.line("set style fill transparent solid 0.3 noborder");
  out.line("plot " + block + " using 1:4:5 with filledcurves lc rgb \"#1f5fa8\" title \"simulated 5-95 % range\", " +
           block + " using 1:3 with lines lw 2 lc rgb \"#1f5fa8\" title \"simulated mean\", " + block +
           " using 1:2 with linespoints pt 7 ps 0.8 lc rgb \"#c0392b\" title \"observed\"");
}

// Gumbel reduced variate of the Gringorten plotting position of rank i (from 1) of n.
double gumbel(std::size_t i, std::size_t n) {
  const double f = (static_cast<double>(i) - 0.44) / (static_cast<double>(n) + 0.12);
  return -std::log(-std::log(f));
}

void return_plot(TextOut& out, const ReturnLevels& rl, const std::filesystem::path& out_dir) {
  out.line("$return_obs << EOD");
  for (std::size_t i = 0; i < rl.observed.size(); ++i)
    out.line(num(gumbel(i + 1, rl.observed.size())) + " " + num(rl.observed[i]));
  out.line("EOD");
  out.line("$return_sim << EOD");
  for (std::size_t i = 0; i < rl.sim_mean.size(); ++i)
    out.line(num(gumbel(i + 1, rl.sim_mean.size())) + " " + num(rl.sim_mean[i]) + " " + num(rl.sim_p05[i]) + " " +
             num(rl.sim_p95[i]));
  out.line("EOD");
  header(out, out_dir / RETURN_FILE, RETURN_TITLE);
  out.line("set xlabel \"Gumbel reduced variate -ln(-ln F)\"");
  out.line("set ylabel \"annual maximum daily amount (mm)\"");
  std::string tics;
  for (int t : {2, 5, 10, 20, 50, 100, 200, 500, 1000}) {
    const double y = -std::log(-std::log(1.0 - 1.0 / t));
    tics += (tics.empty() ? "" : ", ") + std::string("\"") + std::to_string(t) + "\" " + num(y);
  }
  out.line("set x2tics (" + tics + ")");
  out.line("set x2label \"return period (gauge-years)\"");
  out.line("set link x2");
  out.line("set style fill transparent solid 0.3 noborder");
  out.line("plot $return_sim using 1:3:4 with filledcurves lc rgb \"#1f5fa8\" title \"simulated 5-95 % range\", "
           "$return_sim using 1:2 with lines lw 2 lc rgb \"#1f5fa8\" title \"simulated mean\", "
           "$return_obs using 1:2 with points pt 6 ps 0.8 lc rgb \"#c0392b\" title \"observed\"");
}

}  // namespace

const std::vector<std::string>& plot_files() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> f;
    for (const Plot& p : PLOTS) f.push_back(std::string(p.statistic) + ".png");
    f.emplace_back(RETURN_FILE);
    return f;
  }();
  return files;
}

PlotScript write_plot_script(TextOut& out, const std::vector<StatRow>& rows, const ReturnLevels& levels,
                             const std::filesystem::path& out_dir) {
  PlotScript script;
  out.line("# Validation plots; data: observed, simulated mean, 5 % and 95 % quantiles over realisations.");
  out.line("set terminal pngcairo size 800,600 font \",11\"");
  for (const Plot& p : PLOTS) {
    const std::string file = std::string(p.statistic) + ".png";
    // gnuplot refuses to draw from an empty data block, so such a plot is left out.
    if (data_block(out, p.statistic, rows, p.kind) == 0) {
      script.left_out.emplace_back(file, std::string("no ") + p.points + " has a value of " + p.statistic +
                                             " in both the observations and the simulation");
      continue;
    }
    header(out, out_dir / file, p.title);
    if (p.kind == Kind::Scatter) scatter(out, p, rows);
    else against_x(out, p);
    script.drawn.push_back(PlotInfo{file, p.title, std::string(p.reading) + (p.kind == Kind::Scatter ? SCATTER_READING : "")});
  }
  if (levels.observed.empty() || levels.sim_mean.empty()) {
    script.left_out.emplace_back(RETURN_FILE,
                                 "no gauge has a complete year in both the observations and the simulation");
  } else {
    return_plot(out, levels, out_dir);
    script.drawn.push_back(PlotInfo{RETURN_FILE, RETURN_TITLE, RETURN_READING});
  }
  out.line("unset output");
  return script;
}

void draw_plots(const std::filesystem::path& out_dir) {
  std::string script = (out_dir / "plots.gp").string();
  std::string program = "gnuplot";
  char* argv[] = {program.data(), script.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gnuplot", nullptr, nullptr, argv, environ) != 0)
    csv_fail("gnuplot cannot be started: validation.csv and plots.gp are written, the plots are not. Install "
             "gnuplot (Debian package gnuplot-nox), or leave the plots out with --no-plots.");
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    csv_fail("gnuplot failed on " + script + ": the plots are not complete.");
}

}  // namespace rg
