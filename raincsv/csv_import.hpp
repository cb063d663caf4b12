#pragma once
// raincsv import: gauge tables in CSV form into siteinfo.def, gaugvals.dat and
// regions.def.
#include <optional>
#include <string>

namespace rg {

struct ImportOptions {
  std::string stations;  // stations table
  std::string daily;     // daily values table
  std::string out_dir;
  std::optional<int> from_year, to_year;  // period kept (whole years)
  double missing = -1.0;                  // value that marks a missing day
  std::string region_column;              // stations column naming the subareas; empty for none
};

// Reads both tables, checks them and writes the three files into the output
// directory. Any fault in the tables ends the run before a file in the directory
// is replaced.
void csv_import(const ImportOptions& opt);

}  // namespace rg
