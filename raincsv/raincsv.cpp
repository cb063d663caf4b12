#include "raincsv.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "console.hpp"
#include "csv_export.hpp"
#include "csv_import.hpp"
#include "csv_table.hpp"
#include "ghcn_import.hpp"
#include "netcdf_export.hpp"
#include "run_exit.hpp"
#include "validation.hpp"

namespace rg {

namespace {

const char* const USAGE[] = {
    "Usage:",
    "  raincsv import --sites STATIONS.csv --daily DAILY.csv [--from YEAR] [--to YEAR]",
    "                 [--missing VALUE] [--region COLUMN] --out DIR",
    "  raincsv import --ghcn DLY_DIR [--stations ghcnd-stations.txt] [--from YEAR] [--to YEAR] --out DIR",
    "  raincsv export daily.dat --sites siteinfo.def [--netcdf FILE]",
    "  raincsv export monthly.dat [--netcdf FILE [--regions regions.def]]",
    "  raincsv report [--threshold MM] [--from YEAR] [--to YEAR] [--no-plots] OBS_DIR SIM_DIR OUT_DIR",
};

[[noreturn]] void usage(const std::string& problem) {
  Console& con = console();
  con.line("****ERROR**** " + problem);
  for (const char* l : USAGE) con.line(l);
  end_run(1);
}

// Options of the form --name VALUE (flags take no value) and the remaining
// positional arguments.
struct CommandLine {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
};

CommandLine parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                  const std::vector<std::string>& flags) {
  CommandLine cl;
  auto known = [](const std::vector<std::string>& list, const std::string& a) {
    return std::find(list.begin(), list.end(), a) != list.end();
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) == 0) {
      if (cl.options.count(a)) usage("Option " + a + " is given twice.");
      if (known(flags, a)) {
        cl.options[a] = "";
      } else if (known(valued, a)) {
        if (i + 1 >= args.size()) usage("Option " + a + " needs a value.");
        cl.options[a] = args[++i];
      } else {
        usage("Unknown option " + a + " for raincsv " + args[0] + ".");
      }
    } else {
      cl.positional.push_back(a);
    }
  }
  return cl;
}

std::string need(const CommandLine& cl, const std::string& name) {
  auto it = cl.options.find(name);
  if (it == cl.options.end()) usage("Option " + name + " is required.");
  return it->second;
}

std::optional<int> year_option(const CommandLine& cl, const std::string& name) {
  auto it = cl.options.find(name);
  if (it == cl.options.end()) return std::nullopt;
  auto v = csv_integer(it->second);
  if (!v || *v < 1 || *v > 9999) usage("Option " + name + " needs a year, not \"" + it->second + "\".");
  return static_cast<int>(*v);
}

double number_option(const CommandLine& cl, const std::string& name, double fallback) {
  auto it = cl.options.find(name);
  if (it == cl.options.end()) return fallback;
  auto v = csv_number(it->second);
  if (!v) usage("Option " + name + " needs a number, not \"" + it->second + "\".");
  return *v;
}

void import_command(const std::vector<std::string>& args) {
  CommandLine cl = parse(
      args, {"--sites", "--daily", "--from", "--to", "--missing", "--region", "--out", "--ghcn", "--stations"}, {});
  if (!cl.positional.empty()) usage("Unexpected argument " + cl.positional[0] + ".");
  const bool ghcn = cl.options.count("--ghcn") > 0;
  for (const char* o : {"--sites", "--daily", "--missing", "--region"})
    if (ghcn && cl.options.count(o)) usage(std::string("Option ") + o + " does not go with --ghcn.");
  if (!ghcn && cl.options.count("--stations")) usage("Option --stations goes with --ghcn.");
  ImportOptions opt;
  if (ghcn) {
    opt.daily = cl.options["--ghcn"];
    opt.stations = cl.options.count("--stations") ? cl.options["--stations"]
                                                  : (std::filesystem::path(opt.daily) / "ghcnd-stations.txt").string();
  } else {
    opt.stations = need(cl, "--sites");
    opt.daily = need(cl, "--daily");
  }
  opt.out_dir = need(cl, "--out");
  opt.from_year = year_option(cl, "--from");
  opt.to_year = year_option(cl, "--to");
  if (opt.from_year && opt.to_year && *opt.to_year < *opt.from_year) usage("The period ends before it begins.");
  opt.missing = number_option(cl, "--missing", -1.0);
  if (cl.options.count("--region")) opt.region_column = cl.options["--region"];
  if (ghcn) ghcn_import(opt);
  else csv_import(opt);
}

void export_command(const std::vector<std::string>& args) {
  CommandLine cl = parse(args, {"--sites", "--netcdf", "--regions"}, {});
  if (cl.positional.size() != 1) usage("raincsv export needs exactly one file.");
  const bool daily = cl.options.count("--sites") > 0;
  if (!cl.options.count("--netcdf")) {
    if (cl.options.count("--regions")) usage("Option --regions goes with --netcdf.");
    if (daily) export_daily(cl.positional[0], cl.options["--sites"]);
    else export_monthly(cl.positional[0]);
    return;
  }
  std::string command = "raincsv";
  for (const auto& a : args) command += " " + a;
  const std::string& out = cl.options["--netcdf"];
  if (daily) {
    if (cl.options.count("--regions")) usage("Option --regions goes with monthly.dat, not with --sites.");
    export_daily_netcdf(cl.positional[0], cl.options["--sites"], out, command);
  } else {
    std::string regions = cl.options.count("--regions")
                              ? cl.options["--regions"]
                              : (std::filesystem::path(cl.positional[0]).parent_path() / "regions.def").string();
    export_monthly_netcdf(cl.positional[0], regions, out, command);
  }
}

void report_command(const std::vector<std::string>& args) {
  CommandLine cl = parse(args, {"--threshold", "--from", "--to"}, {"--no-plots"});
  if (cl.positional.size() != 3) usage("raincsv report needs OBS_DIR, SIM_DIR and OUT_DIR.");
  ReportOptions opt;
  if (cl.options.count("--threshold")) {
    opt.threshold = number_option(cl, "--threshold", 0.0);
    if (opt.threshold < 0) usage("The threshold cannot be negative.");
  }
  opt.from_year = year_option(cl, "--from").value_or(opt.from_year);
  opt.to_year = year_option(cl, "--to").value_or(opt.to_year);
  if (opt.to_year < opt.from_year) usage("The period ends before it begins.");
  opt.plots = cl.options.count("--no-plots") == 0;
  opt.obs_dir = cl.positional[0];
  opt.sim_dir = cl.positional[1];
  opt.out_dir = cl.positional[2];
  validation_report(opt);
}

}  // namespace

void raincsv_run(const std::vector<std::string>& args) {
  if (args.empty()) usage("No command given.");
  if (args[0] == "import") import_command(args);
  else if (args[0] == "export") export_command(args);
  else if (args[0] == "report") report_command(args);
  else usage("Unknown command " + args[0] + ".");
}

}  // namespace rg
