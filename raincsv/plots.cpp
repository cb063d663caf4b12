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

struct Plot {
  const char* statistic;
  const char* file;
  const char* title;
  const char* unit;
};

// Scatter plots of simulated against observed values, one point per gauge (and
// month).
const Plot SCATTER[] = {
    {"wet_freq", "wet_freq.png", "Wet-day frequency per gauge and calendar month", ""},
    {"wet_mean", "wet_mean.png", "Mean wet-day amount per gauge and calendar month", " (mm)"},
    {"month_total", "month_total.png", "Mean monthly total per gauge and calendar month", " (mm)"},
    {"annual_total", "annual_total.png", "Mean annual total per gauge", " (mm)"},
};

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
// there is one), then observed, simulated mean, 5 % and 95 % quantiles.
void data_block(TextOut& out, const std::string& statistic, const std::vector<StatRow>& rows,
                double (*x)(const StatRow&) = nullptr) {
  out.line("$" + statistic + " << EOD");
  for (const auto& r : rows)
    if (r.statistic == statistic && complete(r) && (!x || !std::isnan(x(r))))
      out.line((x ? num(x(r)) + " " : std::string()) + num(r.observed) + " " + num(r.sim_mean) + " " +
               num(r.sim_p05) + " " + num(r.sim_p95));
  out.line("EOD");
}

}  // namespace

const std::vector<std::string>& plot_files() {
  static const std::vector<std::string> files{"wet_freq.png", "wet_mean.png", "month_total.png",
                                              "annual_total.png", "wet_corr.png", "n_wet.png"};
  return files;
}

void write_plot_script(TextOut& out, const std::vector<StatRow>& rows, const std::filesystem::path& out_dir) {
  out.line("# Validation plots; data: observed, simulated mean, 5 % and 95 % quantiles over realisations.");
  out.line("set terminal pngcairo size 800,600 font \",11\"");
  const std::string bars = "with yerrorbars pt 7 ps 0.5 lc rgb \"#1f5fa8\" title \"simulated mean, 5-95 % range\"";

  for (const Plot& p : SCATTER) {
    const std::string block = std::string("$").append(p.statistic);
    data_block(out, p.statistic, rows);
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const auto& r : rows)
      if (r.statistic == p.statistic && complete(r)) {
        lo = std::min({lo, r.observed, r.sim_p05});
        hi = std::max({hi, r.observed, r.sim_p95});
      }
    header(out, out_dir / p.file, p.title);
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
    out.line("plot " + block + " using 1:2:3:4 " + bars +
             ", x with lines dt 2 lc rgb \"black\" title \"simulated = observed\"");
  }

  data_block(out, "wet_corr", rows, [](const StatRow& r) { return r.distance; });
  header(out, out_dir / "wet_corr.png", "Correlation of wet/dry days between gauges");
  out.line("set key top right");
  out.line("set xlabel \"distance between the gauges (km)\"");
  out.line("set ylabel \"correlation of the wet-day indicators\"");
  out.line("plot $wet_corr using 1:3:4:5 " + bars +
           ", $wet_corr using 1:2 with points pt 6 ps 0.8 lc rgb \"#c0392b\" title \"observed\"");

  data_block(out, "n_wet", rows, [](const StatRow& r) { return static_cast<double>(r.month); });
  header(out, out_dir / "n_wet.png", "Number of wet gauges per day");
  out.line("set key top center");
  out.line("set xlabel \"number of wet gauges\"");
  out.line("set ylabel \"fraction of days\"");
  out.line("set style fill transparent solid 0.3 noborder");
  out.line("plot $n_wet using 1:4:5 with filledcurves lc rgb \"#1f5fa8\" title \"simulated 5-95 % range\", "
           "$n_wet using 1:3 with lines lw 2 lc rgb \"#1f5fa8\" title \"simulated mean\", "
           "$n_wet using 1:2 with linespoints pt 7 ps 0.8 lc rgb \"#c0392b\" title \"observed\"");
  out.line("unset output");
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
