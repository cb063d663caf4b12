#pragma once
// The simulation's outputs as CF-1.8 NetCDF-4 files: daily values as a collection
// of time series (pr and observed by time, realization and station) and the
// regional monthly totals (total by time, realization and region). Values arrive in
// the order of the simulation's files and are gathered a block of time steps of one
// realisation at a time, so memory does not grow with realisations or years.
#include <memory>
#include <string>
#include <vector>

#include "nc_writer.hpp"

namespace rg::nc {

// Time steps per chunk: a day's value of one station is stored with the rest of
// its realisation's decade, and a month's regional total with its century.
constexpr std::size_t DAYS_PER_CHUNK = 3653;
constexpr std::size_t MONTHS_PER_CHUNK = 1200;
// Deflate level of the data variables (with the shuffle filter).
constexpr int DEFLATE_LEVEL = 1;
constexpr float FILL_VALUE = 1.0e20f;
constexpr int PACKED_FILL = -2147483647;
constexpr signed char FLAG_FILL = -1;

struct Stations {
  std::vector<std::string> code, name;
  std::vector<int> region;
  // Identifiers in the archive the gauges came from, with the variable's name and
  // description; empty when not known.
  std::vector<std::string> archive_id;
  std::string archive_var, archive_title;
  struct Attribute {
    std::string name;  // as in the site file
    std::vector<double> value;
  };
  std::vector<Attribute> attributes;  // X and Y first
};

struct Globals {
  std::string title, history, source;
};

// The extent of the file: the first day (or month), the number of time steps and
// the realisations numbered first .. first + count - 1.
struct Axes {
  int year = 0, month = 0, day = 1;
  std::size_t steps = 0;
  int first_realisation = 1;
  std::size_t realisations = 0;
};

template <class T>
class Blocked;

class DailyFile {
 public:
  DailyFile(const std::string& path, const Stations& stations, const Axes& axes, const Globals& globals);
  ~DailyFile();
  // One day of one realisation, by index from the first day and from the first
  // realisation. Calls come in increasing order of (realisation, day).
  void day(std::size_t realisation, std::size_t step, const std::vector<double>& value, const std::vector<int>& flag);
  void close();

 private:
  Writer w_;
  std::unique_ptr<Blocked<int>> pr_;
  std::unique_ptr<Blocked<signed char>> observed_;
};

class MonthlyFile {
 public:
  // Regions 0 .. names.size() - 1.
  MonthlyFile(const std::string& path, const std::vector<std::string>& region_names, const Axes& axes,
              const Globals& globals);
  ~MonthlyFile();
  // The twelve monthly totals of one region and year; step is the index of its
  // January. Calls come in increasing order of (realisation, step).
  void year(std::size_t realisation, std::size_t step, int region, const double* totals);
  void close();

 private:
  Writer w_;
  std::unique_ptr<Blocked<float>> total_;
};

// A variable name made of the text's letters, digits and underscores, starting
// with a letter and different from every name in taken (which it joins).
std::string variable_name(const std::string& text, std::vector<std::string>& taken);

}  // namespace rg::nc
